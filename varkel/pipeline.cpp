// The build pipeline.
#include "varkel/pipeline.h"

int numRecords = 0;
int axisRange[32];
int axisBits[32];
int numberOfBits = 0;

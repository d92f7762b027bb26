// The cube store and the classification of records into its cells.
#include "varkel/cube.h"

DataNodes dataNodes;
int recordSize = 1;

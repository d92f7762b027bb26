// The run-wide settings, each at its value before start-up (meanings in options.h).
#include "varkel/options.h"

int verbose = 0;
int emitCB4 = 1;
int emitFormattedData = 1;
int emitProfile = 0;
int inhibitProfileExpansion = 0;
int emitCastanet = 0;
int emitClassData = 0;
int emitClassHierarchy = 0;
int emitAcceptedData = 0;
int cubeOnly = 0;
int showStats = 0;
int showDups = 0;
int showFailed = 0;
int skipErrors = 0;
int skipFirstLine = 0;
int incrementalBuild = 0;
int serverMode = 0;
int dumpOdbcRows = 0;
int readProfile = 0;
int isCGI = 0;
int depthLimit = 16;
int maxLabels = 0, verboseZero = 0, verboseMult = 0;
int extractField = -1;

// Option values; null or empty until an option gives them.
char* server = nullptr;
char* port = nullptr;
int threshold = 0;
char* newDataSource = nullptr;
char* dataName = nullptr;
std::vector<std::string> parameters;

// The locale's name and number separators; the static values hold when it has none.
std::string locale = "C";
char commaChar = ',';
char decimalChar = '.';

// Labels for empty categories and the auto-build label before any category.
const char* blankLabel = "(blank)";
const char* noneLabel = "(none)";

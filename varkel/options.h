// The run-wide settings: what the command line (or the CGI front end, in its place) asks
// for and every later phase reads. Defined in options.cpp at their values before start-up;
// startUp sets the documented defaults, then parseOptions or cgiFrontEnd set them from the
// request. No later phase changes them, except where a comment says so.
#ifndef VARKEL_OPTIONS_H
#define VARKEL_OPTIONS_H

#include <string>
#include <vector>

// Output selection (defaults in brackets).
extern int verbose;                  // -v, -verbose: progress texts [0]
extern int emitCB4;                  // write a separate cube file [1]
extern int emitFormattedData;        // run the cube pass and write the cube [1]
extern int emitProfile;              // write a profile viewer page [0]
extern int inhibitProfileExpansion;  // no expansion pass [0]
extern int emitCastanet;             // castanet output asked for [0]
extern int emitClassData;            // class file with data [0]
extern int emitClassHierarchy;       // class file with the hierarchy [0]
extern int emitAcceptedData;         // record extract road [0]
extern int cubeOnly;                 // with emitCB4: leave the page file alone [0]
extern int showStats;                // cube statistics [0]
extern int showDups;                 // report records matching a dimension twice [0]
extern int showFailed;               // report unmatched records [0]
extern int skipFirstLine;            // the first data line names the fields [0]
extern int incrementalBuild;         // add to the previous cube [0]
extern int serverMode;               // client/server settings [0]
extern int dumpOdbcRows;             // ODBC dump before the build: 0 none, 1 first rows, 2 all
extern int readProfile;              // 1 once a profile stream is set up [0]
extern int isCGI;                    // run as a CGI program: msg writes to the page [0]
extern int depthLimit;               // deepest tree level kept [16]

// Kept only because the options and the start-up name them; nothing else reads them:
// -labels (maxLabels, shown only in its own message), -vzero, -vmult, -skip; extractField
// starts at -1. The work buffers of this kind are listed in workbuffers.cpp.
extern int maxLabels, verboseZero, verboseMult;
extern int skipErrors;
extern int extractField;

extern char* server;         // -server host, or null
extern char* port;           // -server port, or null
extern int threshold;        // -threshold in bytes (below 2^31) [0]
extern char* newDataSource;  // -datasource text, or null
extern char* dataName;       // -dataname text, or null
// -param texts "name=value" in the order given; applied once the profile is read.
extern std::vector<std::string> parameters;

// Locale: its name as chosen at process start ("C" when it has none), and its number-group
// and decimal separators (0 for no group separator), set at start-up.
extern std::string locale;
extern char commaChar;
extern char decimalChar;

// Label texts for an empty category and for the auto-build label before any category;
// start-up gives them in French under a French locale.
extern const char* blankLabel;
extern const char* noneLabel;

#endif

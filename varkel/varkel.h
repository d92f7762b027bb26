// The cube builder's driver: the run-wide settings that the command line (or the CGI front
// end) sets and every later phase reads, the page and cube streams, the work buffers made at
// start-up, and the message and exit routines the whole builder reports through.
#ifndef VARKEL_VARKEL_H
#define VARKEL_VARKEL_H

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "varkel/outfiles.h"

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
extern int skipErrors;               // skip incomplete records and bad dates [0]
extern int skipFirstLine;            // the first data line names the fields [0]
extern int incrementalBuild;         // add to the previous cube [0]
extern int serverMode;               // client/server settings [0]
extern int dumpOdbcRows;             // ODBC dump before the build: 0 none, 1 first rows, 2 all
extern int readProfile;              // 1 once a profile stream is set up [0]
extern int isCGI;                    // run as a CGI program: msg writes to the page [0]
extern int maxLabels, verboseZero, verboseMult;  // accepted, read by nothing else [0]
extern int widthLimit;               // 254; read by nothing
extern int depthLimit;               // deepest tree level kept [16]
extern int maxFieldNum, extractField, incompleteProfile, truncated;

extern char* server;         // -server host, or null
extern char* port;           // -server port, or null
extern int threshold;        // -threshold in bytes (below 2^31) [0]
extern char* newDataSource;  // -datasource text, or null
extern char* dataName;       // -dataname text, or null
// -param texts "name=value" in the order given; applied once the profile is read.
extern std::vector<std::string> parameters;

// Names (each buffer's size in brackets; longer names are refused at the command line).
extern char* inputFileName;     // profile name, "" for standard input [256]
extern char* outputFileName;    // page name, "" for standard output [256]
extern char cb4FileName[1024];  // cube file name, "" when the page carries the cube
extern char* profileDirectory;  // working directory and "/" [256]
extern char* newDataFileName;   // resolved name of a text-file source [256]
extern char* wholeProfileName;  // [256]

// Work buffers made at start-up (the line buffer inputBuffer belongs to varkel/input.h);
// each holds a NUL-terminated text within its size.
extern char* lumetraWidth;
extern char* lumetraHeight;
extern char* codebase;
extern char* theCodeBase;  // [256 each]
extern char* partPattern;
extern char* patternBuffer;
extern char* leadPattern;
extern char* trailPattern;  // [512 each]
extern char* tempPattern;   // [256]
extern char* tempLeadPattern;  // [512]

// Locale: its name as chosen at process start ("C" when it has none), and its number-group
// and decimal separators (0 for no group separator).
extern std::string locale;
extern char commaChar;
extern char decimalChar;

// Label texts for an empty category and for the auto-build label before any category.
extern const char* blankLabel;
extern const char* noneLabel;

// The profile text: a file or standard input once the command line or the CGI front end
// set it up, null before; the profile reader closes it.
extern FILE* pifp;

// The three banner texts, also written into the createversion setting.
extern const char* const programVersion;
extern const char* const buildNumber;
extern const char* const buildDate;

// The driver: start-up, command line or CGI front end, then the later phases. Returns 0 at
// the end of a run that no exit ended earlier.
int Main(int argc, char** argv);

// Returns driver(argc, argv); what it throws ends the run: running out of memory is fatal 100,
// another standard exception and anything else fatal 1.
int runCaught(int (*driver)(int, char**), int argc, char** argv);

// A printf-style message: to the page in CGI mode, to standard error otherwise. Adds no line
// end and does not flush.
void msg(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends the process with status; the temporary output files are removed on the way out.
[[noreturn]] void jump_exit(int status);


// Fetches url and writes the document to standard output, a newline after each line, then
// exits 0. A document that cannot be fetched or is empty is fatal 2.
[[noreturn]] void dumpURL(const char* url);

// Start-up and command line, as Main runs them; separate so that each can be exercised.
// startUp sets every default and makes the work buffers; parseOptions examines argv[1..]
// (it may exit for help, -dumpurl and errors); setUpStreams opens the profile and page.
void startUp();
// Sets commaChar and decimalChar from the locale's numeric conventions (null: unchanged).
void setLocaleSeparators(const struct lconv* conv);
void parseOptions(int argc, char** argv);
void setUpStreams();

// Applies the -param texts in order: each is split at its first '=' (none is fatal 1) and
// handed to setStringParameter.
void applyParameters();

// The later phases of Main, each defined by its own module: the CGI front end (in place of
// the command line when REQUEST_METHOD is set), the build pipeline and the output phases.
void cgiFrontEnd();
void buildPipeline();
void outputPhases();

#endif

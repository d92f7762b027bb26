// The record reader: opens the data source of dataType for one reading, hands out its
// records one at a time in inputFields, and closes it. The two build passes and the record
// extract road all read their source through it; what differs between them (the failure
// texts, which lines are records) is kept in one table in recordreader.cpp.
#ifndef VARKEL_RECORDREADER_H
#define VARKEL_RECORDREADER_H

#include <cstdio>

// Who reads: the expansion pass, the cube pass or the record extract road.
enum Reading { expansionReading, cubeReading, extractReading };

// The stream of the open line source (file or command); null for a URL or ODBC source and
// between readings.
extern FILE* ifp;

// Lines of at most this many characters are no records in the build passes.
const size_t skippedLineMax = 2;

// Opens the source of dataType for reading:
// - text file: input when it is given (standard input, already open), else the file
//   fileName (openDataFile: in CGI mode only inside the allowed directories). A null
//   fileName, a file that does not open and a directory all fail, naming shown.
// - command: dataFileName through popen, under the web server's command rule; for the
//   extract road an empty command fails as well.
// - URL: the document is fetched now; a missing one shows at the first line read.
// - ODBC: the statement is run; no DSN is fatal 102, no statement 103.
// A file or command that fails: its notice goes onto the page (escaped in CGI mode); a web
// request then ends the page and exits 1, the command line ends with fatal 2 or 4.
void openRecordSource(Reading reading, const char* fileName, const char* shown, FILE* input);

// The first line of a line source, cut as getLine cuts it, in inputBuffer; null when the
// data holds no line. Read before the first record, for a header line.
char* readHeaderLine();

// Reads the next record into inputFields and returns its field count (an ODBC row: the
// result's column count), or -1 at the end of the data. In the build passes lines of at
// most skippedLineMax characters are passed over.
int nextRecord();

// Closes the open source: a file with fclose, a command with closeCommand (readToEnd false:
// the reader stopped before the end, so how the command ended is not judged), ODBC with
// ODBC_Close. ifp becomes null.
void closeRecordSource(bool readToEnd);

#endif

// The record reader shared by the build passes and the record extract road: one way to
// open, read and close every kind of data source.
#include "varkel/recordreader.h"

#include <cstring>

#include "common/textutil.h"
#include "common/util.h"
#include "varkel/cgifront.h"
#include "varkel/datasource.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/linereader.h"
#include "varkel/odbc.h"
#include "varkel/requestpolicy.h"
#include "varkel/urlfetch.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/report.h"

FILE* ifp = nullptr;

// What differs between the readings. The expansion pass reports a failed open without
// the leading line feed of the later readings, and is the only one to flush the page
// once the ODBC statement runs; the extract road shows the statement in debug mode and
// treats every line as a record, where the build passes pass over near-empty lines.
struct ReadingRules {
  const char* fileFailure;      // fatal 2, with the file name
  const char* execFailure;      // fatal 4, with the command
  const char* odbcUnsupported;  // fatal 104, in a build without ODBC
  bool emptyCommandFails;
  bool statementShown;
  bool pageFlushed;
  bool shortLinesSkipped;
};

static const ReadingRules rules[] = {
    // expansionReading
    {"Failed to open data file '%s'.\n", "Failed to exec command '%s'.\n",
     "ODBC is not supported in this build.\n", false, false, true, true},
    // cubeReading
    {"\nFailed to open data file '%s'.\n", "\nFailed to exec command '%s'.\n",
     "ODBC is not supported in this build.\n", false, false, false, true},
    // extractReading
    {"\nFailed to open data file '%s'.\n", "\nFailed to exec command '%s'.\n",
     "ODBC data source not supported in this executable.\n", true, true, false, false},
};

// The rules of the open source.
static const ReadingRules* current = &rules[expansionReading];

// The next record is the first of the reading: its split clears every row, later ones only
// the rows the one before filled.
static bool firstRecord = true;

// A source that failed to open: the notice on the page, then the run ends.
[[noreturn]] static void openFailure(const char* pageNotice, int code, const char* message,
                                     const char* name) {
  // A web request named the source: its text goes onto the page escaped.
  if (ofp) fprintf(ofp, pageNotice, isCGI ? htmlEscape(name).c_str() : name);
  if (isCGI) {
    if (ofp) fputs("</body>\n", ofp);
    jump_exit(1);
  }
  fatal(code, message, name);
}

static void openOdbcSource() {
#ifdef HAVE_ODBC
  if (!dataFileName || dataFileName[0] == '\0')
    fatal(102, "No ODBC/SQL data source specified.\n");
  if (!odbcSelect || odbcSelect[0] == '\0')
    fatal(103, "No ODBC/SQL selection statement specified.\n");
  if (current->statementShown && doDebug && ofp)
    fprintf(ofp, "<p>ODBC select statement is \"%s\"</p>\n", htmlEscape(odbcSelect).c_str());
  if (ODBC_Open(dataFileName, odbcUser, odbcPassword, odbcSelect) != 0)
    fatal(108, "ODBC open of %s failed.\n", dataFileName);
  if (current->pageFlushed && ofp) fflush(ofp);
#else
  fatal(104, "%s", current->odbcUnsupported);
#endif
}

void openRecordSource(Reading reading, const char* fileName, const char* shown, FILE* input) {
  current = &rules[reading];
  firstRecord = true;
  ifp = nullptr;
  switch (dataType) {
    case textData:
      if (input)
        ifp = input;
      else if (fileName)
        ifp = openDataFile(fileName);
      if (!ifp)
        openFailure("<p>\nFailed to open data file '%s'.\n", 2, current->fileFailure,
                    shown ? shown : "");
      break;
    case execData: {
      if (isCGI && !cgiExecAllowed()) refuseCgiExec();
      const char* command = dataFileName ? dataFileName : "";
      if (command[0] != '\0' || !current->emptyCommandFails) ifp = popen(command, "r");
      if (!ifp)
        openFailure("<p>\nFailed to exec command '%s'.\n", 4, current->execFailure, command);
      break;
    }
    case urlData:
      urlFetch(dataFileName);  // a missing document shows at the first line read
      break;
    case odbcData:
      openOdbcSource();
      break;
  }
}

char* readHeaderLine() { return getLine(ifp, inputBuffer, dataType); }

int nextRecord() {
  if (dataType == odbcData) {
#ifdef HAVE_ODBC
    int columns = 0;
    if (ODBC_GetRecord(inputFields, maxInputFields, fieldSize, columns, neededFields()) == 0) {
      noteNeededFieldsFilled();
      return columns;
    }
#endif
    return -1;
  }
  size_t length;
  while (const char* line = nextLine(ifp, dataType, &length)) {
    if (current->shortLinesSkipped && length <= skippedLineMax) continue;
    int count = firstRecord ? extractInputFields(inputFields, line, separator)
                            : extractNextRecordFields(line, length, separator);
    firstRecord = false;
    return count;
  }
  return -1;
}

void closeRecordSource(bool readToEnd) {
  switch (dataType) {
    case textData:
      forgetLines();
      if (ifp) fclose(ifp);
      break;
    case execData:
      forgetLines();
      if (ifp) closeCommand(ifp, dataFileName, readToEnd);
      break;
    case urlData:
      forgetLines();
      break;
    case odbcData:
#ifdef HAVE_ODBC
      ODBC_Close();
#endif
      break;
  }
  ifp = nullptr;
}

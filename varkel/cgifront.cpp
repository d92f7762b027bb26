// The CGI front end: a web request's W3_ variables set up the run that the command line
// sets up otherwise, and its record query is split into elements and parsed here for the
// record extract road.
#include "varkel/cgifront.h"

#include <cassert>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgi/uncgi.h"
#include "common/messagetext.h"
#include "common/textutil.h"
#include "common/util.h"
#include "varkel/coded.h"
#include "varkel/datasource.h"
#include "varkel/extract.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/pipeline.h"
#include "varkel/requestlimits.h"
#include "varkel/requestpolicy.h"
#include "varkel/varkel.h"
#include "varkel/workbuffers.h"

char* raw_query = nullptr;                       // W3_query, or null
char cgi_query[2][queryRows][queryPartSize];     // names and expressions of the split query
QueryElements theQuery;                          // the parsed query, zeroed until a request
int tableType = 0;                               // kind of record table
int dataRangeStart = 0;                          // first match number shown
int dataRangeEnd = 100;                          // last match number shown
int highlightField = -1;                         // bold column of HTML rows
char fieldNames[queryRows][queryPartSize];       // W3_h0, W3_h1, ... as given
char** odbcColumns = nullptr;                    // W3_odbccolumns pieces, null-terminated
char* debug = nullptr;                           // W3_debug, or null
int doDebug = 0;                                 // HTML debug lines asked for
char* unrecognisedDataSource = nullptr;          // W3_dataSource of no known form, or null

// The stdio buffer of the profile stream.
static char profileStreamBuffer[65536];

std::string htmlEscapeChar(char c) {
  if (c == '\0') return std::string(1, '\0');
  char text[2] = {c, '\0'};
  return htmlEscape(text);
}

int clampedInt(const char* text) {
  long long v = strtoll(text ? text : "", nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return (int)v;
}

int splitQuery(const char* text, bool* complete) {
  const size_t queryLength = strlen(text);
  size_t rawOffset = 0;
  int element = 0, thePart = 0, qOffset = 0;
  bool escaped = false;
  cgi_query[0][0][0] = '\0';
  cgi_query[1][0][0] = '\0';
  while (rawOffset < queryLength && element <= queryRows - 2) {
    char c = text[rawOffset];
    // A character that would make the part longer than its row stops the split; a ';' or
    // the name's '=' after a full part still ends it.
    bool grows = !(c == ';') && !(c == '=' && thePart == 0);
    if (grows && qOffset >= queryPartSize - 1) break;
    rawOffset++;
    char* part = cgi_query[thePart][element];
    if (c == ';' && escaped) {
      assert(qOffset > 0);
      part[qOffset - 1] = ';';  // the escaping backslash gives way to the ';'
      escaped = false;
    } else if (c == ';') {
      part[qOffset] = '\0';
      element++;
      cgi_query[0][element][0] = '\0';
      cgi_query[1][element][0] = '\0';
      thePart = 0;
      qOffset = 0;
    } else if (c == '\\') {
      part[qOffset++] = c;
      escaped = !escaped;
    } else if (c == '=' && thePart == 0) {
      part[qOffset] = '\0';
      thePart = 1;
      qOffset = 0;
      escaped = false;
    } else {
      part[qOffset++] = c;
      escaped = false;
    }
  }
  cgi_query[thePart][element][qOffset] = '\0';
  *complete = rawOffset >= queryLength;
  return element + 1;
}

void parseQuery(int count) {
  assert(count <= maxQueryElements);
  theQuery.elementCount = count;
  for (int tempInd = 0; tempInd < count; tempInd++) {
    if (strcmp(cgi_query[0][tempInd], "null") == 0) {
      theQuery.flag[tempInd] = -1;
      continue;
    }
    if (doDebug)
      fprintf(ofp, "<p>Parsing expression %d = '%s'\n", tempInd,
              htmlEscape(cgi_query[1][tempInd]).c_str());
    theQuery.tree[tempInd] = matchParseExpression(cgi_query[1][tempInd]);
    theQuery.flag[tempInd] = 1;
  }
}

static const char* variable(const char* name) { return getenv(name); }
static bool present(const char* name) { return getenv(name) != nullptr; }

static void takeDataSource() {
  const char* source = variable("W3_dataSource");
  if (!source || !source[0]) fatal(106, "<p><b>No data source specified.</b></p>");
  setupDataSource(source);
  // Of no known form: nothing is set, so the source of the profile the request sends
  // applies; the text is kept only to name it when there is none.
  if (!dataFileName) {
    std::string text = source;
    unrecognisedDataSource = _newStr(trimSpaces(text).c_str(), __FILE__, __LINE__);
  }
  if (doDebug) {
    fprintf(ofp, "dataFile: '%s'<br>\n", htmlEscape(dataFileName).c_str());
    fprintf(ofp, "source type is %d<br>\n", (int)dataType);
  }
}

static void takeQuery() {
  const char* query = variable("W3_query");
  if (!query) return;
  raw_query = _newStr(query, __FILE__, __LINE__);
  if (doDebug) fprintf(ofp, "raw_query: '%s'<br>\n", htmlEscape(raw_query).c_str());
  bool complete = true;
  int count = splitQuery(raw_query, &complete);
  if (doDebug) fprintf(ofp, "<p>Total of %d query elements.\n", count);
  // Dropping the unread rest, or elements past the last one kept, would widen the query.
  if (count > maxQueryElements) {
    char message[128];
    snprintf(message, sizeof message,
             "<p><b>The query has more than %d elements.</b></p>\n", maxQueryElements);
    refuseRequest(message);
  }
  if (!complete) {
    char message[128];
    snprintf(message, sizeof message,
             "<p><b>A query element is longer than %d characters.</b></p>\n",
             queryPartSize - 1);
    refuseRequest(message);
  }
  parseQuery(count);
}

static void takeFieldNames() {
  memset(fieldNames, 0, sizeof fieldNames);
  for (int i = 0; i < queryRows; i++) {
    char name[16];
    snprintf(name, sizeof name, "W3_h%d", i);
    const char* value = variable(name);
    if (!value) break;
    snprintf(fieldNames[i], queryPartSize, "%s", value);  // cut to the row
  }
}

#ifdef HAVE_ODBC
static void takeOdbcColumns(const char* value) {
  size_t pieces = 2;
  for (const char* p = value; *p; p++)
    if (*p == ';') pieces++;
  odbcColumns = static_cast<char**>(calloc(pieces, sizeof(char*)));
  if (!odbcColumns) fatal(100, "Out of memory.\n");
  size_t n = 0;
  const char* p = value;
  while (*p) {
    size_t len = strcspn(p, ";");
    if (len > 0) {
      std::string piece(p, len);
      odbcColumns[n++] = _newStr(piece.c_str(), __FILE__, __LINE__);
    }
    p += len;
    if (*p == ';') p++;
  }
}
#endif

static void takeRange(const char* value) {
  const char* dash = strchr(value, '-');
  if (!dash) {
    dataRangeStart = clampedInt(value);  // the end stays as it was
    return;
  }
  std::string before(value, dash - value);
  dataRangeStart = clampedInt(before.c_str());
  dataRangeEnd = clampedInt(dash + 1);
}

// The profile name, its directory, and the test that it can be opened.
static void takeProfile() {
  strcpy(wholeProfileName, inputFileName);  // both hold 256 bytes
  strcpy(profileDirectory, wholeProfileName);
  size_t n = strlen(profileDirectory);
  while (n > 0 && profileDirectory[n - 1] != '/' && profileDirectory[n - 1] != '\\') n--;
  profileDirectory[n] = '\0';

  if (inputFileName[0] == '\0') return;
  pifp = fopen(wholeProfileName, "r");
  if (!pifp) {
    fprintf(ofp, "<p>Couldn't open %s as input file.\n", htmlEscape(wholeProfileName).c_str());
    emitAcceptedData = 0;
    emitCastanet = 0;
    emitFormattedData = 0;
    return;
  }
  setvbuf(pifp, profileStreamBuffer, _IOFBF, sizeof profileStreamBuffer);
  emitFormattedData = 1;
  readProfile = 1;
}

void cgiFrontEnd() {
  pageToStandardOutput();
  isCGI = 1;
  requestMessages = true;  // request text reaches the server's error log cleaned
  startRequestLimits();
  uncgi(true);

  debug = const_cast<char*>(variable("W3_debug"));
  doDebug = debug ? 1 : 0;

  if (const char* format = variable("W3_datasourceformat")) setTableType(format);
  if (tableType == 0)
    fputs("Content-type: text/html\n\n", ofp);
  else if (tableType == 3)
    fputs("Content-type: application/vnd.ms-excel\n\n", ofp);
  else
    fputs("Content-type: text/plain\n\n", ofp);

  takeDataSource();
  takeQuery();
  takeFieldNames();

  if (present("W3_emitAcceptedData")) emitAcceptedData = 1;
  if (present("W3_emitCastanet")) emitCastanet = 1;
  if (present("W3_skipFirstLine") || present("W3_firstfieldnames") ||
      present("W3_firstFieldNames"))
    skipFirstLine = 1;
  emitFormattedData = present("W3_emitFormattedData") ? 1 : 0;

  if (const char* chars = variable("W3_chars")) setOutputChars(chars);

  if (present("W3_emitClassData")) emitClassData = 1;
  if (present("W3_emitClassHierarchy")) emitClassHierarchy = 1;
  if (present("W3_showStats")) showStats = 1;
  if (present("W3_inhibitProfileExpansion")) inhibitProfileExpansion = 1;

  if (const char* field = variable("W3_highlightField")) highlightField = clampedInt(field);
  if (const char* sep = variable("W3_separator")) setSeparator(sep[0]);

  if (const char* profile = variable("W3_profile")) {
    if (strlen(profile) > maxNameLength)
      fatal(1, "Profile filename '%s' is longer than %zu characters.\n", profile, maxNameLength);
    strcpy(inputFileName, profile);
  }
  if (const char* whole = variable("W3_wholeprofile")) {
    profileBuffer = _newStr(whole, __FILE__, __LINE__);
    profileBufferSize = (int)strlen(profileBuffer) + 1;
    readProfile = 1;
  }
#ifdef HAVE_ODBC
  if (const char* columns = variable("W3_odbccolumns")) takeOdbcColumns(columns);
#endif
  if (const char* range = variable("W3_range")) takeRange(range);

  takeProfile();
}

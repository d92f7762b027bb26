// The builder's CGI front end: when a web server starts the builder, the request's W3_
// variables take the place of the command line. This module owns the record query a request
// carries (its split into named elements and their parsed match trees) and the settings the
// record extract road reads: the output kind, the range of matches, the highlighted column
// and the debug switch.
#ifndef VARKEL_CGIFRONT_H
#define VARKEL_CGIFRONT_H

#include <string>

#include "common/textutil.h"  // htmlEscape, for request text echoed into a page

struct _MatchTree;

// Most elements a record query may have; a longer query is refused.
const int maxQueryElements = 32;
// Rows and row size of the split query; a part holds at most 1023 characters.
const int queryRows = 513;
const int queryPartSize = 1024;

// The parsed query. flag[i] is 1 for an element the road evaluates, -1 for one switched off
// by the name "null"; entries past elementCount stay null and 0.
struct QueryElements {
  int elementCount;
  _MatchTree* tree[maxQueryElements];
  int flag[maxQueryElements];
};

extern char* raw_query;  // the text of W3_query; null when the request has none
// The split query: plane 0 the name, plane 1 the expression of each element.
extern char cgi_query[2][queryRows][queryPartSize];
extern QueryElements theQuery;  // the parsed query the extract road evaluates

extern int tableType;       // record table: 0 HTML, 1 tsv, 2 csv, 3 excel [0]
extern int dataRangeStart;  // first match number to show [0]
extern int dataRangeEnd;    // last match number to show [100]
extern int highlightField;  // column written in bold in HTML rows, -1 none [-1]
// W3_h0, W3_h1, ... as the request gave them (cut to 1023 characters); nothing reads them.
extern char fieldNames[queryRows][queryPartSize];
// Column names from W3_odbccolumns, null-terminated; null when the request gave none.
extern char** odbcColumns;
extern char* debug;  // the value of W3_debug, or null
extern int doDebug;  // 1 when the request asks for the HTML debug lines

// The W3_dataSource text when it was of no known form (nothing is set then, and the
// profile's own source applies; without one the extract road names this text as the file
// it cannot open); null otherwise.
extern char* unrecognisedDataSource;

// The front end itself: run in place of the command line when REQUEST_METHOD is set, it
// decodes the request, writes the Content-type line and takes the data source, the query
// and the run settings from the W3_ variables.
void cgiFrontEnd();

// Splits text into cgi_query (a ';' ends an element unless a backslash escapes it; the first
// '=' of an element ends its name) and returns the number of elements, at least 1. Sets
// *complete to false when the split stopped at its limits (513 elements, or a part of 1023
// characters) before the end of the text.
int splitQuery(const char* text, bool* complete);

// Fills theQuery from the first count elements of cgi_query (count at most 32): "null"
// names switch their element off; the others are parsed as match expressions.
void parseQuery(int count);

// The first character of text as a printf %c would write it, escaped like htmlEscape.
std::string htmlEscapeChar(char c);

// The value of an environment variable as a bounded int: atoi's reading, but a number
// outside the int range is clamped to it.
int clampedInt(const char* text);

#endif

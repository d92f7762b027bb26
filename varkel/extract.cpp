// The record extract road: one pass over the data source that writes the matches of the
// requested range as a record table, and for HTML the form that asks for the next page.
#include "varkel/extract.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/util.h"
#include "varkel/cgifront.h"
#include "varkel/cube.h"
#include "varkel/datasource.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/linereader.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/pipeline.h"
#include "varkel/recordreader.h"
#include "varkel/report.h"
#include "varkel/settings.h"
#include "varkel/urlfetch.h"

int fNCtr = 0;  // columns of the last record read

// Page size of the text kinds: in effect every match.
static const int allMatches = 10000000;

static const RecordTableTexts englishTexts = {
    "List of Records that Match the Selection Criteria",
    "<p>Record retrieval truncated at %d matches.</p>\n",
    "Click here for next set of records.",
};
// Accented letters are single ISO 8859-1 bytes.
static const RecordTableTexts frenchTexts = {
    "Liste d'enregistrements correspondants aux crit\xe8res de s\xe9lection",
    "<p>Extraction d'enregistrements tronqu\xe9" "e \xe0 %d \xe9galit\xe9s</p>\n",
    "Cliquez ici pour les enregistrements suivants",
};
static const RecordTableTexts germanTexts = {
    "Liste der Datens\xe4tze die Auswahlkriterien erf\xfcllen",
    "<p>Datensuche bei %d Entsprechungen abgebrochen.</p>\n",
    "F\xfcr weitere Datens\xe4tze hier klicken",
};

const RecordTableTexts& recordTableTexts(const std::string& localeName) {
  if (localeName.compare(0, 6, "French") == 0) return frenchTexts;
  if (localeName.compare(0, 6, "German") == 0) return germanTexts;
  return englishTexts;
}

void setTableType(const char* word) {
  std::string lower = word ? word : "";
  for (char& c : lower) c = (char)tolower((unsigned char)c);
  if (lower == "tsv")
    tableType = 1;
  else if (lower == "csv")
    tableType = 2;
  else if (lower == "excel")
    tableType = 3;
  else
    tableType = 0;
}

static char textSeparator() { return tableType == 2 ? ',' : '\t'; }

// A field of a text table: between double quotes, its own made single, when it holds the
// separator; else as it is. Either way followed by the separator.
static void writeTextField(FILE* stream, const char* text, char sep) {
  if (strchr(text, sep)) {
    fputc('"', stream);
    for (const char* p = text; *p; p++) fputc(*p == '"' ? '\'' : *p, stream);
    fputc('"', stream);
  } else {
    fputs(text, stream);
  }
  fputc(sep, stream);
}

void outputDataHeader(FILE* stream, int count) {
  if (doDebug) {
    fprintf(stream, "<p>\nTable type is %d\n", tableType);
    fprintf(stream, "<p>Number of fields is %d\n", count);
  }
  if (tableType == 0) {
    fputs("<table border=1 cellpadding=1 width=\"100%\" align=center>\n", stream);
    fputs("<caption align=center><b>", stream);
    fputs(recordTableTexts(locale).caption, stream);
    fputs("</b></caption>\n", stream);
    fputs("<tr>\n", stream);
    for (int i = 0; i < count; i++) {
      fputs("<th colspan=1 align=center><p><b>", stream);
      outputHTMLString(newDataFieldNames[i], stream);
      fputs("</b></th>\n", stream);
    }
    fputs("</tr>\n", stream);
  } else {
    char sep = textSeparator();
    for (int i = 0; i < count; i++) writeTextField(stream, newDataFieldNames[i], sep);
    fputc('\n', stream);
  }
}

void outputDataRow(FILE* stream, int count) {
  if (tableType == 0) {
    fputs("<tr>\n", stream);
    for (int i = 0; i < count; i++) {
      bool bold = i == highlightField;
      fputs("<td>", stream);
      if (bold) fputs("<b>", stream);
      if (inputFields[i][0])
        outputHTMLString(inputFields[i], stream);
      else
        fputs("&nbsp;", stream);
      if (bold) fputs("</b>", stream);
      fputs("</td>\n", stream);
    }
    fputs("</tr>\n", stream);
  } else {
    char sep = textSeparator();
    for (int i = 0; i < count; i++) writeTextField(stream, inputFields[i], sep);
    fputc('\n', stream);
  }
}

void outputDataTrailer(FILE* stream) {
  if (tableType == 0)
    fputs("</table></center>", stream);
  else
    fputc('\n', stream);
}

std::string hiddenInput(const char* name, const char* value) {
  if (!value) return "";
  // Browsers decode the entities on submit, so the next request carries the same bytes.
  return std::string("<input type=hidden name=\"") + name + "\" value=\"" + htmlEscape(value) +
         "\">\n";
}

std::string newRangeURL(int pageSize, int start, int end) {
  const RecordTableTexts& texts = recordTableTexts(locale);
  char notice[256];
  snprintf(notice, sizeof notice, texts.notice, pageSize);
  std::string out = notice;
  const char* serverName = getenv("SERVER_NAME");
  const char* scriptName = getenv("SCRIPT_NAME");
  out += "<form method=post action=\"http://";
  out += htmlEscape(serverName ? serverName : "");
  out += htmlEscape(scriptName ? scriptName : "");
  out += "\">\n";
  out += std::string("<input type=submit name=\"dummy\" value=\"") + texts.button + "\">\n";
  out += hiddenInput("dataSource", getenv("W3_dataSource"));
  out += hiddenInput("optimizeQuery", getenv("W3_optimizeQuery"));
  out += hiddenInput("emitAcceptedData", "1");
  out += hiddenInput("separator", getenv("W3_separator"));
  if (skipFirstLine == 1) out += hiddenInput("firstfieldnames", "1");
  out += hiddenInput("query", getenv("W3_query"));
  char range[32];
  snprintf(range, sizeof range, "%d-%d", start, end);
  out += hiddenInput("range", range);
  out += "</form>\n";
  return out;
}

static int clampToInt(long long v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return (int)v;
}

// The text-file name to report: the request's own text for a source of no known form.
static const char* fileNameShown() {
  if (unrecognisedDataSource) return unrecognisedDataSource;
  return dataFileName ? dataFileName : "";
}

// Opens the data source of the road; a text file is named by dataFileName as given.
static void openSource() {
  const char* fileName = dataFileName && dataFileName[0] ? dataFileName : nullptr;
  openRecordSource(extractReading, fileName, fileNameShown(), nullptr);
}

// State of one run of the road.
struct Road {
  bool headWritten = false;
  bool more = false;
};

// True when every element of the query that is not switched off accepts the record.
static bool recordMatches() {
  for (int i = 0; i < theQuery.elementCount; i++) {
    if (theQuery.flag[i] == -1) continue;
    if (!evalMatch(theQuery.tree[i])) return false;
  }
  return true;
}

// Counts, tests and perhaps writes the record in inputFields; false once the page is full.
static bool takeRecord(Road& road) {
  // Every table gets its head, also after passes of the run that read records already.
  if (!road.headWritten) {
    outputDataHeader(ofp, fNCtr);
    road.headWritten = true;
  }
  numRecords++;
  if (recordMatches()) {
    matchedRecords++;
    if (dataRangeStart <= matchedRecords && matchedRecords <= dataRangeEnd)
      outputDataRow(ofp, fNCtr);
  }
  if (matchedRecords >= dataRangeEnd) {
    road.more = true;
    return false;
  }
  return true;
}

// The head of a line source: in debug mode the separator, and the header line when the
// data has one.
static void readHead(Road& road) {
  if (doDebug) {
    std::string shown = htmlEscapeChar(separator);  // a NUL separator is written as its byte
    fputs("<p>Separator is '", ofp);
    fwrite(shown.data(), 1, shown.size(), ofp);
    fputs("'</p>\n", ofp);
  }
  if (skipFirstLine == 1) {
    if (readHeaderLine()) {
      fNCtr = extractInputFields(inputFields, inputBuffer, separator);
      memcpy(newDataFieldNames, inputFields, sizeof newDataFieldNames);
      numRecords++;
    } else {
      fNCtr = 0;  // no header line at all: an empty head
    }
    outputDataHeader(ofp, fNCtr);
    road.headWritten = true;
  }
}

// Reads the records of the open source until its end or until the page is full.
static void readRecords(Road& road) {
  if (dataType != odbcData) readHead(road);
  for (int count; (count = nextRecord()) >= 0;) {
    fNCtr = count;
    if (!takeRecord(road)) break;
  }
}

// Ends the road's output: the page stream is finished as a page would be, and a cube file
// the run had opened is dropped unwritten, so the previous one stays.
static void finishRoad() {
  dropCubeFile();
  finishOutputFiles();
}

void outputAcceptedData() {
  if (!ofp) pageToStandardOutput();
  if (tableType != 0) dataRangeEnd = allMatches;
  const int pageSize = tableType != 0 ? allMatches
                                      : clampToInt((long long)dataRangeEnd - dataRangeStart + 1);
  matchedRecords = 0;
  numRecords++;
  Road road;

  if (!dataFileName && !unrecognisedDataSource) fatal(106, "No data source specified.\n");
  openSource();
  readRecords(road);
  closeRecordSource(!road.more);

  outputDataTrailer(ofp);
  if (road.more && tableType == 0) {
    dataRangeStart = clampToInt((long long)dataRangeEnd + 1);
    dataRangeEnd = clampToInt((long long)dataRangeEnd + pageSize);
    fputs(newRangeURL(pageSize, dataRangeStart, dataRangeEnd).c_str(), ofp);
  }
  if (doDebug)
    fprintf(ofp, "<p>Total records retrieved: %d, total matches %d\n", numRecords,
            matchedRecords);
  if (isCGI && tableType == 0) fputs("</body>\n", ofp);
  finishRoad();
}

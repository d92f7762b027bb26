// The record extract road: the last phase of a run that asks for the accepted records. It
// reads the data source once, keeps the records that satisfy every query element, and
// writes the requested page of them as an HTML table with a form for the next page, or as
// tab-separated, comma-separated or spreadsheet text.
#ifndef VARKEL_EXTRACT_H
#define VARKEL_EXTRACT_H

#include <cstdio>
#include <string>

// Column count of the last record read (fields of a line, or the columns of an ODBC row).
extern int fNCtr;

// The texts of the record table in the language of the locale's name.
struct RecordTableTexts {
  const char* caption;
  const char* notice;  // printf format with the page size
  const char* button;
};

// French for a locale name beginning with "French", German for "German", else English.
const RecordTableTexts& recordTableTexts(const std::string& localeName);

// tableType from a lower-cased copy of word: "tsv" 1, "csv" 2, "excel" 3, anything else 0.
void setTableType(const char* word);

// The table head with the first count names of newDataFieldNames, in the form of
// tableType.
void outputDataHeader(FILE* stream, int count);

// The first count fields of inputFields as one row; the highlightField column in bold.
void outputDataRow(FILE* stream, int count);

// The end of the table: "</table></center>" for HTML, a line feed for the text kinds.
void outputDataTrailer(FILE* stream);

// One hidden form input carrying value (HTML-escaped); empty text for a null value.
std::string hiddenInput(const char* name, const char* value);

// The next-records notice and the form that repeats the request with the range start-end.
std::string newRangeURL(int pageSize, int start, int end);

// Runs the road on the open page stream (standard output when there is none) and finishes
// the page; the run then ends with status 0. Sources that cannot be opened end the process.
void outputAcceptedData();

#endif

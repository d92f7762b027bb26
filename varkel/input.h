// Record input of the builder: the fixed record buffers every pass shares, the line reader
// for files, commands and fetched URL documents, the field splitter, and the field slots
// of the profile's field names.
#ifndef VARKEL_INPUT_H
#define VARKEL_INPUT_H

#include <stdio.h>

#include <string>

#include "common/textutil.h"

// Rows of a record buffer and the bytes of one row (255 characters and a NUL).
const int maxInputFields = 513;
const int fieldSize = 256;
// Bytes of the line buffer; a line with its line feed holds at most 64998 characters.
const int inputBufferSize = 65000;

// The fields of the record being processed; rows past the last field are empty.
extern char inputFields[maxInputFields][fieldSize];
// The data's column names: "f0".."f512" from start-up, then a header line or the ODBC
// result's column names.
extern char newDataFieldNames[maxInputFields][fieldSize];
// The profile's field names, one per field slot, filled by getFieldIndex.
extern char dataFieldNames[maxInputFields][fieldSize];
// The line buffer of inputBufferSize bytes, allocated once at start-up by the driver.
extern char* inputBuffer;
// The field separator of record lines; TAB unless the profile or the request sets another.
// Changed only through setSeparator, before the first record is read.
extern char separator;
void setSeparator(char c);

// Reads the next line into buffer (inputBufferSize bytes) and returns buffer, or null at the
// end of the data. dataType 3 reads the fetched URL document and ignores stream; the other
// kinds read stream. The line is cut at its first CR or LF. A line too long is error 6
// ("Input line too long! ..."), or in CGI mode a silent exit with status 1.
char* getLine(FILE* stream, char* buffer, int dataType);

// getLine without the copy: the next line, cut and terminated as getLine cuts it, where it
// was read (URL documents: in inputBuffer), and its length in *length; null at the end of
// the data. The line stays valid until the next line is read; its bytes may be changed.
// Lines of a file or command are read ahead in blocks: a stream left before its end is
// given up with forgetLines before it is closed.
const char* nextLine(FILE* stream, int dataType, size_t* length);
void forgetLines();

// Splits line at sep into rows (maxInputFields rows of fieldSize bytes), clears the
// rows after the last field and returns the number of fields. More than 513 fields is
// error 7.
int extractInputFields(char rows[][fieldSize], const char* line, char sep);

// extractInputFields(inputFields, line, sep) for the second and later records of a pass:
// only the rows the previous split of inputFields filled are cleared, the rest being
// empty already. For a pass that lets nothing but these two functions write inputFields
// and splits its first record with extractInputFields. length: the characters of line
// before its first NUL, CR or LF, as nextLine gives it.
int extractNextRecordFields(const char* line, size_t length, char sep);

// Limits what extractNextRecordFields writes: with a mask (maxInputFields entries, kept by
// the caller) only the rows of marked fields that the line holds are written, the others
// keep stale text; the count, the limits and the clearing of rows past the last field stay
// as they are. Null writes every row again.
void setNeededFields(const unsigned char* mask);

// Bounds of a URL fetch: the largest document (bytes), the seconds to connect, and the
// seconds the transfer may stall (less than one byte a second) before it is given up
// (VARKEL_URL_STALL_TIME, a whole number of seconds, sets another). A web request's
// transfer also ends at the request's time limit.
const size_t maxUrlDocument = size_t(256) << 20;
const long urlConnectTimeout = 30;
const long urlStallTimeout = 60;

// Fetches the whole document at url into memory, replacing the previous one, and returns
// 0. A document that cannot be found is reported by the first urlGetLine. A document
// larger than maxUrlDocument, and a source that times out, are error 2.
int urlFetch(const char* url);

// Copies the next line of the fetched document, without its LF, into buffer (max bytes,
// always terminated) and returns its length, or -1 at the end of the document (an empty
// last line is no line). A line of max characters or more is error 6 like a file line.
// When no document was delivered: "URL not found. ..." and exit status -32.
int urlGetLine(char* buffer, int max);

// Completion of a fetch: document becomes the fetched document (its contents are taken)
// and reading starts at its beginning. The last call of a fetch wins.
void HTCallClient(std::string& document);

// The field slot (0-512) of a profile field name: without a header line the number after
// its first character; with one, the slot that already holds the trimmed name or the first
// free slot. A slot outside 0-512, or a 514th distinct name, is error 110.
int getFieldIndex(const char* name);

// True when text equals one of the rows of newDataFieldNames.
bool isFieldName(const char* text);

#endif

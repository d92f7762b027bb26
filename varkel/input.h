// Record input of the builder: the fixed record buffers every pass shares and the field
// slots of the profile's field names. The line reader (linereader.h), the field splitter
// (fieldsplit.h) and the URL fetch (urlfetch.h) fill the buffers.
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

// The field slot (0-512) of a profile field name: without a header line the number after
// its first character; with one, the slot that already holds the trimmed name or the first
// free slot. A slot outside 0-512, or a 514th distinct name, is error 110.
int getFieldIndex(const char* name);

// True when text equals one of the rows of newDataFieldNames.
bool isFieldName(const char* text);

#endif

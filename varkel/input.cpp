// Record input: the record buffers every pass shares and the field slots of profile field
// names. The line reader, the field splitter and the URL fetch that fill the buffers are
// linereader, fieldsplit and urlfetch.
#include "varkel/input.h"

#include <stdio.h>
#include <string.h>

#include "common/textutil.h"
#include "common/util.h"
#include "varkel/options.h"

char inputFields[maxInputFields][fieldSize];        // the record being processed
char newDataFieldNames[maxInputFields][fieldSize];  // the data's column names
char dataFieldNames[maxInputFields][fieldSize];     // the profile's names by field slot
char* inputBuffer = nullptr;                        // allocated by the driver at start-up
char separator = '\t';                              // field separator of record lines

void setSeparator(char c) { separator = c; }

int getFieldIndex(const char* name) {
  if (skipFirstLine != 1) {
    if (!name[0]) return 0;
    // The number is read as atoi would, but bounded: a slot is a row of the buffers.
    const char* p = name + 1;
    while (*p == ' ' || *p == '\t') p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    long slot = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
      slot = slot * 10 + (*p - '0');
      if (slot >= maxInputFields) break;
    }
    if (negative) slot = -slot;
    if (slot < 0 || slot >= maxInputFields)
      fatal(110, "Field '%s' names a field number outside 0 to %d.\n", name, maxInputFields - 1);
    return (int)slot;
  }
  char trimmed[fieldSize];
  snprintf(trimmed, sizeof trimmed, "%s", name + strspn(name, " "));
  char* text = trimSpaces(trimmed);
  for (int i = 0; i < maxInputFields; i++) {
    if (strcmp(dataFieldNames[i], text) == 0) return i;
    if (dataFieldNames[i][0] == '\0') {
      memcpy(dataFieldNames[i], text, strlen(text) + 1);
      return i;
    }
  }
  fatal(110, "Too many field names: '%s' would be field %d, but at most %d are allowed.\n", name,
        maxInputFields + 1, maxInputFields);
}

bool isFieldName(const char* text) {
  for (int i = 0; i < maxInputFields; i++)
    if (strcmp(newDataFieldNames[i], text) == 0) return true;
  return false;
}

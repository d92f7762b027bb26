// Field splitter: a record line cut at its separator into the rows of a record buffer,
// quotes and blanks trimmed, and the fast path's limit on the rows it writes.
#ifndef VARKEL_FIELDSPLIT_H
#define VARKEL_FIELDSPLIT_H

#include <stddef.h>

#include "varkel/input.h"

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

// The mask setNeededFields gave, for a reader that fills inputFields itself (a database's
// rows). Every reader that fills inputFields by the mask, the splitter too, calls
// noteNeededFieldsFilled after each record, for the asserts of currentField.
const unsigned char* neededFields();
void noteNeededFieldsFilled();

#endif

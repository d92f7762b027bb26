// Reading the current record's fields. A pass may tell the splitter to fill only the rows
// its keyed path reads (setNeededFields); every other row then keeps an earlier record's
// text. The category, date and measure code reads fields through currentField, which
// asserts that the row it reads is one the splitter filled for this record.
#ifndef VARKEL_RECORDFIELD_H
#define VARKEL_RECORDFIELD_H

#include <cassert>

#include "varkel/input.h"

// True when row field of inputFields holds the current record's text: always, unless the
// splitter fills only the rows of a mask and field is not marked in it.
bool inputFieldIsCurrent(int field);

// The text of field slot field in the current record; a slot outside the rows reads as
// empty. A row the splitter left stale is a programming error (an assert).
inline const char* currentField(int field) {
  if (field < 0 || field >= maxInputFields) return "";
  assert(inputFieldIsCurrent(field));
  return inputFields[field];
}

#endif

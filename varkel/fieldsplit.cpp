// Field splitter: a record line into the rows of a record buffer (see fieldsplit.h).
#include "varkel/fieldsplit.h"

#include <assert.h>
#include <stdint.h>
#include <string.h>

#include "common/textutil.h"
#include "common/util.h"
#include "varkel/input.h"
#include "varkel/recordfield.h"

// The rows extractNextRecordFields writes; null for all.
static const unsigned char* neededRows = nullptr;

void setNeededFields(const unsigned char* mask) { neededRows = mask; }

// Stores the finished field as row n (quotes, then blanks trimmed) unless need says the row
// is not read, and returns n + 1.
static int storeField(char rows[][fieldSize], int n, char* field, int len,
                      const unsigned char* need) {
  if (n >= maxInputFields)
    fatal(7, "Exceeding maximum number of %d input fields\n", maxInputFields);
  if (need && !need[n]) return n + 1;
  assert(len >= 0 && len < fieldSize);
  field[len] = '\0';
  char* text = trimSpaces(trimQuotes(field, '"'));
  size_t size = strlen(text);
  memmove(rows[n], text, size + 1);
  return n + 1;
}

// Copies a field's size bytes (fewer than fieldSize) from text to row and terminates it.
// Short fields, the usual ones, move as a few words that overlap, all read before any is
// written.
static inline void putField(char* row, const char* text, int size) {
  if (size >= 8 && size <= 16) {
    uint64_t head, tail;
    memcpy(&head, text, 8);
    memcpy(&tail, text + size - 8, 8);
    memcpy(row, &head, 8);
    memcpy(row + size - 8, &tail, 8);
  } else if (size >= 4 && size < 8) {
    uint32_t head, tail;
    memcpy(&head, text, 4);
    memcpy(&tail, text + size - 4, 4);
    memcpy(row, &head, 4);
    memcpy(row + size - 4, &tail, 4);
  } else if (size > 0 && size < 4) {
    char first = text[0], middle = text[size / 2], last = text[size - 1];
    row[0] = first;
    row[size / 2] = middle;
    row[size - 1] = last;
  } else {
    memmove(row, text, size);
  }
  row[size] = '\0';
}

// The fields the last split of inputFields stored: the rows from there on are empty.
static int inputFieldsUsed = maxInputFields;

#ifndef NDEBUG
// What the last split of inputFields filled, for the asserts of currentField: whether it
// followed a mask, and the mask as it was then (the caller may change its copy later).
static bool splitWasMasked = false;
static unsigned char filledRows[maxInputFields];
#endif

const unsigned char* neededFields() { return neededRows; }

void noteNeededFieldsFilled() {
#ifndef NDEBUG
  splitWasMasked = neededRows != nullptr;
  if (neededRows) memcpy(filledRows, neededRows, sizeof filledRows);
#endif
}

bool inputFieldIsCurrent(int field) {
#ifndef NDEBUG
  if (splitWasMasked && field >= 0 && field < inputFieldsUsed && field < maxInputFields)
    return filledRows[field] != 0;
#endif
  (void)field;
  return true;
}

// The splitter; rows from clearFrom on are known to be empty and are left alone.
// The line ends at end, before its first NUL, CR or LF.
static int splitFields(char rows[][fieldSize], const char* line, const char* end, char sep,
                       int clearFrom, const unsigned char* need);

int extractInputFields(char rows[][fieldSize], const char* line, char sep) {
  int n = splitFields(rows, line, line + strcspn(line, "\r\n"), sep, maxInputFields, nullptr);
  if (rows == inputFields) {
    inputFieldsUsed = n;
#ifndef NDEBUG
    splitWasMasked = false;
#endif
  }
  return n;
}

int extractNextRecordFields(const char* line, size_t length, char sep) {
  assert(strcspn(line, "\r\n") == length);
  int n = splitFields(inputFields, line, line + length, sep, inputFieldsUsed, neededRows);
  inputFieldsUsed = n;
  noteNeededFieldsFilled();
  return n;
}

static int splitFields(char rows[][fieldSize], const char* line, const char* end, char sep,
                       int clearFrom, const unsigned char* need) {
  const int maxLen = fieldSize - 1;
  char field[fieldSize];
  int n = 0, len = 0;
  bool quoted = false, lineHasCut = false;
  const char* p = line;
  // The plain fields are found by their separator alone, eight bytes at a time.
  auto atEnd = [end](const char* q) { return q >= end; };
  const uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
  const uint64_t separators = ones * (unsigned char)sep;
  while (!atEnd(p)) {
    char c = *p;
    if (len == 0 && !quoted && c != '"' && c != ' ' && c != sep) {
      // A field that starts with neither a quote nor a blank: quotes inside it change
      // nothing and only trailing blanks are trimmed, so it is copied in one piece. Such
      // fields usually follow one another, so the next one is taken here too.
      for (;;) {
        const char* start = p;
        while (end - p >= 8) {
          uint64_t word;
          memcpy(&word, p, 8);
          word ^= separators;
          uint64_t zero = (word - ones) & ~word & highs;  // its lowest bit marks the first
          if (zero) {
            p += __builtin_ctzll(zero) >> 3;
            goto fieldEnd;
          }
          p += 8;
        }
        while (p < end && *p != sep) p++;
      fieldEnd:
        int size = int(p - start);
        if (size > maxLen) {
          size = maxLen;
          lineHasCut = true;
        }
        if (n >= maxInputFields)
          fatal(7, "Exceeding maximum number of %d input fields\n", maxInputFields);
        if (!need || need[n]) {
          while (size > 0 && start[size - 1] == ' ') size--;
          putField(rows[n], start, size);
        }
        n++;
        if (atEnd(p) || atEnd(++p)) goto lineEnd;  // past the separator
        c = *p;
        if (c == '"' || c == ' ' || c == sep) break;
      }
      continue;
    }
    if (c == '"' && !lineHasCut) quoted = (len == 0);
    if (len == 0 && c == ' ') {
      while (*p == ' ') p++;
      if (atEnd(p)) break;
      c = *p;
    }
    if (c == sep && !quoted) {
      n = storeField(rows, n, field, len, need);
      len = 0;
    } else if (len == maxLen) {
      while (!atEnd(p) && *p != sep) p++;
      quoted = false;
      lineHasCut = true;
      continue;  // the separator, if any, ends the field
    } else {
      field[len++] = c;
    }
    p++;
  }
  if (len > 0) n = storeField(rows, n, field, len, need);
lineEnd:
  // Rows that are empty already are only read: most of them are, and a write to every one
  // of the 513 rows per record costs more than the rest of the split.
  for (int i = n; i < clearFrom; i++)
    if (rows[i][0]) rows[i][0] = '\0';
  return n;
}

// Date definitions: the date records of the compiled profile, read into a small fixed
// table; the date format language (where year, month and day stand in a value, which
// levels to generate and how to label them); the fixed-column layout of dates without a
// separator; and the locale's month names.
#ifndef VARKEL_DATE_H
#define VARKEL_DATE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "varkel/hashtab.h"

// The generated periods below one copy of a date placeholder (a category of a grown level
// gets its own copy): a table per level from key to label, and its blank-date label.
struct DateLevels {
  Hashtab* years = nullptr;  // owned
  Hashtab* quarters = nullptr;
  Hashtab* months = nullptr;
  Hashtab* days = nullptr;
  int32_t blankDateLabel = 0;  // 0 until made
};

struct Date {
  // Bits of flags.
  static constexpr uint32_t fieldMapped = 1u << 31;       // field holds the data column
  static constexpr uint32_t allQuarters = 1u << 30;       // every quarter of a year
  static constexpr uint32_t allMonths = 1u << 29;         // every month of a quarter or year
  static constexpr uint32_t allDays = 1u << 28;           // every day of a month
  static constexpr uint32_t badValueReported = 1u << 27;  // a bad month or day was reported

  int32_t field;               // field slot, replaced once by the data column
  std::string fieldName;       // the date field's name in the profile
  std::string inputFormat;     // how dates are written in the data
  std::string outputFormat;    // which levels to generate and how to label them
  int32_t fiscalYearEnd;       // month 0-11 ending the fiscal year; 11: calendar years
  uint32_t flags;
  int32_t blankDateLabel;      // label collecting empty date fields; 0 until made
  int8_t yearPosition;         // order among the input elements (0, 1, 2); -1 absent
  int8_t monthPosition;
  int8_t dayPosition;
  char separatorSet[3];        // separator, blank, NUL; all 0 without a separator
  int8_t yearFirstColumn;      // fixed columns (0-based, last inclusive) without separator
  int8_t yearLastColumn;
  int8_t monthFirstColumn;
  int8_t monthLastColumn;
  int8_t dayFirstColumn;
  int8_t dayLastColumn;
  uint8_t yearInput;           // 1 two-digit, 2 four-digit; 0 absent
  uint8_t monthInput;          // 1 number, 2 two digits, 3 short name, 4 long name
  uint8_t dayInput;            // 1 number, 2 two digits
  uint8_t yearOutput;          // 1 two-digit, 2 four-digit; 0 no level
  uint8_t quarterOutput;       // 1-5
  uint8_t monthOutput;         // 1-6
  uint8_t dayOutput;           // 1-5
  Hashtab* years;              // owned; key to label of each generated level
  Hashtab* quarters;
  Hashtab* months;
  Hashtab* days;
  // The profile's own placeholder of the date uses the tables and blank-date label above;
  // every copy of it has its own here, by the copy's label index.
  std::map<int, DateLevels> copies;

  // The three strings empty, every other field zero.
  Date();
  ~Date();
};

// Entries of the date table; entry i is the definition of dateIndex i + 1. Only 15 are
// usable, since dateIndex has 4 bits and 0 means no date.
const int dateTableSize = 16;
const int maxDates = 15;

// The date definitions read from the profile.
extern Date dateTable[dateTableSize];
// Number of definitions read so far.
extern int dateCount;
// Month names of the current locale, January first: [0] short ("%b"), [1] long ("%B").
// Empty until translateMonths fills them.
extern std::vector<std::string> monthNames[2];
// Set once monthNames is filled.
extern int translatedMonths;
// Set by a date record whose flag has bit value 2; read by the tree writers.
extern int dateLastCategory;

// Reads one date record of the compiled profile, starting after its record letter, into
// the next free entry and returns its 1-based index; *position ends after the record's
// closing '|'. A 16th record, a bad format, a flag or end month that is no spibble, or an
// end month of 0 is fatal 110. An end month above 12 is read as December.
int parseDate(const char* text, int* position);

// Reads one element of format at *position, which must hold letter in either case (else
// fatal 999): a run of the letter gives minus its length, the letter and a digit gives the
// digit, and a further 'A' adds 10. *position ends on the character after the element.
int parseElementFormat(Date* date, char letter, const char* format, int* position);

// Parse date's inputFormat and outputFormat into its positions, separator, codes and
// all-flags; every error is fatal 110 with its message.
void parseDateInputFormat(Date* date);
void parseDateOutputFormat(Date* date);

// The fixed columns of each input element of a date without separator. Element widths
// that cannot be fixed (single-digit month or day, long month names) are fatal 110.
void computeDateColumns(Date* date);

// Fills monthNames from the current locale, once.
void translateMonths(Date* date);

// The locale's name of month 0-11: form 0 short, form 1 long.
std::string monthName(Date* date, int month, int form);

// Releases the four tables of every definition read and those of every placeholder copy.
void freeDate();

#endif

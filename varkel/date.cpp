// Date definitions and the date format language.
#include "varkel/date.h"

#include <cctype>
#include <cstring>
#include <ctime>

#include "common/util.h"
#include "varkel/input.h"

// The date definitions read from the profile; entries past dateCount stay zero.
Date dateTable[dateTableSize];

// Definitions read so far.
int dateCount = 0;

// Short and long month names of the locale, filled by translateMonths.
std::vector<std::string> monthNames[2];

// monthNames is filled.
int translatedMonths = 0;

// Some date record asked for the last-category marker.
int dateLastCategory = 0;

Date::Date()
    : field(0), fiscalYearEnd(0), flags(0), blankDateLabel(0), yearPosition(0),
      monthPosition(0), dayPosition(0), separatorSet{0, 0, 0}, yearFirstColumn(0),
      yearLastColumn(0), monthFirstColumn(0), monthLastColumn(0), dayFirstColumn(0),
      dayLastColumn(0), yearInput(0), monthInput(0), dayInput(0), yearOutput(0),
      quarterOutput(0), monthOutput(0), dayOutput(0), years(nullptr), quarters(nullptr),
      months(nullptr), days(nullptr) {}

Date::~Date() {}

static char upper(char c) { return (char)toupper((unsigned char)c); }

int parseElementFormat(Date* date, char letter, const char* format, int* position) {
  (void)date;
  int i = *position;
  if (upper(format[i]) != upper(letter))
    fatal(999, "Why did I call parseElementFormat on for '%c' in '%s' at %d?\n", letter, format,
          *position);
  i++;
  int value;
  if (isdigit((unsigned char)format[i])) {
    value = format[i] - '0';
    i++;
    if (upper(format[i]) == 'A') {
      value += 10;
      i++;
    }
  } else {
    int run = 1;
    while (upper(format[i]) == upper(letter)) {
      run++;
      i++;
    }
    value = -run;
  }
  *position = i;
  return value;
}

void parseDateInputFormat(Date* d) {
  const char* format = d->inputFormat.c_str();
  d->yearPosition = d->monthPosition = d->dayPosition = -1;
  memset(d->separatorSet, 0, sizeof d->separatorSet);
  d->yearInput = d->monthInput = d->dayInput = 0;
  if (!*format) fatal(110, "No date input format given.\n");
  int elements = 0;
  int i = 0;
  while (format[i]) {
    char c = upper(format[i]);
    if (c == 'Y') {
      int v = parseElementFormat(d, 'Y', format, &i);
      if (v == -2)
        d->yearInput = 1;
      else if (v == -4)
        d->yearInput = 2;
      else if (v >= 0 && v <= 2)
        d->yearInput = (uint8_t)v;
      else
        fatal(110, "Invalid year input format in '%s'\n", format);
      d->yearPosition = (int8_t)elements++;
    } else if (c == 'M') {
      int v = parseElementFormat(d, 'M', format, &i);
      if (v >= -4 && v <= -1)
        d->monthInput = (uint8_t)-v;
      else if (v >= 0 && v <= 4)
        d->monthInput = (uint8_t)v;
      else
        fatal(110, "Invalid month input format in '%s'\n", format);
      d->monthPosition = (int8_t)elements++;
    } else if (c == 'D') {
      int v = parseElementFormat(d, 'D', format, &i);
      if (v >= -2 && v <= -1)
        d->dayInput = (uint8_t)-v;
      else if (v >= 0 && v <= 2)
        d->dayInput = (uint8_t)v;
      else
        fatal(110, "Invalid day input format in '%s'\n", format);
      d->dayPosition = (int8_t)elements++;
    } else {
      if (!d->separatorSet[0]) {
        d->separatorSet[0] = c;
        d->separatorSet[1] = ' ';
      } else if (d->separatorSet[0] != c) {
        fatal(110,
              "Only one separator character can be used in date input format.\n"
              "First separator was '%c', but then found '%c'\n",
              d->separatorSet[0], c);
      }
      i++;
    }
  }
}

// Applies the all mark of a quarter, month or day element: a value above 9 sets flag
// and loses 10, else the flag is cleared.
static int allMark(Date* d, int value, uint32_t flag) {
  if (value > 9) {
    d->flags |= flag;
    return value - 10;
  }
  d->flags &= ~flag;
  return value;
}

void parseDateOutputFormat(Date* d) {
  const char* format = d->outputFormat.c_str();
  if (!*format) fatal(110, "No date output format given.\n");
  int i = 0;
  while (format[i]) {
    char c = upper(format[i]);
    if (c == 'Y') {
      int v = parseElementFormat(d, 'Y', format, &i);
      if (v == -1 || v == -4)
        d->yearOutput = 2;
      else if (v == -2)
        d->yearOutput = 1;
      else if (v >= 0 && v <= 2)
        d->yearOutput = (uint8_t)v;
      else
        fatal(110, "Invalid year output format in '%s'\n", format);
    } else if (c == 'Q') {
      int v = allMark(d, parseElementFormat(d, 'Q', format, &i), Date::allQuarters);
      if (v == -1)
        d->quarterOutput = 1;
      else if (v >= 0 && v <= 5)
        d->quarterOutput = (uint8_t)v;
      else
        fatal(110, "Invalid month output format in '%s'\n", format);
    } else if (c == 'M') {
      int v = allMark(d, parseElementFormat(d, 'M', format, &i), Date::allMonths);
      if (v >= -4 && v <= -1)
        d->monthOutput = (uint8_t)-v;
      else if (v >= 0 && v <= 6)
        d->monthOutput = (uint8_t)v;
      else
        fatal(110, "Invalid month output format in '%s'\n", format);
    } else if (c == 'D') {
      int v = allMark(d, parseElementFormat(d, 'D', format, &i), Date::allDays);
      if (v >= -2 && v <= -1)
        d->dayOutput = (uint8_t)-v;
      else if (v >= 0 && v <= 5)
        d->dayOutput = (uint8_t)v;
      else
        fatal(110, "Invalid day output format in '%s'\n", format);
    } else if (c == '+') {
      i++;
    } else {
      fatal(110, "Invalid character '%c' in output format '%s'\n", c, format);
    }
  }
}

// Characters each input element takes in a date without separator.
static int yearWidth(const Date* d) {
  if (d->yearInput == 1) return 2;
  if (d->yearInput == 2) return 4;
  return 0;
}

static int monthWidth(const Date* d) {
  switch (d->monthInput) {
    case 0: return 0;
    case 2: return 2;
    case 3: return 3;
    case 1: fatal(110, "Single digit month input format not allowed without separator.\n");
    case 4: fatal(110, "Long month name input format not allowed without separator.\n");
    default: fatal(110, "Invalid month input format.\n");
  }
}

static int dayWidth(const Date* d) {
  switch (d->dayInput) {
    case 0: return 0;
    case 2: return 2;
    case 1: fatal(110, "Single digit day input format not allowed without separator.\n");
    default: fatal(110, "Invalid day input format.\n");
  }
}

// The first column of the element at position: the widths of the elements before it.
static int firstColumnAt(const Date* d, int position) {
  int column = 0;
  if (d->yearInput && d->yearPosition < position) column += yearWidth(d);
  if (d->monthInput && d->monthPosition < position) column += monthWidth(d);
  if (d->dayInput && d->dayPosition < position) column += dayWidth(d);
  return column;
}

void computeDateColumns(Date* d) {
  if (d->yearInput) {
    int first = firstColumnAt(d, d->yearPosition);
    d->yearFirstColumn = (int8_t)first;
    d->yearLastColumn = (int8_t)(first + yearWidth(d) - 1);
  }
  if (d->monthInput) {
    int first = firstColumnAt(d, d->monthPosition);
    d->monthFirstColumn = (int8_t)first;
    d->monthLastColumn = (int8_t)(first + monthWidth(d) - 1);
  }
  if (d->dayInput) {
    int first = firstColumnAt(d, d->dayPosition);
    d->dayFirstColumn = (int8_t)first;
    d->dayLastColumn = (int8_t)(first + dayWidth(d) - 1);
  }
}

int parseDate(const char* text, int* position) {
  if (dateCount >= maxDates) fatal(110, "Too many date nodes in profile.  Max is %d.\n", maxDates);
  Date* d = &dateTable[dateCount];

  int flag = getSpibble(text, position);
  if (flag < 0) fatal(110, "Invalid flag in date record.\n");
  if (flag & 2) dateLastCategory = 1;
  int endMonth = getSpibble(text, position);
  if (endMonth < 1) fatal(110, "Invalid fiscal year end month in date record.\n");
  d->fiscalYearEnd = endMonth - 1 > 11 ? 11 : endMonth - 1;

  d->fieldName = getString(2, text, position);
  d->inputFormat = getString(2, text, position);
  d->outputFormat = getString(2, text, position);
  getString(2, text, position);  // start year, unused
  getString(2, text, position);  // end year, unused
  if (text[*position]) (*position)++;  // the closing '|'; never past the end of the text
  d->field = getFieldIndex(d->fieldName.c_str());

  d->years = hashtabNew(5, 2, 0.6);
  d->quarters = hashtabNew(12, 2, 0.6);
  d->months = hashtabNew(36, 2, 0.6);
  d->days = hashtabNew(50, 2, 0.6);

  parseDateInputFormat(d);
  parseDateOutputFormat(d);
  if (d->yearOutput && !d->yearInput)
    fatal(110, "Cannot have year output without year input in a date.\n");
  if (d->monthOutput && !d->monthInput)
    fatal(110, "Cannot have month output without month input in a date.\n");
  if (d->quarterOutput && !d->monthInput)
    fatal(110, "Cannot have quarter output without month input in a date.\n");
  if (d->dayOutput && !d->dayInput)
    fatal(110, "Cannot have day output without day input in a date.\n");
  if (!d->separatorSet[0]) computeDateColumns(d);
  return ++dateCount;
}

std::string monthName(Date* date, int month, int form) {
  (void)date;
  time_t t = (time_t)(30 * month + 15) * 86400;
  struct tm broken;
  char buffer[256];
  buffer[0] = 0;
  if (!gmtime_r(&t, &broken) || !strftime(buffer, sizeof buffer, form ? "%B" : "%b", &broken))
    buffer[0] = 0;
  return buffer;
}

void translateMonths(Date* date) {
  if (translatedMonths) return;
  for (int f = 0; f < 2; f++) {
    monthNames[f].assign(12, std::string());
    for (int m = 0; m < 12; m++) monthNames[f][m] = monthName(date, m, f);
  }
  translatedMonths = 1;
}

void freeDate() {
  for (int i = 0; i < dateCount; i++) {
    Date& d = dateTable[i];
    for (Hashtab** table : {&d.years, &d.quarters, &d.months, &d.days}) {
      hashtabDelete(*table);
      *table = nullptr;
    }
    for (auto& copy : d.copies)
      for (Hashtab* table : {copy.second.years, copy.second.quarters, copy.second.months,
                             copy.second.days})
        hashtabDelete(table);
    d.copies.clear();
  }
}

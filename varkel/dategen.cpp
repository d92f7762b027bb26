// Date hierarchy generation: while the trees grow, every record's date value finds or
// makes the chain of year, quarter, month and day labels below its date placeholder. Each
// generated label carries a key that names its period, a sort code and a match that selects
// exactly the records of its period, so that the cube pass classifies by them like any
// other label. Each level keeps a table from key to label, so a period is made once.
#include "varkel/dategen.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "common/textutil.h"
#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/datasource.h"
#include "varkel/date.h"
#include "varkel/fieldparts.h"
#include "varkel/grow.h"
#include "varkel/hashtab.h"
#include "varkel/input.h"
#include "varkel/recordfield.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/report.h"
#include "varkel/workbuffers.h"

// The element values of the last date value read; see dategen.h.
int currentYear = 0;
int currentMonth = 0;
int currentDay = 0;
std::string currentYearText;
std::string currentMonthText;
std::string currentDayText;

namespace {

// Set while the labels of a date value whose day cannot be read are made: it makes the
// labels above its day, and no day label.
bool dayUnread = false;

// Key of the blank-date label; sorts after every date key.
const char blankDateKey[] = "99999999";

// Sort codes of the generated levels.
const int sortAToZ = 1;
const int sortNumeric = 3;

// The parent each generated label was attached to. A period found again in its level's
// table is then known to be in place without walking its parent's children.
std::unordered_map<int, int> attachedTo;

// The placeholder whose hierarchy the generators of the running call grow: set by the two
// generators that are handed it, read by the levels below them.
int currentPlaceholder = -1;

// The level tables and blank-date label of one placeholder.
struct Levels {
  Hashtab* years;
  Hashtab* quarters;
  Hashtab* months;
  Hashtab* days;
  int32_t* blankDateLabel;
};

// The tables of placeholder: its own when it is a copy, else those of its Date.
Levels levelsOf(Date* d, int placeholder) {
  auto copy = d->copies.find(placeholder);
  if (copy == d->copies.end())
    return {d->years, d->quarters, d->months, d->days, &d->blankDateLabel};
  DateLevels& own = copy->second;
  return {own.years, own.quarters, own.months, own.days, &own.blankDateLabel};
}

Levels currentLevels(Date* d) { return levelsOf(d, currentPlaceholder); }

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char small[128];
  va_list args;
  va_start(args, fmt);
  int n = vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  if (n < 0) return std::string();
  if (n < (int)sizeof small) return std::string(small, n);
  std::string big(n + 1, '\0');
  va_start(args, fmt);
  vsnprintf(&big[0], big.size(), fmt, args);
  va_end(args);
  big.resize(n);
  return big;
}

// format("%0*d", width, v) without the formatting machinery: the level keys are made for
// every record.
std::string padded(int v, int width) {
  if (v < 0) return format("%0*d", width, v);
  char digits[16];
  int n = 0;
  do {
    digits[n++] = char('0' + v % 10);
    v /= 10;
  } while (v);
  while (n < width && n < (int)sizeof digits) digits[n++] = '0';
  std::string text(size_t(n), '0');
  for (int i = 0; i < n; i++) text[size_t(i)] = digits[n - 1 - i];
  return text;
}

// The four-digit year a year is shown as: 00-49 are 2000-2049, 50-100 are 1950-2000.
int yearWindow(int y) {
  if (y >= 0 && y <= 49) return 2000 + y;
  if (y >= 50 && y <= 100) return 1900 + y;
  return y;
}

// The last two digits of a year, 0-99 (the year before 00 is 99).
int twoDigits(int y) {
  int r = y % 100;
  return r < 0 ? r + 100 : r;
}

// atoi of an element text, bounded so that year arithmetic cannot overflow.
int elementNumber(const std::string& text) {
  long v = strtol(text.c_str(), nullptr, 10);
  if (v > 99999999) v = 99999999;
  if (v < -99999999) v = -99999999;
  return (int)v;
}

bool twoDigitYears(const Date* d) { return d->yearInput == 1; }

// A fiscal date needs its months: without them a year cannot be split at its end month.
bool isFiscal(const Date* d) { return d->fiscalYearEnd != 11 && d->monthInput != 0; }

// Fiscal years run ahead of calendar years only when the date has years at all; without a
// year every period lies in the same (unnamed) year.
bool shiftsYears(const Date* d) { return isFiscal(d) && d->yearInput != 0; }

int storedYear(const Date* d, int y) { return twoDigitYears(d) ? twoDigits(y) : y; }

// The text of a year (as stored) that the year conditions test.
std::string yearSpelling(const Date* d, int y) {
  return twoDigitYears(d) ? format("%02d", twoDigits(y)) : format("%04d", yearWindow(y));
}

// The calendar year of month 0-11 in fiscal year fiscalYear.
int calendarYearOf(const Date* d, int fiscalYear, int month) {
  if (shiftsYears(d) && month > d->fiscalYearEnd) return storedYear(d, fiscalYear - 1);
  return storedYear(d, fiscalYear);
}

// The fiscal year month 0-11 of calendarYear belongs to.
int fiscalYearOf(const Date* d, int calendarYear, int month) {
  if (shiftsYears(d) && month > d->fiscalYearEnd) return storedYear(d, calendarYear + 1);
  return storedYear(d, calendarYear);
}

bool leapYear(int y) {
  y = yearWindow(y);
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int month, int year) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 1 && leapYear(year)) return 29;
  return days[month];
}

// The locale's short (form 0) or long (form 1) name of month 0-11.
const std::string& nameOfMonth(int form, int month) {
  static const std::string none;
  if (!translatedMonths) translateMonths(nullptr);
  if (month < 0 || month > 11 || (int)monthNames[form].size() != 12) return none;
  return monthNames[form][month];
}

const char* dateFieldText(const Date* d) { return currentField(d->field); }

// One element of the date field: its part, or its columns when the date has no separator.
std::string elementText(const Date* d, int position, int first, int last) {
  if (d->separatorSet[0]) {
    int more = 0;
    return extractPart(d->field, position, d->separatorSet, &more);
  }
  extractFieldColumns(first, last, dateFieldText(d));
  return partPattern;
}

// The target of an encoded condition on one element: a part or a column range.
std::string elementTarget(const Date* d, int position, int first, int last) {
  if (d->separatorSet[0])
    return std::string("H") + makeString(1, d->separatorSet) + makeSpibble(position);
  return std::string("G") + makeSpibble(first) + makeSpibble(last);
}

_MatchTree* parseCondition(const std::string& text) {
  _MatchTree* tree = matchParseExpression(text.c_str());
  matchTranslateFields(tree);
  return tree;
}

// The one-leaf condition that an element equals value.
_MatchTree* elementEquals(const Date* d, const std::string& value, int position, int first,
                          int last) {
  if (d->separatorSet[0])
    return matchCreateString(value.c_str(), d->field, position, -1, -1, -1, d->separatorSet);
  return matchCreateString(value.c_str(), d->field, -1, -1, first, last, nullptr);
}

// The encoded test that an element equals text. An input code of one or two digits (code
// 1) reads "5" and "05" alike, so for the values 1-9 the test accepts both spellings;
// otherwise a record written zero-padded would fall out of every generated period.
std::string elementTest(const Date* d, int code, const std::string& target, char op,
                        const std::string& text) {
  std::string head = makeString(2, d->fieldName.c_str()) + target + "=" + op;
  std::string test = head + makeString(2, text.c_str());
  if (code != 1 || text.size() != 1 || text[0] < '1' || text[0] > '9') return test;
  return "(" + test + "K" + head + makeString(2, ("0" + text).c_str()) + ")";
}

// Month names are recognised in any case, so a month test must match them in any case.
std::string monthTest(Date* d, int month) {
  return elementTest(d, d->monthInput,
                     elementTarget(d, d->monthPosition, d->monthFirstColumn,
                                   d->monthLastColumn),
                     'y', monthText(d, month));
}

std::string dayConditionIn(Date* d, int month, int year, const char* dayText) {
  std::string text =
      "(" +
      elementTest(d, d->dayInput,
                  elementTarget(d, d->dayPosition, d->dayFirstColumn, d->dayLastColumn), 'L',
                  dayText) +
      ")";
  if (d->monthInput) text += "J" + monthYearCondition(d, year, month);
  return text;
}

void reportBadValue(Date* d, const std::string& message) {
  if (d->flags & Date::badValueReported) return;
  growthChanges++;
  msg("%s", message.c_str());
  d->flags |= Date::badValueReported;
}

int newDateLabel(const std::string& text, const std::string& key, int sort, bool generated,
                 Hashtab* table) {
  int n = getNextFree();
  AxisLabel& l = axisLabels[n];
  l.label = text;
  l.setKey(_newStr(key.c_str(), __FILE__, __LINE__));
  l.sort = sort;
  l.generatedDate = generated ? 1 : 0;
  if (table) hashtabPut(table, key.c_str(), n);
  return n;
}

// True when month of calendar year year is the month of the date value being read.
bool isCurrentMonth(int month, int year) {
  return month == currentMonth && yearWindow(year) == yearWindow(currentYear);
}

// Every element the date's input format lacks starts from nothing for each value.
void resetElements() {
  currentYear = currentMonth = currentDay = 0;
  currentYearText.clear();
  currentMonthText.clear();
  currentDayText.clear();
}

}  // namespace

int extractDateYear(Date* d) {
  if (!d->yearInput) return currentYear;
  currentYearText = elementText(d, d->yearPosition, d->yearFirstColumn, d->yearLastColumn);
  if (currentYearText.empty()) return -1;
  // Every condition on a year tests its one spelling, as the label shows it ("99" for
  // two-digit input, "1999" for four). Any other text ("n/a", "99" or "0099" in a
  // four-digit field, "1999" in a two-digit one) would share the label's key but fall
  // outside the conditions that select its records: it is no readable year.
  int year = storedYear(d, elementNumber(currentYearText));
  if (currentYearText != yearSpelling(d, year)) return -1;
  currentYear = year;
  return currentYear;
}

int extractDateMonth(Date* d) {
  if (!d->monthInput) return currentMonth;
  currentMonthText =
      elementText(d, d->monthPosition, d->monthFirstColumn, d->monthLastColumn);
  if (currentMonthText.empty()) return -1;
  int m = monthNumber(d, currentMonthText.c_str());
  if (d->monthInput >= 3) {
    if (m < 0) {
      reportBadValue(d, format("Unrecognized month '%s' in record %d\n",
                               currentMonthText.c_str(), numRecords));
      return -1;
    }
  } else if (m < 0 || m > 11) {
    reportBadValue(d, format("Month in record %d is %s, which is invalid.\n", numRecords,
                             currentMonthText.c_str()));
    return -1;
  }
  currentMonth = m;
  return m;
}

int extractDateDay(Date* d) {
  if (!d->dayInput) return currentDay;
  currentDayText = elementText(d, d->dayPosition, d->dayFirstColumn, d->dayLastColumn);
  if (currentDayText.empty()) return -1;
  int day = elementNumber(currentDayText);
  if (day < 1 || day > 31) {
    reportBadValue(d, format("Day in record %d is %s, which is invalid.\n", numRecords,
                             currentDayText.c_str()));
    return -1;
  }
  currentDay = day;
  return day;
}

int monthNumber(Date* d, const char* text) {
  switch (d->monthInput) {
    case 1:
    case 2: {
      if (!*text) return -1;
      int v = 0;
      for (const char* p = text; *p; p++) {
        if (*p < '0' || *p > '9') return -1;
        if (v < 1000) v = v * 10 + (*p - '0');
      }
      return v - 1;
    }
    case 3:
    case 4:
      for (int m = 0; m < 12; m++)
        if (strCompare(text, nameOfMonth(d->monthInput - 3, m).c_str()) == 0) return m;
      return -1;
    default:
      return -1;
  }
}

std::string monthText(Date* d, int month) {
  switch (d->monthInput) {
    case 1: return format("%d", month + 1);
    case 2: return format("%02d", month + 1);
    case 3:
    case 4:
      if (month >= 0 && month <= 11) return nameOfMonth(d->monthInput - 3, month);
      return "bad month";
    default: return "bad month";
  }
}

std::string monthYearCondition(Date* d, int year, int month) {
  if (month < 0) {
    month += 12;
    year--;
  } else if (month > 11) {
    month -= 12;
    year++;
  }
  std::string field = makeString(2, d->fieldName.c_str());
  std::string text = "(" + monthTest(d, month);
  if (d->yearInput) {
    std::string yearText = yearSpelling(d, year);
    text += "J" + field +
            elementTarget(d, d->yearPosition, d->yearFirstColumn, d->yearLastColumn) + "=L" +
            makeString(2, yearText.c_str());
  }
  return text + ")";
}

std::string dayCondition(Date* d, int month, const char* dayText) {
  return dayConditionIn(d, month, currentYear, dayText);
}

void insertIntoTree(int parent, int child) {
  if (parent < 0 || child < 0) return;
  auto known = attachedTo.find(child);
  if (known != attachedTo.end()) {
    // A label stays under the one parent it was first attached to: hanging it under a
    // second one would join two sibling chains.
    return;
  }
  attachedTo[child] = parent;
  growthChanges++;
  AxisLabel& p = axisLabels[parent];
  if (p.child < 0) {
    p.child = child;
    return;
  }
  int last = p.child;
  for (;;) {
    if (last == child) return;
    int next = axisLabels[last].sibling;
    if (next < 0) break;
    last = next;
  }
  axisLabels[last].sibling = child;
}

// The conditions of the generated labels, from the period alone, so that a label re-read
// from a cube written without its condition gets the one the generator gives it. year is
// the year as stored (two digits for a two-digit input year).

// A fiscal year: its months, those after the end month in the calendar year before.
std::string fiscalYearCondition(Date* d, int fiscalYear) {
  std::string condition;
  for (int k = 0; k < 12; k++) {
    int m = (d->fiscalYearEnd + 1 + k) % 12;
    if (!condition.empty()) condition += "K";
    condition += monthYearCondition(d, calendarYearOf(d, fiscalYear, m), m);
  }
  return condition;
}

// First month and its calendar year (as stored) of quarter 0-3 of year (fiscal or
// calendar, as the date counts its years).
void quarterStart(Date* d, int year, int quarter, int& firstMonth, int& firstYear) {
  if (!isFiscal(d)) {
    firstMonth = 3 * quarter;
    firstYear = year;
  } else {
    firstMonth = (3 * quarter + d->fiscalYearEnd + 1) % 12;
    firstYear = calendarYearOf(d, year, firstMonth);
  }
  firstYear = storedYear(d, firstYear);
}

std::string quarterCondition(Date* d, int firstYear, int firstMonth) {
  return monthYearCondition(d, firstYear, firstMonth) + "K" +
         monthYearCondition(d, firstYear, firstMonth + 1) + "K" +
         monthYearCondition(d, firstYear, firstMonth + 2);
}

// A year or quarter above selects the calendar year; without one the month is made per
// year and must select its year itself, or every year's January would hold them all.
std::string monthCondition(Date* d, int year, int month) {
  if (d->yearOutput || d->quarterOutput) return "(" + monthTest(d, month) + ")";
  return monthYearCondition(d, year, month);
}

std::string dayLabelCondition(Date* d, int year, int month, int day) {
  std::string dayText;
  switch (d->dayInput) {
    case 1: dayText = format("%d", day); break;
    case 2: dayText = format("%02d", day); break;
    default: fatal(110, "Unknown day input format %d\n", d->dayInput);
  }
  return dayConditionIn(d, month, year, dayText.c_str());
}

int generateBlankDateNode(Date* d, int placeholder) {
  currentPlaceholder = placeholder;
  int32_t* blank = currentLevels(d).blankDateLabel;
  if (*blank > 0) return *blank;
  int n = newDateLabel(blankLabel, blankDateKey, sortNumeric, true, nullptr);
  axisLabels[n].match = matchCreateString("", d->field, -1, -1, -1, -1, "");
  *blank = n;
  insertIntoTree(placeholder, n);
  return n;
}

int generateYearNode(Date* d, int placeholder) {
  currentPlaceholder = placeholder;
  int fiscalYear = fiscalYearOf(d, currentYear, currentMonth);
  if (!d->yearOutput) return generateYearQuarters(d, placeholder, fiscalYear, currentMonth);

  std::string key = padded(yearWindow(fiscalYear), 4);
  int found = hashtabGet(currentLevels(d).years, key.c_str());
  if (found >= 0) {
    generateYearQuarters(d, found, fiscalYear, currentMonth);
    insertIntoTree(placeholder, found);
    return found;
  }

  bool fiscal = isFiscal(d);
  std::string text;
  switch (d->yearOutput) {
    case 1: text = format(fiscal ? "FY %02d" : "%02d", twoDigits(fiscalYear)); break;
    case 2: text = format(fiscal ? "FY%04d" : "%04d", yearWindow(fiscalYear)); break;
    default: fatal(110, "Unknown year output format %d.\n", d->yearOutput);
  }
  int n = newDateLabel(text, key, sortNumeric, true, currentLevels(d).years);
  if (!fiscal)
    axisLabels[n].match = elementEquals(d, currentYearText, d->yearPosition,
                                        d->yearFirstColumn, d->yearLastColumn);
  else
    axisLabels[n].match = parseCondition(fiscalYearCondition(d, fiscalYear));
  insertIntoTree(placeholder, n);
  generateYearQuarters(d, n, fiscalYear, currentMonth);
  return n;
}

int generateYearQuarters(Date* d, int parent, int year, int month) {
  if (!(d->flags & Date::allQuarters)) return generateQuarterNode(d, parent, year, month);
  int first = -1;
  for (int m = 0; m < 12; m++) {
    int n = generateQuarterNode(d, parent, year, m);
    if (first < 0) first = n;
  }
  return first;
}

int generateQuarterNode(Date* d, int parent, int year, int month) {
  if (!d->quarterOutput && month == currentMonth)
    return generateQuarterMonths(d, parent, month, calendarYearOf(d, year, month));

  int quarter = month / 3;
  if (isFiscal(d)) {
    int r = month - d->fiscalYearEnd + 11;  // 0 for the month after the end month
    if (r < 0)
      r += 12;
    else if (r > 11)
      r -= 12;
    quarter = r / 3;
  }
  int firstMonth, firstYear;
  quarterStart(d, year, quarter, firstMonth, firstYear);

  std::string key = padded(yearWindow(year), 4) + "Q" + padded(quarter + 1, 1);
  int found = hashtabGet(currentLevels(d).quarters, key.c_str());
  if (found >= 0) {
    generateQuarterMonths(d, found, month, calendarYearOf(d, year, month));
    insertIntoTree(parent, found);
    return found;
  }

  bool fiscal = isFiscal(d);
  int q = quarter + 1;
  std::string text;
  switch (d->quarterOutput) {
    case 1: text = format("Q%d", q); break;
    case 2: text = format(fiscal ? "FY%04d Q%d" : "%04d Q%d", yearWindow(year), q); break;
    case 3: text = format(fiscal ? "FY %02d Q%d" : "%02d Q%d", twoDigits(year), q); break;
    case 4: text = format(fiscal ? "Q%d FY%04d" : "Q%d %04d", q, yearWindow(year)); break;
    case 5: text = format(fiscal ? "Q%d FY%02d" : "Q%d %02d", q, twoDigits(year)); break;
    default: fatal(110, "Unknown quarter format %d\n", d->quarterOutput);
  }
  int n = newDateLabel(text, key, sortAToZ, true, currentLevels(d).quarters);
  axisLabels[n].match = parseCondition(quarterCondition(d, firstYear, firstMonth));
  if (d->flags & Date::allMonths) {
    for (int k = 0; k < 3; k++) generateQuarterMonths(d, n, firstMonth + k, firstYear);
  } else {
    generateQuarterMonths(d, n, month, calendarYearOf(d, year, month));
  }
  insertIntoTree(parent, n);
  return n;
}

int generateQuarterMonths(Date* d, int parent, int month, int year) {
  if (!(d->flags & Date::allMonths) || d->quarterOutput)
    return generateMonthNode(d, parent, month, year);
  int fiscalYear = fiscalYearOf(d, year, month);
  int first = -1;
  for (int m = 0; m < 12; m++) {
    int n = generateMonthNode(d, parent, m, calendarYearOf(d, fiscalYear, m));
    if (first < 0) first = n;
  }
  return first;
}

int generateMonthNode(Date* d, int parent, int month, int year) {
  if (month < 0) {
    month += 12;
    year--;
  } else if (month > 11) {
    month -= 12;
    year++;
  }
  year = storedYear(d, year);
  if (!d->monthOutput) return generateMonthDays(d, parent, month, year, currentDay);

  std::string key = padded(yearWindow(year), 4) + padded(month + 1, 2);
  int found = hashtabGet(currentLevels(d).months, key.c_str());
  if (found >= 0) {
    if (isCurrentMonth(month, year)) generateMonthDays(d, found, month, year, currentDay);
    insertIntoTree(parent, found);
    return found;
  }

  const std::string& shortName = nameOfMonth(0, month);
  std::string text;
  switch (d->monthOutput) {
    case 1: text = format("%d", month + 1); break;
    case 2: text = format("%02d", month + 1); break;
    case 3: text = shortName; break;
    case 4: text = nameOfMonth(1, month); break;
    case 5: text = format("%s %02d", shortName.c_str(), twoDigits(year)); break;
    case 6: text = format("%s %04d", shortName.c_str(), yearWindow(year)); break;
    default: fatal(110, "Unknown month format M%d\n", d->monthOutput);
  }
  int n = newDateLabel(text, key, sortNumeric, true, currentLevels(d).months);
  axisLabels[n].match = parseCondition(monthCondition(d, year, month));
  if (isCurrentMonth(month, year)) generateMonthDays(d, n, month, year, currentDay);
  insertIntoTree(parent, n);
  return n;
}

int generateMonthDays(Date* d, int parent, int month, int year, int day) {
  if (!(d->flags & Date::allDays))
    return dayUnread ? -1 : generateDayNode(d, parent, month, year, day);
  int first = -1;
  int last = daysInMonth(month, year);
  for (int dd = 1; dd <= last; dd++) {
    int n = generateDayNode(d, parent, month, year, dd);
    if (first < 0) first = n;
  }
  return first;
}

int generateDayNode(Date* d, int parent, int month, int year, int day) {
  if (!d->dayOutput) return -1;
  if (day < 1 || day > 31) {
    reportBadValue(d, format("Day in record %d is %d, which is too large.\n", numRecords, day));
    return -1;
  }
  std::string key = format("%04d%02d%02d", yearWindow(year), month + 1, day);
  int found = hashtabGet(currentLevels(d).days, key.c_str());
  if (found >= 0) {
    insertIntoTree(parent, found);
    return found;
  }

  const char* shortName = nameOfMonth(0, month).c_str();
  std::string text;
  switch (d->dayOutput) {
    case 1: text = format("%d", day); break;
    case 2: text = format("%02d", day); break;
    case 3: text = format("%s %02d", shortName, day); break;
    case 4: text = format("%s %02d %02d", shortName, day, twoDigits(year)); break;
    case 5: text = format("%s %02d %04d", shortName, day, yearWindow(year)); break;
    default: fatal(110, "Unknown day format D%d\n", d->dayOutput);
  }
  int n = newDateLabel(text, key, sortNumeric, false, currentLevels(d).days);
  axisLabels[n].match = parseCondition(dayLabelCondition(d, year, month, day));
  insertIntoTree(parent, n);
  return n;
}

int insertDate(int placeholder) {
  if (placeholder < 0) return -1;
  int index = axisLabels[placeholder].dateIndex;
  if (index < 1 || index > dateCount) return -1;
  Date* d = &dateTable[index - 1];
  if (!translatedMonths) translateMonths(d);
  if (!(d->flags & Date::fieldMapped)) {
    d->field = mapField(d->field);
    d->flags |= Date::fieldMapped;
  }
  if (!*dateFieldText(d)) return generateBlankDateNode(d, placeholder);
  resetElements();
  // The labels a value's conditions select must not depend on other records having made
  // them before the cube pass meets it. So an element no generated level reads (a day with
  // no day level, a month with no quarter, month or day level in calendar years) does not
  // keep the value out, and a day that cannot be read still makes the labels above it: the
  // month label, a leaf while no day of it is read, holds the value.
  if (extractDateYear(d) == -1) return -1;
  bool monthRead = isFiscal(d) || d->quarterOutput || d->monthOutput || d->dayOutput;
  if (extractDateMonth(d) == -1 && monthRead) return -1;
  dayUnread = extractDateDay(d) == -1 && d->dayOutput;
  int label = generateYearNode(d, placeholder);
  dayUnread = false;
  return label;
}

void giveOwnDateLevels(int placeholder) {
  if (placeholder < 0) return;
  int index = axisLabels[placeholder].dateIndex;
  if (index < 1 || index > dateCount) return;
  DateLevels& own = dateTable[index - 1].copies[placeholder];
  for (Hashtab* table : {own.years, own.quarters, own.months, own.days}) hashtabDelete(table);
  own.years = hashtabNew(5, 2, 0.6);
  own.quarters = hashtabNew(12, 2, 0.6);
  own.months = hashtabNew(36, 2, 0.6);
  own.days = hashtabNew(50, 2, 0.6);
  own.blankDateLabel = 0;
}

void dateUpdateHash(int date, int label, int part, const char* key, int placeholder) {
  const char* k = key ? key : "";
  size_t length = strlen(k);
  bool digits = length > 0 && strspn(k, "0123456789") == length;
  Hashtab* table = nullptr;
  if (date >= 1 && date <= dateCount) {
    Levels levels = levelsOf(&dateTable[date - 1], placeholder);
    if (strcmp(k, blankDateKey) == 0) {
      *levels.blankDateLabel = label;
      return;
    }
    if (strchr(k, 'Q'))
      table = levels.quarters;
    else if (digits && length == 4)
      table = levels.years;
    else if (digits && length == 6)
      table = levels.months;
    else if (digits && length == 8)
      table = levels.days;
  }
  if (!table) fatal(110, "Unable to find '%s' subfield %d in date node %d.\n", k, part, label);
  hashtabPut(table, k, label);
}

_MatchTree* dateLabelCondition(int date, const char* key) {
  if (date < 1 || date > dateCount || !key) return nullptr;
  Date* d = &dateTable[date - 1];
  std::string k(key);
  if (k == blankDateKey) return matchCreateString("", d->field, -1, -1, -1, -1, "");
  if (k.size() < 4 || strspn(k.c_str(), "0123456789") < 4) return nullptr;
  int year = storedYear(d, atoi(k.substr(0, 4).c_str()));
  std::string rest = k.substr(4);
  bool digits = strspn(rest.c_str(), "0123456789") == rest.size();
  std::string text;
  if (rest.empty()) {
    if (isFiscal(d)) {
      text = fiscalYearCondition(d, year);
    } else {
      std::string yearText = yearSpelling(d, year);
      text = elementTest(d, d->yearInput,
                         elementTarget(d, d->yearPosition, d->yearFirstColumn,
                                       d->yearLastColumn),
                         'L', yearText);
    }
  } else if (rest.size() == 2 && rest[0] == 'Q' && rest[1] >= '1' && rest[1] <= '4') {
    int firstMonth, firstYear;
    quarterStart(d, year, rest[1] - '1', firstMonth, firstYear);
    text = quarterCondition(d, firstYear, firstMonth);
  } else if (digits && (rest.size() == 2 || rest.size() == 4)) {
    int month = atoi(rest.substr(0, 2).c_str()) - 1;
    if (month < 0 || month > 11) return nullptr;
    if (rest.size() == 2) {
      text = monthCondition(d, year, month);
    } else {
      int day = atoi(rest.substr(2).c_str());
      if (day < 1 || day > 31) return nullptr;
      text = dayLabelCondition(d, year, month, day);
    }
  } else {
    return nullptr;
  }
  return matchParseExpression(text.c_str());
}

// Date hierarchy generation: the year, quarter, month and day labels that a date
// placeholder grows from the records.
#ifndef VARKEL_DATEGEN_H
#define VARKEL_DATEGEN_H

#include <string>

struct Date;
struct _MatchTree;

// The element values of the date value read last, overwritten by every insertDate. An
// element absent from the date's input format reads as year 0, month 0, day 0 and an
// empty text.
extern int currentYear;    // as read; 0-99 for a two-digit input year
extern int currentMonth;   // 0-11
extern int currentDay;     // 1-31
extern std::string currentYearText;   // each element's text as the record has it
extern std::string currentMonthText;
extern std::string currentDayText;

// Classifies the current record into the hierarchy below the date placeholder label;
// returns the top generated label reached, the blank-date label, or -1 when the date
// cannot be read (nothing is created then). On first use maps the date's field slot to
// its data column and fills the month names. A bad month or day is reported once per
// date through msg.
int insertDate(int placeholder);

// Read one element of the current record's date field into the current values and
// return it; -1 when it is empty or bad (bad months and days are reported once per
// date). An element absent from the input format gives its current value.
int extractDateYear(Date* date);
int extractDateMonth(Date* date);
int extractDateDay(Date* date);

// Month index 0-11 of a month text by the date's month input code: a number 1-12 for
// codes 1 and 2, a short or long month name (any case) for codes 3 and 4; -1 otherwise.
// A number outside 1-12 gives its value minus 1.
int monthNumber(Date* date, const char* text);

// The text month index 0-11 has in the data by the month input code; "bad month" when
// the code or the month is out of range.
std::string monthText(Date* date, int month);

// Encoded condition that the date field lies in month (may run one below 0 or above 11:
// it rolls into the year before or after) of year; the year test is left out when the
// input has no year.
std::string monthYearCondition(Date* date, int year, int month);

// Encoded condition that the date field's day part is dayText and, when the input has a
// month, that it lies in month of the current year.
std::string dayCondition(Date* date, int month, const char* dayText);

// The generators. Each finds the label of its period in its level's table or creates it,
// attaches it under parent (or placeholder) with insertIntoTree, and goes on with the
// levels below; the loop forms return the first label they found or made. -1 when the
// level and every level below it are absent. year is the fiscal year for the year and
// quarter levels and the calendar year of month for the month and day levels.
int generateBlankDateNode(Date* date, int placeholder);
int generateYearNode(Date* date, int placeholder);
int generateYearQuarters(Date* date, int parent, int year, int month);
int generateQuarterNode(Date* date, int parent, int year, int month);
int generateQuarterMonths(Date* date, int parent, int month, int year);
int generateMonthNode(Date* date, int parent, int month, int year);
int generateMonthDays(Date* date, int parent, int month, int year, int day);
int generateDayNode(Date* date, int parent, int month, int year, int day);

// Makes child the first child of parent when it has none, leaves it when it is already
// one of parent's children, and appends it after parent's last child otherwise.
void insertIntoTree(int parent, int child);

// Gives placeholder, a copy of a date placeholder (its dateIndex set), level tables and a
// blank-date label of its own, empty, so that it grows its own hierarchy; the profile's
// own placeholder of a date keeps the tables of its Date. Replaces any it had.
void giveOwnDateLevels(int placeholder);

// Enters a re-read generated label of the date with 1-based index date in the table of
// its level below placeholder (-1: the profile's own placeholder), chosen by the form of
// key: four digits a year, with 'Q' a quarter, six digits a month, eight digits a day;
// "99999999" becomes the placeholder's blank-date label. Any other key, or a date that
// does not exist, is fatal 110 naming key, part and label.
void dateUpdateHash(int date, int label, int part, const char* key, int placeholder = -1);

// The condition the generator gives the label of the date with 1-based index date whose
// period key is key (the forms of dateUpdateHash), on the date's field slot as the profile
// names it (mapped to a data column with the other labels); null for a key of no known
// form. For labels re-read from a cube written without conditions.
_MatchTree* dateLabelCondition(int date, const char* key);

#endif

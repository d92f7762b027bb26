// Date definitions: the element forms, input and output formats with every error text,
// the fixed-column layout, the date record and the locale's month names.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "common/util.h"
#include "varkel/date.h"
#include "varkel/input.h"
#include "varkel/options.h"

using ::testing::ExitedWithCode;

namespace {

// stderr of a fatal exit with this message, exactly.
::testing::Matcher<const std::string&> fatalText(int code, const std::string& message) {
  char prefix[16];
  snprintf(prefix, sizeof prefix, "Error %03d: ", code);
  return ::testing::Eq(std::string(prefix) + message);
}

Date withFormats(const char* input, const char* output) {
  Date d;
  d.inputFormat = input;
  d.outputFormat = output;
  return d;
}

// A date record as the compiler writes it, after its record letter.
std::string record(char flag, char endMonth, const char* field, const char* input,
                   const char* output) {
  std::string r;
  r += flag;
  r += endMonth;
  r += makeString(2, field) + makeString(2, input) + makeString(2, output);
  r += makeString(2, "1990") + makeString(2, "2010") + "|";
  return r;
}

class DateTable : public ::testing::Test {
 protected:
  void SetUp() override {
    freeDate();
    for (Date& d : dateTable) d = Date();
    dateCount = 0;
    dateLastCategory = 0;
    skipFirstLine = 0;
  }
  void TearDown() override { freeDate(); }
};

}  // namespace

TEST(DateElement, Forms) {
  struct Case {
    char letter;
    const char* format;
    int position;
    int value;
    int end;
  };
  const Case cases[] = {
      {'Y', "YYYY", 0, -4, 4},  {'Y', "yYyY-", 0, -4, 4}, {'Y', "Y", 0, -1, 1},
      {'M', "M3A", 0, 13, 3},   {'M', "m3a", 0, 13, 3},   {'D', "D2", 0, 2, 2},
      {'D', "D12", 0, 1, 2},    {'Q', "Q1AM", 0, 11, 3},  {'M', "YYMM", 2, -2, 4},
      {'y', "YY.MM", 0, -2, 2}, {'M', "M0", 0, 0, 2},     {'D', "DDD", 0, -3, 3},
  };
  for (const Case& c : cases) {
    Date d;
    int position = c.position;
    EXPECT_EQ(parseElementFormat(&d, c.letter, c.format, &position), c.value) << c.format;
    EXPECT_EQ(position, c.end) << c.format;
  }
}

TEST(DateElementDeath, WrongLetterIsAnInternalError) {
  Date d;
  int position = 0;
  EXPECT_EXIT(parseElementFormat(&d, 'Y', "MM", &position), ExitedWithCode(999 & 0xff),
              fatalText(999, "Why did I call parseElementFormat on for 'Y' in 'MM' at 0?\n"));
}

TEST(DateInputFormat, Accepted) {
  struct Case {
    const char* format;
    const char* separatorSet;
    int yearPosition, monthPosition, dayPosition;
    int yearInput, monthInput, dayInput;
  };
  const Case cases[] = {
      {"DD.MM.YYYY", ". ", 2, 1, 0, 2, 2, 2},
      {"MM/DD/YY", "/ ", 2, 0, 1, 1, 2, 2},
      {"yyyy-mm-dd", "- ", 0, 1, 2, 2, 2, 2},
      {"YYYY-MM-DD", "- ", 0, 1, 2, 2, 2, 2},
      {"YYYYMMDD", "", 0, 1, 2, 2, 2, 2},
      {"M/D/YYYY", "/ ", 2, 0, 1, 2, 1, 1},
      {"MMM YYYY", "  ", 1, 0, -1, 2, 3, 0},
      {"MMMM-YY", "- ", 1, 0, -1, 1, 4, 0},
      {"MmM-yY", "- ", 1, 0, -1, 1, 3, 0},
      {"Y2M4D1", "", 0, 1, 2, 2, 4, 1},
      {"Y0-M0-D0", "- ", 0, 1, 2, 0, 0, 0},
      {"YYYYxMMXDD", "X ", 0, 1, 2, 2, 2, 2},  // the separator compares upper-cased
      {"MM", "", -1, 0, -1, 0, 2, 0},
  };
  for (const Case& c : cases) {
    Date d = withFormats(c.format, "Y");
    parseDateInputFormat(&d);
    EXPECT_STREQ(d.separatorSet, c.separatorSet) << c.format;
    EXPECT_EQ(d.separatorSet[2], 0) << c.format;
    EXPECT_EQ(d.yearPosition, c.yearPosition) << c.format;
    EXPECT_EQ(d.monthPosition, c.monthPosition) << c.format;
    EXPECT_EQ(d.dayPosition, c.dayPosition) << c.format;
    EXPECT_EQ(d.yearInput, c.yearInput) << c.format;
    EXPECT_EQ(d.monthInput, c.monthInput) << c.format;
    EXPECT_EQ(d.dayInput, c.dayInput) << c.format;
  }
}

TEST(DateInputFormatDeath, Errors) {
  struct Case {
    const char* format;
    std::string message;
  };
  const Case cases[] = {
      {"", "No date input format given.\n"},
      {"Y-MM", "Invalid year input format in 'Y-MM'\n"},
      {"YYY", "Invalid year input format in 'YYY'\n"},
      {"YYYYY", "Invalid year input format in 'YYYYY'\n"},
      {"Y3", "Invalid year input format in 'Y3'\n"},
      {"Y1A", "Invalid year input format in 'Y1A'\n"},
      {"MMMMM", "Invalid month input format in 'MMMMM'\n"},
      {"YY-M5", "Invalid month input format in 'YY-M5'\n"},
      {"M2A", "Invalid month input format in 'M2A'\n"},
      {"DDD", "Invalid day input format in 'DDD'\n"},
      {"D3", "Invalid day input format in 'D3'\n"},
      {"D1a", "Invalid day input format in 'D1a'\n"},
      {"YYYY-MM/DD",
       "Only one separator character can be used in date input format.\n"
       "First separator was '-', but then found '/'\n"},
      {"DD.mm,YY",
       "Only one separator character can be used in date input format.\n"
       "First separator was '.', but then found ','\n"},
      {"DDxMMyYY",  // 'x' becomes the separator; 'y' starts a year
       "Invalid year input format in 'DDxMMyYY'\n"},
  };
  for (const Case& c : cases) {
    Date d = withFormats(c.format, "Y");
    EXPECT_EXIT(parseDateInputFormat(&d), ExitedWithCode(110), fatalText(110, c.message))
        << c.format;
  }
}

TEST(DateOutputFormat, Accepted) {
  struct Case {
    const char* format;
    int year, quarter, month, day;
    uint32_t flags;
  };
  const Case cases[] = {
      {"Y", 2, 0, 0, 0, 0},
      {"YYYY", 2, 0, 0, 0, 0},
      {"YY", 1, 0, 0, 0, 0},
      {"Y0", 0, 0, 0, 0, 0},
      {"Y1", 1, 0, 0, 0, 0},
      {"Y+Q+MMM", 2, 1, 3, 0, 0},
      {"YQ2M3A", 2, 2, 3, 0, Date::allMonths},
      {"M3A+M3", 0, 0, 3, 0, 0},
      {"M3+M3A", 0, 0, 3, 0, Date::allMonths},
      {"Q4AM6D5A", 0, 4, 6, 5, Date::allQuarters | Date::allDays},
      {"q0a", 0, 0, 0, 0, Date::allQuarters},
      {"d+dd", 0, 0, 0, 2, 0},
      {"MMMM+D", 0, 0, 4, 1, 0},
      {"D+M+Q+Y", 2, 1, 1, 1, 0},  // the order in the format does not matter
      {"+", 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    Date d = withFormats("YYYY-MM-DD", c.format);
    parseDateOutputFormat(&d);
    EXPECT_EQ(d.yearOutput, c.year) << c.format;
    EXPECT_EQ(d.quarterOutput, c.quarter) << c.format;
    EXPECT_EQ(d.monthOutput, c.month) << c.format;
    EXPECT_EQ(d.dayOutput, c.day) << c.format;
    EXPECT_EQ(d.flags, c.flags) << c.format;
  }
}

TEST(DateOutputFormatDeath, Errors) {
  struct Case {
    const char* format;
    std::string message;
  };
  const Case errors[] = {
      {"", "No date output format given.\n"},
      {"YX", "Invalid character 'X' in output format 'YX'\n"},
      {"Yx", "Invalid character 'X' in output format 'Yx'\n"},
      {"Y M", "Invalid character ' ' in output format 'Y M'\n"},
      {"Y-M", "Invalid character '-' in output format 'Y-M'\n"},
      {"YYY", "Invalid year output format in 'YYY'\n"},
      {"YYYYY", "Invalid year output format in 'YYYYY'\n"},
      {"Y3", "Invalid year output format in 'Y3'\n"},
      {"Y2A", "Invalid year output format in 'Y2A'\n"},
      {"QQ", "Invalid month output format in 'QQ'\n"},
      {"Q6", "Invalid month output format in 'Q6'\n"},
      {"Q9A", "Invalid month output format in 'Q9A'\n"},
      {"MMMMM", "Invalid month output format in 'MMMMM'\n"},
      {"M7", "Invalid month output format in 'M7'\n"},
      {"DDD", "Invalid day output format in 'DDD'\n"},
      {"D6A", "Invalid day output format in 'D6A'\n"},
  };
  for (const Case& c : errors) {
    Date d = withFormats("YYYY-MM-DD", c.format);
    EXPECT_EXIT(parseDateOutputFormat(&d), ExitedWithCode(110), fatalText(110, c.message))
        << c.format;
  }
}

TEST(DateColumns, FixedLayout) {
  struct Case {
    const char* format;
    int yearFirst, yearLast, monthFirst, monthLast, dayFirst, dayLast;
  };
  const Case cases[] = {
      {"YYYYMMDD", 0, 3, 4, 5, 6, 7},
      {"YYYYMMMDD", 0, 3, 4, 6, 7, 8},
      {"DDMMYY", 4, 5, 2, 3, 0, 1},
      {"MMMYYYY", 3, 6, 0, 2, 0, 0},  // no day: its columns stay as they were
      {"YYMM", 0, 1, 2, 3, 0, 0},
      {"Y0MMDD", 0, 0, 0, 1, 2, 3},   // Y0 is no year and takes no columns
  };
  for (const Case& c : cases) {
    Date d = withFormats(c.format, "Y");
    parseDateInputFormat(&d);
    computeDateColumns(&d);
    EXPECT_EQ(d.yearFirstColumn, c.yearFirst) << c.format;
    EXPECT_EQ(d.yearLastColumn, c.yearLast) << c.format;
    EXPECT_EQ(d.monthFirstColumn, c.monthFirst) << c.format;
    EXPECT_EQ(d.monthLastColumn, c.monthLast) << c.format;
    EXPECT_EQ(d.dayFirstColumn, c.dayFirst) << c.format;
    EXPECT_EQ(d.dayLastColumn, c.dayLast) << c.format;
  }
}

TEST(DateColumnsDeath, WidthsThatCannotBeFixed) {
  struct Case {
    const char* format;
    std::string message;
  };
  const Case cases[] = {
      {"YYYYMD", "Single digit month input format not allowed without separator.\n"},
      {"YYYYMMMMDD", "Long month name input format not allowed without separator.\n"},
      {"YYYYMMD", "Single digit day input format not allowed without separator.\n"},
      // The year's column needs the width of the day before it.
      {"DYYYYMM", "Single digit day input format not allowed without separator.\n"},
  };
  for (const Case& c : cases) {
    Date d = withFormats(c.format, "Y");
    parseDateInputFormat(&d);
    EXPECT_EXIT(computeDateColumns(&d), ExitedWithCode(110), fatalText(110, c.message))
        << c.format;
  }
}

TEST_F(DateTable, ReadsADateRecord) {
  std::string r = record('0', 'C', "f4", "DD.MM.YYYY", "Y+Q+MMM") + "X";
  int position = 0;
  EXPECT_EQ(parseDate(r.c_str(), &position), 1);
  EXPECT_EQ(r[position], 'X');
  EXPECT_EQ(dateCount, 1);
  EXPECT_EQ(dateLastCategory, 0);
  const Date& d = dateTable[0];
  EXPECT_EQ(d.fieldName, "f4");
  EXPECT_EQ(d.field, 4);
  EXPECT_EQ(d.inputFormat, "DD.MM.YYYY");
  EXPECT_EQ(d.outputFormat, "Y+Q+MMM");
  EXPECT_EQ(d.fiscalYearEnd, 11);
  EXPECT_STREQ(d.separatorSet, ". ");
  EXPECT_EQ(d.dayPosition, 0);
  EXPECT_EQ(d.yearOutput, 2);
  EXPECT_EQ(d.quarterOutput, 1);
  EXPECT_EQ(d.monthOutput, 3);
  struct Table {
    Hashtab* table;
    int size;
  };
  const Table tables[] = {{d.years, 5}, {d.quarters, 12}, {d.months, 36}, {d.days, 50}};
  for (const Table& t : tables) {
    ASSERT_NE(t.table, nullptr);
    EXPECT_EQ(t.table->size, t.size);
    EXPECT_EQ(t.table->growthFactor, 2);
    EXPECT_DOUBLE_EQ(t.table->maxLoad, 0.6);
    EXPECT_EQ(t.table->count, 0u);
  }
  std::string second = record('2', '6', "f1", "YYYYMMDD", "YMD");
  position = 0;
  EXPECT_EQ(parseDate(second.c_str(), &position), 2);
  EXPECT_EQ(position, (int)second.size());
  EXPECT_EQ(dateLastCategory, 1);
  EXPECT_EQ(dateTable[1].fiscalYearEnd, 5);
  EXPECT_EQ(dateTable[1].dayFirstColumn, 6);  // no separator: fixed columns
  EXPECT_EQ(dateTable[1].dayLastColumn, 7);
}

TEST_F(DateTable, FiscalYearEnds) {
  struct Case {
    char endMonth;
    int fiscalYearEnd;
  };
  const Case cases[] = {{'1', 0}, {'6', 5}, {'B', 10}, {'C', 11}, {'D', 11}, {'z', 11}};
  for (const Case& c : cases) {
    std::string r = record('0', c.endMonth, "f0", "YYYY-MM", "YQ");
    int position = 0;
    int index = parseDate(r.c_str(), &position);
    EXPECT_EQ(dateTable[index - 1].fiscalYearEnd, c.fiscalYearEnd) << c.endMonth;
  }
}

TEST_F(DateTable, RecordWithoutClosingBarStopsAtTheEnd) {
  std::string r = record('0', 'C', "f0", "YYYY", "Y");
  r.pop_back();
  int position = 0;
  parseDate(r.c_str(), &position);
  EXPECT_EQ(position, (int)r.size());
}

TEST_F(DateTable, FieldNamesTakeSlotsWithAHeaderLine) {
  skipFirstLine = 1;
  memset(dataFieldNames, 0, sizeof dataFieldNames);
  std::string a = record('0', 'C', "Order date", "YYYY", "Y");
  std::string b = record('0', 'C', "Ship date", "YYYY", "Y");
  int position = 0;
  parseDate(a.c_str(), &position);
  position = 0;
  parseDate(b.c_str(), &position);
  EXPECT_EQ(dateTable[0].field, 0);
  EXPECT_EQ(dateTable[1].field, 1);
  skipFirstLine = 0;
}

TEST_F(DateTable, RecordErrors) {
  struct Case {
    std::string record;
    std::string message;
  };
  const Case cases[] = {
      {record('0', 'C', "f0", "MM/DD", "Y"),
       "Cannot have year output without year input in a date.\n"},
      {record('0', 'C', "f0", "YYYY", "M"),
       "Cannot have month output without month input in a date.\n"},
      {record('0', 'C', "f0", "YYYY", "YQ"),
       "Cannot have quarter output without month input in a date.\n"},
      {record('0', 'C', "f0", "YYYY-MM", "YMD"),
       "Cannot have day output without day input in a date.\n"},
      {record('0', 'C', "f0", "YYYYMD", "Y"),
       "Single digit month input format not allowed without separator.\n"},
      {record('0', '0', "f0", "YYYY", "Y"), "Invalid fiscal year end month in date record.\n"},
      {record('0', '!', "f0", "YYYY", "Y"), "Invalid fiscal year end month in date record.\n"},
      {record('!', 'C', "f0", "YYYY", "Y"), "Invalid flag in date record.\n"},
      {record('0', 'C', "f0", "", "Y"), "No date input format given.\n"},
      {record('0', 'C', "f0", "YYYY", ""), "No date output format given.\n"},
  };
  for (const Case& c : cases) {
    int position = 0;
    EXPECT_EXIT(parseDate(c.record.c_str(), &position), ExitedWithCode(110),
                fatalText(110, c.message))
        << c.record;
  }
}

TEST_F(DateTable, AtMostFifteenDefinitions) {
  std::string r = record('0', 'C', "f0", "YYYY", "Y");
  for (int i = 1; i <= 15; i++) {
    int position = 0;
    ASSERT_EQ(parseDate(r.c_str(), &position), i);
  }
  int position = 0;
  EXPECT_EXIT(parseDate(r.c_str(), &position), ExitedWithCode(110),
              fatalText(110, "Too many date nodes in profile.  Max is 15.\n"));
}

TEST(MonthNames, CLocale) {
  setlocale(LC_ALL, "C");
  const char* shortNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* longNames[] = {"January", "February", "March",     "April",   "May",      "June",
                             "July",    "August",   "September", "October", "November", "December"};
  for (int m = 0; m < 12; m++) {
    EXPECT_EQ(monthName(nullptr, m, 0), shortNames[m]);
    EXPECT_EQ(monthName(nullptr, m, 1), longNames[m]);
  }
  translatedMonths = 0;
  translateMonths(nullptr);
  EXPECT_EQ(translatedMonths, 1);
  ASSERT_EQ(monthNames[0].size(), 12u);
  ASSERT_EQ(monthNames[1].size(), 12u);
  EXPECT_EQ(monthNames[0][11], "Dec");
  EXPECT_EQ(monthNames[1][8], "September");
  // Filled once: a second call leaves the tables alone.
  monthNames[0][0] = "changed";
  translateMonths(nullptr);
  EXPECT_EQ(monthNames[0][0], "changed");
}

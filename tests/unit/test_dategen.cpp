// Date hierarchies: the labels, keys and conditions that date values grow below their
// placeholder, calendar and fiscal years, two-digit years, the all-quarters, all-months and
// all-days forms, blank and bad values with their messages, and the re-read tables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/util.h"
#include "tests/unit/matchtext.h"
#include "varkel/axislabel.h"
#include "varkel/date.h"
#include "varkel/dategen.h"
#include "varkel/hashtab.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/workbuffers.h"

using ::testing::ExitedWithCode;

namespace {

typedef std::vector<const char*> Values;

class DateGen : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!partPattern) partPattern = (char*)calloc(512, 1);
    blankLabel = "(blank)";
    skipFirstLine = 0;
    isCGI = 0;
    numRecords = 0;
    memset(inputFields, 0, sizeof inputFields);
    freeDate();
    for (Date& d : dateTable) d = Date();
    dateCount = 0;
  }
  void TearDown() override { freeDate(); }

  // A date on field slot `slot` as the profile reader leaves it; endMonth 1-12 ends the
  // fiscal year. Returns its placeholder label.
  int define(const char* input, const char* output, int endMonth = 12, int slot = 0) {
    Date& d = dateTable[dateCount];
    d.fieldName = "f" + std::to_string(slot);
    d.field = slot;
    d.inputFormat = input;
    d.outputFormat = output;
    d.fiscalYearEnd = endMonth - 1;
    d.years = hashtabNew(5, 2, 0.6);
    d.quarters = hashtabNew(12, 2, 0.6);
    d.months = hashtabNew(36, 2, 0.6);
    d.days = hashtabNew(50, 2, 0.6);
    parseDateInputFormat(&d);
    parseDateOutputFormat(&d);
    if (!d.separatorSet[0]) computeDateColumns(&d);
    dateCount++;
    int placeholder = getNextFree();
    axisLabels[placeholder].label = "Date placeholder";
    axisLabels[placeholder].dateIndex = dateCount;
    return placeholder;
  }
  Date* date(int placeholder) { return &dateTable[axisLabels[placeholder].dateIndex - 1]; }

  // The next record, with value in slot `slot`, classified below placeholder.
  int record(int placeholder, const char* value, int slot = 0) {
    numRecords++;
    setValue(value, slot);
    return insertDate(placeholder);
  }
  void setValue(const char* value, int slot = 0) {
    strncpy(inputFields[slot], value, fieldSize - 1);
    inputFields[slot][fieldSize - 1] = 0;
  }

  // "text=key" of every label from first along its siblings, children in parentheses.
  std::string dump(int first) {
    std::string out;
    for (int n = first; n >= 0; n = axisLabels[n].sibling) {
      if (!out.empty()) out += " ";
      out += axisLabels[n].label + "=" + (axisLabels[n].key() ? axisLabels[n].key() : "");
      if (axisLabels[n].child >= 0) out += "(" + dump(axisLabels[n].child) + ")";
    }
    return out;
  }
  std::string tree(int placeholder) { return dump(axisLabels[placeholder].child); }

  // The label with key below placeholder, or -1.
  int byKey(int placeholder, const std::string& key) {
    std::vector<int> stack{axisLabels[placeholder].child};
    while (!stack.empty()) {
      int n = stack.back();
      stack.pop_back();
      if (n < 0) continue;
      if (axisLabels[n].key() && key == axisLabels[n].key()) return n;
      stack.push_back(axisLabels[n].sibling);
      stack.push_back(axisLabels[n].child);
    }
    return -1;
  }

  bool matches(int label, const char* value, int slot = 0) {
    setValue(value, slot);
    return evalMatch(axisLabels[label].match) != 0;
  }
};

}  // namespace

TEST_F(DateGen, HierarchiesGrownFromRecords) {
  struct Case {
    const char* input;
    const char* output;
    int endMonth;
    Values values;
    const char* tree;
  };
  const Case cases[] = {
      {"YYYY-MM-DD", "Y+Q+MM", 12, {"2001-02-14", "2001-03-01"},
       "2001=2001(Q1=2001Q1(02=200102 03=200103))"},
      {"DD.MM.YY", "Y", 12, {"05.11.99"}, "1999=1999"},
      {"DD.MM.YY", "Y+M", 12, {"05.11.49", "05.11.50"}, "2049=2049(11=204911) 1950=1950(11=195011)"},
      {"YYYY/MM", "YQ2", 6, {"2000/08", "2001/02"},
       "FY2001=2001(FY2001 Q1=2001Q1 FY2001 Q3=2001Q3)"},
      {"YYYY/MM", "Q2", 11, {"2000/12", "2001/01"}, "FY2001 Q1=2001Q1"},
      {"YY/MM", "Y", 6, {"99/08", "00/06", "00/07"}, "FY2000=2000 FY2001=2001"},
      {"YYYY-MM-DD", "Y+M3A+D", 12, {"2001-05-17", "2001-08-02"},
       "2001=2001(Jan=200101 Feb=200102 Mar=200103 Apr=200104 May=200105(17=20010517) "
       "Jun=200106 Jul=200107 Aug=200108(2=20010802) Sep=200109 Oct=200110 Nov=200111 "
       "Dec=200112)"},
      {"YYYYMMDD", "Y+M2+D2", 12, {"20010517", "20010518"},
       "2001=2001(05=200105(17=20010517 18=20010518))"},
      {"DD-MMM-YYYY", "Y+M3+D3", 12, {"05-May-2001", "17-MAY-2001"},
       "2001=2001(May=200105(May 05=20010505 May 17=20010517))"},
      {"MMMM YYYY", "M4", 12, {"february 2001", "February 2001"}, "February=200102"},
      {"DD/MM", "M2+D2", 12, {"17/05"}, "05=200005(17=20000517)"},
      {"YYYY-MM-DD", "D", 12, {"2001-05-17", "2001-05-17", "2001-05-18"},
       "17=20010517 18=20010518"},
      // Fiscal quarters that span two calendar years give every month its own year.
      {"YYYY/MM", "Q2+M2A", 11, {"2001/01", "2000/12"},
       "FY2001 Q1=2001Q1(12=200012 01=200101 02=200102)"},
      {"YYYY/MM/DD", "Y+M2A+D2", 6, {"2000/08/05", "2001/03/04"},
       "FY2001=2001(01=200101 02=200102 03=200103(04=20010304) 04=200104 05=200105 "
       "06=200106 07=200007 08=200008(05=20000805) 09=200009 10=200010 11=200011 "
       "12=200012)"},
      {"YYYY/MM", "Y+Q1A+M2", 6, {"2000/08"},
       "FY2001=2001(Q3=2001Q3(01=200101 02=200102 03=200103) "
       "Q4=2001Q4(04=200104 05=200105 06=200106) Q1=2001Q1(07=200007 08=200008 09=200009) "
       "Q2=2001Q2(10=200010 11=200011 12=200012))"},
  };
  for (const Case& c : cases) {
    SetUp();
    int p = define(c.input, c.output, c.endMonth);
    for (const char* v : c.values) EXPECT_GE(record(p, v), 0) << c.input << " " << v;
    EXPECT_EQ(tree(p), c.tree) << c.input << " " << c.output << " end " << c.endMonth;
  }
}

TEST_F(DateGen, InsertDateReturnsTheTopLabelReached) {
  struct Case {
    const char* output;
    const char* key;  // of the label returned; null for -1
  };
  const Case cases[] = {
      {"Y+Q+M", "2001"}, {"Q+M", "2001Q2"}, {"M+D", "200105"}, {"D", "20010507"},
      {"M3A", "200101"},  // the first of every month
      {"Y0", nullptr},    // no level at all
  };
  for (const Case& c : cases) {
    SetUp();
    int p = define("YYYY-MM-DD", c.output);
    int n = record(p, "2001-05-07");
    if (!c.key) {
      EXPECT_EQ(n, -1) << c.output;
      EXPECT_EQ(axisLabels[p].child, -1) << c.output;
      continue;
    }
    ASSERT_GE(n, 0) << c.output;
    EXPECT_STREQ(axisLabels[n].key(), c.key) << c.output;
    EXPECT_EQ(axisLabels[p].child, n) << c.output;
    EXPECT_EQ(record(p, "2001-05-07"), n) << c.output;  // found again, not made twice
  }
}

TEST_F(DateGen, LabelTextsByOutputCode) {
  struct Case {
    const char* output;
    int endMonth;
    const char* value;
    const char* tree;
  };
  const Case cases[] = {
      {"YY", 12, "2001-05-07", "01=2001"},
      {"YY", 6, "2001-05-07", "FY 01=2001"},
      {"YYYY", 12, "2001-05-07", "2001=2001"},
      {"Y", 6, "2001-05-07", "FY2001=2001"},
      {"Y", 6, "2001-07-07", "FY2002=2002"},
      {"Q", 12, "2001-05-07", "Q2=2001Q2"},
      {"Q", 6, "2001-05-07", "Q4=2001Q4"},
      {"Q2", 12, "2001-05-07", "2001 Q2=2001Q2"},
      {"Q2", 6, "2001-05-07", "FY2001 Q4=2001Q4"},
      {"Q3", 12, "2001-05-07", "01 Q2=2001Q2"},
      {"Q3", 6, "2001-05-07", "FY 01 Q4=2001Q4"},
      {"Q4", 12, "2001-05-07", "Q2 2001=2001Q2"},
      {"Q4", 6, "2001-05-07", "Q4 FY2001=2001Q4"},
      {"Q5", 12, "2001-05-07", "Q2 01=2001Q2"},
      {"Q5", 6, "2001-05-07", "Q4 FY01=2001Q4"},
      {"M", 12, "2001-02-07", "2=200102"},
      {"MM", 12, "2001-02-07", "02=200102"},
      {"MMM", 12, "2001-02-07", "Feb=200102"},
      {"MMMM", 12, "2001-02-07", "February=200102"},
      {"M5", 12, "2001-02-07", "Feb 01=200102"},
      {"M6", 6, "2001-02-07", "Feb 2001=200102"},
      {"D", 12, "2001-02-07", "7=20010207"},
      {"DD", 12, "2001-02-07", "07=20010207"},
      {"D3", 12, "2001-02-07", "Feb 07=20010207"},
      {"D4", 12, "2001-02-07", "Feb 07 01=20010207"},
      {"D5", 12, "2001-02-07", "Feb 07 2001=20010207"},
  };
  for (const Case& c : cases) {
    SetUp();
    int p = define("YYYY-MM-DD", c.output, c.endMonth);
    record(p, c.value);
    EXPECT_EQ(tree(p), c.tree) << c.output << " end " << c.endMonth;
  }
}

TEST_F(DateGen, SortCodesAndGeneratedFlags) {
  int p = define("YYYY-MM-DD", "Y+Q+M+D");
  record(p, "2001-05-07");
  record(p, "");
  struct Case {
    const char* key;
    int sort;
    int generated;
  };
  const Case cases[] = {
      {"2001", 3, 1}, {"2001Q2", 1, 1}, {"200105", 3, 1}, {"20010507", 3, 0}, {"99999999", 3, 1},
  };
  for (const Case& c : cases) {
    int n = byKey(p, c.key);
    ASSERT_GE(n, 0) << c.key;
    EXPECT_EQ((int)axisLabels[n].sort, c.sort) << c.key;
    EXPECT_EQ((int)axisLabels[n].generatedDate, c.generated) << c.key;
  }
}

TEST_F(DateGen, ConditionsSelectExactlyTheirPeriod) {
  struct Case {
    const char* input;
    const char* output;
    int endMonth;
    const char* value;  // the record that creates the labels
    const char* key;
    Values in, out;
  };
  const Case cases[] = {
      {"YYYY-MM-DD", "Y+Q+MM", 12, "2001-02-14", "2001", {"2001-07-01"}, {"2002-07-01", "01-07-01"}},
      {"YYYY-MM-DD", "Y+Q+MM", 12, "2001-02-14", "2001Q1",
       {"2001-01-31", "2001-03-01"}, {"2001-04-01", "2002-02-01"}},
      // A month's own condition tests the month; the levels above it select the year.
      {"YYYY-MM-DD", "Y+Q+MM", 12, "2001-02-14", "200102", {"2001-02-28", "1999-02-01"},
       {"2001-03-01"}},
      {"DD.MM.YY", "Y", 12, "05.11.99", "1999", {"01.01.99"}, {"01.01.1999", "01.01.98"}},
      {"YYYY/MM", "YQ2", 6, "2000/08", "2001", {"2000/07", "2001/06"}, {"2000/06", "2001/07"}},
      {"YYYY/MM", "YQ2", 6, "2000/08", "2001Q1", {"2000/07", "2000/09"}, {"2000/10", "2001/07"}},
      {"YYYY/MM", "YQ2", 6, "2001/02", "2001Q3", {"2001/01", "2001/03"}, {"2000/01", "2001/04"}},
      {"YYYY/MM", "Q2", 11, "2000/12", "2001Q1",
       {"2000/12", "2001/01", "2001/02"}, {"2001/12", "2001/03"}},
      {"YY/MM", "Y", 6, "99/08", "2000", {"99/07", "99/12", "00/01", "00/06"}, {"00/07", "98/12"}},
      {"YY/MM", "Q", 6, "99/11", "2000Q2", {"99/10", "99/12"}, {"00/10", "99/09"}},
      {"YYYYMMDD", "Y+M2+D2", 12, "20010517", "20010517", {"20010517"},
       {"20010617", "20020517", "20010518"}},
      {"YYYYMMDD", "Y+M2+D2", 12, "20010517", "200105", {"19990501"}, {"20010617"}},
      {"DD-MMM-YYYY", "Y+M3+D3", 12, "05-May-2001", "200105", {"17-MAY-2001", "01-may-1999"},
       {"05-Jun-2001"}},
      {"DD-MMM-YYYY", "Y+M3+D3", 12, "05-May-2001", "20010505", {"05-MAY-2001"},
       {"05-May-2002", "06-May-2001"}},
      {"D/M/YYYY", "D", 12, "5/7/2001", "20010705", {"5/7/2001", "05/7/2001", "5/07/2001"},
       {"5/7/2002", "15/7/2001", "5/17/2001", "50/7/2001"}},
      {"D/M/YYYY", "D", 12, "15/10/2001", "20011015", {"15/10/2001"}, {"15/01/2001", "15/1/2001"}},
      {"MM/DD", "D", 12, "07/05", "20000705", {"07/05"}, {"08/05"}},
      {"YYYY-MM-DD", "Y", 12, "", "99999999", {""}, {"2001-01-01", " "}},
  };
  for (const Case& c : cases) {
    SetUp();
    int p = define(c.input, c.output, c.endMonth);
    record(p, c.value);
    int n = byKey(p, c.key);
    ASSERT_GE(n, 0) << c.input << " " << c.key;
    for (const char* v : c.in) EXPECT_TRUE(matches(n, v)) << c.key << " should match " << v;
    for (const char* v : c.out) EXPECT_FALSE(matches(n, v)) << c.key << " should not match " << v;
  }
}

TEST_F(DateGen, EncodedConditionTexts) {
  struct Case {
    const char* input;
    int year, month;
    const char* text;
  };
  const Case cases[] = {
      {"YYYY-MM-DD", 2001, 4, "(02f0H2- 1=y0205J02f0H2- 0=L042001)"},
      {"YYYY-MM-DD", 2001, -1, "(02f0H2- 1=y0212J02f0H2- 0=L042000)"},
      {"YYYY-MM-DD", 2001, 12, "(02f0H2- 1=y0201J02f0H2- 0=L042002)"},
      {"DD.MM.YY", 99, 12, "(02f0H2. 1=y0201J02f0H2. 2=L0200)"},
      {"DD.MM.YY", 0, -1, "(02f0H2. 1=y0212J02f0H2. 2=L0299)"},
      {"YYYYMMDD", 2001, 4, "(02f0G45=y0205J02f0G03=L042001)"},
      {"MM/DD", 2001, 4, "(02f0H2/ 0=y0205)"},
      {"MMMYYYY", 2001, 1, "(02f0G02=y03FebJ02f0G36=L042001)"},
      // A one-or-two-digit month 1-9 may be written with its leading zero or without.
      {"D-M-YYYY", 2001, 8, "((02f0H2- 1=y019K02f0H2- 1=y0209)J02f0H2- 2=L042001)"},
      {"D-M-YYYY", 2001, 9, "(02f0H2- 1=y0210J02f0H2- 2=L042001)"},
      {"M/D", 2001, 0, "((02f0H2/ 0=y011K02f0H2/ 0=y0201))"},
  };
  for (const Case& c : cases) {
    SetUp();
    int p = define(c.input, "Y0");
    EXPECT_EQ(monthYearCondition(date(p), c.year, c.month), c.text) << c.input;
  }

  SetUp();
  int p = define("YYYY-MM-DD", "D");
  currentYear = 2001;
  EXPECT_EQ(dayCondition(date(p), 4, "17"),
            "(02f0H2- 2=L0217)J(02f0H2- 1=y0205J02f0H2- 0=L042001)");
  p = define("DDMMYYYY", "D");
  EXPECT_EQ(dayCondition(date(p), 4, "17"), "(02f0G01=L0217)J(02f0G23=y0205J02f0G47=L042001)");
  p = define("YYYY/DD", "D");
  EXPECT_EQ(dayCondition(date(p), 4, "07"), "(02f0H2/ 1=L0207)");
  p = define("D/M/YYYY", "D");
  EXPECT_EQ(dayCondition(date(p), 4, "7"),
            "((02f0H2/ 0=L017K02f0H2/ 0=L0207))J((02f0H2/ 1=y015K02f0H2/ 1=y0205)J"
            "02f0H2/ 2=L042001)");
  EXPECT_EQ(dayCondition(date(p), 9, "17"),
            "(02f0H2/ 0=L0217)J(02f0H2/ 1=y0210J02f0H2/ 2=L042001)");
}

// The data may write a one-or-two-digit month or day with or without its leading zero:
// every spelling of one date lands in the same chain of labels, and each label of the
// chain selects every spelling, so no record falls out of the cube for its spelling.
TEST_F(DateGen, PaddedAndUnpaddedValuesShareTheirLabels) {
  struct Case {
    const char* input;
    const char* output;
    int endMonth;
    Values spellings;  // one date written every way
    const char* tree;
    Values others;  // other dates, which the deepest label must refuse
  };
  const Case cases[] = {
      {"M/D/YYYY", "Y+Q+M+D", 12, {"5/3/2001", "05/03/2001", "5/03/2001", "05/3/2001"},
       "2001=2001(Q2=2001Q2(5=200105(3=20010503)))",
       {"5/4/2001", "6/3/2001", "5/3/2002", "5/13/2001", "50/3/2001", "5/30/2001"}},
      {"D.M.YY", "Y+M2+D2", 12, {"09.01.01", "9.1.01"}, "2001=2001(01=200101(09=20010109))",
       {"19.1.01", "9.10.01", "9.1.02"}},
      {"M/YYYY", "Y+Q2", 6, {"1/2001", "01/2001"}, "FY2001=2001(FY2001 Q3=2001Q3)",
       {"10/2001", "1/2002", "4/2001"}},
      {"YYYY-M", "M", 12, {"2001-03", "2001-3"}, "3=200103", {"2001-30", "2001-13"}},
  };
  for (const Case& c : cases) {
    SetUp();
    int p = define(c.input, c.output, c.endMonth);
    for (const char* v : c.spellings) EXPECT_GE(record(p, v), 0) << c.input << " " << v;
    EXPECT_EQ(tree(p), c.tree) << c.input;
    int deepest = -1;
    for (int n = axisLabels[p].child; n >= 0; n = axisLabels[n].child) {
      for (const char* v : c.spellings)
        EXPECT_TRUE(matches(n, v)) << axisLabels[n].key() << " should match " << v;
      deepest = n;
    }
    ASSERT_GE(deepest, 0) << c.input;
    for (const char* v : c.others)
      EXPECT_FALSE(matches(deepest, v)) << axisLabels[deepest].key() << " should not match " << v;
  }
}

TEST_F(DateGen, MonthNumbersAndTexts) {
  struct Case {
    const char* input;
    const char* text;
    int month;
  };
  const Case numbers[] = {
      {"MM", "05", 4},     {"M", "5", 4},       {"MM", "12", 11},   {"MM", "13", 12},
      {"MM", "0", -1},     {"MM", "5x", -1},    {"MM", " 5", -1},   {"MM", "", -1},
      {"MMM", "may", 4},   {"MMM", "MAY", 4},   {"MMM", "Mai", -1}, {"MMM", "May.", -1},
      {"MMMM", "february", 1}, {"MMMM", "Feb", -1}, {"MMMM", "December", 11},
  };
  for (const Case& c : numbers) {
    SetUp();
    int p = define((std::string(c.input) + "-YYYY").c_str(), "M");
    EXPECT_EQ(monthNumber(date(p), c.text), c.month) << c.input << " '" << c.text << "'";
  }
  struct TextCase {
    const char* input;
    int month;
    const char* text;
  };
  const TextCase texts[] = {
      {"M", 4, "5"},      {"MM", 4, "05"},        {"MMM", 1, "Feb"},
      {"MMMM", 1, "February"}, {"MMM", 12, "bad month"}, {"MMMM", -1, "bad month"},
  };
  for (const TextCase& c : texts) {
    SetUp();
    int p = define((std::string(c.input) + "-YYYY").c_str(), "M");
    EXPECT_EQ(monthText(date(p), c.month), c.text) << c.input << " " << c.month;
  }
}

TEST_F(DateGen, AllDaysFollowTheMonthLength) {
  struct Case {
    const char* value;
    int days;
  };
  const Case cases[] = {
      {"2000-02-10", 29}, {"1900-02-10", 28}, {"2004-02-01", 29}, {"2001-02-28", 28},
      {"2100-02-01", 28}, {"2001-04-30", 30}, {"2001-12-01", 31}, {"2001-01-31", 31},
  };
  for (const Case& c : cases) {
    SetUp();
    int p = define("YYYY-MM-DD", "Y+M+D1A");
    record(p, c.value);
    int month = axisLabels[axisLabels[p].child].child;
    ASSERT_GE(month, 0) << c.value;
    std::string prefix = std::string(c.value, 4) + std::string(c.value + 5, 2);
    int d = 0;
    for (int n = axisLabels[month].child; n >= 0; n = axisLabels[n].sibling) {
      d++;
      EXPECT_EQ(axisLabels[n].label, std::to_string(d)) << c.value;
      char key[16];
      snprintf(key, sizeof key, "%s%02d", prefix.c_str(), d);
      EXPECT_STREQ(axisLabels[n].key(), key);
    }
    EXPECT_EQ(d, c.days) << c.value;
  }
}

// Records over two calendar years must give a tree in which every label hangs under one
// parent, and every month and day lies inside the period of the label above it.
TEST_F(DateGen, EveryPeriodHasOneParentThatContainsIt) {
  const char* outputs[] = {"Y+Q+M2A", "Y+Q1A+M2", "Y+M2A+D2", "Q2+M2A+D2", "Y+Q1A+D2",
                           "Y+Q+M2+D2A"};
  const int endMonths[] = {12, 6, 11, 1};
  for (const char* output : outputs) {
    for (int end : endMonths) {
      SetUp();
      int p = define("YYYY/MM/DD", output, end);
      int before = nextFree;
      for (int year = 2000; year <= 2001; year++)
        for (int month = 1; month <= 12; month++) {
          char value[32];
          snprintf(value, sizeof value, "%04d/%02d/15", year, month);
          ASSERT_GE(record(p, value), 0);
        }
      std::map<int, int> parentOf;
      std::vector<int> stack{p};
      std::set<int> seen;
      while (!stack.empty()) {
        int n = stack.back();
        stack.pop_back();
        for (int c = axisLabels[n].child; c >= 0; c = axisLabels[c].sibling) {
          ASSERT_TRUE(seen.insert(c).second) << output << " end " << end << ": label "
                                             << axisLabels[c].key() << " reached twice";
          parentOf[c] = n;
          stack.push_back(c);
        }
      }
      EXPECT_EQ((int)seen.size(), nextFree - before) << output << " end " << end;
      for (auto& [n, parent] : parentOf) {
        std::string key = axisLabels[n].key();
        bool digits = key.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || (key.size() != 6 && key.size() != 8)) continue;
        std::string value = key.substr(0, 4) + "/" + key.substr(4, 2) + "/" +
                            (key.size() == 8 ? key.substr(6, 2) : std::string("15"));
        EXPECT_TRUE(matches(n, value.c_str())) << output << " end " << end << " " << key;
        if (parent != p) {
          EXPECT_TRUE(matches(parent, value.c_str()))
              << output << " end " << end << ": " << key << " outside its parent "
              << axisLabels[parent].key();
        }
      }
    }
  }
}

TEST_F(DateGen, BlankDatesShareOneLabel) {
  int p = define("YYYY-MM-DD", "Y+M");
  int first = record(p, "");
  record(p, "2001-05-07");
  EXPECT_EQ(record(p, ""), first);
  EXPECT_EQ(tree(p), "(blank)=99999999 2001=2001(5=200105)");
  EXPECT_EQ(date(p)->blankDateLabel, first);
  EXPECT_EQ(hashtabGet(date(p)->years, "99999999"), -1);
}

TEST_F(DateGen, BadValuesAreReportedOncePerDate) {
  // A bad or empty year or month makes no label; a bad or empty day still makes the labels
  // above it, so its month holds the value while no day of that month is read.
  struct Case {
    const char* input;
    Values values;
    const char* messages;
    const char* tree;
  };
  const Case cases[] = {
      {"YYYY-MM-DD", {"2001-13-01", "2001-14-01", "2001-05-40"},
       "Month in record 1 is 13, which is invalid.\n", "2001=2001(5=200105)"},
      {"YYYY-MM-DD", {"2001-05-40", "2001-00-01"}, "Day in record 1 is 40, which is invalid.\n",
       "2001=2001(5=200105)"},
      {"YYYY-MM-DD", {"2001-05-0"}, "Day in record 1 is 0, which is invalid.\n",
       "2001=2001(5=200105)"},
      {"YYYY-MM-DD", {"2001-xx-01"}, "Month in record 1 is xx, which is invalid.\n", ""},
      {"DD-MMM-YYYY", {"01-Foo-2001", "01-Bar-2001"}, "Unrecognized month 'Foo' in record 1\n",
       ""},
      // Empty elements are dropped without a word.
      {"YYYY-MM-DD", {"2001--05", "-05-01", "2001-05-", "2001-05-40"},
       "Day in record 4 is 40, which is invalid.\n", "2001=2001(5=200105)"},
  };
  for (const Case& c : cases) {
    SetUp();
    int p = define(c.input, "Y+M+D");
    testing::internal::CaptureStderr();
    for (const char* v : c.values) record(p, v);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.messages) << c.input;
    EXPECT_EQ(tree(p), c.tree) << c.input;
  }

  // Each date keeps its own once-flag.
  SetUp();
  int a = define("YYYY-MM-DD", "Y+M", 12, 0);
  int b = define("YYYY-MM-DD", "Y+M", 12, 1);
  testing::internal::CaptureStderr();
  numRecords = 7;
  setValue("2001-13-01", 0);
  setValue("2001-15-01", 1);
  insertDate(a);
  insertDate(b);
  insertDate(a);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Month in record 7 is 13, which is invalid.\n"
            "Month in record 7 is 15, which is invalid.\n");

  // A day the generator is handed out of range.
  SetUp();
  int p = define("YYYY-MM-DD", "D");
  numRecords = 3;
  testing::internal::CaptureStderr();
  EXPECT_EQ(generateDayNode(date(p), p, 4, 2001, 32), -1);
  EXPECT_EQ(generateDayNode(date(p), p, 4, 2001, 0), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Day in record 3 is 32, which is too large.\n");
}

TEST_F(DateGen, ElementsDoNotLeakBetweenDates) {
  int full = define("YYYY-MM-DD", "Y+M2", 12, 0);
  int monthOnly = define("MM", "M2", 12, 1);
  setValue("2001-05-17", 0);
  setValue("07", 1);
  insertDate(full);
  insertDate(monthOnly);
  EXPECT_EQ(tree(monthOnly), "07=200007");
  EXPECT_EQ(currentYear, 0);
  EXPECT_EQ(currentMonthText, "07");
  EXPECT_EQ(currentYearText, "");
}

TEST_F(DateGen, FiscalDateWithoutMonthsUsesCalendarYears) {
  int p = define("YYYY", "Y", 6);
  record(p, "2001");
  EXPECT_EQ(tree(p), "2001=2001");
  int year = axisLabels[p].child;
  EXPECT_TRUE(matches(year, "2001"));
  EXPECT_FALSE(matches(year, "2002"));
}

TEST_F(DateGen, FieldIsMappedOnceAndMonthNamesFilled) {
  int p = define("YYYY-MM-DD", "Y", 12, 4);
  record(p, "2001-05-07", 4);
  EXPECT_TRUE(date(p)->flags & Date::fieldMapped);
  EXPECT_EQ(date(p)->field, 4);
  EXPECT_EQ(translatedMonths, 1);
  EXPECT_EQ(monthNames[0][4], "May");
}

TEST_F(DateGen, NotADatePlaceholder) {
  int plain = getNextFree();
  EXPECT_EQ(insertDate(plain), -1);
  EXPECT_EQ(insertDate(-1), -1);
  axisLabels[plain].dateIndex = 3;  // no such date read
  EXPECT_EQ(insertDate(plain), -1);
  EXPECT_EQ(axisLabels[plain].child, -1);
}

TEST_F(DateGen, InsertIntoTreeAttachesOnce) {
  int parent = getNextFree();
  int a = getNextFree(), b = getNextFree(), c = getNextFree();
  axisLabels[parent].label = "p";
  axisLabels[a].label = "a";
  axisLabels[b].label = "b";
  axisLabels[c].label = "c";
  insertIntoTree(parent, a);
  insertIntoTree(parent, b);
  insertIntoTree(parent, a);
  insertIntoTree(parent, b);
  insertIntoTree(parent, c);
  EXPECT_EQ(dump(axisLabels[parent].child), "a= b= c=");
  // A label under one parent is never chained under a second.
  int other = getNextFree();
  insertIntoTree(other, b);
  EXPECT_EQ(axisLabels[other].child, -1);
  EXPECT_EQ(dump(axisLabels[parent].child), "a= b= c=");
  // A child linked by someone else is recognised by walking the chain.
  int d = getNextFree();
  axisLabels[c].sibling = d;
  insertIntoTree(parent, d);
  EXPECT_EQ(axisLabels[d].sibling, -1);
  EXPECT_EQ(axisLabels[c].sibling, d);
}

TEST_F(DateGen, QuarterZeroWithAllQuartersEndsTheRun) {
  int p = define("YYYY-MM-DD", "Y+Q0A+M");
  EXPECT_EXIT(record(p, "2001-05-07"), ExitedWithCode(110),
              ::testing::Eq("Error 110: Unknown quarter format 0\n"));
}

TEST_F(DateGen, UpdateHashFilesByKeyForm) {
  struct Case {
    const char* key;
    int part;
    int level;  // 0 years, 1 quarters, 2 months, 3 days, 4 blank
  };
  const Case cases[] = {
      {"2001", 0, 0}, {"2001Q3", 1, 1}, {"200105", 1, 2}, {"20010517", 2, 3},
      {"99999999", -1, 4}, {"2001", -1, 0},  // a column condition has no part
      {"2001Q1", 1, 1},  // a fiscal year's leftmost condition is a month
  };
  for (const Case& c : cases) {
    SetUp();
    int p = define("YYYY-MM-DD", "Y+Q+M+D");
    Date* d = date(p);
    int label = getNextFree();
    dateUpdateHash(1, label, c.part, c.key);
    Hashtab* tables[] = {d->years, d->quarters, d->months, d->days};
    for (int t = 0; t < 4; t++)
      EXPECT_EQ(hashtabGet(tables[t], c.key), t == c.level ? label : -1) << c.key << " " << t;
    EXPECT_EQ(d->blankDateLabel, c.level == 4 ? label : 0) << c.key;
  }
}

TEST_F(DateGen, UpdateHashRefusesKeysOfNoLevel) {
  define("YYYY-MM-DD", "Y");
  struct Case {
    int date;
    const char* key;
  };
  const Case cases[] = {{1, "20015"}, {1, "2001-05"}, {1, ""}, {1, "200105170"}, {2, "2001"}};
  for (const Case& c : cases) {
    std::string expected =
        std::string("Error 110: Unable to find '") + c.key + "' subfield 1 in date node 42.\n";
    EXPECT_EXIT(dateUpdateHash(c.date, 42, 1, c.key), ExitedWithCode(110),
                ::testing::Eq(expected))
        << c.key;
  }
}

TEST_F(DateGen, ReReadPeriodsAreFoundAgain) {
  int p = define("YYYY-MM-DD", "Y+M2+D2");
  // The labels of an old cube, linked as the re-reader leaves them.
  int year = getNextFree(), month = getNextFree();
  axisLabels[year].label = "2001";
  axisLabels[year].setKey(strdup("2001"));
  axisLabels[month].label = "05";
  axisLabels[month].setKey(strdup("200105"));
  axisLabels[p].child = year;
  axisLabels[year].child = month;
  dateUpdateHash(1, year, 0, "2001");
  dateUpdateHash(1, month, 1, "200105");

  record(p, "2001-05-20");
  record(p, "2001-06-01");
  record(p, "2001-05-20");
  EXPECT_EQ(tree(p), "2001=2001(05=200105(20=20010520) 06=200106(01=20010601))");
}

TEST_F(DateGen, EveryPlaceholderCopyKeepsItsOwnPeriods) {
  int p = define("YYYY-MM-DD", "Y+M2");
  int copy = getNextFree();
  axisLabels[copy].label = "Date placeholder";
  axisLabels[copy].dateIndex = 1;
  giveOwnDateLevels(copy);
  // Periods re-read below the copy are filed in the copy's tables only.
  int year = getNextFree(), blank = getNextFree();
  axisLabels[year].label = "2001";
  axisLabels[year].setKey(strdup("2001"));
  axisLabels[blank].label = "(blank)";
  axisLabels[blank].setKey(strdup("99999999"));
  axisLabels[copy].child = year;
  axisLabels[year].sibling = blank;
  dateUpdateHash(1, year, 0, "2001", copy);
  dateUpdateHash(1, blank, -1, "99999999", copy);
  EXPECT_EQ(hashtabGet(dateTable[0].years, "2001"), -1);
  EXPECT_EQ(dateTable[0].blankDateLabel, 0);

  EXPECT_EQ(record(copy, "2001-05-20"), year);
  EXPECT_EQ(record(copy, ""), blank);
  int own = record(p, "2001-05-20");
  EXPECT_NE(own, year);
  EXPECT_NE(record(p, ""), blank);
  record(copy, "2002-01-02");
  record(p, "2002-01-02");
  EXPECT_EQ(tree(copy), "2001=2001(05=200105) (blank)=99999999 2002=2002(01=200201)");
  EXPECT_EQ(tree(p), "2001=2001(05=200105) (blank)=99999999 2002=2002(01=200201)");
  for (const char* key : {"2001", "200105", "2002"})
    EXPECT_NE(byKey(p, key), byKey(copy, key)) << key;
}

TEST_F(DateGen, ConditionsFromKeysAreThoseTheGeneratorGives) {
  // A cube written without conditions gives the re-reader only the keys: the condition made
  // from a label's key is the one the label was generated with.
  struct Case {
    const char* input;
    const char* output;
    int endMonth;
    Values values;
  };
  const Case cases[] = {
      {"YYYY-MM-DD", "Y+Q+M+D", 12, {"2001-02-03", "1999-12-31", ""}},
      {"DD.MM.YY", "Y+MM+DD", 3, {"03.02.01", "31.12.99", "15.04.00"}},
      {"M/D/YYYY", "Q+M+D", 6, {"2/3/2001", "12/31/1999", "7/1/2000"}},
      {"YYYY;MMM;DD", "Y+Q2+MMM", 9, {"2001;Feb;03", "1999;Oct;31"}},
      {"YYMMDD", "M6", 12, {"010203", "991231"}},
      {"YYYY-MM-DD", "Y+D", 6, {"2001-02-03", "2000-08-09"}},
  };
  auto print = printedMatch;
  for (const Case& c : cases) {
    SetUp();
    int p = define(c.input, c.output, c.endMonth);
    for (const char* v : c.values) record(p, v);
    std::vector<int> stack{axisLabels[p].child};
    int labels = 0;
    while (!stack.empty()) {
      int n = stack.back();
      stack.pop_back();
      if (n < 0) continue;
      stack.push_back(axisLabels[n].sibling);
      stack.push_back(axisLabels[n].child);
      labels++;
      _MatchTree* made = dateLabelCondition(1, axisLabels[n].key());
      ASSERT_NE(made, nullptr) << c.input << " " << axisLabels[n].key();
      EXPECT_EQ(print(made), print(axisLabels[n].match)) << c.input << " " << c.output << " "
                                                        << axisLabels[n].key();
    }
    EXPECT_GT(labels, 1) << c.input;
  }
  for (const char* key : {"", "20x1", "2001Q5", "200113", "20010230x", "2001Q"})
    EXPECT_EQ(dateLabelCondition(1, key), nullptr) << key;
  EXPECT_EQ(dateLabelCondition(9, "2001"), nullptr);
}

// Codecs, keyword tables and string helpers of the shared module.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "common/util.h"

using std::string;

TEST(LengthPrefixedString, ReadsTextAndAdvances) {
  struct Case {
    int n;
    const char* text;
    int start;
    const char* want;
    int endPos;
  };
  const Case cases[] = {
      {2, "05hello", 0, "hello", 7},
      {2, "|05hello", 0, "", 0},  // a bar reads as empty and stays put
      {4, "000A0123456789", 0, "0123456789", 14},
      {4, "000a0123456789", 0, "0123456789", 14},
      {1, "3abc3def", 4, "def", 8},
      {1, "0rest", 0, "", 1},
  };
  for (const Case& c : cases) {
    int pos = c.start;
    EXPECT_EQ(getString(c.n, c.text, &pos), c.want) << c.text;
    EXPECT_EQ(pos, c.endPos) << c.text;
  }
}

TEST(LengthPrefixedString, WritesLowerCaseZeroPaddedLength) {
  struct Case {
    int n;
    string text;
    string want;
  };
  const Case cases[] = {
      {2, "", "00"},
      {1, "abc", "3abc"},
      {4, "x", "0001x"},
      {2, string(26, 'q'), "1a" + string(26, 'q')},
      {1, string(15, 'q'), "f" + string(15, 'q')},
      {2, string(255, 'q'), "ff" + string(255, 'q')},
      {4, string(65535, 'q'), "ffff" + string(65535, 'q')},
  };
  for (const Case& c : cases) EXPECT_EQ(makeString(c.n, c.text.c_str()), c.want) << c.n;
}

TEST(LengthPrefixedString, RoundTripsAtEveryWidth) {
  const int widths[] = {1, 2, 4};
  for (int n : widths) {
    string text = "a|b;c";
    string coded = makeString(n, text.c_str()) + "|";
    int pos = 0;
    EXPECT_EQ(getString(n, coded.c_str(), &pos), text);
    EXPECT_EQ(coded[pos], '|');
  }
}

TEST(LengthPrefixedStringDeathTest, RejectsTruncatedAndOversizedText) {
  struct Case {
    const char* what;
    int n;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"text ends inside the length", 4, "00", "Found negative string length at byte 0"},
      {"empty text", 2, "", "Found negative string length at byte 0"},
      {"text shorter than announced", 2, "09abc", "runs past the end"},
      {"length digit that is no hex digit", 2, "0g", "Bad string length digit 'g'"},
  };
  for (const Case& c : cases) {
    int pos = 0;
    EXPECT_EXIT(getString(c.n, c.text, &pos), ::testing::ExitedWithCode(110), c.message)
        << c.what;
  }
  string tooLong1(16, 'x'), tooLong2(256, 'x'), tooLong4(65536, 'x');
  EXPECT_EXIT(makeString(1, tooLong1.c_str()), ::testing::ExitedWithCode(110), "too long");
  EXPECT_EXIT(makeString(2, tooLong2.c_str()), ::testing::ExitedWithCode(110), "too long");
  EXPECT_EXIT(makeString(4, tooLong4.c_str()), ::testing::ExitedWithCode(110), "too long");
}

TEST(HexRun, ReadsEitherCaseMostSignificantFirst) {
  struct Case {
    int n;
    const char* text;
    int want;
    int endPos;
  };
  const Case cases[] = {
      {2, "ff", 255, 2}, {2, "FF", 255, 2}, {4, "4e84", 20100, 4},
      {1, "a", 10, 1},   {0, "", 0, 0},     {-1, "12", 0, 0},
  };
  for (const Case& c : cases) {
    int pos = 0;
    EXPECT_EQ(getNibbles(c.n, c.text, &pos), c.want) << c.text;
    EXPECT_EQ(pos, c.endPos) << c.text;
  }
  const char digits[] = "0123456789abcdefABCDEF";
  const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (int i = 0; digits[i]; i++) EXPECT_EQ(hexVal(digits[i]), values[i]) << digits[i];
}

TEST(HexRunDeathTest, RejectsTextThatEndsInsideTheRun) {
  int pos = 0;
  EXPECT_EXIT(getNibbles(4, "12", &pos), ::testing::ExitedWithCode(110), "");
  pos = 0;
  EXPECT_EXIT(getBoolean("", &pos), ::testing::ExitedWithCode(110), "");
}

TEST(Boolean, IsTheDigitAndAdvances) {
  int pos = 0;
  EXPECT_EQ(getBoolean("10", &pos), 1);
  EXPECT_EQ(getBoolean("10", &pos), 0);
  EXPECT_EQ(pos, 2);
}

TEST(Spibble, WritesAndReadsTheWholeAlphabet) {
  const char* alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz,.";
  ASSERT_EQ(strlen(alphabet), 64u);
  for (int v = 0; v < 64; v++) {
    EXPECT_EQ(makeSpibble(v), alphabet[v]) << v;
    int pos = v;
    EXPECT_EQ(getSpibble(alphabet, &pos), v);
    EXPECT_EQ(pos, v + 1);
    string s = alphabet;
    unsigned upos = v;
    EXPECT_EQ(getSpibble(s, upos), v);
    EXPECT_EQ(upos, unsigned(v) + 1);
  }
  struct Case {
    int v;
    char want;
  };
  const Case cases[] = {{0, '0'}, {35, 'Z'}, {62, ','}, {63, '.'}, {10, 'A'}, {15, 'F'}};
  for (const Case& c : cases) EXPECT_EQ(makeSpibble(c.v), c.want) << c.v;
}

TEST(Spibble, NonAlphabetCharacterIsMinusOneAndStillAdvances) {
  const char* texts[] = {"#", " ", "-", "|"};
  for (const char* t : texts) {
    int pos = 0;
    EXPECT_EQ(getSpibble(t, &pos), -1) << t;
    EXPECT_EQ(pos, 1);
    unsigned upos = 0;
    EXPECT_EQ(getSpibble(string(t), upos), -1) << t;
    EXPECT_EQ(upos, 1u);
  }
}

TEST(SpibbleDeathTest, RejectsOutOfRangeValuesAndTheEndOfText) {
  EXPECT_EXIT(makeSpibble(64), ::testing::ExitedWithCode(110),
              "64 too large to fit in a spibble, max value 63");
  EXPECT_EXIT(makeSpibble(-1), ::testing::ExitedWithCode(110), "");
  int pos = 0;
  EXPECT_EXIT(getSpibble("", &pos), ::testing::ExitedWithCode(110), "");
  unsigned upos = 3;
  EXPECT_EXIT(getSpibble(string("abc"), upos), ::testing::ExitedWithCode(110), "");
}

TEST(DoubleSpibble, FormsAreNotInverses) {
  EXPECT_EQ(makeDoubleSpibble(0xAB), "AB");
  EXPECT_EQ(makeDoubleSpibble(0x1234), "34");
  char text[] = "10#1";
  int pos = 0;
  EXPECT_EQ(getDoubleSpibble(text, &pos), 64 * 1 + 0);
  EXPECT_EQ(getDoubleSpibble(text, &pos), -1 * 64 + 1);
  EXPECT_EQ(pos, 4);
}

TEST(KeywordTables, OperatorSortAndFormatNames) {
  struct OpCase {
    char op;
    const char* keyword;
  };
  const OpCase ops[] = {
      {'L', "equals"},     {'M', "not equals"},     {'N', "contains"},
      {'O', "not contains"}, {'P', "startswith"},   {'Q', "not startswith"},
      {'R', "endswith"},   {'S', "not endswith"},   {'T', "="},
      {'U', "<>"},         {'V', ">"},              {'W', "<"},
      {'X', ">="},         {'Y', "<="},             {'Z', "regexp"},
      {'z', "not regexp"},
  };
  for (const OpCase& c : ops) EXPECT_STREQ(getOperatorString(c.op), c.keyword) << c.op;
  const char* sorts[] = {"", "sorta-z", "sortz-a", "sort0-9", "sort9-0"};
  const char* formats[] = {"", "dollars", "integer", "hoursmins", "percent"};
  for (int i = 0; i < 5; i++) {
    EXPECT_STREQ(getSortString(i), sorts[i]);
    EXPECT_STREQ(getFormatString(i), formats[i]);
  }
}

TEST(KeywordTablesDeathTest, UnknownCodesAreProfileErrors) {
  EXPECT_EXIT(getOperatorString('y'), ::testing::ExitedWithCode(110),
              "Unknown match operator char 'y'");
  EXPECT_EXIT(getOperatorString('K'), ::testing::ExitedWithCode(110),
              "Unknown match operator char 'K'");
  EXPECT_EXIT(getSortString(5), ::testing::ExitedWithCode(110), "Unknown sort type 5");
  EXPECT_EXIT(getSortString(-1), ::testing::ExitedWithCode(110), "Unknown sort type -1");
  EXPECT_EXIT(getFormatString(5), ::testing::ExitedWithCode(110), "Unknown extract format 5");
}

TEST(Trimming, BlanksOnlyNotOtherWhiteSpace) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"  a b  ", "a b"}, {"\ta ", "\ta"}, {"", ""}, {"   ", ""}, {"x", "x"}, {"a\t", "a\t"},
  };
  for (const Case& c : cases) {
    char buf[32];
    snprintf(buf, sizeof buf, "%s", c.in);
    EXPECT_STREQ(trimSpaces(buf), c.want) << '"' << c.in << '"';
    string s = c.in;
    string copy = trimSpaces(s);
    EXPECT_EQ(copy, c.want);
    EXPECT_EQ(s, c.want);  // the argument itself is trimmed
  }
}

TEST(Trimming, QuotesOnlyWhenBothEndsMatch) {
  struct Case {
    const char* in;
    char q;
    const char* want;
  };
  const Case cases[] = {
      {"\"inside\"", '"', "inside"},
      {"\"leading", '"', "\"leading"},
      {"trailing\"", '"', "trailing\""},
      {"\"", '"', ""},
      {"\"\"", '"', ""},
      {"", '"', ""},
      {"'x'", '\'', "x"},
      {"'x'", '"', "'x'"},
  };
  for (const Case& c : cases) {
    char buf[32];
    snprintf(buf, sizeof buf, "%s", c.in);
    EXPECT_STREQ(trimQuotes(buf, c.q), c.want) << c.in;
  }
}

TEST(Comparison, CaseInsensitiveEqualityAndSuffixes) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
    int exact;  // the returned value where it is fixed, else 99
  };
  const Case cases[] = {
      {"Height", "height", true, 0}, {"abc", "abcd", false, -1}, {"abcd", "abc", false, -1},
      {"", "", true, 0},             {"", "a", false, -1},       {"abc", "abd", false, 99},
  };
  for (const Case& c : cases) {
    int r = strCompare(c.a, c.b);
    EXPECT_EQ(r == 0, c.equal) << c.a << " vs " << c.b;
    if (c.exact != 99) {
      EXPECT_EQ(r, c.exact) << c.a << " vs " << c.b;
    }
  }
  struct Suffix {
    const char* s;
    const char* suffix;
    int want;
  };
  const Suffix suffixes[] = {
      {"cube.html", ".html", 1}, {"cube.html", ".HTML", 0}, {"a", "ab", 0},
      {"abc", "", 1},            {"", "", 1},               {"x.qv4", "qv", 0},
  };
  for (const Suffix& c : suffixes) EXPECT_EQ(endsWith(c.s, c.suffix), c.want) << c.s;
}

TEST(Extension, ReplacesAfterTheLastDotAnywhere) {
  struct Case {
    const char* name;
    const char* ext;
    const char* want;
  };
  const Case cases[] = {
      {"cube.html", ".cb4", "cube.cb4"},
      {"cube", ".cb4", "cube.cb4"},
      {"old.dir/cube", ".cb4", "old.cb4"},
      {"a.b.qv", ".qv4", "a.b.qv4"},
  };
  for (const Case& c : cases) {
    string name = c.name;
    EXPECT_EQ(changeExt(name, c.ext), c.want);
    EXPECT_EQ(name, c.name);  // argument untouched
  }
}

TEST(AccountingNumber, ParsesGroupingParenthesesAndMarksJunk) {
  struct Case {
    const char* text;
    double want;
    bool bad;
  };
  const Case cases[] = {
      {"(12)", -12, false},       {"1.5e3", 1500, false},   {"", 0, false},
      {"1,234", 1234, false},     {"$12", 12, true},        {"12 kg", 12, true},
      {"(1,234.50)", -1234.5, false}, {"(-5)", -5, false},  {"abc", 0, true},
      {"-3.25", -3.25, false},    {"+7", 7, false},         {"1d2", 1, false},
  };
  for (const Case& c : cases) {
    bool bad = !c.bad;
    EXPECT_DOUBLE_EQ(convertToNumber(c.text, bad), c.want) << c.text;
    EXPECT_EQ(bad, c.bad) << c.text;
  }
  bool bad = true;
  EXPECT_EQ(convertToNumber(nullptr, bad), 0.0);
  EXPECT_FALSE(bad);
}

TEST(FatalDeathTest, WritesTheCodedMessageAndExitsWithTheCode) {
  EXPECT_EXIT(fatal(2, "Couldn't open %s as input file.\n", "x"), ::testing::ExitedWithCode(2),
              "^Error 002: Couldn't open x as input file.\n$");
  EXPECT_EXIT(fatal(-1, "odbc\n"), ::testing::ExitedWithCode(255), "^Error -01: odbc\n$");
  EXPECT_EXIT(fatal(999, "date\n"), ::testing::ExitedWithCode(231), "^Error 999: date\n$");
}

// tarnwick and qv4toqs4 make no temporary file: their errors must not remove a file of the
// user's that carries a template's name.
TEST(FatalDeathTest, RemovesNoFileBeforeOneIsMade) {
  EXPECT_EQ(fatalCleanupHook, nullptr);
  char dir[] = "/tmp/utiltestXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  string page = string(dir) + "/vrkXXXXXX", cube = string(dir) + "/cb4XXXXXX";
  for (const string& f : {page, cube}) {
    FILE* fp = fopen(f.c_str(), "w");
    ASSERT_NE(fp, nullptr);
    fclose(fp);
  }
  EXPECT_EXIT(
      {
        if (chdir(dir) != 0) exit(1);
        fatal(110, "kept\n");
      },
      ::testing::ExitedWithCode(110), "kept");
  EXPECT_EQ(access(page.c_str(), F_OK), 0);
  EXPECT_EQ(access(cube.c_str(), F_OK), 0);
  unlink(page.c_str());
  unlink(cube.c_str());
  rmdir(dir);
}

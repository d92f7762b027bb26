// Field parts: cutting parts from the left and from the right, column ranges, the more
// flag, the blank label, and the promise that the first-category cut equals the cut a
// category's match later makes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "varkel/axislabel.h"
#include "varkel/fieldparts.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/recordfield.h"
#include "varkel/workbuffers.h"

namespace {

class FieldParts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!partPattern) partPattern = (char*)calloc(512, 1);
    blankLabel = "(blank)";
    memset(inputFields, 0, sizeof inputFields);
  }
  void setField(int slot, const char* text) {
    strncpy(inputFields[slot], text, 255);
    inputFields[slot][255] = 0;
  }
};

struct PartCase {
  const char* text;
  const char* separators;
  int n;
  const char* value;
  int more;
};

const PartCase fromLeft[] = {
    {"a;b;c", ";", 0, "a", 1},
    {"a;b;c", ";", 1, "b", 1},
    {"a;b;c", ";", 2, "c", 0},
    {"a;b;c", ";", 3, "a;b;c", 0},
    {"a;;c", ";", 1, "", 1},
    {"a;", ";", 1, "", 0},
    {"a;", ";", 0, "a", 1},
    {";a", ";", 0, "", 1},
    {"abc", ";", 1, "abc", 0},
    {"abc", ";", 0, "abc", 0},
    {"", ";", 0, "", 0},
    {"", ";", 2, "", 0},
    {"2000;Q1;Jan", ";", 1, "Q1", 1},
    {"2000;Q1;Jan", ";", 2, "Jan", 0},
    {"a;b;c", ";#@", 1, "b", 1},          // a larger set that adds absent characters
    {"a;b,c", ";,", 2, "c", 0},           // any character of the set cuts
    {"a;b,c", ",", 0, "a;b", 1},
    {"a;b;c", ";", -1, "a", 1},           // a negative part counts as 0
    {"a;b;c", "", 1, "a;b;c", 0},         // an empty set: the field is one part
    {"a;b;c", nullptr, 0, "a;b;c", 0},
    {"\xe9t\xe9\xff\x32", "\xff", 1, "2", 0},  // bytes above 127
};

const PartCase fromRight[] = {
    {"a;b;c", ";", 0, "c", 1},
    {"a;b;c", ";", 1, "b", 1},
    {"a;b;c", ";", 2, "a", 0},
    {"a;b;c", ";", 3, "a", 0},  // exactly n - 1 separators: the first part
    {"a;b;c", ";", 4, "a;b;c", 0},
    {"a;b;", ";", 0, "", 1},
    {";b", ";", 1, "", 0},
    {";b", ";", 0, "b", 1},
    {"abc", ";", 0, "abc", 0},
    {"abc", ";", 1, "abc", 0},
    {"abc", ";", 2, "abc", 0},
    {"", ";", 0, "", 0},
    {"2000;Q1;Jan", ";", 1, "Q1", 1},
    {"2000;Q1;Jan", ";#@", 1, "Q1", 1},
    {"a;b;c", ";", -3, "c", 1},
    {"a;b;c", "", 0, "a;b;c", 0},
    {"a;b;c", nullptr, 2, "a;b;c", 0},
};

}  // namespace

TEST_F(FieldParts, PartsFromTheLeft) {
  for (const PartCase& c : fromLeft) {
    setField(3, c.text);
    int more = -1;
    EXPECT_STREQ(extractPart(3, c.n, c.separators, &more), c.value) << c.text << " " << c.n;
    EXPECT_EQ(more, c.more) << c.text << " " << c.n;
  }
}

TEST_F(FieldParts, PartsFromTheRight) {
  for (const PartCase& c : fromRight) {
    setField(3, c.text);
    int more = -1;
    EXPECT_STREQ(reverseExtractPart(3, c.n, c.separators, &more), c.value)
        << c.text << " " << c.n;
    EXPECT_EQ(more, c.more) << c.text << " " << c.n;
  }
}

TEST_F(FieldParts, TooFewPartsGiveTheRecordsOwnField) {
  setField(5, "abc");
  int more;
  EXPECT_EQ(extractPart(5, 1, ";", &more), inputFields[5]);
  EXPECT_EQ(reverseExtractPart(5, 3, ";", &more), inputFields[5]);
}

TEST_F(FieldParts, FirstCategoryCutEqualsTheMatchCut) {
  const char* texts[] = {"a;b;c", "a;;c", "a;", ";", ";;", "", "abc", "x;y;",
                         ";b",    "2000;Q1;Jan", "a,b;c"};
  const char* sets[] = {";", ";,", nullptr, ""};
  for (const char* text : texts)
    for (const char* set : sets)
      for (int n = -1; n <= 4; n++) {
        setField(0, text);
        int more;
        std::string left = extractPart(0, n, set, &more);
        EXPECT_EQ(extractPartField(n, set, text), more) << text << " " << n;
        EXPECT_EQ(std::string(partPattern), left) << text << " " << n;
        std::string right = reverseExtractPart(0, n, set, &more);
        EXPECT_EQ(reverseExtractPartField(n, set, text), more) << text << " " << n;
        EXPECT_EQ(std::string(partPattern), right) << text << " " << n;
      }
}

// Sets of up to four separators are tested by comparison, longer ones through the byte
// set: both roads must cut alike, so each short set is checked against itself grown past
// four characters with bytes no text holds.
TEST_F(FieldParts, ShortSeparatorSetsCutAsLongOnes) {
  struct Case {
    const char* separators;
    const char* grown;
  };
  const Case cases[] = {
      {"-", "-\x01\x02\x03\x04"},
      {"- ", "- \x01\x02\x03"},
      {"-;,", "-;,\x01\x02"},
      {"-;, ", "-;, \x01"},
  };
  const char* texts[] = {"a-b-c", "a--c", "a-", "-", "--", "", "abc", "2024-03-15",
                         "-b",    "1999 12 31", "x;y,z w-v", "\xe9-\xff"};
  for (const Case& c : cases)
    for (const char* text : texts)
      for (int n = -2; n <= 4; n++) {
        setField(2, text);
        int moreShort = -1, moreLong = -1;
        std::string shortCut = extractPart(2, n, c.separators, &moreShort);
        std::string longCut = extractPart(2, n, c.grown, &moreLong);
        EXPECT_EQ(shortCut, longCut) << c.separators << " " << text << " " << n;
        EXPECT_EQ(moreShort, moreLong) << c.separators << " " << text << " " << n;
        const char* startShort;
        const char* startLong;
        int lengthShort = extractPartSpan(2, n, c.separators, &startShort);
        int lengthLong = extractPartSpan(2, n, c.grown, &startLong);
        EXPECT_EQ(startShort, startLong) << c.separators << " " << text << " " << n;
        EXPECT_EQ(lengthShort, lengthLong) << c.separators << " " << text << " " << n;
        EXPECT_EQ(extractPartField(n, c.separators, text), extractPartField(n, c.grown, text));
      }
}

// A field rewritten in place between cuts is cut afresh, whichever of its bytes changed.
TEST_F(FieldParts, RewrittenFieldIsCutAfresh) {
  struct Case {
    const char* before;
    const char* after;
    int n;
    const char* value;
    int more;
  };
  const Case cases[] = {
      {"2024-03-15", "2024-11-15", 1, "11", 1},
      {"2024-03-15", "2024 03-15", 0, "2024", 1},
      {"2024-03-15", "2024-03", 2, "2024-03", 0},  // too few parts now: the whole field
      {"2024-03", "2024-03-15", 2, "15", 0},
      {"a-b", "a-bc", 1, "bc", 0},
      {"a-b", "a-b-", 1, "b", 1},
      {"a-b", "", 0, "", 0},
  };
  for (const Case& c : cases) {
    setField(6, c.before);
    int more;
    extractPart(6, c.n, "- ", &more);
    setField(6, c.after);
    EXPECT_STREQ(extractPart(6, c.n, "- ", &more), c.value) << c.before << " " << c.after;
    EXPECT_EQ(more, c.more) << c.before << " " << c.after;
    const char* start;
    int length = extractPartSpan(6, c.n, "- ", &start);
    EXPECT_EQ(std::string(start, size_t(length)), c.value) << c.before << " " << c.after;
  }
}

TEST_F(FieldParts, PartFieldOfNothingIsEmpty) {
  strcpy(partPattern, "stale");
  EXPECT_EQ(extractPartField(0, ";", nullptr), 0);
  EXPECT_STREQ(partPattern, "");
  strcpy(partPattern, "stale");
  EXPECT_EQ(reverseExtractPartField(0, ";", ""), 0);
  EXPECT_STREQ(partPattern, "");
}

TEST_F(FieldParts, PartFieldMayCutPartPatternItself) {
  strcpy(partPattern, "x;y;z");
  EXPECT_EQ(extractPartField(1, ";", partPattern), 1);
  EXPECT_STREQ(partPattern, "y");
}

TEST_F(FieldParts, ColumnRanges) {
  struct Case {
    int first, last;
    const char* text;
    const char* value;
  };
  const Case cases[] = {
      {2, 4, "abcdef", "cde"},
      {2, 4, "abc", "c"},
      {2, 4, "ab", ""},
      {4, 2, "abcdef", ""},
      {0, 0, "abcdef", "a"},
      {3, 3, "abcdef", "d"},
      {0, 127, "abc", "abc"},
      {5, 5, "abcdef", "f"},
      {6, 9, "abcdef", ""},
      {-56, 3, "abcdef", ""},   // a column beyond 127 stored in 8 bits
      {1, -56, "abcdef", ""},
      {0, 3, nullptr, ""},
  };
  for (const Case& c : cases) {
    strcpy(partPattern, "stale");
    extractFieldColumns(c.first, c.last, c.text);
    EXPECT_STREQ(partPattern, c.value) << c.first << ".." << c.last;
  }
}

TEST_F(FieldParts, LongFieldsStayInTheirBuffers) {
  std::string text(255, 'x');
  text[100] = ';';
  setField(1, text.c_str());
  int more;
  EXPECT_EQ(strlen(extractPart(1, 1, ";", &more)), 154u);
  EXPECT_EQ(strlen(reverseExtractPart(1, 1, ";", &more)), 100u);
  std::string longer(600, 'y');
  EXPECT_EQ(extractPartField(0, ";", longer.c_str()), 0);
  EXPECT_EQ(strlen(partPattern), 511u);
}

TEST_F(FieldParts, FieldSlotsOutsideTheRecordAreEmpty) {
  int more = -1;
  EXPECT_STREQ(extractPart(-1, 0, ";", &more), "");
  EXPECT_EQ(more, 0);
  EXPECT_STREQ(reverseExtractPart(513, 0, ";", &more), "");
  EXPECT_EQ(more, 0);
}

TEST_F(FieldParts, GetFieldBySelector) {
  struct Case {
    int part, backPart, firstColumn, lastColumn;
    const char* separator;  // null: the label has none
    const char* field;
    const char* value;
    int more;
  };
  const Case cases[] = {
      {1, -1, -1, -1, ";", "2000;Q1;Jan", "Q1", 1},
      {2, -1, -1, -1, ";", "2000;Q1;Jan", "Jan", 0},
      {-1, 0, -1, -1, ";", "2000;Q1;Jan", "Jan", 1},
      {-1, 2, -1, -1, ";", "2000;Q1;Jan", "2000", 0},
      {1, 0, 0, 1, ";", "2000;Q1;Jan", "Q1", 1},  // part wins over the others
      {-1, 1, 0, 1, ";", "2000;Q1;Jan", "Q1", 1}, // then backPart
      {-1, -1, 5, 6, ";", "2000;Q1;Jan", "Q1", 0},
      {-1, -1, -1, -1, ";", "2000;Q1;Jan", "2000;Q1;Jan", 0},
      {1, -1, -1, -1, nullptr, "a;b", "a;b", 0},
      {-1, -1, -1, -1, nullptr, "", "(blank)", 0},
      {0, -1, -1, -1, ";", "", "(blank)", 0},
      {1, -1, -1, -1, ";", "a;;c", "(blank)", 1},
      {-1, 0, -1, -1, ";", "", "(blank)", 0},
      {-1, 0, -1, -1, ";", "a;", "(blank)", 1},
      {-1, -1, 3, 5, ";", "ab", "(blank)", 0},
  };
  for (const Case& c : cases) {
    int n = getNextFree();
    AxisLabel& l = axisLabels[n];
    l.field = 7;
    l.part = c.part;
    l.backPart = c.backPart;
    l.firstColumn = c.firstColumn;
    l.lastColumn = c.lastColumn;
    if (c.separator) l.setSeparator(new std::string(c.separator));
    setField(7, c.field);
    int more = -1;
    EXPECT_STREQ(getField(n, &more), c.value) << c.field;
    EXPECT_EQ(more, c.more) << c.field;
  }
}

TEST_F(FieldParts, GetFieldOfALabelWithoutFieldIsBlank) {
  int n = getNextFree();
  int more = -1;
  EXPECT_STREQ(getField(n, &more), "(blank)");
  EXPECT_EQ(more, 0);
}

// With the splitter told to fill only some rows, the others keep an earlier record's text;
// the category, match and measure readers must not read them. A Debug build asserts.
TEST(FieldPartsDeathTest, StaleFieldsOfAMaskedSplitAreRefused) {
#ifdef NDEBUG
  GTEST_SKIP() << "asserts are compiled out";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  if (!partPattern) partPattern = (char*)calloc(512, 1);
  blankLabel = "(blank)";
  static unsigned char mask[maxInputFields];
  memset(mask, 0, sizeof mask);
  mask[0] = 1;
  extractInputFields(inputFields, "a\tb\tc", '\t');
  setNeededFields(mask);
  extractNextRecordFields("x\ty\tz", 5, '\t');
  int more = 0;
  // The filled row and the rows past the record read as they are.
  EXPECT_STREQ(currentField(0), "x");
  EXPECT_STREQ(extractPart(0, 0, ";", &more), "x");
  EXPECT_STREQ(currentField(7), "");
  EXPECT_STREQ(currentField(-1), "");
  _MatchTree* stale = matchCreateString("b", 1, -1, -1, -1, -1, nullptr);
  Match columns;
  columns.kind = MATCH_COLUMNS;
  columns.field = 2;
  columns.firstColumn = 0;
  columns.lastColumn = 0;
  struct Case {
    const char* name;
    void (*read)(_MatchTree* tree, Match* m);
  };
  const Case cases[] = {
      {"field", [](_MatchTree*, Match*) { (void)currentField(1); }},
      {"part", [](_MatchTree*, Match*) {
         int m;
         (void)extractPart(2, 0, ";", &m);
       }},
      {"match", [](_MatchTree* t, Match*) { (void)evalMatch(t); }},
      {"target", [](_MatchTree*, Match* m) { (void)matchTarget(m); }},
  };
  for (const Case& c : cases)
    EXPECT_DEATH(c.read(stale, &columns), "inputFieldIsCurrent") << c.name;
  // Marking a row after the split does not make its text current.
  mask[1] = 1;
  EXPECT_DEATH((void)currentField(1), "inputFieldIsCurrent");
  // The next split fills the rows the mask marks now; a split without a mask fills all.
  extractNextRecordFields("p\tq\tr", 5, '\t');
  EXPECT_STREQ(currentField(1), "q");
  EXPECT_EQ(evalMatch(stale), 0);
  EXPECT_DEATH((void)currentField(2), "inputFieldIsCurrent");
  setNeededFields(nullptr);
  extractNextRecordFields("u\tb\tw", 5, '\t');
  EXPECT_STREQ(currentField(2), "w");
  EXPECT_NE(evalMatch(stale), 0);
  matchFree(stale);
#endif
}

// Match expressions: parsing, evaluation against the current record, printing, generated
// leaves and the mapping of field slots to data columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/unit/matchtext.h"
#include "varkel/axislabel.h"
#include "varkel/escapes.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/workbuffers.h"

namespace {

char partPatternBuffer[512];

class MatchTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!partPattern) partPattern = partPatternBuffer;
    skipFirstLine = 0;  // field names are "f" and the field number
  }
};

// Makes line (TAB-separated) the current record.
void setRecord(const char* line) { extractInputFields(inputFields, line, '\t'); }

std::string printed(_MatchTree* tree) { return printedMatch(tree); }

// Three leaves on fields 0, 1 and 2.
#define A "02f0=L01a"
#define B "02f1=L01b"
#define C "02f2=L01c"

struct EvalCase {
  const char* expression;
  const char* record;
  int expected;
};

const EvalCase evalCases[] = {
    // text operators
    {"02f0=L03abc", "abc", 1},
    {"02f0=L03abc", "abcd", 0},
    {"02f0=L03abc", "ABC", 0},
    {"02f0=M03abc", "abcd", 1},
    {"02f0=M03abc", "abc", 0},
    {"02f0=N01b", "abc", 1},
    {"02f0=N01x", "abc", 0},
    {"02f0=O01x", "abc", 1},
    {"02f0=O01b", "abc", 0},
    {"02f0=P02ab", "abc", 1},
    {"02f0=P02ab", "xab", 0},
    {"02f0=Q02ab", "xab", 1},
    {"02f0=R02bc", "abc", 1},
    {"02f0=R02bc", "bcx", 0},
    {"02f0=S02bc", "bcx", 1},
    {"02f0=y03ABC", "abc", 1},
    {"02f0=y03ABC", "abd", 0},
    // numbers: the target is read accounting-style, the value with atof
    {"02f0=T0212", "12.0", 1},
    {"02f0=T0212", "(12)", 0},
    {"02f0=T03-12", "(12)", 1},
    {"02f0=T04(12)", "0", 1},
    {"02f0=T04(12)", "-12", 0},
    {"02f0=T051,000", "1", 1},
    {"02f0=T041000", "1,000", 1},
    {"02f0=U0212", "13", 1},
    {"02f0=V0210", "11", 1},
    {"02f0=V0210", "10", 0},
    {"02f0=W010", "(5)", 1},
    {"02f0=X0210", "10", 1},
    {"02f0=X0210", "9", 0},
    {"02f0=Y0210", "10", 1},
    {"02f0=Y0210", "11", 0},
    // regular expressions
    {"02f0=Z04^a.c", "abc", 1},
    {"02f0=Z04^a.c", "xabc", 0},
    {"02f0=z04^a.c", "abc", 0},
    {"02f0=z04^a.c", "xabc", 1},
    // the blank label's value compares with the empty text
    {"02f0=L07(blank)", "", 1},
    {"02f0=L07(blank)", "(blank)", 0},
    {"02f0=M07(blank)", "x", 1},
    {"02f0=P07(blank)", "", 1},
    {"02f0=P07(blank)", "x", 0},
    {"02f0=P07(blank)", "(blank)", 0},
    // ... but a pattern stays the pattern as written
    {"02f0=Z07(blank)", "", 0},
    {"02f0=Z07(blank)", "a blank b", 1},
    {"02f0=z07(blank)", "", 1},
    // targets: parts from either side, columns, other fields
    {"02f0H1;1=L01b", "a;b;c", 1},
    {"02f0H1;2=L01c", "a;b;c", 1},
    {"02f0H1;3=L05a;b;c", "a;b;c", 1},
    {"02f0H2;/1=L01b", "a/b;c", 1},
    {"02f0I1/0=L01c", "a/b/c", 1},
    {"02f0I1/0=L01b", "a/b/c", 0},
    {"02f0I1/2=L01a", "a/b/c", 1},
    {"02f0G24=L03cde", "abcdef", 1},
    {"02f0G24=L01c", "abc", 1},
    {"02f0G24=L07(blank)", "ab", 1},
    {"02f1=L01y", "x\ty", 1},
    {"02f1=L01x", "x\ty", 0},
    {"02f7=L07(blank)", "x\ty", 1},
    // connectors join left to right with no precedence
    {A "J" B, "a\tb\tx", 1},
    {A "J" B, "a\tx\tx", 0},
    {A ";" B, "a\tb\tx", 1},
    {A "K" B, "x\tb\tx", 1},
    {A "K" B, "x\tx\tx", 0},
    {A "J" B "K" C, "x\tx\tc", 1},
    {A "J" B "K" C, "a\tb\tx", 1},
    {A "J" B "K" C, "a\tx\tx", 0},
    {A "K" B "J" C, "a\tx\tx", 0},
    {A "K" B "J" C, "a\tx\tc", 1},
    {A "K(" B "J" C ")", "a\tx\tx", 1},
    {"((" A "))", "a", 1},
    {"(" A "K" B ")J(" C ")", "x\tb\tc", 1},
    // parentheses inside values never count
    {"(02f0=L01()J(02f1=L01))", "(\t)", 1},
    {"02f0=L03a)(", "a)(", 1},
};

TEST_F(MatchTest, ParsedExpressionsEvaluateAgainstTheRecord) {
  for (const EvalCase& c : evalCases) {
    _MatchTree* tree = matchParseExpression(c.expression);
    ASSERT_NE(tree, nullptr) << c.expression;
    EXPECT_STREQ(tree->text, c.expression);
    setRecord(c.record);
    EXPECT_EQ(evalMatch(tree) != 0, c.expected != 0)
        << "'" << c.expression << "' on '" << c.record << "'";
    EXPECT_EQ(evalMatchTarget(tree, nullptr) != 0, c.expected != 0) << c.expression;
    matchFree(tree);
  }
}

TEST_F(MatchTest, EmptyTextGivesNoTreeAndNoTreeIsTrue) {
  EXPECT_EQ(matchParseExpression(""), nullptr);
  EXPECT_EQ(matchParseExpression(nullptr), nullptr);
  EXPECT_NE(evalMatch(nullptr), 0);
}

TEST_F(MatchTest, PatternThatDoesNotCompile) {
  testing::internal::CaptureStderr();
  _MatchTree* z = matchParseExpression("02f0=Z02a(");
  _MatchTree* notZ = matchParseExpression("02f0=z02a(");
  setRecord("a(");
  EXPECT_EQ(evalMatch(z), 0);
  EXPECT_NE(evalMatch(notZ), 0);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("regexp(3): unmatched ()\n"), std::string::npos) << errors;
  matchFree(z);
  matchFree(notZ);
}

TEST_F(MatchTest, ShortCircuitAndMissingOperands) {
  // The right operand of these trees is an empty group: evaluating it is an error.
  _MatchTree* orTree = matchParseExpression(A "K()");
  _MatchTree* andTree = matchParseExpression(A "J()");
  setRecord("a");
  EXPECT_NE(evalMatch(orTree), 0);
  setRecord("x");
  EXPECT_EQ(evalMatch(andTree), 0);
  EXPECT_EXIT(evalMatch(orTree), testing::ExitedWithCode(109),
              "Error 109: Internal matching error.");
  setRecord("a");
  EXPECT_EXIT(evalMatch(andTree), testing::ExitedWithCode(109),
              "Error 109: Internal matching error.");
  matchFree(orTree);
  matchFree(andTree);
}

struct ErrorCase {
  const char* expression;
  int code;
  const char* message;  // a regular expression for the death test
};

const ErrorCase errorCases[] = {
    {"(02f0=L01a", 110, "^Error 110: Unmatched parens in expression '\\(02f0=L01a'\n$"},
    {A "J((" B ")", 110, "^Error 110: Unmatched parens in expression '\\(\\(02f1=L01b\\)'\n$"},
    // the ")" is the value's second character, so the group never closes
    {"(02f0=L02a)", 110, "^Error 110: Unmatched parens in expression '\\(02f0=L02a\\)'\n$"},
    // the text ends where the group's next operand is due
    {"(", 110, "^Error 110: Unmatched parens in expression '\\('\n$"},
    {A "K(", 110, "^Error 110: Unmatched parens in expression '\\('\n$"},
    {"((" A "J", 110, "^Error 110: Unmatched parens in expression '\\(\\(02f0=L01aJ'\n$"},
    {"(" A "J(", 110, "^Error 110: Unmatched parens in expression '\\(02f0=L01aJ\\('\n$"},
    {"(" B ")J(" A "J", 110, "^Error 110: Unmatched parens in expression '\\(02f0=L01aJ'\n$"},
    // a group that ends inside its first leaf
    {"(02f0", 110, "^Error 110: Unmatched parens in expression '\\(02f0'\n$"},
    {"((02f0=L0", 110, "^Error 110: Unmatched parens in expression '\\(\\(02f0=L0'\n$"},
    {A "X" B, 110, "^Error 110: Unknown connector 'X' in '02f0=L01aX02f1=L01b'\n$"},
    {A ")", 110, "^Error 110: Unknown connector '\\)' in '02f0=L01a\\)'\n$"},
    {"02f0Q=L01a", 109, "^Error 109: Internal matching error.\n$"},
    {"02f0=A01a", 109, "^Error 109: Internal matching error.\n$"},
    {"02f0=L05ab", 110, "^Error 110: String of length 5 at byte 6 runs past the end of the text\n$"},
    {"02f0=L", 110, "^Error 110: Found negative string length at byte 6\n$"},
    {"02f0=", 110, "^Error 110: Expression '02f0=' ends inside a condition\n$"},
    {"02f0H1;", 110, "^Error 110: Text ends where a spibble was expected at byte 7\n$"},
    {"02f0H1;1", 110, "^Error 110: Expression '02f0H1;1' ends inside a condition\n$"},
    {"02f0H1;!=L01a", 110, "^Error 110: Bad number '!' in expression '02f0H1;!=L01a'\n$"},
    {"02f0G2", 110, "^Error 110: Text ends where a spibble was expected at byte 6\n$"},
    {"02f", 110, "^Error 110: String of length 2 at byte 0 runs past the end of the text\n$"},
    {A "J", 110, "^Error 110: Found negative string length at byte 10\n$"},
    {"zz", 110, "^Error 110: Bad string length digit 'z' at byte 0\n$"},
    {"04f600=L01a", 110, "^Error 110: Field 'f600' names a field number outside 0 to 512.\n$"},
};

TEST_F(MatchTest, ParseErrorsEndTheRunWithTheirCode) {
  for (const ErrorCase& c : errorCases) {
    EXPECT_EXIT(matchParseExpression(c.expression), testing::ExitedWithCode(c.code), c.message)
        << c.expression;
  }
}

TEST_F(MatchTest, NestingIsBoundedNotByABuffer) {
  std::string deep = A;
  for (int i = 0; i < 999; i++) deep = "(" + deep + ")";
  deep = std::string(A "J") + deep;  // longer than any fixed group buffer
  _MatchTree* tree = matchParseExpression(deep.c_str());
  ASSERT_NE(tree, nullptr);
  setRecord("a");
  EXPECT_NE(evalMatch(tree), 0);
  matchFree(tree);

  std::string tooDeep = A;
  for (int i = 0; i < 1001; i++) tooDeep = "(" + tooDeep + ")";
  EXPECT_EXIT(matchParseExpression(tooDeep.c_str()), testing::ExitedWithCode(110),
              "nested too deeply");
}

TEST_F(MatchTest, LongConnectorChainsEvaluate) {
  // 20000 leaves joined by "K": the last one decides.
  std::string chain = "02f0=L01x";
  for (int i = 0; i < 20000; i++) chain += "K02f0=L01x";
  chain += "K" A;
  _MatchTree* tree = matchParseExpression(chain.c_str());
  setRecord("a");
  EXPECT_NE(evalMatch(tree), 0);
  setRecord("b");
  EXPECT_EQ(evalMatch(tree), 0);
  matchFree(tree);
}

struct PrintCase {
  const char* expression;
  const char* printed;
};

const PrintCase printCases[] = {
    {"02f0=L03abc", ";f0=02f0=L03abc"},
    {"02f0I1/0=L01c", ";f0=02f0I1/0=L01c"},
    // separators are escaped like values after a length that counts their own bytes
    {"02f3H1;2=L01b", ";f0=02f3H1%5c%3b2=L01b"},
    {"02f3I2\"%0=L01b", ";f0=02f3I2%22%250=L01b"},
    {"02f0G24=L03cde", ";f0=02f0G24=L03cde"},
    {"03f12=V0210", ";f0=03f12=V0210"},
    {A "J" B, ";f0=(02f0=L01a)J(02f1=L01b)"},
    {A ";" B, ";f0=(02f0=L01a)J(02f1=L01b)"},
    {A "K" B "J" C, ";f0=((02f0=L01a)K(02f1=L01b))J(02f2=L01c)"},
    {"((" A "))K" B, ";f0=(02f0=L01a)K(02f1=L01b)"},
    // the length is the value's own; the escapes follow it
    {"02f0=L03a;b", ";f0=02f0=L03a%5c%3bb"},
    {"02f0=L03a+b", ";f0=02f0=L03a%2bb"},
    {"02f0=L05a%2bb", ";f0=02f0=L05a%252bb"},
    {"02f0=L04a\\;b", ";f0=02f0=L04a%5c%5c%3bb"},
    {"02f0=L07(blank)", ";f0=02f0=L00"},
    {"02f0=Z07(blank)", ";f0=02f0=Z07(blank)"},
    {"02f0=P07(blank)", ";f0=02f0=P07(blank)"},
    {"02f0=Q07(blank)", ";f0=02f0=Q07(blank)"},
};

TEST_F(MatchTest, PrintingWritesTheTree) {
  for (const PrintCase& c : printCases) {
    _MatchTree* tree = matchParseExpression(c.expression);
    EXPECT_EQ(printed(tree), c.printed) << c.expression;
    matchFree(tree);
  }
}

TEST_F(MatchTest, PrintedBlankLabelConditionsReadBackTheSame) {
  const char* expressions[] = {"02f0=L07(blank)", "02f0=M07(blank)", "02f0=P07(blank)",
                               "02f0=Q07(blank)", "02f0=Z07(blank)", "02f0=z07(blank)"};
  const char* records[] = {"", "x", "(blank)", "a blank"};
  for (const char* e : expressions) {
    _MatchTree* original = matchParseExpression(e);
    std::string text = printed(original).substr(4);  // past ";f0="
    _MatchTree* reread = matchParseExpression(text.c_str());
    for (const char* r : records) {
      setRecord(r);
      EXPECT_EQ(evalMatch(reread), evalMatch(original))
          << e << " printed " << text << " on '" << r << "'";
    }
    matchFree(original);
    matchFree(reread);
  }
}

TEST_F(MatchTest, PrintedConditionsReadBackWholeWhateverTheirBytes) {
  std::string allBytes;
  for (int b = 1; b < 256; b++) allBytes += char(b);
  std::string pairs;
  for (int i = 0; i < 60; i++) pairs += "a;";
  const std::string values[] = {allBytes, std::string(255, '+'), std::string(85, '+'), pairs,
                                "a\\;b", "a\\\\\\;b", "a%2bb", "x%3Cy", "tab%09x",
                                "%5c%3b", "q\"uote", ""};
  const char* separators[] = {";", "\"", "%;\\", "/"};
  for (const std::string& v : values) {
    for (const char* seps : separators) {
      _MatchTree* original = matchCreateString(v.c_str(), 0, 1, -1, -1, -1, seps);
      std::string text = unescapeCarefully(printed(original).substr(4));  // past ";f0="
      _MatchTree* reread = matchParseExpression(text.c_str());
      ASSERT_NE(reread, nullptr) << v;
      EXPECT_EQ(std::string(reread->leaf->value), v) << text;
      EXPECT_STREQ(reread->leaf->separators, seps) << text;
      EXPECT_EQ(printed(reread), printed(original)) << text;
      matchFree(original);
      matchFree(reread);
    }
  }
}

TEST_F(MatchTest, TreesWithoutTextPrintNothing) {
  EXPECT_EQ(printed(nullptr), "");
  _MatchTree* joined =
      matchAppend(matchParseExpression(A), matchParseExpression(B), MATCH_OR);
  EXPECT_EQ(joined->text, nullptr);
  EXPECT_EQ(printed(joined), "");
  setRecord("x\tb");
  EXPECT_NE(evalMatch(joined), 0);
  _MatchTree* both = matchAppend(matchParseExpression(A), matchParseExpression(B), MATCH_AND);
  EXPECT_EQ(evalMatch(both), 0);
  matchFree(joined);
  matchFree(both);
}

TEST_F(MatchTest, DebugPrintShowsTheText) {
  _MatchTree* tree = matchParseExpression(A);
  char* data = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&data, &size);
  matchDebugPrint(f, tree);
  matchDebugPrint(f, nullptr);
  fclose(f);
  EXPECT_EQ(std::string(data, size), " \"02f0=L01a\" ");
  free(data);
  matchFree(tree);
}

struct CreateCase {
  const char* value;
  int field, part, backPart, firstColumn, lastColumn;
  const char* separators;
  const char* text;
  int kind;
  const char* record;  // a record the leaf accepts
};

const CreateCase createCases[] = {
    {"abc", 0, -1, -1, -1, -1, nullptr, "02f0=L03abc", MATCH_WHOLE, "abc"},
    {"b", 1, 1, -1, -1, -1, ";", "02f1H1;1=L01b", MATCH_PART, "x\ta;b;c"},
    {"b", 0, 1, 2, -1, -1, ";", "02f0H1;1=L01b", MATCH_PART, "a;b;c"},
    {"c", 0, -1, 0, -1, -1, "/", "02f0I1/0=L01c", MATCH_BACK_PART, "a/b/c"},
    {"cd", 0, -1, -1, 2, 3, nullptr, "02f0G23=L02cd", MATCH_COLUMNS, "abcdef"},
    {"x", 0, 0, -1, -1, -1, nullptr, "02f0H00=L01x", MATCH_PART, "x"},
    {"(blank)", 0, -1, -1, -1, -1, "", "02f0=L07(blank)", MATCH_WHOLE, ""},
    {"(blank)", 0, 1, -1, -1, -1, ";", "02f0H1;1=L07(blank)", MATCH_PART, "a;"},
};

TEST_F(MatchTest, GeneratedLeavesMatchWhatTheyWereMadeFrom) {
  for (const CreateCase& c : createCases) {
    _MatchTree* tree = matchCreateString(c.value, c.field, c.part, c.backPart, c.firstColumn,
                                         c.lastColumn, c.separators);
    ASSERT_NE(tree, nullptr);
    EXPECT_STREQ(tree->text, c.text);
    ASSERT_NE(tree->leaf, nullptr);
    EXPECT_EQ(tree->leaf->kind, c.kind) << c.text;
    EXPECT_EQ(tree->leaf->op, 'L');
    EXPECT_EQ(tree->leaf->valueLength, (int)strlen(c.value));
    EXPECT_STREQ(tree->leaf->separators, c.separators ? c.separators : "") << c.text;
    setRecord(c.record);
    EXPECT_NE(evalMatch(tree), 0) << c.text;
    // The stored text parses back to a tree that prints the same.
    _MatchTree* again = matchParseExpression(tree->text);
    EXPECT_EQ(printed(again), printed(tree)) << c.text;
    EXPECT_NE(evalMatch(again), 0) << c.text;
    matchFree(again);
    matchFree(tree);
  }
}

TEST_F(MatchTest, GeneratedBlankLeafComparesWithTheEmptyText) {
  _MatchTree* tree = matchCreateString("(blank)", 0, -1, -1, -1, -1, nullptr);
  EXPECT_STREQ(tree->leaf->value, "");
  setRecord("(blank)");
  EXPECT_EQ(evalMatch(tree), 0);
  matchFree(tree);
}

TEST_F(MatchTest, GeneratedRegexpLeaf) {
  _MatchTree* tree = matchCreateRegexp("^a.c$", 0, -1, -1, -1, -1, nullptr);
  EXPECT_STREQ(tree->text, "02f0=Z05^a.c$");
  ASSERT_NE(tree->leaf->pattern, nullptr);
  struct Case {
    const char* record;
    int expected;
  };
  const Case cases[] = {{"abc", 1}, {"axc", 1}, {"abcd", 0}, {"", 0}};
  for (const Case& c : cases) {
    setRecord(c.record);
    EXPECT_EQ(evalMatch(tree) != 0, c.expected != 0) << c.record;
  }
  matchFree(tree);
}

// A tree whose leaves are copies of tree's, as a re-read cube gives each label its own.
static _MatchTree* copiedTree(const _MatchTree* tree) {
  if (!tree) return nullptr;
  _MatchTree* copy = static_cast<_MatchTree*>(calloc(1, sizeof(_MatchTree)));
  copy->type = tree->type;
  copy->leaf = tree->leaf ? copyMatch(tree->leaf) : nullptr;
  copy->left = copiedTree(tree->left);
  copy->right = copiedTree(tree->right);
  copy->text = tree->text ? strdup(tree->text) : nullptr;
  return copy;
}

// Generated leaves, parsed ones and copies of both are released once each, whatever tree
// holds them: the sanitizer build reports a double or foreign free.
TEST_F(MatchTest, GeneratedParsedAndCopiedLeavesAreReleasedOnce) {
  struct Case {
    const char* name;
    _MatchTree* (*make)();
    const char* record;  // a record the tree accepts
  };
  const Case cases[] = {
      {"string", [] { return matchCreateString("abc", 0, -1, -1, -1, -1, nullptr); }, "abc"},
      {"blank", [] { return matchCreateString("(blank)", 0, -1, -1, -1, -1, nullptr); }, ""},
      {"part", [] { return matchCreateString("b", 0, 1, -1, -1, -1, ";"); }, "a;b"},
      {"regexp", [] { return matchCreateRegexp("^a.c$", 0, -1, -1, -1, -1, nullptr); }, "abc"},
      {"joined",
       [] {
         return matchAppend(matchCreateString("abc", 0, -1, -1, -1, -1, nullptr),
                            matchParseExpression("02f0=Z02^a"), MATCH_AND);
       },
       "abc"},
      {"parsed", [] { return matchParseExpression("02f0=L03abcK02f0=Z02^x"); }, "abc"},
  };
  for (const Case& c : cases) {
    _MatchTree* tree = c.make();
    _MatchTree* copy = copiedTree(tree);
    setRecord(c.record);
    EXPECT_NE(evalMatch(tree), 0) << c.name;
    EXPECT_NE(evalMatch(copy), 0) << c.name;
    EXPECT_EQ(printed(copy), printed(tree)) << c.name;
    matchFree(copy);
    // The original still holds its texts once its copies are gone.
    EXPECT_NE(evalMatch(tree), 0) << c.name;
    matchFree(tree);
  }
}

TEST_F(MatchTest, ExactQueries) {
  struct Case {
    const char* expression;
    bool exact;
    const char* value;
  };
  const Case cases[] = {
      {"02f0=L03abc", true, "abc"},
      {"02f4=L07(blank)", true, ""},
      {"02f0=M03abc", false, ""},
      {"02f0=y03abc", false, ""},
      {"02f0H1;0=L01a", false, ""},
      {A "J" B, false, ""},
  };
  for (const Case& c : cases) {
    _MatchTree* tree = matchParseExpression(c.expression);
    std::string out = "untouched";
    EXPECT_EQ(isExactQuery(tree, out), c.exact) << c.expression;
    if (c.exact) {
      EXPECT_EQ(out, c.value);
    } else {
      EXPECT_EQ(out, "untouched");
    }
    matchFree(tree);
  }
  std::string out;
  EXPECT_FALSE(isExactQuery(nullptr, out));
}

// Equality leaves compared where their text lies in the record: they must agree with the
// text that matchTarget copies out, for whole fields and parts from the left, empty parts,
// missing parts, absent fields, the blank label, letter case and fields cut to 255.
TEST_F(MatchTest, InPlaceEqualityLeavesAgreeWithTheCopiedTarget) {
  blankLabel = "(blank)";
  struct Case {
    std::string expression;
    std::string record;
    int expected;
  };
  const Case cases[] = {
      {"02f0H1-0=L042019", "2019-03-04", 1},
      {"02f0H1-0=L03201", "2019-03-04", 0},
      {"02f0H1-0=L0520190", "2019-03-04", 0},
      {"02f0H1-1=M0203", "2019-03-04", 0},
      {"02f0H1-1=M0204", "2019-03-04", 1},
      {"02f0H2- 1=y0203", "2019 03-04", 1},
      {"02f0H1;1=y03ABC", "x;abc;y", 1},
      {"02f0H1;1=y03ABC", "x;abcd;y", 0},
      {"02f0H1;1=y03ABC", "x;ab;y", 0},
      // a part past the last is the whole field
      {"02f0H1;5=L03a;b", "a;b", 1},
      {"02f0H1;1=L00", "a;;b", 1},
      {"02f0H1;1=L07(blank)", "a;;b", 1},
      {"02f0H1;1=L07(blank)", "a;(blank);b", 0},
      {"02f5H1;0=L00", "a", 1},
      {"02f5=M00", "a", 0},
      // the field keeps 255 characters, so the part holds 253 of them
      {"02f0H1;1=Lfd" + std::string(253, 'p'), "x;" + std::string(300, 'p'), 1},
      {"02f0H1;1=Lfe" + std::string(254, 'p'), "x;" + std::string(300, 'p'), 0},
      {"02f0=L03abc", "abc", 1},
      {"02f0=y03ABC", "aBc", 1},
      {"02f0=y03ABC", "aBcd", 0},
  };
  for (const Case& c : cases) {
    extractInputFields(inputFields, c.record.c_str(), '\t');
    _MatchTree* tree = matchParseExpression(c.expression.c_str());
    EXPECT_EQ(evalMatch(tree), c.expected) << c.expression.substr(0, 20) << " on "
                                           << c.record.substr(0, 20);
    matchFree(tree);
  }
}

TEST_F(MatchTest, TargetOfAFieldOutsideTheRecordIsEmpty) {
  setRecord("abc");
  struct Case {
    int kind;
    int field;
  };
  const Case cases[] = {{MATCH_WHOLE, -1}, {MATCH_WHOLE, 513}, {MATCH_COLUMNS, 9999},
                        {MATCH_PART, 600}, {MATCH_BACK_PART, -5}};
  for (const Case& c : cases) {
    Match m;
    m.kind = c.kind;
    m.field = c.field;
    m.part = 0;
    m.backPart = 0;
    m.firstColumn = 0;
    m.lastColumn = 3;
    EXPECT_STREQ(matchTarget(&m), "") << c.kind << " " << c.field;
  }
  Match bad;
  bad.kind = 499;
  bad.field = 0;
  EXPECT_EXIT(matchTarget(&bad), testing::ExitedWithCode(109), "Internal matching error.");
}

TEST_F(MatchTest, CopiedLeavesShareValueAndPattern) {
  _MatchTree* tree = matchParseExpression("02f2H1;1=Z03a.c");
  Match* copy = copyMatch(tree->leaf);
  EXPECT_EQ(copy->value, tree->leaf->value);
  EXPECT_EQ(copy->pattern, tree->leaf->pattern);
  EXPECT_EQ(copy->separators, tree->leaf->separators);
  EXPECT_STREQ(copy->separators, ";");
  EXPECT_EQ(copy->kind, MATCH_PART);
  EXPECT_EQ(copy->field, 2);
  EXPECT_EQ(copy->part, 1);
  delete copy;
  matchFree(tree);
}

TEST_F(MatchTest, MapFieldTurnsProfileSlotsIntoDataColumns) {
  skipFirstLine = 1;  // the data names its columns in a header line
  int sales = getFieldIndex("Sales");
  int region = getFieldIndex("Region");
  ASSERT_NE(sales, region);
  extractInputFields(newDataFieldNames, "Region\tSales", '\t');

  _MatchTree* tree = matchParseExpression("05Sales=L01xJ(06Region=L01yK05Sales=L01z)");
  ASSERT_EQ(tree->left->leaf->field, sales);
  int measure = getNextFree();
  axisLabels[measure].field = sales;
  axisLabels[measure].match = tree;
  int counting = getNextFree();
  axisLabels[counting].field = -2;  // counts 1 per record: not a field

  std::for_each(axisLabels.begin(), axisLabels.end(), MapField());

  EXPECT_EQ(axisLabels[measure].field, 1);
  EXPECT_EQ(axisLabels[counting].field, -2);
  EXPECT_EQ(tree->left->leaf->field, 1);
  EXPECT_EQ(tree->right->left->leaf->field, 0);
  EXPECT_EQ(tree->right->right->leaf->field, 1);
  setRecord("y\tx");
  EXPECT_NE(evalMatch(tree), 0);
  setRecord("x\ty");
  EXPECT_EQ(evalMatch(tree), 0);
  EXPECT_EQ(printed(tree), ";f0=(02f1=L01x)J((02f0=L01y)K(02f1=L01z))");
  axisLabels[measure].match = nullptr;  // labels never own their trees
  matchFree(tree);
  skipFirstLine = 0;
}

}  // namespace

// Equality leaves compared where their text lies in the record: they must agree with the
// text that matchTarget copies out, for whole fields and parts from the left, empty parts,
// missing parts, absent fields, the blank label, letter case and fields cut to 255.
#include <gtest/gtest.h>

#include <string>

#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/varkel.h"

namespace {

char partPatternBuffer[512];

TEST(MatchInPlace, EqualityLeavesAgreeWithTheCopiedTarget) {
  if (!partPattern) partPattern = partPatternBuffer;
  skipFirstLine = 0;
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

}  // namespace

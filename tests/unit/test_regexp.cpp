// The regular-expression engine: matching, captures and compile errors.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "regexp/regexp.h"

namespace {

// Compiles pattern, runs it on text and returns what was written to standard error.
struct Outcome {
  bool compiled;
  int matched;
  std::string whole;  // the whole match, when there is one
  std::string errors;
};

Outcome run(const char* pattern, const char* text) {
  Outcome o{false, 0, "", ""};
  testing::internal::CaptureStderr();
  rx::regexp* r = rx::regcomp(pattern);
  if (r) {
    o.compiled = true;
    o.matched = rx::regexec(r, text);
    if (o.matched) o.whole.assign(r->groupStart[0], r->groupEnd[0]);
    free(r);
  }
  o.errors = testing::internal::GetCapturedStderr();
  return o;
}

struct MatchCase {
  const char* pattern;
  const char* text;
  int matched;
  const char* whole;  // expected whole match when matched
};

const MatchCase matchCases[] = {
    // plain literals and the whole-text anchors
    {"abc", "xxabcxx", 1, "abc"},
    {"^abc", "xxabcxx", 0, ""},
    {"^abc", "abcxx", 1, "abc"},
    {"abc$", "xabc", 1, "abc"},
    {"abc$", "abcx", 0, ""},
    {"a$b", "a$b", 0, ""},
    {"ABC", "abc", 0, ""},
    {"(^a)", "ba", 0, ""},
    {"^?a", "ba", 1, "a"},
    // leftmost match, first alternative wins, no longest-match search
    {"a|ab", "ab", 1, "a"},
    {"ab|a", "ab", 1, "ab"},
    {"b|a", "ab", 1, "a"},
    {"x|", "abc", 1, ""},
    // backtracking into the rest of the pattern
    {"(a|ab)c", "abc", 1, "abc"},
    {"a*ab", "aaab", 1, "aaab"},
    {"a+a", "a", 0, ""},
    {"a+a", "aa", 1, "aa"},
    {".*c", "abcabc", 1, "abcabc"},
    {"(ab)+c", "xababcx", 1, "ababc"},
    {"(ab)*c", "c", 1, "c"},
    {"(ab)*c", "ababab", 0, ""},
    {"(a|b)?c", "bc", 1, "bc"},
    {"(a|b)*b", "aabab", 1, "aabab"},
    {"x?y", "y", 1, "y"},
    {"(x)?y", "zy", 1, "y"},
    // a run of ordinary characters: the operator takes its last character only
    {"ab*", "a", 1, "a"},
    {"ab*", "abbb", 1, "abbb"},
    {"ab*", "xab", 1, "ab"},
    {"ab+", "a", 0, ""},
    {"ab?c", "ac", 1, "ac"},
    {"abc?", "ab", 1, "ab"},
    // required literal and first character never change a result
    {"x*abc", "ab", 0, ""},
    {"x*abc", "xxabc", 1, "xxabc"},
    {"b?cd*ef", "xcdddef", 1, "cdddef"},
    {"b?cd*ef", "xcddde", 0, ""},
    {"q", "", 0, ""},
    // any character and the end of the text
    {".", "", 0, ""},
    {"a.c", "abc", 1, "abc"},
    {"a.c", "ac", 0, ""},
    // bracket rules
    {"[]a]", "]", 1, "]"},
    {"[]a]", "b", 0, ""},
    {"[^]a]", "]", 0, ""},
    {"[^-]", "-", 0, ""},
    {"[^-]", "x", 1, "x"},
    {"[-a]", "-", 1, "-"},
    {"[a-]", "-", 1, "-"},
    {"[a-a]", "a", 1, "a"},
    {"[b-a]", "b", 1, "b"},
    {"[b-a]", "a", 0, ""},
    {"[a-c]+", "xbcay", 1, "bca"},
    {"[a-ce]", "d", 0, ""},
    {"[a\\]", "\\", 1, "\\"},
    {"[.*]", "*", 1, "*"},
    {"[^a]", "", 0, ""},
    {"x[^a]", "x", 0, ""},
    {"x[a-c]", "x", 0, ""},
    {"x[^a]*$", "x", 1, "x"},
    // a backslash quotes any byte
    {"a\\.b", "a.b", 1, "a.b"},
    {"a\\.b", "axb", 0, ""},
    {"\\(", "(", 1, "("},
    {"\\\\", "a\\b", 1, "\\"},
    {"\\a", "a", 1, "a"},
    {"\\**", "**x", 1, "**"},
    // bytes from 128 on are plain bytes
    {"caf\xe9", "un caf\xe9", 1, "caf\xe9"},
    {"[\xe0-\xff]", "caf\xe9", 1, "\xe9"},
    {"[\xf0-\xff]+", "a\xff\xfe\xf0z", 1, "\xff\xfe\xf0"},
    {"[^\xe9]", "\xe9", 0, ""},
    {"[\x01-\xff]*", "ab\x80", 1, "ab\x80"},
    // the empty pattern
    {"", "", 1, ""},
    {"", "abc", 1, ""},
    {"()", "abc", 1, ""},
    // nine groups
    {"(a)(b)(c)(d)(e)(f)(g)(h)(i)", "abcdefghi", 1, "abcdefghi"},
};

TEST(RegexpMatch, TableOfPatternsAndTexts) {
  for (const MatchCase& c : matchCases) {
    Outcome o = run(c.pattern, c.text);
    ASSERT_TRUE(o.compiled) << c.pattern << ": " << o.errors;
    EXPECT_EQ(o.matched, c.matched) << "pattern '" << c.pattern << "' text '" << c.text << "'";
    if (c.matched) {
      EXPECT_EQ(o.whole, c.whole) << c.pattern;
    }
    EXPECT_EQ(o.errors, "") << c.pattern;
  }
}

TEST(RegexpMatch, EightBitBytesIgnoreTheLocale) {
  const char* saved = setlocale(LC_ALL, nullptr);
  std::string old = saved ? saved : "C";
  if (!setlocale(LC_ALL, "C.UTF-8")) GTEST_SKIP() << "no UTF-8 locale";
  // "\xc3\xa9" is one character in UTF-8; the engine still sees two bytes.
  EXPECT_EQ(run("^.\xa9$", "\xc3\xa9").matched, 1);
  EXPECT_EQ(run("^.$", "\xc3\xa9").matched, 0);
  EXPECT_EQ(run("[\xc0-\xff]", "\xc3").matched, 1);
  setlocale(LC_ALL, old.c_str());
}

struct GroupCase {
  const char* pattern;
  const char* text;
  int group;
  const char* captured;  // null: the group took no part in the match
};

const GroupCase groupCases[] = {
    {"(a+)(b+)", "xaabbby", 1, "aa"},
    {"(a+)(b+)", "xaabbby", 2, "bbb"},
    {"(a)*", "aaa", 1, "a"},
    {"(a|b)*", "ab", 1, "b"},
    {"((a)b)", "ab", 1, "ab"},
    {"((a)b)", "ab", 2, "a"},
    {"(a)|b", "b", 1, nullptr},
    {"x(y?)z", "xz", 1, ""},
};

TEST(RegexpMatch, CapturesRecordTheFinalPassThroughEachGroup) {
  for (const GroupCase& c : groupCases) {
    rx::regexp* r = rx::regcomp(c.pattern);
    ASSERT_NE(r, nullptr) << c.pattern;
    ASSERT_EQ(rx::regexec(r, c.text), 1) << c.pattern;
    if (c.captured) {
      ASSERT_NE(r->groupStart[c.group], nullptr) << c.pattern;
      ASSERT_NE(r->groupEnd[c.group], nullptr) << c.pattern;
      EXPECT_EQ(std::string(r->groupStart[c.group], r->groupEnd[c.group]), c.captured)
          << c.pattern << " group " << c.group;
    } else {
      EXPECT_EQ(r->groupStart[c.group], nullptr) << c.pattern;
    }
    free(r);
  }
}

struct ErrorCase {
  const char* pattern;
  const char* message;
};

const ErrorCase errorCases[] = {
    {"(a|)*", "regexp(3): *+ operand could be empty\n"},
    {"(x*)+", "regexp(3): *+ operand could be empty\n"},
    {"^*", "regexp(3): *+ operand could be empty\n"},
    {"$+", "regexp(3): *+ operand could be empty\n"},
    {"()*", "regexp(3): *+ operand could be empty\n"},
    {"a**", "regexp(3): nested *?+\n"},
    {"a?+", "regexp(3): nested *?+\n"},
    {"(ab)*?", "regexp(3): nested *?+\n"},
    {"*a", "regexp(3): ?+* follows nothing\n"},
    {"a|+b", "regexp(3): ?+* follows nothing\n"},
    {"(?a)", "regexp(3): ?+* follows nothing\n"},
    {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "regexp(3): too many ()\n"},
    {"(ab", "regexp(3): unmatched ()\n"},
    {"ab)", "regexp(3): unmatched ()\n"},
    {"a|b)", "regexp(3): unmatched ()\n"},
    {"[z-a]", "regexp(3): invalid [] range\n"},
    {"[a-c-0]", "regexp(3): invalid [] range\n"},
    {"[abc", "regexp(3): unmatched []\n"},
    {"[]", "regexp(3): unmatched []\n"},
    {"[^", "regexp(3): unmatched []\n"},
    {"a\\", "regexp(3): trailing \\\n"},
};

TEST(RegexpCompile, EachErrorHasItsMessage) {
  for (const ErrorCase& c : errorCases) {
    Outcome o = run(c.pattern, "");
    EXPECT_FALSE(o.compiled) << c.pattern;
    EXPECT_EQ(o.errors, c.message) << c.pattern;
  }
}

TEST(RegexpCompile, NullPatternIsReported) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(rx::regcomp(nullptr), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "regexp(3): NULL argument\n");
}

TEST(RegexpCompile, ProgramSizeLimit) {
  // A run of n letters takes n + 11 bytes: magic, BRANCH, EXACTLY and its NUL, END.
  std::string fits(32766 - 11, 'a');
  Outcome o = run(fits.c_str(), fits.c_str());
  EXPECT_TRUE(o.compiled);
  EXPECT_EQ(o.matched, 1);

  std::string tooBig(32767 - 11, 'a');
  o = run(tooBig.c_str(), "");
  EXPECT_FALSE(o.compiled);
  EXPECT_EQ(o.errors, "regexp(3): regexp too big\n");

  // Wide ranges grow the program far faster than the pattern.
  std::string ranges;
  for (int i = 0; i < 300; i++) ranges += "[\x01-\xff]";
  o = run(ranges.c_str(), "");
  EXPECT_FALSE(o.compiled);
  EXPECT_EQ(o.errors, "regexp(3): regexp too big\n");
}

struct HintCase {
  const char* pattern;
  char firstChar;
  char anchored;
  const char* mustContain;  // null: none
};

const HintCase hintCases[] = {
    {"ab*", 'a', 0, nullptr},
    {"^ab", '\0', 1, nullptr},
    {"x*abc", '\0', 0, "abc"},
    {"a*bcd*xyz", '\0', 0, "xyz"},
    {"x*ab.cd", '\0', 0, "cd"},
    {"x?ab", '\0', 0, "ab"},
    {"x+abc", '\0', 0, nullptr},
    {"ab|cd", '\0', 0, nullptr},
    {"(ab)", '\0', 0, nullptr},
    {"(x*ab)c", '\0', 0, nullptr},
};

TEST(RegexpCompile, SpeedUpsFoundAtCompileTime) {
  for (const HintCase& c : hintCases) {
    rx::regexp* r = rx::regcomp(c.pattern);
    ASSERT_NE(r, nullptr) << c.pattern;
    EXPECT_EQ(r->program[0], 0234) << c.pattern;
    EXPECT_EQ(r->firstChar, c.firstChar) << c.pattern;
    EXPECT_EQ(r->anchored, c.anchored) << c.pattern;
    if (c.mustContain) {
      ASSERT_NE(r->mustContain, nullptr) << c.pattern;
      EXPECT_EQ(std::string(r->mustContain, r->mustContainLength), c.mustContain) << c.pattern;
    } else {
      EXPECT_EQ(r->mustContain, nullptr) << c.pattern;
    }
    free(r);
  }
}

TEST(RegexpExec, BadArgumentsFailWithAMessage) {
  rx::regexp* r = rx::regcomp("a");
  ASSERT_NE(r, nullptr);
  struct Case {
    rx::regexp* prog;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {nullptr, "a", "regexp(3): NULL parameter\n"},
      {r, nullptr, "regexp(3): NULL parameter\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(rx::regexec(c.prog, c.text), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
  }
  r->program[0] = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(rx::regexec(r, "a"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "regexp(3): corrupted program\n");
  free(r);
}

TEST(RegexpCompile, ProgramLayout) {
  // magic; BRANCH -> END; EXACTLY "ab" -> END; END
  const unsigned char expected[] = {0234, 6, 0, 9, 8, 0, 6, 'a', 'b', 0, 0, 0, 0};
  rx::regexp* r = rx::regcomp("ab");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r->program), sizeof expected),
            std::string(reinterpret_cast<const char*>(expected), sizeof expected));
  free(r);
  // magic; BRANCH -> END; STAR -> END; EXACTLY "b"; END
  const unsigned char starred[] = {0234, 6, 0, 11, 10, 0, 8, 8, 0, 0, 'b', 0, 0, 0, 0};
  r = rx::regcomp("b*");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r->program), sizeof starred),
            std::string(reinterpret_cast<const char*>(starred), sizeof starred));
  free(r);
}

TEST(RegexpExec, DamagedProgramsFailWithAMessage) {
  struct Case {
    const char* pattern;
    int offset;           // byte of the program to overwrite
    unsigned char value;
    const char* text;     // tried at one position only
    const char* message;
  };
  const Case cases[] = {
      {"ab", 4, 99, "xab", "regexp(3): memory corruption\n"},
      {"ab", 6, 0, "xab", "regexp(3): corrupted pointers\n"},
      {"b*", 7, 6, "", "regexp(3): internal foulup\n"},
  };
  for (const Case& c : cases) {
    rx::regexp* r = rx::regcomp(c.pattern);
    ASSERT_NE(r, nullptr);
    r->program[c.offset] = c.value;
    testing::internal::CaptureStderr();
    EXPECT_EQ(rx::regexec(r, c.text), 0) << c.pattern;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << c.pattern;
    free(r);
  }
}

TEST(RegexpExec, AlternativesInsideRepetitionsDoNotExplode) {
  std::string many(60, 'a');
  std::string optional;
  for (int i = 0; i < 40; i++) optional += "a?";
  struct Case {
    std::string pattern;
    std::string text;
    int matched;
    std::string group1;  // group 1 of the match, when matched
  };
  const Case cases[] = {
      // no literal that must appear, so only the matcher itself can give the answer
      {"(a|a)*[b]", many, 0, ""},
      {"(a|aa)*$", many + "b", 1, ""},
      {"^(a|aa)*$", many + "b", 0, ""},
      {"(a|aa)*b", many + "b", 1, "a"},
      {"^(a|a)*$", many, 1, "a"},
      {optional + std::string(40, 'a'), std::string(40, 'a'), 1, ""},
  };
  for (const Case& c : cases) {
    rx::regexp* r = rx::regcomp(c.pattern.c_str());
    ASSERT_NE(r, nullptr) << c.pattern;
    EXPECT_EQ(rx::regexec(r, c.text.c_str()), c.matched) << c.pattern;
    if (c.matched && r->groupStart[1]) {
      EXPECT_EQ(std::string(r->groupStart[1], r->groupEnd[1]), c.group1) << c.pattern;
    }
    free(r);
  }
}

TEST(RegexpExec, OneProgramRunsOnManyTexts) {
  rx::regexp* r = rx::regcomp("^(North|South)[0-9]+$");
  ASSERT_NE(r, nullptr);
  struct Case {
    const char* text;
    int matched;
  };
  const Case cases[] = {{"North12", 1}, {"South7", 1}, {"East1", 0}, {"North", 0}, {"South1x", 0}};
  for (const Case& c : cases) EXPECT_EQ(rx::regexec(r, c.text), c.matched) << c.text;
  free(r);
}

}  // namespace

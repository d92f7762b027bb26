// Text utilities: quote and case conversions, regular-expression quoting, the finders.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/textutil.h"

namespace {

TEST(TextUtil, QuoteConversions) {
  char a[] = "say \"hi\" 'x'";
  replaceQuotes(a);
  EXPECT_STREQ(a, "say 'hi' 'x'");
  std::string s = "\"a\"b";
  replaceQuotes(s);
  EXPECT_EQ(s, "'a'b");
  char b[] = "say \"hi\" 'x'";
  convertQuotes(b);
  EXPECT_STREQ(b, "say  hi   x ");
}

// Request text echoed into a page or an attribute reads back as the same text.
TEST(TextUtil, HtmlEscape) {
  struct Case {
    const char* text;
    const char* escaped;
  };
  const Case cases[] = {
      {"plain text", "plain text"},
      {"a&b", "a&amp;b"},
      {"\"><script>", "&quot;&gt;&lt;script&gt;"},
      {"it's", "it's"},
      {"&amp;", "&amp;amp;"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(htmlEscape(c.text), c.escaped) << c.text;
  EXPECT_EQ(htmlEscape(nullptr), "");
}

TEST(TextUtil, QuoteRegexpChars) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"a.b", "a\\.b"},
      {"a\\.b", "a\\.b"},
      {"(1+1)", "\\(1\\+1\\)"},
      {"^$|[]()+?*.", "\\^\\$\\|\\[\\]\\(\\)\\+\\?\\*\\."},
      {"a\\b", "a\\\\b"},
      {"end\\", "end\\\\"},
      {"plain text", "plain text"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char buf[64];
    strcpy(buf, c.in);
    quoteRegexpChars(buf);
    EXPECT_STREQ(buf, c.want) << c.in;
  }
}

TEST(TextUtil, CaseHelpersReturnEndAndKeepHighBytes) {
  char text[] = "MiXeD \xC4\xE9 1";
  char* end = toLowerCase(text);
  EXPECT_EQ(end, text + strlen(text));
  EXPECT_STREQ(text, "mixed \xC4\xE9 1");  // bytes above 127 are left to the C locale
  toUpperCase(text);
  EXPECT_STREQ(text, "MIXED \xC4\xE9 1");
  EXPECT_EQ(toLowerCase(nullptr), nullptr);
  EXPECT_EQ(toUpperCase(nullptr), nullptr);
}

TEST(TextUtil, AllDigits) {
  struct Case {
    const char* text;
    bool want;
  };
  const Case cases[] = {
      {"", true},  {"-", true},   {"123", true}, {"-42", true},
      {"1.5", false}, {"--1", false}, {"1-", false}, {" 1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(allDigits(c.text), c.want) << c.text;
}

TEST(TextUtil, Finders) {
  EXPECT_EQ(findPattern("abcabc", "ca"), 2);
  EXPECT_EQ(findPattern("abc", "x"), -1);

  struct FirstCase {
    const char* text;
    int start;
    const char* set;
    int want;
  };
  const FirstCase firsts[] = {
      {"a,b;c", 0, ",;", 1}, {"a,b;c", 2, ",;", 3}, {"a,b;c", 4, ",;", -1},
      {"a,b", -5, ",", 1},   {"a,b", 99, ",", -1},  {"", 0, ",", -1},
  };
  for (const auto& c : firsts)
    EXPECT_EQ(findFirst(c.text, c.start, c.set), c.want) << c.text << " " << c.start;

  const FirstCase reverses[] = {
      {"a,b;c", 4, ",;", 3}, {"a,b;c", 2, ",;", 1}, {"a,b;c", 0, ",;", -1},
      {"a,b;c", 5, ",;", 5},  // the terminating NUL is in every set
      {"a,b", 99, "x", 3},    // past the end is taken as the end
      {"a,b", -1, ",", -1},
  };
  for (const auto& c : reverses)
    EXPECT_EQ(reverseFindFirst(c.text, c.start, c.set), c.want) << c.text << " " << c.start;

  struct PatternCase {
    const char* text;
    const char* pattern;
    int want;
  };
  const PatternCase patterns[] = {
      {"abcabc", "bc", 4}, {"abc", "abc", 0}, {"ab", "abc", -1},
      {"", "a", -1},       {"abc", "", -1},   {"abc", "x", -1},
  };
  for (const auto& c : patterns)
    EXPECT_EQ(reverseFindPattern(c.text, c.pattern), c.want) << c.text << " " << c.pattern;
}

TEST(TextUtil, NewStrCopiesAndFrees) {
  char* copy = _newStr("text", __FILE__, __LINE__);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "text");
  EXPECT_EQ(_newStr(nullptr, __FILE__, __LINE__), nullptr);
  xxfree(&copy);
  EXPECT_EQ(copy, nullptr);
  xxfree(&copy);  // a null pointer is left alone
  xfree(nullptr);
}

}  // namespace

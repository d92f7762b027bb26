// The CGI form decoder, run against the real process environment and standard input.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cgi/uncgi.h"

namespace {

// Each test starts from an environment without request or W3_ variables.
class Uncgi : public ::testing::Test {
 protected:
  void SetUp() override { clearRequest(); }
  void TearDown() override { clearRequest(); }

  static void clearRequest() {
    std::vector<std::string> names;
    for (char** e = environ; *e; e++) {
      std::string entry = *e;
      std::string name = entry.substr(0, entry.find('='));
      if (name.compare(0, 3, "W3_") == 0) names.push_back(name);
    }
    for (auto& n : names) unsetenv(n.c_str());
    for (const char* n : {"QUERY_STRING", "REQUEST_METHOD", "CONTENT_TYPE", "CONTENT_LENGTH"})
      unsetenv(n);
  }

  // Makes standard input read body.
  static void feedStdin(const std::string& body) {
    char path[] = "/tmp/uncgi-body.XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, body.data(), body.size()), (ssize_t)body.size());
    close(fd);
    ASSERT_NE(freopen(path, "r", stdin), nullptr);
    unlink(path);
  }

  static std::string var(const char* name) {
    const char* v = getenv(name);
    return v ? v : "<unset>";
  }
};

TEST_F(Uncgi, QueryStringFieldsBecomeVariables) {
  struct Case {
    const char* query;
    const char* name;
    const char* want;
  };
  const Case cases[] = {
      {"mapfile=maps%2Fsales.map&hint=x+y", "W3_mapfile", "maps/sales.map"},
      {"mapfile=maps%2Fsales.map&hint=x+y", "W3_hint", "x y"},
      {"a.b=1", "W3_a_b", "1"},
      {"a%2Eb=1", "W3_a_b", "1"},
      {"k=a.b", "W3_k", "a.b"},
      {"_note=%20%20two%0D%0Alines%20", "W3_note", "two\nlines"},
      {"note=%20%20two%0D%0Alines%20", "W3_note", "  two\r\nlines "},
      {"_t=a%0Db%0D", "W3_t", "a\nb"},
      {"_t=%09%0B%0C", "W3_t", ""},
      {"flag", "W3_flag", ""},
      {"a&&b", "W3_", ""},
      {"a&&b", "W3_b", ""},
      {"a%3Db=c", "W3_a", "b=c"},
      {"v=50%4", "W3_v", "50%4"},
      {"v=%zz%", "W3_v", "%zz%"},
      {"v=%4g", "W3_v", "%4g"},
      {"v=%41%62", "W3_v", "Ab"},
      {"v=a%00b", "W3_v", "a%00b"},
      {"a%00=b", "W3_a%00", "b"},
      {"Case=1&case=2", "W3_Case", "1"},
      {"a=1&a=2&a=3", "W3_a", "3#2#1"},
      {"x=1&", "W3_x", "1"},
  };
  for (const auto& c : cases) {
    clearRequest();
    setenv("QUERY_STRING", c.query, 1);
    uncgi(true);
    EXPECT_EQ(var(c.name), c.want) << c.query;
  }
}

TEST_F(Uncgi, EmptyQueryStringSetsNothing) {
  setenv("QUERY_STRING", "", 1);
  uncgi(true);
  EXPECT_EQ(var("W3_"), "<unset>");
}

TEST_F(Uncgi, VariableFromStartIsJoinedNotLost) {
  setenv("W3_a", "old", 1);
  setenv("QUERY_STRING", "a=new", 1);
  uncgi(false);
  EXPECT_EQ(var("W3_a"), "new#old");
}

TEST_F(Uncgi, BodyFollowsQueryString) {
  struct Case {
    const char* method;
    const char* type;
    const char* length;  // null: unset
    const char* body;
    bool readBody;
    const char* want;  // W3_x
  };
  const Case cases[] = {
      {"POST", "application/x-www-form-urlencoded", "3", "x=2", true, "2#1"},
      {"POST", "application/x-www-form-urlencoded", "3", "x=2", false, "1"},
      {"GET", "application/x-www-form-urlencoded", "3", "x=2", true, "1"},
      {"post", "application/x-www-form-urlencoded", "3", "x=2", true, "1"},
      {"POST", "multipart/form-data", "3", "x=2", true, "1"},
      {"POST", "application/x-www-form-urlencoded; charset=UTF-8", "3", "x=2", true, "1"},
      {"POST", "application/x-www-form-urlencoded", nullptr, "x=2", true, "1"},
      {"POST", "application/x-www-form-urlencoded", "-3", "x=2", true, "1"},
      {"POST", "application/x-www-form-urlencoded", "3x", "x=2", true, "1"},
      {"POST", "application/x-www-form-urlencoded", "", "x=2", true, "1"},
      {"POST", "application/x-www-form-urlencoded", "99999999999999999999", "x=2", true, "1"},
      {"POST", "application/x-www-form-urlencoded", "0", "x=2", true, "1"},
      // A body cut short by CONTENT_LENGTH, and one shorter than it claims.
      {"POST", "application/x-www-form-urlencoded", "4", "x=234", true, "23#1"},
      {"POST", "application/x-www-form-urlencoded", "1000", "x=2&y=3", true, "2#1"},
  };
  for (const auto& c : cases) {
    clearRequest();
    setenv("QUERY_STRING", "x=1", 1);
    setenv("REQUEST_METHOD", c.method, 1);
    setenv("CONTENT_TYPE", c.type, 1);
    if (c.length) setenv("CONTENT_LENGTH", c.length, 1);
    feedStdin(c.body);
    uncgi(c.readBody);
    EXPECT_EQ(var("W3_x"), c.want) << c.method << " " << c.type << " " << (c.length ? c.length : "-");
  }
}

TEST_F(Uncgi, PostreadReadsLargeBodyWhole) {
  std::string body = "big=" + std::string(100000, 'z');
  setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
  setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
  feedStdin(body);
  char* got = postread();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(std::string(got), body);
  free(got);
}

// A form field keeps "%00" (a NUL would cut its name or value short) and reads '+' as a
// blank; url_decode, for scrambled credentials, gives every byte back.
TEST(UrlDecoders, PlusAndKeptNulOnlyForFormDecoding) {
  struct Case {
    const char* in;
    const char* deescaped;
    const char* decoded;
  };
  const Case cases[] = {
      {"a+b%2Bc", "a b+c", "a+b+c"},
      {"%7e%7E", "~~", "~~"},
      {"%", "%", "%"},
      {"%4", "%4", "%4"},
      {"%%41", "%A", "%A"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    char a[64], b[64];
    strcpy(a, c.in);
    strcpy(b, c.in);
    char* endA = url_deescape(a);
    char* endB = url_decode(b);
    EXPECT_STREQ(a, c.deescaped) << c.in;
    EXPECT_STREQ(b, c.decoded) << c.in;
    EXPECT_EQ(endA, a + strlen(a));
    EXPECT_EQ(endB, b + strlen(b));
  }
  char a[] = "a%00b", b[] = "a%00b";
  EXPECT_EQ(std::string(a, size_t(url_deescape(a) - a)), "a%00b");
  EXPECT_EQ(std::string(b, size_t(url_decode(b) - b)), std::string("a\0b", 3));
  EXPECT_EQ(hextoi("fF"), 255);
  EXPECT_EQ(hextoi("0a"), 10);
}

TEST(HtmlPerror, WritesErrorPageAndExitsOne) {
  EXPECT_EXIT(
      {
        // The page goes to standard error here, where the death test can see it.
        fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        html_perror("fillenv");
      },
      ::testing::ExitedWithCode(1),
      "^Content-type: text/html\n\n<html><head><title>Error!</title></head><body>\n"
      "<p>The following error occurred while processing your query\\.\n$");
}

}  // namespace

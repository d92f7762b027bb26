// Page and cube-file settings: the carrier rule, the escaping writers, function items and
// the configuration block written before the trees.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/preferences.h"
#include "varkel/input.h"
#include "varkel/settings.h"
#include "varkel/varkel.h"

using std::string;

namespace {

// Everything written to a temporary stream so far.
string contents(FILE* f) {
  fflush(f);
  long end = ftell(f);
  string s(end, '\0');
  rewind(f);
  size_t got = fread(&s[0], 1, end, f);
  s.resize(got);
  fseek(f, 0, SEEK_END);
  return s;
}

// What a writer puts on one stream.
template <class Write>
string written(Write write) {
  FILE* f = tmpfile();
  write(f);
  string s = contents(f);
  fclose(f);
  return s;
}

// A page and a cube file backed by temporary files, with the run flags put back afterwards.
class Carriers : public ::testing::Test {
 protected:
  void SetUp() override {
    savedEmitCB4 = emitCB4;
    savedServerMode = serverMode;
    page = tmpfile();
    cube = tmpfile();
    ofp = page;
    cb4 = cube;
    emitCB4 = 1;
    serverMode = 0;
  }
  void TearDown() override {
    fclose(page);
    fclose(cube);
    ofp = nullptr;
    cb4 = nullptr;
    emitCB4 = savedEmitCB4;
    serverMode = savedServerMode;
  }
  string pageText() { return contents(page); }
  string cubeText() { return contents(cube); }

  FILE* page = nullptr;
  FILE* cube = nullptr;
  int savedEmitCB4 = 0, savedServerMode = 0;
};

}  // namespace

TEST(OutputCarefully, EscapesAndKeepsEverySemicolonEscapedOnce) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      {"a;b", "a%5c%3bb"},
      {"a\\;b", "a%5c%3bb"},
      {"a\\\\;b", "a%5c%5c%5c%3bb"},
      {"a\\\t;b", "a%5c%09%3bb"},  // a control byte leaves the backslash's escape standing
      {"a\\x;b", "a%5cx%5c%3bb"},  // any other byte ends it
      {"a\\\";b", "a%5c%22%5c%3bb"},
      {"\"$*+<>", "%22%24%2a%2b%3c%3e"},
      {"\x01\x1f", "%01%1f"},
      {"plain text, (x) & y", "plain text, (x) & y"},
      {"\x7f\xe9", "\x7f\xe9"},
      {";;", "%5c%3b%5c%3b"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(written([&](FILE* f) { outputCarefully(c.text, f); }), c.want) << c.text;
  EXPECT_EQ(written([](FILE* f) { outputCarefully(nullptr, f); }), "");
}

TEST(OutputCarefully, CutsAtWholePiecesWithin254Characters) {
  struct Case {
    const char* what;
    string text;
    string want;
  };
  const Case cases[] = {
      {"letters", string(300, 'x'), string(254, 'x')},
      {"tabs", string(100, '\t'), [] {
         string s;
         for (int i = 0; i < 84; i++) s += "%09";
         return s;
       }()},
      // 251 letters leave room for one escape (count 251), not for a second.
      {"escape at 251", string(251, 'x') + "<<", string(251, 'x') + "%3c"},
      {"escape at 252", string(252, 'x') + "<y", string(252, 'x')},
      {"raw byte at 253", string(253, 'x') + "yz", string(253, 'x') + "y"},
      // The two escapes of a ';' are tried one by one: the backslash may be the last piece.
      {"semicolon split", string(249, 'x') + ";", string(249, 'x') + "%5c"},
      {"semicolon whole", string(248, 'x') + ";", string(248, 'x') + "%5c%3b"},
  };
  for (const Case& c : cases) {
    string got = written([&](FILE* f) { outputCarefully(c.text.c_str(), f); });
    EXPECT_EQ(got, c.want) << c.what;
    EXPECT_LE(got.size(), 254u) << c.what;
  }
}

TEST(UrlEscapes, EveryByteAsTwoLowerCaseHexDigits) {
  EXPECT_EQ(written([](FILE* f) { url_char('\xff', f); }), "%ff");
  EXPECT_EQ(written([](FILE* f) { url_char('\n', f); }), "%0a");
  EXPECT_EQ(written([](FILE* f) { url_string("A z", f); }), "%41%20%7a");
  EXPECT_EQ(url_encode("A;\x80"), "%41%3b%80");
  EXPECT_EQ(url_encode(""), "");
}

TEST(HtmlCell, EntitiesForAngleBracketsAndBlanks) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      {"<b>", "&lt;b&gt;"},
      {"a b\tc", "a&nbsp;b&nbsp;c"},
      {"&\"'", "&\"'"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(written([&](FILE* f) { outputHTMLString(c.text, f); }), c.want) << c.text;
  EXPECT_EQ(written([](FILE* f) { outputHTMLString(nullptr, f); }), "");
}

TEST(FunctionItem, AggregatorsFieldNamesAndExpressions) {
  snprintf(newDataFieldNames[3], fieldSize, "f3");
  snprintf(newDataFieldNames[512], fieldSize, "Sales Amount");
  struct Case {
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      {"sum.x", ";function=sum.x"},
      {"oneof.a.b", ";function=oneof.a.b"},
      {"constant.5", ";function=constant.5"},
      {"divconst.2", ";function=divconst.2"},
      {"f3", ";compute=('f3')"},
      {"Sales Amount", ";compute=('Sales Amount')"},
      {"f33", ";compute=(f33)"},
      {"a+b", ";compute=(a+b)"},
      {"'x'", ";compute=('x')"},  // already quoted: kept as it stands
      {"summary", ";compute=(summary)"},  // "sum" without its dot is no aggregator
      {"Old style sum", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(written([&](FILE* f) { outputFunction(f, c.text); }), c.want) << c.text;
  newDataFieldNames[3][0] = '\0';
  newDataFieldNames[512][0] = '\0';
}

TEST_F(Carriers, RulePicksCubeFilePageOrBoth) {
  struct Case {
    int emit;
    bool both;
    bool pageOpen, cubeOpen;
    bool toCube, toPage;
  };
  const Case cases[] = {
      {1, false, true, true, true, false},  {1, true, true, true, true, true},
      {0, false, true, true, false, true},  {0, true, true, true, false, true},
      {1, true, false, true, true, false},  {1, true, true, false, false, true},
      {0, false, false, true, false, false},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    emitCB4 = c.emit;
    ofp = c.pageOpen ? page : nullptr;
    cb4 = c.cubeOpen ? cube : nullptr;
    outputParam("grid", "true", c.both);
    EXPECT_EQ(cubeText(), c.toCube ? "grid=true\n" : "")
        << c.emit << c.both << c.pageOpen << c.cubeOpen;
    EXPECT_EQ(pageText(), c.toPage ? "<param name=\"grid\" value=\"true\">\n" : "")
        << c.emit << c.both << c.pageOpen << c.cubeOpen;
  }
}

TEST_F(Carriers, WithoutCubeFileTheSharedStreamGetsOnlyParamTags) {
  emitCB4 = 0;
  cb4 = ofp;  // no cube file: cb4 is the page stream
  outputParam("grid", "true", false);
  EXPECT_EQ(pageText(), "<param name=\"grid\" value=\"true\">\n");
}

TEST_F(Carriers, EmptyValuesOnlyInTheTextForm) {
  outputParam("helpurl", "", true);
  outputParam(string("runcode"), string(), true);
  EXPECT_EQ(cubeText(), "helpurl=\n");
  EXPECT_EQ(pageText(), "<param name=\"helpurl\" value=\"\">\n");
}

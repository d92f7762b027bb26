// The compiled-profile reader: the header, the parameter record in each of its lengths and
// the settings derived from it, the data-source suffix, every node record and tree
// operator, the number formats, and every error exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/preferences.h"
#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/coded.h"
#include "varkel/datasource.h"
#include "varkel/date.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/varkel.h"
#include "varkel/workbuffers.h"

using std::string;
using ::testing::ExitedWithCode;

namespace {

::testing::Matcher<const string&> fatalText(int code, const string& message) {
  char prefix[16];
  snprintf(prefix, sizeof prefix, "Error %03d: ", code);
  return ::testing::Eq(string(prefix) + message);
}

string S(const string& s) { return makeString(2, s.c_str()); }
string L(const string& s) { return makeString(4, s.c_str()); }

string hex(int v, int digits) {
  char b[16];
  snprintf(b, sizeof b, "%0*x", digits, v);
  return b;
}

// The forty booleans of a setup block that sets nothing, in table order.
const char* const defaultBooleans = "0000000010000000000010101100001111101001";

// A parameter record as the compiler writes it, with fields to change and a way to end it
// where older compilers did.
struct Params {
  string booleans = defaultBooleans;
  int decimals = 2;
  string colours = "9ecfb29e9ecf5a96ff";
  int height = 20100;
  int width = 20100;
  string shorts[8] = {"..", ";0;\t", "../help/hh_start.htm", "", "", "varkel4.exe",
                      "/cgi-bin/", "pellack4.exe"};
  string longs[14] = {"", "", "", "", "", ";0;\t", "", "", "", "", "", "", "", ""};
  int longCount = 14;          // long strings written: 4 and 14 are older records
  bool tail = true;            // the booleans and small numbers after the long strings
  string newBooleans = "1110000000000";
  string bytes = "03000000000000000000";

  // One data source in both places, as the compiler writes it.
  Params& data(const string& d) {
    shorts[1] = d;
    longs[5] = d;
    return *this;
  }
  string text() const {
    string t = "8" + booleans + hex(decimals, 2) + colours + hex(height, 4) + hex(width, 4);
    for (const string& s : shorts) t += S(s);
    for (int i = 0; i < longCount; i++) t += L(longs[i]);
    if (tail) t += newBooleans + bytes;
    return t + "|";
  }
};

// Node records, as the compiler writes them.
string axis(const string& label, const string& code = "01", const string& fn = "") {
  return "31" + S(label) + code + S(fn) + "|";
}
string measures(const string& label, const string& fn = "") {
  return "7" + S(label) + S(fn) + "|";
}
string item(const string& label) { return "9" + S(label) + "|"; }
string matchItem(const string& label, const string& expr, const string& code = "01",
                 const string& fn = "") {
  return "61" + code + S(fn) + S(label) + S(expr) + "|";
}
string autobuild(char flag, char type, int first, int last, char sort, const string& field,
                 const string& sep) {
  return string("1") + flag + type + hex(first, 2) + hex(last, 2) + sort + S(field) + S(sep) +
         "|";
}
string extract(char flag, char code1, const string& field, const string& label,
               const string& code2) {
  return string("4") + flag + code1 + S(field) + S(label) + code2 + "|";
}
string computed(const string& label, char code1, const string& fn, const string& code2) {
  return "5" + S(label) + code1 + S(fn) + code2 + "|";
}
string dateRecord(const string& field, const string& in, const string& out) {
  return "21C" + S(field) + S(in) + S(out) + S("") + S("") + "|";
}

// A whole profile: header, parameter record, the 'C' the compiler writes after it, the
// node records, 'X'.
string profile(const string& nodes, const Params& p = Params()) {
  return "0411|" + p.text() + "C" + nodes + "X";
}

// The tree below n: its label, then its children in parentheses.
string render(int n) {
  if (n == -1) return "-";
  string s = axisLabels[n].label;
  int c = axisLabels[n].child;
  if (c == -1) return s;
  s += "(";
  for (bool first = true; c != -1; c = axisLabels[c].sibling, first = false)
    s += (first ? "" : ",") + render(c);
  return s + ")";
}

// Every axis, then the measures tree.
string model() {
  string s;
  for (int i = 0; i < numberOfAxes; i++) s += render(axisRootIndex[i]) + " ";
  return s + "| " + render(recordAxisRoot);
}

// The first child of axis a.
AxisLabel& firstItem(int a = 0) { return axisLabels[axisLabels[axisRootIndex[a]].child]; }

// Runs the builder's start-up once and puts back every setting the reader changes.
class ProfileReader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool started = false;
    if (!started) {
      startUp();
      started = true;
    }
    static bool saved = false;
    if (!saved) {
      memcpy(savedB, bParams, sizeof savedB);
      memcpy(savedNb, nbParams, sizeof savedNb);
      memcpy(savedBytes, byteParams, sizeof savedBytes);
      saved = true;
    }
  }
  void SetUp() override {
    memcpy(bParams, savedB, sizeof savedB);
    memcpy(nbParams, savedNb, sizeof savedNb);
    memcpy(byteParams, savedBytes, sizeof savedBytes);
    numberOfAxes = 0;
    for (int& r : axisRootIndex) r = -1;
    recordAxisRoot = -1;
    expandProfile = 0;
    noQuery = 0;
    decimalPoints = 0;
    decimalMultiplier = 1;
    skipFirstLine = 0;
    separator = '\t';
    isCGI = 0;
    // A source given on the command line, so that profiles need not name a real one.
    dataFileName = const_cast<char*>("command-line");
    memset(dataFieldNames, 0, sizeof dataFieldNames);
    freeDate();
    for (Date& d : dateTable) d = Date();
    dateCount = 0;
    dateLastCategory = 0;
    snprintf(inputFileName, 256, "%s", "prof.qv4");
  }
  void TearDown() override { freeDate(); }

  static BooleanParam savedB[numBParams + 1];
  static BooleanParam savedNb[numNbParams + 1];
  static ByteParam savedBytes[numByteParams + 1];
};
BooleanParam ProfileReader::savedB[numBParams + 1];
BooleanParam ProfileReader::savedNb[numNbParams + 1];
ByteParam ProfileReader::savedBytes[numByteParams + 1];

BooleanParam& row(BooleanParam* table, const char* name) {
  for (int i = 0; table[i].name; i++)
    if (strcmp(table[i].name, name) == 0) return table[i];
  ADD_FAILURE() << "no row " << name;
  return table[0];
}

}  // namespace

TEST(ProfileHeader, FourDigitsBarAndParameterRecord) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"0411|8", true}, {"9999|8rest", true}, {"04a1|8", false}, {"0411|1", false},
      {"041|8", false}, {"0411 8", false},    {"0411|", false},  {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isValidProfile(c.text), c.valid) << c.text;
}

TEST_F(ProfileReader, BadHeaderIsErrorOneNamingTheProfile) {
  for (const char* text : {"04a1|8", "0411|1", "041", ""})
    EXPECT_EXIT(readNewProfile(text), ExitedWithCode(1),
                fatalText(1, "'prof.qv4' is not a valid qv4 file.\n"))
        << text;
}

TEST_F(ProfileReader, TreesFollowTheTreeOperators) {
  struct Case {
    const char* name;
    string nodes;
    const char* want;
  };
  const Case cases[] = {
      {"parameters only", "", "| -"},
      {"two axes with nested items",
       axis("A") + "C" + item("a1") + "C" + item("a2") + "N" + item("a3") + "PPN" +
           item("a4") + "PPN" + axis("B") + "C" + item("b1"),
       "A(a1(a2,a3),a4) B(b1) | -"},
      {"empty axis before another", axis("A") + "C" + axis("B") + "C" + item("b1"),
       "A B(b1) | -"},
      {"measures after an axis",
       axis("A") + "C" + item("a1") + "PN" + measures("M") + "C" + item("m1") + "N" +
           item("m2"),
       "A(a1) | M(m1,m2)"},
      {"C enters an existing child", axis("A") + "C" + item("a1") + "PC" + item("a2"),
       "A(a1(a2)) | -"},
      {"N walks to an existing sibling",
       axis("A") + "C" + item("a1") + "N" + item("a2") + "PN" + item("a3"),
       "A(a1,a2,a3) | -"},
      {"a record without operator hangs below the last one",
       axis("A") + "C" + item("a1") + item("a2"), "A(a1(a2)) | -"},
      {"fields of a newer compiler are passed over",
       axis("A") + "C" + "902a1xyz|" + "N" + "31" + S("a") + "0100more|", "A(a1) a | -"},
      {"nothing after X is read", axis("A") + "C" + item("a1") + "X" + "N" + item("zz"),
       "A(a1) | -"},
      {"a later measures record replaces the first",
       axis("A") + "C" + measures("M") + "C" + item("m1") + "PPN" + measures("K") + "C" +
           item("k1"),
       "A | K(k1)"},
      {"nested measures before any axis",
       measures("M") + "C" + item("m1") + "N" + item("m2") + "C" + item("m3"),
       "| M(m1,m2(m3))"},
  };
  for (const Case& c : cases) {
    SetUp();
    readNewProfile(profile(c.nodes).c_str());
    EXPECT_EQ(model(), c.want) << c.name;
  }
}

TEST_F(ProfileReader, ATextMayEndWithoutXOrItsLastBar) {
  for (const string& end : {string("902a1|"), string("902a1")}) {
    SetUp();
    string text = "0411|" + Params().text() + "C" + axis("A") + "C" + end;
    readNewProfile(text.c_str());
    EXPECT_EQ(model(), "A(a1) | -") << end;
  }
}

TEST_F(ProfileReader, BackLinksClimbOneAttachStep) {
  readNewProfile(profile(axis("A") + "C" + item("a1") + "N" + item("a2") + "PPN" + axis("B") +
                         "C" + item("b1"))
                     .c_str());
  int a = axisRootIndex[0], b = axisRootIndex[1];
  int a1 = axisLabels[a].child, a2 = axisLabels[a1].sibling;
  EXPECT_EQ(axisLabels[a].backLink, -1);
  EXPECT_EQ(axisLabels[a1].backLink, a);
  EXPECT_EQ(axisLabels[a2].backLink, a1);
  // A root links back to the label current when it was read, but nothing points to it.
  EXPECT_EQ(axisLabels[b].backLink, a);
  EXPECT_EQ(axisLabels[a].sibling, -1);
  EXPECT_EQ(axisLabels[axisLabels[b].child].backLink, b);
}

TEST_F(ProfileReader, FullRecordSettings) {
  Params p;
  p.booleans[13] = '1';  // hidepiechart
  p.booleans[30] = '0';  // allowviewsourcerecords
  p.booleans[19] = '1';  // deselectonclick
  p.booleans[39] = '0';  // showrowtotals
  p.decimals = 3;
  p.colours = "010203040506070809";
  p.height = 300;
  p.width = 20050;
  p.shorts[0] = "http://x/";
  p.shorts[5] = "cgi.exe";
  p.longs[3] = "Sales by region";
  p.longs[4] = "1234";
  p.newBooleans = "1100000000000";  // exporttosylk false
  p.bytes = "05000000000000000000";
  p.data("text:sales.txt;1;,");
  readNewProfile(profile("", p).c_str());

  EXPECT_EQ(row(bParams, "hidepiechart").value, 1);
  EXPECT_EQ(row(bParams, "hidepiechart").set, 1);
  EXPECT_EQ(row(bParams, "allowviewsourcerecords").value, 0);
  EXPECT_EQ(noQuery, 1);
  EXPECT_EQ(row(bParams, "grid").set, 0);  // read as its default: not set
  EXPECT_EQ(np_decimalpoints, 3);
  EXPECT_EQ(decimalPoints, 3);
  EXPECT_EQ(decimalMultiplier, 1000);
  const int colours[] = {np_vertRed, np_vertGreen, np_vertBlue, np_horRed, np_horGreen,
                         np_horBlue, np_dataRed,   np_dataGreen, np_dataBlue};
  for (int i = 0; i < 9; i++) EXPECT_EQ(colours[i], i + 1);
  EXPECT_EQ(np_height, 300);
  EXPECT_EQ(np_width, 20050);
  EXPECT_STREQ(lumetraHeight, "300");
  EXPECT_STREQ(lumetraWidth, "50%");
  EXPECT_EQ(np_codebase, "http://x/");
  EXPECT_STREQ(theCodeBase, "http://x/");
  EXPECT_EQ(np_cginame, "cgi.exe");
  EXPECT_EQ(np_helpurl, "../help/hh_start.htm");
  EXPECT_EQ(np_capturename, "pellack4.exe");
  EXPECT_EQ(np_description, "Sales by region");
  EXPECT_EQ(np_cubeexpiry, "1234");
  EXPECT_EQ(np_data, "text:sales.txt");
  EXPECT_EQ(separator, ',');
  EXPECT_EQ(skipFirstLine, 1);
  EXPECT_EQ(row(nbParams, "exporttosylk").value, 0);
  EXPECT_EQ(row(nbParams, "exporttosylk").set, 1);
  EXPECT_EQ(row(nbParams, "hformatpriority").set, 0);
  EXPECT_EQ(byteParams[0].value, 5);
  // A full record leaves what older compilers never wrote as it read them.
  EXPECT_EQ(row(bParams, "showrowtotals").value, 0);
  EXPECT_EQ(row(bParams, "showrowtotals").set, 1);
  EXPECT_EQ(row(bParams, "deselectonclick").value, 1);
  EXPECT_EQ(row(bParams, "deselectonclick").set, 1);
  EXPECT_EQ(numberOfAxes, 0);
  EXPECT_EQ(recordAxisRoot, -1);
  EXPECT_EQ(expandProfile, 0);
}

TEST_F(ProfileReader, ShortRecordsOfOlderCompilers) {
  // Records that end after the 4th or the 14th long string.
  struct Case {
    int longCount;
  };
  const Case cases[] = {{4}, {14}};
  for (const Case& c : cases) {
    SetUp();
    Params p;
    p.longCount = c.longCount;
    p.tail = false;
    p.booleans[19] = '1';  // deselectonclick, which the short record cannot keep
    p.booleans[39] = '0';  // showrowtotals
    p.longs[4] = "99";
    p.shorts[1] = "text:short.txt;0;|";
    p.longs[5] = "text:long.txt;0;|";
    readNewProfile(profile("", p).c_str());
    EXPECT_EQ(np_cubeexpiry, c.longCount == 4 ? "" : "99") << c.longCount;
    EXPECT_EQ(np_data, c.longCount == 4 ? "text:short.txt" : "text:long.txt") << c.longCount;
    for (const char* name : {"deselectonclick", "rowsum", "rowaverage", "columnsum",
                             "columnaverage", "drillcontrolnotvisible", "flattendrilling"}) {
      EXPECT_EQ(row(bParams, name).value, 0) << name;
      EXPECT_EQ(row(bParams, name).set, 0) << name;
    }
    EXPECT_EQ(row(bParams, "showrowtotals").value, 1);
    EXPECT_EQ(row(bParams, "showrowtotals").set, 0);
    for (int i = 0; i < numNbParams; i++) {
      EXPECT_EQ(nbParams[i].value, ProfileReader::savedNb[i].value) << i;
      EXPECT_EQ(nbParams[i].set, ProfileReader::savedNb[i].set) << i;
    }
    EXPECT_EQ(byteParams[0].value, 3);
  }
}

TEST_F(ProfileReader, TablesAfterTheLongStringsMayEndEarly) {
  Params p;
  p.newBooleans = "00";
  p.bytes = "";
  readNewProfile(profile("", p).c_str());
  EXPECT_EQ(nbParams[0].value, 0);
  EXPECT_EQ(nbParams[1].set, 1);
  EXPECT_EQ(nbParams[2].value, 1);  // not in the record: unchanged
  EXPECT_EQ(nbParams[2].set, 0);
  EXPECT_EQ(byteParams[0].value, 3);
  EXPECT_EQ(row(bParams, "deselectonclick").set, 0);
}

TEST_F(ProfileReader, PageSizeAndDecimalPlaces) {
  struct Case {
    int size;
    const char* text;
  };
  const Case sizes[] = {
      {20100, "100%"}, {19999, "19999"}, {20000, "0%"}, {640, "640"}, {0, "0"}, {65535, "45535%"},
  };
  for (const Case& c : sizes) {
    SetUp();
    Params p;
    p.width = c.size;
    p.height = c.size;
    readNewProfile(profile("", p).c_str());
    EXPECT_STREQ(lumetraWidth, c.text) << c.size;
    EXPECT_STREQ(lumetraHeight, c.text) << c.size;
  }
  struct Places {
    int read;
    int points;
    long long multiplier;
  };
  const Places places[] = {
      {0, 0, 1}, {2, 2, 100}, {10, 10, 10000000000LL}, {12, 10, 10000000000LL}, {255, 10, 10000000000LL},
  };
  for (const Places& c : places) {
    SetUp();
    Params p;
    p.decimals = c.read;
    readNewProfile(profile("", p).c_str());
    EXPECT_EQ(decimalPoints, c.points) << c.read;
    EXPECT_EQ(decimalMultiplier, c.multiplier) << c.read;
  }
}

TEST_F(ProfileReader, DataSourceSuffixIsTakenFromTheEnd) {
  struct Case {
    const char* data;
    const char* source;
    int header;
    char separator;
  };
  // The run starts with -skipfirstline and a TAB: a text without its suffix keeps them.
  const Case cases[] = {
      {"text:d.txt;1;,", "text:d.txt", 1, ','},
      {"exec:sort a;b.txt;0;|", "exec:sort a;b.txt", 0, '|'},
      {"odbc:DSN;select x", "odbc:DSN;select x", 1, '\t'},
      {"none:x;0;,", "none:x;0;,", 1, '\t'},
      {";0;\t", "", 0, '\t'},
      {";1;;", "", 1, ';'},
      {"", "", 1, '\t'},
      {"ab", "ab", 1, '\t'},
      {"text:d.txt", "text:d.txt", 1, '\t'},
      {"text:a;b;c", "text:a;b;c", 1, '\t'},
  };
  for (const Case& c : cases) {
    SetUp();
    skipFirstLine = 1;
    readNewProfile(profile("", Params().data(c.data)).c_str());
    EXPECT_EQ(np_data, c.source) << c.data;
    EXPECT_EQ(skipFirstLine, c.header) << c.data;
    EXPECT_EQ(separator, c.separator) << c.data;
    EXPECT_STREQ(dataFileName, "command-line") << c.data;  // an earlier source wins
  }
}

TEST_F(ProfileReader, DataSourceOfTheProfileIsSetUp) {
  struct Case {
    const char* data;
    DataType type;
    const char* name;
  };
  const Case cases[] = {
      {"text:d.txt;1;,", textData, "d.txt"},
      {"exec:sort a;b.txt;0;|", execData, "sort a;b.txt"},
      {"odbc:DSN;select x", odbcData, "DSN"},
  };
  for (const Case& c : cases) {
    SetUp();
    dataFileName = nullptr;
    readNewProfile(profile("", Params().data(c.data)).c_str());
    EXPECT_EQ(dataType, c.type) << c.data;
    ASSERT_NE(dataFileName, nullptr) << c.data;
    EXPECT_STREQ(dataFileName, c.name) << c.data;
  }
}

TEST_F(ProfileReader, ProfileWithoutSourceLeavesItToTheDataSourceModule) {
  dataFileName = nullptr;
  EXPECT_EXIT(readNewProfile(profile("").c_str()), ExitedWithCode(106),
              fatalText(106, "Could not understand data source ''.\n"));
}

TEST_F(ProfileReader, AutobuildRecords) {
  struct Case {
    const char* name;
    string record;
    int field;
    const char* sep;  // null: none
    int firstColumn, lastColumn, part, backPart, lastPart, multi, sort;
  };
  const Case cases[] = {
      {"whole field", autobuild('1', '0', 0, 0, '0', "f3", ""), 3, nullptr, -1, -1, -1, -1, -1, 0, 0},
      {"whole field ignores a separator", autobuild('1', '0', 0, 0, '2', "f3", "/"), 3, nullptr,
       -1, -1, -1, -1, -1, 0, 2},
      {"columns", autobuild('1', '1', 2, 5, '1', "f4", ""), 4, nullptr, 2, 5, -1, -1, -1, 0, 1},
      {"part", autobuild('1', '1', 1, 0, '0', "f0", "/"), 0, "/", -1, -1, 1, -1, -1, 0, 0},
      {"part from the end", autobuild('5', '1', 2, 0, '4', "f0", "/"), 0, "/", -1, -1, -1, 2, -1,
       0, 4},
      {"fixed part", autobuild('3', '1', 4, 0, '0', "f0", ";"), 0, ";", -1, -1, 4, -1, -1, 0, 0},
      {"multi-level", autobuild('1', '2', 0, 2, '0', "f1", "/"), 1, "/", -1, -1, 0, -1, 2, 1, 0},
      {"multi-level from the end", autobuild('5', '2', 1, 3, '0', "f1", "#"), 1, "#", -1, -1, -1,
       1, 3, 1, 0},
      {"largest part", autobuild('1', '2', 127, 127, '0', "f1", "/"), 1, "/", -1, -1, 127, -1,
       127, 1, 0},
      {"unknown type", autobuild('1', '7', 9, 9, '3', "f2", "/"), 2, "/", -1, -1, -1, -1, -1, 0, 3},
      {"no field name", autobuild('1', '0', 0, 0, '0', "", ""), -1, nullptr, -1, -1, -1, -1, -1,
       0, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    readNewProfile(profile(axis("A") + "C" + c.record).c_str());
    AxisLabel& l = firstItem();
    EXPECT_EQ(l.label, noneLabel) << c.name;
    EXPECT_EQ(l.field, c.field) << c.name;
    if (c.sep) {
      ASSERT_NE(l.separator(), nullptr) << c.name;
      EXPECT_EQ(*l.separator(), c.sep) << c.name;
    } else {
      EXPECT_EQ(l.separator(), nullptr) << c.name;
    }
    EXPECT_EQ(l.firstColumn, c.firstColumn) << c.name;
    EXPECT_EQ(l.lastColumn, c.lastColumn) << c.name;
    EXPECT_EQ(l.part, c.part) << c.name;
    EXPECT_EQ(l.backPart, c.backPart) << c.name;
    EXPECT_EQ(l.lastPart, c.lastPart) << c.name;
    EXPECT_EQ(int(l.multiLevelExpand), c.multi) << c.name;
    EXPECT_EQ(int(l.sort), c.sort) << c.name;
    EXPECT_EQ(l.hash, nullptr) << c.name;
    EXPECT_EQ(expandProfile, 1) << c.name;
  }
}

TEST_F(ProfileReader, DateRecordsBecomePlaceholders) {
  readNewProfile(profile(axis("When") + "C" + dateRecord("f2", "YYYY-MM-DD", "YQM") + "N" +
                         dateRecord("f5", "DD/MM/YYYY", "Y") + "N" + item("after"))
                     .c_str());
  EXPECT_EQ(render(axisRootIndex[0]), "When(Date placeholder,Date placeholder,after)");
  AxisLabel& first = firstItem();
  AxisLabel& second = axisLabels[first.sibling];
  EXPECT_EQ(int(first.dateIndex), 1);
  EXPECT_EQ(int(second.dateIndex), 2);
  EXPECT_EQ(dateTable[1].field, 5);
  EXPECT_EQ(dateLastCategory, 0);
  EXPECT_EQ(expandProfile, 1);
}

TEST_F(ProfileReader, MeasureRecords) {
  struct Case {
    const char* name;
    string record;
    const char* label;
    int field;
    const char* function;  // null: none
    const char* format;    // null: none
  };
  const Case cases[] = {
      {"extract", extract('1', '7', "f7", "Sales", "2"), "Sales", 7, nullptr, "D2N2"},
      {"extract of an older file", extract('1', '1', "f7", "Sales", ""), "Sales", 7, nullptr,
       "D1N3"},
      {"counting flag", extract('3', '8', "f7", "Count", "0"), "Count", -2, nullptr, "D3N0"},
      {"counting f-1", extract('1', '5', "f-1", "Count", "9"), "Count", -2, nullptr, "D0N9"},
      {"counting -1", extract('1', '5', "-1", "Count", "9"), "Count", -2, nullptr, "D0N9"},
      {"counting without field", extract('1', '4', "", "Count", ""), "Count", -2, nullptr,
       "D11N9"},
      {"label record", item("Count"), "Count", -2, nullptr, "D0N0"},
      {"computed", computed("Margin", '5', "Sales*2", "0"), "Margin", -1, "Sales*2", "D0N0"},
      {"computed with an empty function", computed("Plain", '1', "", ""), "Plain", -1, "",
       "D1N3"},
  };
  for (const Case& c : cases) {
    SetUp();
    readNewProfile(profile(axis("A") + "C" + measures("M", "m1") + "C" + c.record).c_str());
    AxisLabel& l = axisLabels[axisLabels[recordAxisRoot].child];
    EXPECT_EQ(l.label, c.label) << c.name;
    EXPECT_EQ(l.field, c.field) << c.name;
    if (c.function) {
      ASSERT_NE(l.function(), nullptr) << c.name;
      EXPECT_STREQ(l.function(), c.function) << c.name;
    } else {
      EXPECT_EQ(l.function(), nullptr) << c.name;
    }
    ASSERT_NE(l.format(), nullptr) << c.name;
    EXPECT_EQ(*l.format(), c.format) << c.name;
    EXPECT_EQ(expandProfile, 0) << c.name;
  }
}

TEST_F(ProfileReader, RootAndMatchFunctions) {
  struct Case {
    const char* name;
    string nodes;
    bool root;             // the label looked at is axis 0's root, else its first item
    const char* function;  // null: none
  };
  const Case cases[] = {
      {"axis without function", axis("A"), true, nullptr},
      {"axis with a function", axis("A", "02", "sum.own(all)"), true, "'sum.own(all)'"},
      {"axis function code 2 without text", axis("A", "02", ""), true, nullptr},
      {"match without function", axis("A") + "C" + matchItem("a", "02f1=L01x"), false, nullptr},
      {"match with a function", axis("A") + "C" + matchItem("a", "02f1=L01x", "02", "avg"),
       false, "'avg'"},
  };
  for (const Case& c : cases) {
    SetUp();
    readNewProfile(profile(c.nodes).c_str());
    AxisLabel& l = c.root ? axisLabels[axisRootIndex[0]] : firstItem();
    if (c.function) {
      ASSERT_NE(l.function(), nullptr) << c.name;
      EXPECT_STREQ(l.function(), c.function) << c.name;
    } else {
      EXPECT_EQ(l.function(), nullptr) << c.name;
    }
  }
}

TEST_F(ProfileReader, MatchRecordsCarryTheirParsedExpression) {
  readNewProfile(
      profile(axis("A") + "C" + matchItem("a", "02f1=L01x") + "N" + matchItem("all", "")).c_str());
  AxisLabel& a = firstItem();
  EXPECT_EQ(a.label, "a");
  ASSERT_NE(a.match, nullptr);
  ASSERT_EQ(a.match->type, MATCH_LEAF);
  EXPECT_EQ(a.match->leaf->field, 1);
  EXPECT_STREQ(a.match->leaf->value, "x");
  EXPECT_EQ(axisLabels[a.sibling].match, nullptr);  // an empty expression matches all
}

TEST_F(ProfileReader, MeasuresRootKeepsItsFunction) {
  readNewProfile(profile(axis("A") + "C" + measures("Money", "m1") + "C" + axis("B")).c_str());
  EXPECT_EQ(axisLabels[recordAxisRoot].label, "Money");
  EXPECT_STREQ(axisLabels[recordAxisRoot].function(), "m1");
  EXPECT_EQ(numberOfAxes, 2);
  SetUp();
  readNewProfile(profile(axis("A") + "C" + measures("Money")).c_str());
  EXPECT_EQ(axisLabels[recordAxisRoot].function(), nullptr);
}

TEST_F(ProfileReader, FieldNamesBecomeSlotsUnderTheProfilesHeaderFlag) {
  struct Case {
    const char* data;
    const char* names[3];
    int slots[3];
  };
  const Case cases[] = {
      {"text:d.txt;0;,", {"f7", "f0", "f7"}, {7, 0, 7}},
      {"text:d.txt;1;,", {"b", "a", "b"}, {0, 1, 0}},
  };
  for (const Case& c : cases) {
    SetUp();
    string nodes = axis("A") + "C";
    for (int i = 0; i < 3; i++)
      nodes += (i ? "N" : "") + autobuild('1', '0', 0, 0, '0', c.names[i], "");
    readNewProfile(profile(nodes, Params().data(c.data)).c_str());
    int n = axisLabels[axisRootIndex[0]].child;
    for (int i = 0; i < 3; i++, n = axisLabels[n].sibling)
      EXPECT_EQ(axisLabels[n].field, c.slots[i]) << c.data << " " << c.names[i];
  }
}

TEST_F(ProfileReader, NumberFormats) {
  struct Case {
    int code1, code2;
    const char* format;
  };
  const Case cases[] = {
      {7, 2, "D2N2"}, {1, -1, "D1N3"}, {3, -1, "D12N9"}, {4, -1, "D11N9"}, {0, -1, "D0N0"},
      {2, -1, "D0N0"}, {8, 0, "D3N0"}, {5, 9, "D0N9"},  {2, 5, "D0N5"},   {63, 63, "D58N63"},
  };
  int n = getNextFree();
  for (const Case& c : cases) {
    string label = "x";
    setNodeFormat(n, c.code1, c.code2, label);
    ASSERT_NE(axisLabels[n].format(), nullptr);
    EXPECT_EQ(*axisLabels[n].format(), c.format) << c.code1 << "," << c.code2;
  }
}

TEST_F(ProfileReader, Errors) {
  struct Case {
    const char* name;
    string text;
    int code;
    string message;
  };
  string axes33;
  for (int i = 0; i < 33; i++) axes33 += (i ? "C" : "") + axis("A");
  Params badFlag;
  badFlag.booleans[5] = '2';
  Params badNewFlag;
  badNewFlag.newBooleans[0] = 'x';
  // Byte offsets after the header: P is the 'C' after the parameter record; a first item
  // after axis("A") and 'C' starts at P + 12.
  const int P = int(Params().text().size());
  auto at = [](int byte) { return " at byte " + std::to_string(byte); };
  const Case cases[] = {
      {"sort code", profile(axis("A") + "C" + autobuild('1', '0', 0, 0, '5', "f1", "")), 110,
       "Unknown sort method 5.\n"},
      {"format without second code", profile(axis("A") + "C" + extract('1', '7', "f1", "x", "")),
       110, "Bad format for node 'x'\n"},
      {"computed format without second code",
       profile(axis("A") + "C" + computed("c", '9', "a", "")), 110, "Bad format for node 'c'\n"},
      {"dimension function", profile(axis("A", "03", "f")), 110,
       "Unknown dimension function 3(f)\n"},
      {"match function", profile(axis("A") + "C" + matchItem("a", "", "00", "")), 110,
       "Unknown match rollup function 0()\n"},
      {"33rd axis", profile(axes33), 110, "More than 32 axes defined.\n"},
      {"item before any root", profile(item("a")), 110,
       "Node record '9'" + at(P + 1) + " has no label to hang from.\n"},
      {"N before any root", profile("N" + axis("A")), 110,
       "Tree operator 'N'" + at(P + 1) + " has no current label.\n"},
      {"P before any root", profile("P"), 110,
       "Tree operator 'P'" + at(P + 1) + " has no current label.\n"},
      {"C after climbing out of the first root", profile(axis("A") + "PC" + item("a")), 110,
       "Tree operator 'C'" + at(P + 12) + " has no current label.\n"},
      {"item after climbing out of the first root", profile(axis("A") + "P" + item("a")), 110,
       "Node record '9'" + at(P + 12) + " has no label to hang from.\n"},
      {"part above 127", profile(axis("A") + "C" + autobuild('1', '1', 128, 0, '0', "f1", "/")),
       110, "Part or column 128" + at(P + 15) + " is too large: at most 127.\n"},
      {"last column above 127",
       profile(axis("A") + "C" + autobuild('1', '1', 1, 255, '0', "f1", "")), 110,
       "Part or column 255" + at(P + 17) + " is too large: at most 127.\n"},
      {"last part above 127",
       profile(axis("A") + "C" + autobuild('1', '2', 1, 200, '0', "f1", "/")), 110,
       "Part or column 200" + at(P + 17) + " is too large: at most 127.\n"},
      {"flag that is no digit", "0411|" + badFlag.text() + "X", 110,
       "Bad flag '2'" + at(6) + ".\n"},
      {"flag after the long strings", "0411|" + badNewFlag.text() + "X", 110,
       "Bad flag 'x'" + at(P - 34) + ".\n"},
      {"format code that is no spibble",
       profile(axis("A") + "C" + extract('1', '#', "f1", "x", "0")), 110,
       "Bad spibble '#'" + at(P + 14) + ".\n"},
      {"sort code that is no spibble",
       profile(axis("A") + "C" + autobuild('1', '0', 0, 0, '#', "f1", "")), 110,
       "Bad spibble '#'" + at(P + 19) + ".\n"},
  };
  for (const Case& c : cases)
    EXPECT_EXIT(readNewProfile(c.text.c_str()), ExitedWithCode(c.code),
                fatalText(c.code, c.message))
        << c.name;
}

TEST_F(ProfileReader, UnknownRecordTypeEndsWithStatusOne) {
  EXPECT_EXIT(readNewProfile(profile(axis("A") + "Q").c_str()), ExitedWithCode(1),
              ::testing::Eq("Unknown node type: Q\n"));
}

TEST_F(ProfileReader, TruncatedTextsEndInsideTheText) {
  const string cut[] = {
      "0411|8" + string(defaultBooleans).substr(0, 20),
      "0411|" + Params().text().substr(0, 60),
      profile(axis("A") + "C" + "9" + "05ab"),
      profile(axis("A") + "C" + "1" + "10"),
  };
  for (const string& text : cut) {
    // Ends exactly where the text ends: no byte past it is looked at.
    string t = text;
    if (t.back() == 'X') t.pop_back();
    EXPECT_EXIT(readNewProfile(t.c_str()), ExitedWithCode(110), "^Error 110: ") << t;
  }
}

TEST_F(ProfileReader, TooManyFieldNamesAreRefused) {
  string nodes = axis("A") + "C";
  for (int i = 0; i < 514; i++)
    nodes += (i ? "N" : "") + autobuild('1', '0', 0, 0, '0', "n" + std::to_string(i), "");
  EXPECT_EXIT(readNewProfile(profile(nodes, Params().data("text:d.txt;1;,")).c_str()),
              ExitedWithCode(110), "^Error 110: Too many field names");
}

// A profile compiled by tarnwick from the text beside it reads back as that text says.
TEST_F(ProfileReader, CompiledSampleReadsBack) {
  std::ifstream in(FIXTURES_DIR "/newProfile/sample.qv4");
  ASSERT_TRUE(in.good());
  std::stringstream all;
  all << in.rdbuf();
  dataFileName = nullptr;
  readNewProfile(all.str().c_str());

  EXPECT_EQ(model(),
            "Region(North(Oslo,Bergen),South) Product((none)((none))) When(Date placeholder) "
            "| Money(Sales,Count,Margin)");
  EXPECT_EQ(dataType, textData);
  EXPECT_STREQ(dataFileName, "sales.txt");
  EXPECT_EQ(separator, ',');
  EXPECT_EQ(skipFirstLine, 1);
  EXPECT_EQ(decimalPoints, 3);
  EXPECT_STREQ(lumetraWidth, "640");
  EXPECT_STREQ(lumetraHeight, "100%");
  EXPECT_EQ(noQuery, 1);
  EXPECT_EQ(row(bParams, "hidepiechart").set, 1);
  EXPECT_EQ(np_description, "Sales by region");
  EXPECT_EQ(expandProfile, 1);

  // Field slots in the order the profile names them.
  const char* const names[] = {"region", "city", "product", "code", "sold", "amount"};
  for (int i = 0; i < 6; i++) EXPECT_STREQ(dataFieldNames[i], names[i]) << i;
  AxisLabel& product = firstItem(1);
  EXPECT_EQ(product.field, 2);
  EXPECT_EQ(int(product.sort), 1);
  AxisLabel& code = axisLabels[product.child];
  EXPECT_EQ(code.field, 3);
  EXPECT_EQ(code.firstColumn, 2);
  EXPECT_EQ(code.lastColumn, 5);
  EXPECT_EQ(int(firstItem(2).dateIndex), 1);
  EXPECT_EQ(dateTable[0].field, 4);

  int sales = axisLabels[recordAxisRoot].child;
  int count = axisLabels[sales].sibling;
  int margin = axisLabels[count].sibling;
  EXPECT_EQ(axisLabels[sales].field, 5);
  EXPECT_EQ(*axisLabels[sales].format(), "D1N3");
  EXPECT_EQ(axisLabels[count].field, -2);
  EXPECT_STREQ(axisLabels[margin].function(), "Sales*2");
  EXPECT_EQ(*axisLabels[margin].format(), "D0N0");
}

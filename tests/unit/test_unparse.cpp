// The unparser: record readers, the tree operators of parse, the setup block, the
// data-source lines, the script tree and the text form of match expressions.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/preferences.h"
#include "common/util.h"
#include "profile/unparse.h"

namespace {

string S(const string& s) { return makeString(2, s.c_str()); }   // short string
string L(const string& s) { return makeString(4, s.c_str()); }   // long string
string S1(const string& s) { return makeString(1, s.c_str()); }  // shortest string

// A parameter record as the compiler writes it for a profile whose setup sets nothing; tests
// change the fields they are about.
struct ParamRecord {
  string booleans = "0000000010000000000010101100001111101001";
  string decimals = "02";
  string colours = "9ecfb2" "9e9ecf" "5a96ff";
  string size = "4e84" "4e84";
  std::vector<string> shorts = {"..", ";0;\t", "../help/hh_start.htm", "", "",
                                "varkel4.exe", "/cgi-bin/", "pellack4.exe"};
  std::vector<string> longs = {"", "", "", "", "", ";0;\t", "", "", "", "", "", "", "", ""};
  string nb = "1110000000000";
  string bytes = "03" "000000000000000000";

  // The record from just after its '8' through its '|'.
  string body() const {
    string r = booleans + decimals + colours + size;
    for (auto& s : shorts) r += S(s);
    for (auto& s : longs) r += L(s);
    return r + nb + bytes + "|";
  }
  // A whole compiled profile: header, this record, then the given node records.
  string file(const string& nodes) const { return "0411|8" + body() + nodes; }
};

// Everything written to a stream by f.
string captured(const std::function<void(FILE*)>& f) {
  FILE* out = tmpfile();
  f(out);
  fflush(out);
  rewind(out);
  string s;
  int c;
  while ((c = fgetc(out)) != EOF) s += char(c);
  fclose(out);
  return s;
}

// A stream that reads text.
FILE* streamOf(const string& text) {
  FILE* in = tmpfile();
  fwrite(text.data(), 1, text.size(), in);
  rewind(in);
  return in;
}

// How a call that may end the process ended: its exit status and its standard error.
struct Outcome {
  int status;
  string err;
};

// Runs f in a child process (fatal exits it) and reports the status and standard error.
Outcome runToEnd(const std::function<void()>& f) {
  fflush(nullptr);
  int fds[2];
  if (pipe(fds) != 0) abort();
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 2);
    FILE* sink = fopen("/dev/null", "w");
    if (sink) dup2(fileno(sink), 1);
    f();
    fflush(nullptr);
    _exit(0);
  }
  close(fds[1]);
  Outcome o{-1, ""};
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) o.err.append(buf, size_t(n));
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return o;
}

// The whole script body that parse prints for a compiled profile.
string parsed(const string& file) {
  FILE* in = streamOf(file);
  string s = captured([&](FILE* out) { EXPECT_EQ(parse(in, out), 0); });
  fclose(in);
  return s;
}

// printSetup changes bParams; every test starts from the built-in tables.
class Unparse : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < numBParams; i++) saved.push_back(bParams[i]);
  }
  void TearDown() override {
    for (int i = 0; i < numBParams; i++) bParams[i] = saved[size_t(i)];
  }
  std::vector<BooleanParam> saved;
};

const char* const defaultSetup =
    "setup {\n"
    "\tdecimalpoints=2\n"
    "\theight=20100\n"
    "\twidth=20100\n"
    "\tcodebase=\"..\"\n"
    "\thelpurl=\"../help/hh_start.htm\"\n"
    "\tcginame=\"varkel4.exe\"\n"
    "\tcgiroot=\"/cgi-bin/\"\n"
    "\tpellackname=\"pellack4.exe\"\n"
    "\tseparator=\"\t\"\n"
    "\tfirstfieldnames=false\n"
    "\tdata=\"\"\n"
    "\tallowviewsourcerecords=true\n";

TEST_F(Unparse, RecordReadersGiveTheirScriptLines) {
  struct Case {
    const char* what;
    string record;  // after the type letter, through '|'
    node* (*reader)(const char*, int*);
    const char* line;
  };
  const Case cases[] = {
      {"autobuild whole field", "10" "0000" "0" + S("City") + S("") + "|", readAutobuildRecord,
       "autobuild = 'City'"},
      {"autobuild columns", "11" "0204" "0" + S("Code") + S("") + "|", readAutobuildRecord,
       "autobuild = 'Code'[2-4]"},
      {"autobuild part", "11" "0200" "1" + S("Path") + S("/") + "|", readAutobuildRecord,
       "autobuild = 'Path'[2,\"/\"] sorta-z"},
      {"autobuild part from the end", "51" "0200" "4" + S("Path") + S("/") + "|",
       readAutobuildRecord, "autobuild = 'Path'[-2,\"/\"] sort9-0"},
      {"autobuild part from the end, empty separator", "51" "0200" "0" + S("Path") + S("") + "|",
       readAutobuildRecord, "autobuild = 'Path'[-2,\"\"]"},
      {"multi-level expand", "12" "0103" "0" + S("City") + S("/") + "|", readAutobuildRecord,
       "autobuild = multi_level_expand('City', 1, 3, \"/\")"},
      {"reverse multi-level expand", "52" "0103" "0" + S("City") + S("/") + "|",
       readAutobuildRecord, "autobuild = reverse_multi_level_expand('City', 1, 3, \"/\")"},
      {"date, year ending in December", "1C" + S("When") + S("DD.MM.YYYY") + S("Y+M") +
           S("") + S("") + "|", readDateRecord,
       "autobuild = date('When', \"DD.MM.YYYY\", \"Y+M\")"},
      {"date, fiscal year ending in March", "13" + S("When") + S("YYYYMMDD") + S("Y") +
           S("1998") + S("2002") + "|", readDateRecord,
       "autobuild = date('When', \"YYYYMMDD\", \"Y\", 3)"},
      {"date, month 13 read as December", "1D" + S("When") + S("YYYY") + S("Y") + S("") +
           S("") + "|", readDateRecord, "autobuild = date('When', \"YYYY\", \"Y\")"},
      {"axis without compute", "1" + S("Region") + "01" + S("") + "|", readAxisRecord,
       "axis \"Region\""},
      {"axis, code 2 and no text", "1" + S("Region") + "02" + S("") + "|", readAxisRecord,
       "axis \"Region\""},
      {"axis with compute", "1" + S("Region") + "02" + S("max.own(all)") + "|",
       readAxisRecord, "axis \"Region\" compute='max.own(all)'"},
      {"extract, new codes", "17" + S("Amt") + S("Amount") + "2|", readExtractRecord,
       "\"Amount\" extract='Amt' format=\"D2N2\""},
      {"extract, old first code", "13" + S("Amt") + S("Hours") + "|", readExtractRecord,
       "\"Hours\" extract='Amt' format=\"D12N9\""},
      {"extract, old code with second", "14" + S("Amt") + S("Pct") + "5|", readExtractRecord,
       "\"Pct\" extract='Amt' format=\"D4N5\""},
      {"computed", S("Ratio") + "6" + S("a/b") + "3|", parseFunction,
       "\"Ratio\" compute=\"a/b\" format=\"D1N3\""},
      {"plain item", S("Other") + "1" + S("") + "|", parseFunction,
       "\"Other\" compute=\"\" format=\"D1N3\""},
      {"match", "1" "01" + S("") + S("North") + S(S("Reg") + "=L" + S("N")) + "|",
       readMatchRecord, "\"North\" match ('Reg' equals \"N\")"},
      {"match with empty text", "1" "01" + S("") + S("All") + S("") + "|", readMatchRecord,
       "\"All\" match ('f0' contains '')"},
      {"match with compute", "1" "02" + S("x+1") + S("Up") + S("") + "|", readMatchRecord,
       "\"Up\" match ('f0' contains '') compute=\"x+1\""},
      {"measures", S("Measures") + S("") + "|", readMeasureRecord, "axis measure \"Measures\""},
      {"measures with compute", S("Total") + S("sum.own(all)") + "|", readMeasureRecord,
       "axis measure \"Total\" compute=\"sum.own(all)\""},
      {"label", S("Note") + "|", readLabelRecord, "\"Note\" extract=f-1"},
      {"quotes in texts", "1" "01" + S("") + S("6\" \"x\"") + S(S("O'K") + "=L" + S("a\"b")) +
           "|", readMatchRecord,
       "\"6\\\" \\\"x\\\"\" match ('O\\'K' equals \"a\\\"b\")"},
  };
  for (auto& c : cases) {
    int pos = 0;
    node* n = c.reader(c.record.c_str(), &pos);
    EXPECT_EQ(n->text, c.line) << c.what;
    EXPECT_EQ(pos, int(c.record.size())) << c.what;
    EXPECT_EQ(n->child, nullptr);
    EXPECT_EQ(n->next, nullptr);
  }
}

TEST_F(Unparse, RecordReadersRefuseBadRecords) {
  struct Case {
    const char* what;
    string record;
    node* (*reader)(const char*, int*);
    const char* err;
  };
  const Case cases[] = {
      {"a field more than known", S("Note") + "05extra|", readLabelRecord,
       "Error 110: Unexpected end-of-node seen near byte 7, '04Note05extra|'\n"},
      {"autobuild type 3", "13" "0000" "0" + S("City") + S("") + "|", readAutobuildRecord,
       "Error 110: Unknown autobuild type 3\n"},
      {"sort code 5", "10" "0000" "5" + S("City") + S("") + "|", readAutobuildRecord,
       "Error 110: Unknown sort type 5\n"},
      {"record cut inside a string", "1" "05Regi", readAxisRecord,
       "Error 110: String of length 5 at byte 1 runs past the end of the text\n"},
      {"record cut before its '|'", S("Note"), readLabelRecord,
       "Error 110: Unexpected end-of-node seen near byte 7, '04Note'\n"},
      {"new first code without a second", "17" + S("Amt") + S("Amount") + "|",
       readExtractRecord, "Error 110: Bad format for node 'Amount'\n"},
      {"first code no spibble", S("R") + "#" + S("") + "|", parseFunction,
       "Error 110: Bad format for node 'R'\n"},
      {"unknown match operator", "1" "01" + S("") + S("A") + S(S("f") + "=q" + S("1")) + "|",
       readMatchRecord, "Error 110: Unknown match operator char 'q'\n"},
  };
  for (auto& c : cases) {
    Outcome o = runToEnd([&] {
      int pos = 0;
      c.reader(c.record.c_str(), &pos);
    });
    EXPECT_EQ(o.status, 110) << c.what;
    EXPECT_EQ(o.err, c.err) << c.what;
  }
}

TEST_F(Unparse, CheckEndPassesTheBarOrQuotesTheTextAroundIt) {
  int pos = 3;
  checkEnd("abc|d", &pos);
  EXPECT_EQ(pos, 4);

  struct Case {
    string text;
    int pos;
    const char* err;
  };
  const string longText = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJ";
  const Case cases[] = {
      // Nearer than 20 to the start: the excerpt begins at the start.
      {"abcdef", 2, "Error 110: Unexpected end-of-node seen near byte 3, 'abcdef'\n"},
      // 20 before the advanced position, 31 characters long.
      {longText, 29, "Error 110: Unexpected end-of-node seen near byte 30, "
                     "'abcdefghijklmnopqrstuvwxyzABCDE'\n"},
      // At the end of the text: the excerpt stops at the end.
      {longText, 46, "Error 110: Unexpected end-of-node seen near byte 47, "
                     "'rstuvwxyzABCDEFGHIJ'\n"},
  };
  for (auto& c : cases) {
    Outcome o = runToEnd([&] {
      int p = c.pos;
      checkEnd(c.text.c_str(), &p);
    });
    EXPECT_EQ(o.status, 110) << c.text;
    EXPECT_EQ(o.err, c.err) << c.text;
  }
}

TEST_F(Unparse, MatchTextsReadAsTheProfileLanguage) {
  struct Case {
    string encoded;
    const char* text;
  };
  const Case cases[] = {
      {S("A") + "=L" + S("abc"), "'A' equals \"abc\""},
      {S("A") + "=V" + S("100"), "'A' > 100"},
      {S("A") + "=T" + S("-1.5") + "K" + S("A") + "=Y" + S("0"), "'A' = -1.5 OR 'A' <= 0"},
      {S("A") + "=L" + S("x") + "J(" + S("B") + "=N" + S("y") + "K" + S("C") + "=z" + S("^q") +
           ")",
       "'A' equals \"x\" AND ('B' contains \"y\" OR 'C' not regexp \"^q\")"},
      {"((" + S("A") + "=M" + S("x") + "K" + S("B") + "=O" + S("y") + ")J" + S("C") + "=P" +
           S("z") + ")",
       "(('A' not equals \"x\" OR 'B' not contains \"y\") AND 'C' startswith \"z\")"},
      {S("A") + "=L" + S("a") + "J((" + S("B") + "=L" + S("b") + "))",
       "'A' equals \"a\" AND (('B' equals \"b\"))"},
      {S("Code") + "G14=Q" + S("x"), "'Code'[1-4] not startswith \"x\""},
      {S("Path") + "H" + S1("/") + "2=R" + S("y"), "'Path'[2,\"/\"] endswith \"y\""},
      {S("Path") + "I" + S1("/") + "2=S" + S("y"), "'Path'[-2,\"/\"] not endswith \"y\""},
      {S("A") + "=Z" + S("a|b"), "'A' regexp \"a|b\""},
      {S("A") + "=L" + S("\"\""), "'A' equals \"\\\"\\\"\""},
      {S("A") + "=L" + S(""), "'A' equals \"\""},
      {S("A") + "=L" + S("say \"hi\""), "'A' equals \"say \\\"hi\\\"\""},
      {S("A") + "=U" + S("3") + "J" + S("B") + "=W" + S("4") + "K" + S("C") + "=X" + S("5"),
       "'A' <> 3 AND 'B' < 4 OR 'C' >= 5"},
  };
  for (auto& c : cases) {
    int pos = 0;
    EXPECT_EQ(unparseMatch(c.encoded.c_str(), &pos), c.text) << c.encoded;
    EXPECT_EQ(pos, int(c.encoded.size())) << c.encoded;
  }
}

TEST_F(Unparse, BadMatchTextsAreRefused) {
  struct Case {
    string encoded;
    const char* err;
  };
  const string a = S("A") + "=L" + S("x");
  const Case cases[] = {
      {a + "Q" + a, "Error 110: Unknown match connector 'Q'\n"},
      {S("A") + "#=L" + S("x"), "Error 110: Unknown character '#' in match field '01A#=L01x'\n"},
      {S("A") + "G12L" + S("x"),
       "Error 110: Unknown character 'L' in match field '01AG12L01x'\n"},
      {S("A"), "Error 110: Match text '01A' ends inside a condition.\n"},
      {S("A") + "=", "Error 110: Match text '01A=' ends inside a condition.\n"},
      {a + "J", "Error 110: Found negative string length at byte 9\n"},
      {S("A") + "=y" + S("x"), "Error 110: Unknown match operator char 'y'\n"},
  };
  for (auto& c : cases) {
    Outcome o = runToEnd([&] {
      int pos = 0;
      unparseMatch(c.encoded.c_str(), &pos);
    });
    EXPECT_EQ(o.status, 110) << c.encoded;
    EXPECT_EQ(o.err, c.err) << c.encoded;
  }
}

TEST_F(Unparse, DefaultSetupSaysOnlyWhatIsAlwaysSaid) {
  ParamRecord r;
  string body = r.body();
  int pos = 0;
  string out = captured([&](FILE* f) { EXPECT_NE(printSetup(body.c_str(), &pos, f), nullptr); });
  EXPECT_EQ(out, defaultSetup);
  EXPECT_EQ(pos, int(body.size()));
}

TEST_F(Unparse, SetupSaysWhatDiffersFromTheDefaults) {
  // The default setup's lines around what a case changes.
  const string head = "setup {\n\tdecimalpoints=2\n";
  const string sizes = "\theight=20100\n\twidth=20100\n";
  const string shorts =
      "\tcodebase=\"..\"\n\thelpurl=\"../help/hh_start.htm\"\n\tcginame=\"varkel4.exe\"\n"
      "\tcgiroot=\"/cgi-bin/\"\n\tpellackname=\"pellack4.exe\"\n";
  const string data = "\tseparator=\"\t\"\n\tfirstfieldnames=false\n\tdata=\"\"\n";
  const string view = "\tallowviewsourcerecords=true\n";
  struct Case {
    const char* what;
    std::function<void(ParamRecord&)> change;
    string setup;
  };
  const Case cases[] = {
      {"colours off their defaults",
       [](ParamRecord& r) { r.colours = "9ecfb3" "9e9ecf" "010203"; },
       head + "\tverticalcolor=(158,207,179)\n\tdatacolor=(1,2,3)\n" + sizes + shorts + data +
           view},
      {"red alone off its default", [](ParamRecord& r) { r.colours = "9ecfb2" "9f9ecf" "5a96ff"; },
       head + "\thorizontalcolor=(159,158,207)\n" + sizes + shorts + data + view},
      {"booleans off their defaults",
       [](ParamRecord& r) {
         r.booleans[13] = '1';  // hidepiechart
         r.booleans[20] = '0';  // 3dgraphics
         r.booleans[8] = '0';   // allownavigation: never said
         r.booleans[30] = '0';  // allowviewsourcerecords
       },
       head + sizes + shorts + data +
           "\thidepiechart=true\n\t3dgraphics=false\n\tallowviewsourcerecords=false\n"},
      {"further booleans and small numbers",
       [](ParamRecord& r) {
         r.nb = "0110000001000";
         r.bytes = "05" "010000000000000000";
       },
       head + sizes + shorts + data + view + "\thformatpriority=false\n\tpieminimum=5\n"},
      {"numbers and strings",
       [](ParamRecord& r) {
         r.decimals = "0a";
         r.size = "01f4" "4e5c";
         r.shorts[0] = "";
         r.shorts[3] = "go()";
         r.shorts[4] = "main";
         r.longs[0] = "0003abc";
         r.longs[3] = "Sales by \"region\"";
         r.longs[4] = "+30";
         r.longs[6] = "Region";
         r.longs[9] = "reserved";
       },
       "setup {\n\tdecimalpoints=10\n\theight=500\n\twidth=20060\n\tcodebase=\"\"\n"
       "\thelpurl=\"../help/hh_start.htm\"\n\truncode=\"go()\"\n\twindowname=\"main\"\n"
       "\tcginame=\"varkel4.exe\"\n\tcgiroot=\"/cgi-bin/\"\n\tpellackname=\"pellack4.exe\"\n"
       "\treports=\"0003abc\"\n\tdescription=\"Sales by \\\"region\\\"\"\n"
       "\tcubeexpiry=\"+30\"\n\tgeographydimension=\"Region\"\n" +
           data + view},
      {"short strings emptied where their defaults are not, and one empty by default",
       [](ParamRecord& r) {
         r.shorts[2] = "";
         r.shorts[5] = "";
         r.shorts[7] = "";
       },
       head + sizes +
           "\tcodebase=\"..\"\n\thelpurl=\"\"\n\tcginame=\"\"\n\tcgiroot=\"/cgi-bin/\"\n"
           "\tpellackname=\"\"\n" +
           data + view},
      {"a data source",
       [](ParamRecord& r) {
         r.shorts[1] = "text:short.txt;0;\t";
         r.longs[5] = "text:d.txt;1;,";
       },
       head + sizes + shorts +
           "\tseparator=\",\"\n\tfirstfieldnames=true\n\tdata=\"text:d.txt\"\n" + view},
  };
  for (auto& c : cases) {
    TearDown();
    ParamRecord r;
    c.change(r);
    string body = r.body();
    int pos = 0;
    string out = captured([&](FILE* f) { printSetup(body.c_str(), &pos, f); });
    EXPECT_EQ(out, c.setup) << c.what;
    EXPECT_EQ(pos, int(body.size())) << c.what;
  }
}

TEST_F(Unparse, OlderParameterRecordsEndEarly) {
  // Four long strings, no further booleans or small numbers: the data source comes from
  // the short copy and no cubeexpiry is said.
  ParamRecord r;
  r.shorts[1] = "text:old.txt;0;,";
  r.nb = "";
  r.bytes = "";
  r.longs = {"", "", "", "About"};
  string body = r.body();
  int pos = 0;
  string out = captured([&](FILE* f) { printSetup(body.c_str(), &pos, f); });
  EXPECT_EQ(pos, int(body.size()));
  EXPECT_NE(out.find("\tdescription=\"About\"\n\tseparator=\",\"\n\tfirstfieldnames=false\n"
                     "\tdata=\"text:old.txt\"\n"),
            string::npos)
      << out;
  EXPECT_EQ(out.find("cubeexpiry"), string::npos);
  EXPECT_EQ(out.find("pieminimum"), string::npos);
}

TEST_F(Unparse, DescriptionDifferingOnlyInCaseIsNotSaid) {
  StringParam before = lsParams[3];
  lsParams[3].value = "Sales Cube";
  ParamRecord r;
  r.longs[3] = "SALES CUBE";
  string body = r.body();
  int pos = 0;
  string out = captured([&](FILE* f) { printSetup(body.c_str(), &pos, f); });
  lsParams[3] = before;
  EXPECT_EQ(out, defaultSetup);
}

TEST_F(Unparse, ParameterRecordWithAFieldTooManyIsRefused) {
  ParamRecord r;
  r.bytes += "00";
  string body = r.body();
  Outcome o = runToEnd([&] {
    int pos = 0;
    printSetup(body.c_str(), &pos, stdout);
  });
  EXPECT_EQ(o.status, 110);
  EXPECT_EQ(o.err.rfind("Error 110: Unexpected end-of-node seen near byte ", 0), 0u) << o.err;
}

// The lexer reads a backslash before a closing quote as an escaped quote: a text that ends in
// one cannot be printed so that it compiles back, wherever it stands.
TEST_F(Unparse, TextsEndingInABackslashAreRefused) {
  const char* const err =
      "a quoted text of a profile script cannot end in a backslash.\n";
  ParamRecord setup;
  setup.shorts[0] = "..\\";
  struct Case {
    const char* what;
    std::function<void()> run;
  };
  auto read = [](node* (*reader)(const char*, int*), string record) {
    return [=] {
      int pos = 0;
      reader(record.c_str(), &pos);
    };
  };
  const Case cases[] = {
      {"a label", read(readLabelRecord, S("dir\\") + "|")},
      {"a regexp value", read(readMatchRecord, "1" "01" + S("") + S("A") +
                                                   S(S("f") + "=Z" + S("C:\\\\")) + "|")},
      {"a field", read(readExtractRecord, "1" "0" + S("f\\") + S("A") + "|")},
      {"an autobuild separator",
       read(readAutobuildRecord, "11" "0100" "0" + S("F") + S("\\") + "|")},
      {"an axis compute text", read(readAxisRecord, "1" + S("A") + "02" + S("x\\") + "|")},
      {"the data separator",
       [] { captured([](FILE* f) { printDataSource(f, "text:d;0;\\"); }); }},
      {"a setup string", [&] { parsed(setup.file("X")); }},
  };
  for (auto& c : cases) {
    Outcome o = runToEnd(c.run);
    EXPECT_EQ(o.status, 110) << c.what;
    EXPECT_NE(o.err.find(err), string::npos) << c.what << ": " << o.err;
  }
  // Backslashes elsewhere, before a quote included, read back as they stand.
  int pos = 0;
  node* n = readLabelRecord((S("a\\\"b\\c") + "|").c_str(), &pos);
  EXPECT_EQ(n->text, "\"a\\\\\"b\\c\" extract=f-1");
}

TEST_F(Unparse, DataSourceLines) {
  struct Case {
    const char* data;
    const char* lines;
  };
  const Case cases[] = {
      {"text:d.txt;0;,", "\tseparator=\",\"\n\tfirstfieldnames=false\n\tdata=\"text:d.txt\"\n"},
      {"text:d.txt;1;,", "\tseparator=\",\"\n\tfirstfieldnames=true\n\tdata=\"text:d.txt\"\n"},
      {"cmd:a;b;1;\t", "\tseparator=\"\t\"\n\tfirstfieldnames=true\n\tdata=\"cmd:a;b\"\n"},
      {";0;\"", "\tseparator=\"\\\"\"\n\tfirstfieldnames=false\n\tdata=\"\"\n"},
      {"odbc:dsn;select *", "\tdata=\"odbc:dsn;select *\"\n"},
      {"odbcexport.txt;1;,",
       "\tseparator=\",\"\n\tfirstfieldnames=true\n\tdata=\"odbcexport.txt\"\n"},
      {"odbc:dsn;select *;1;\t", "\tdata=\"odbc:dsn;select *\"\n"},
      // Without a suffix only the source can be said.
      {"text:d.txt", "\tdata=\"text:d.txt\"\n"},
      {";,", "\tdata=\";,\"\n"},
      {"", ""},
  };
  for (auto& c : cases)
    EXPECT_EQ(captured([&](FILE* f) { printDataSource(f, c.data); }), c.lines) << c.data;
}

TEST_F(Unparse, ScriptTreeIndentsItemsBelowTheirAxis) {
  node* axis = newNode();
  axis->text = "axis \"A\"";
  node* a1 = newNode();
  a1->text = "a1";
  node* a2 = newNode();
  a2->text = "a2";
  node* a3 = newNode();
  a3->text = "a3";
  node* a4 = newNode();
  a4->text = "a4";
  node* other = newNode();
  other->text = "axis \"B\"";
  axis->child = a1;
  a1->child = a2;
  a2->child = a3;
  a1->next = a4;
  axis->next = other;
  EXPECT_EQ(captured([&](FILE* f) { printScriptTree(f, axis, 0); }),
            "}\n\naxis \"A\" {\n\ta1\n\t+ a2\n\t+ + a3\n\ta4\n}\n\naxis \"B\" {\n");
  EXPECT_EQ(captured([&](FILE* f) { printScriptTree(f, nullptr, 0); }), "");
}

TEST_F(Unparse, ParseHangsRecordsWhereTheOperatorsSay) {
  ParamRecord r;
  const string axisA = "31" + S("A") + "0100|";
  const string axisB = "31" + S("B") + "0100|";
  auto item = [](const char* label) { return "9" + S(label) + "|"; };
  const string measures = "7" + S("Measures") + S("") + "|";
  struct Case {
    const char* what;
    string nodes;
    string body;  // after the setup block
  };
  const Case cases[] = {
      {"items and a climb back to the next axis",
       "C" + axisA + "C" + item("a1") + "C" + item("a2") + "N" + item("a3") + "PPN" +
           item("a4") + "PPN" + axisB + "C" + item("b1") + "PPN" + measures + "X",
       "}\n\naxis \"A\" {\n\t\"a1\" extract=f-1\n\t+ \"a2\" extract=f-1\n"
       "\t+ \"a3\" extract=f-1\n\t\"a4\" extract=f-1\n}\n\naxis \"B\" {\n"
       "\t\"b1\" extract=f-1\n}\n\naxis measure \"Measures\" {\n}\n\n"},
      {"an empty axis before another axis and the measures",
       "C" + axisA + "C" + axisB + "C" + item("b1") + "PN" + measures + "C" + item("m1") + "X",
       "}\n\naxis \"A\" {\n}\n\naxis \"B\" {\n\t\"b1\" extract=f-1\n}\n\n"
       "axis measure \"Measures\" {\n\t\"m1\" extract=f-1\n}\n\n"},
      {"an empty last axis before the default measures",
       "C" + axisA + "C" + measures + "X", "}\n\naxis \"A\" {\n}\n\naxis measure \"Measures\" {\n}\n\n"},
      {"an item climbed back to its axis joins the axis's items",
       "C" + axisA + "C" + item("a1") + "PN" + item("a2") + "C" + item("a3") + "PPN" + axisB + "X",
       "}\n\naxis \"A\" {\n\t\"a1\" extract=f-1\n\t\"a2\" extract=f-1\n\t+ \"a3\" extract=f-1\n"
       "}\n\naxis \"B\" {\n}\n\n"},
      {"items that climbed back to their axis after deeper first items",
       "C" + axisA + "C" + item("a1") + "PN" + item("a2") + "PN" + item("a3") + "C" +
           item("a4") + "PPN" + axisB + "C" + item("b1") + "PN" + measures + "X",
       "}\n\naxis \"A\" {\n\t\"a1\" extract=f-1\n\t\"a2\" extract=f-1\n\t\"a3\" extract=f-1\n"
       "\t+ \"a4\" extract=f-1\n}\n\naxis \"B\" {\n\t\"b1\" extract=f-1\n}\n\n"
       "axis measure \"Measures\" {\n}\n\n"},
      {"no axes at all", "X", "}\n\n"},
      {"no end mark", "C" + axisA, "}\n\naxis \"A\" {\n}\n\n"},
      {"text after the end mark is not read", "C" + axisA + "X" + "junk", "}\n\naxis \"A\" {\n}\n\n"},
  };
  for (auto& c : cases) {
    TearDown();
    EXPECT_EQ(parsed(r.file(c.nodes)), defaultSetup + c.body) << c.what;
  }
}

TEST_F(Unparse, RollUpWithoutMatchIsSaidAsAFunctionInTheMeasuresAxis) {
  ParamRecord r;
  const string axis = "31" + S("A") + "0100|";
  const string measures = "7" + S("M") + S("") + "|";
  const string extract = "41" "6" + S("Amt") + S("Amount") + "3|";
  auto rollUp = [](const char* label) { return "61" "01" + S("") + S(label) + S("") + "|"; };
  struct Case {
    const char* what;
    string nodes;
    string body;  // after the setup block
  };
  const Case cases[] = {
      {"a category of a dimension axis keeps its match line",
       "C" + axis + "C" + rollUp("a") + "PN" + measures + "X",
       "}\n\naxis \"A\" {\n\t\"a\" match ('f0' contains '')\n}\n\n"
       "axis measure \"M\" {\n}\n\n"},
      {"measures after the first, at the first level and deeper",
       "C" + axis + "C" + measures + "C" + extract + "N" + rollUp("m2") + "C" + rollUp("m3") +
           "PN" + rollUp("m4") + "X",
       "}\n\naxis \"A\" {\n}\n\naxis measure \"M\" {\n"
       "\t\"Amount\" extract='Amt' format=\"D1N3\"\n"
       "\t\"m2\" function = sum.own(all)\n\t+ \"m3\" function = sum.own(all)\n"
       "\t\"m4\" function = sum.own(all)\n}\n\n"},
      {"a first measure below a measures axis without compute text keeps it an item",
       "C" + axis + "C" + measures + "C" + rollUp("m1") + "N" + extract + "X",
       "}\n\naxis \"A\" {\n}\n\naxis measure \"M\" compute=\"\" {\n"
       "\t\"m1\" function = sum.own(all)\n\t\"Amount\" extract='Amt' format=\"D1N3\"\n}\n\n"},
      // Below the axis line the first measure would clear the compute text.
      {"a first measure below a measures axis with a compute text",
       "C" + axis + "C" + "7" + S("M") + S("c") + "|" + "C" + rollUp("m1") + "X",
       "}\n\naxis \"A\" {\n}\n\naxis measure \"M\" {\n"
       "\t\"M\" function = sum.own(all) compute=\"c\"\n"
       "\t\"m1\" function = sum.own(all)\n}\n\n"},
  };
  for (auto& c : cases) {
    TearDown();
    EXPECT_EQ(parsed(r.file(c.nodes)), defaultSetup + c.body) << c.what;
  }
}

TEST_F(Unparse, MeasuresFunctionIsSaidWhereItCompilesBack) {
  ParamRecord r;
  const string axis = "31" + S("A") + "0100|";
  auto measures = [](const char* label, const char* function) {
    return "7" + S(label) + S(function) + "|";
  };
  const string computed = "5" + S("c") + "5" + S("q") + "9|";
  const string computedSame = "5" + S("c") + "5" + S("sum.own(all)") + "9|";
  const string extract = "41" "7" + S("amt") + S("Amount") + "0|";
  const string condition = S(S("f") + "=L" + S("v"));
  const string categorySame = "61" "02" + S("sum.own(all)") + S("k") + condition + "|";
  const string categoryPlain = "61" "01" + S("") + S("k") + condition + "|";
  struct Case {
    const char* what;
    string nodes;
    string measuresBlock;
  };
  const Case cases[] = {
      {"a function and no items", "C" + axis + "C" + measures("T", "max.own(all)") + "X",
       "axis measure \"T\" {\n\t\"T\" function = max.own(\"all\")\n"},
      {"a function before a computed item",
       "C" + axis + "C" + measures("T", "ratio.previous(1-3)") + "C" + computed + "X",
       "axis measure \"T\" {\n\t\"T\" function = ratio.previous(\"1-3\")\n"
       "\t\"c\" compute=\"q\" format=\"D0N9\"\n"},
      {"quotes in the arguments", "C" + axis + "C" + measures("T", "sum.next(a\"b,2)") + "X",
       "axis measure \"T\" {\n\t\"T\" function = sum.next(\"a\\\"b,2\")\n"},
      // A text that is no function the script can say is the compute text of a first measure.
      {"no function the script can say",
       "C" + axis + "C" + measures("T", "total.own(all)") + "C" + computed + "X",
       "axis measure \"T\" {\n\t\"T\" function = sum.own(all) compute=\"total.own(all)\"\n"
       "\t\"c\" compute=\"q\" format=\"D0N9\"\n"},
      {"an argument ending in a backslash",
       "C" + axis + "C" + measures("T", "sum.own(a\\)") + "X",
       "axis measure \"T\" {\n\t\"T\" function = sum.own(all) compute=\"sum.own(a\\)\"\n"},
      {"a text that is no function", "C" + axis + "C" + measures("T", "a+b") + "X",
       "axis measure \"T\" {\n\t\"T\" function = sum.own(all) compute=\"a+b\"\n"},
      {"a text that is no function before an item that keeps it",
       "C" + axis + "C" + measures("T", "a+b") + "C" + extract + "X",
       "axis measure \"T\" compute=\"a+b\" {\n"
       "\t\"Amount\" extract='amt' format=\"D2N0\"\n"},
      // Where the axis line compiles back to the same record, it says the function itself.
      {"a function before an extract item",
       "C" + axis + "C" + measures("T", "max.own(all)") + "C" + extract + "X",
       "axis measure \"T\" compute=\"max.own(all)\" {\n"
       "\t\"Amount\" extract='amt' format=\"D2N0\"\n"},
      {"a function before a label item",
       "C" + axis + "C" + measures("T", "max.own(all)") + "C" + "9" + S("Count") + "|" + "X",
       "axis measure \"T\" compute=\"max.own(all)\" {\n\t\"Count\" extract=f-1\n"},
      {"a function before a computed item with the same text",
       "C" + axis + "C" + measures("T", "sum.own(all)") + "C" + computedSame + "X",
       "axis measure \"T\" compute=\"sum.own(all)\" {\n"
       "\t\"c\" compute=\"sum.own(all)\" format=\"D0N9\"\n"},
      {"a function before a category with the same compute text",
       "C" + axis + "C" + measures("T", "sum.own(all)") + "C" + categorySame + "X",
       "axis measure \"T\" compute=\"sum.own(all)\" {\n"
       "\t\"k\" match ('f' equals \"v\") compute=\"sum.own(all)\"\n"},
      {"a function before a category without compute text",
       "C" + axis + "C" + measures("T", "sum.own(all)") + "C" + categoryPlain + "X",
       "axis measure \"T\" {\n\t\"T\" function = sum.own(\"all\")\n"
       "\t\"k\" match ('f' equals \"v\")\n"},
  };
  for (auto& c : cases) {
    TearDown();
    EXPECT_EQ(parsed(r.file(c.nodes)),
              string(defaultSetup) + "}\n\naxis \"A\" {\n}\n\n" + c.measuresBlock + "}\n\n")
        << c.what;
  }
}

TEST_F(Unparse, ParseRefusesWhatIsNoCompiledProfile) {
  ParamRecord r;
  const string axis = "31" + S("A") + "0100|";
  struct Case {
    const char* what;
    string file;
    int status;
    const char* err;
  };
  const Case cases[] = {
      {"empty input", "", 2, "Error 002: Input file was empty.\n"},
      {"header with a letter", "04a1|8", 110, "Error 110: Input file is not a valid qv4 file.\n"},
      {"header without its bar", "0411", 110, "Error 110: Input file is not a valid qv4 file.\n"},
      {"NUL in the header", string("04\0" "1|", 5), 110,
       "Error 110: Input file is not a valid qv4 file.\n"},
      {"unknown node type", r.file("C" + axis + "Q"), 110, "Error 110: Unknown node type 'Q'\n"},
      {"record before any operator", r.file(axis), 110, "Error 110: Bad add type '*'\n"},
      {"no parameter record", "0411|X", 110, "Error 110: Input file has no parameter record.\n"},
      {"record before the parameter record", "0411|C" + axis, 110,
       "Error 110: Node record found before the parameter record.\n"},
      {"second parameter record", r.file("C" + axis + "8" + r.body()), 110,
       "Error 110: Input file has a second parameter record.\n"},
      {"climb above the root", r.file("C" + axis + "PPC9" + S("x") + "|"), 110,
       "Error 110: Node record at byte 256 is outside of any axis.\n"},
      {"item after the root", r.file("C" + axis + "PN9" + S("x") + "|"), 110,
       "Error 110: Node record at byte 255 is outside of any axis.\n"},
      {"item as the first node", r.file("C9" + S("x") + "|"), 110,
       "Error 110: Node record at byte 243 is outside of any axis.\n"},
      {"operator over a taken link",
       r.file("C" + axis + "C9" + S("x") + "|N9" + S("y") + "|PN9" + S("z") + "|"), 110,
       "Error 110: Node record at byte 267 would replace an earlier node.\n"},
      {"cut parameter record", "0411|8" + r.body().substr(0, 90), 110,
       "Error 110: String of length 20 at byte 84 runs past the end of the text\n"},
  };
  for (auto& c : cases) {
    Outcome o = runToEnd([&] {
      FILE* in = streamOf(c.file);
      FILE* out = fopen("/dev/null", "w");
      parse(in, out);
    });
    EXPECT_EQ(o.status, c.status) << c.what;
    EXPECT_EQ(o.err, c.err) << c.what;
  }
}

}  // namespace

// The compiled-profile writer: exact bytes of the parameter record, of every record type and
// of the tree operators, and the refusal of values that do not fit their fields.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "common/preferences.h"
#include "profile/node.h"
#include "profile/writer.h"

using std::string;

namespace {

// Captures what the writer writes and puts every global it touches back afterwards.
class WriterTest : public ::testing::Test {
 public:
  void SetUp() override {
    savedB = copyOf(bParams);
    savedNb = copyOf(nbParams);
    savedS = copyOf(sParams);
    savedLs = copyOf(lsParams);
    savedByte = copyOf(byteParams);
    savedSep = sep;
    savedFirst = firstFieldNames;
    savedDecimals = decimalPoints;
    savedHeight = height;
    savedWidth = width;
    verticalColour = {158, 207, 178};
    horizontalColour = {158, 158, 207};
    dataColour = {90, 150, 255};
    decimalPoints = 2;
    height = width = 20100;
    resetWriter();
    reset_node_variables();
    measureLabel.clear();
    file = tmpfile();
    ASSERT_NE(file, nullptr);
    qv4File = file;
  }
  void TearDown() override {
    restore(bParams, savedB);
    restore(nbParams, savedNb);
    restore(sParams, savedS);
    restore(lsParams, savedLs);
    restore(byteParams, savedByte);
    sep = savedSep;
    firstFieldNames = savedFirst;
    decimalPoints = savedDecimals;
    height = savedHeight;
    width = savedWidth;
    qv4File = stdout;
    fclose(file);
  }

  // Everything written since the start of the test.
  string written() {
    fflush(file);
    rewind(file);
    string s;
    int c;
    while ((c = fgetc(file)) != EOF) s += char(c);
    return s;
  }

  // Sets up a node of type, label and depth and writes it.
  void node(int type, const char* label, int depth) {
    currentType = type;
    currentLabel = label;
    currentDepth = depth;
    emit_node(depth);
  }

  template <class T, size_t N>
  static std::vector<T> copyOf(T (&table)[N]) { return std::vector<T>(table, table + N); }
  template <class T, size_t N>
  static void restore(T (&table)[N], const std::vector<T>& saved) {
    for (size_t i = 0; i < N; i++) table[i] = saved[i];
  }

  FILE* file = nullptr;
  std::vector<BooleanParam> savedB, savedNb;
  std::vector<StringParam> savedS, savedLs;
  std::vector<ByteParam> savedByte;
  string savedSep;
  int savedFirst = 0, savedDecimals = 0, savedHeight = 0, savedWidth = 0;
};

// The parameter record of a setup block that changes nothing, after the header.
const string defaultRecord =
    "8" "0000000010000000000010101100001111101001" "02" "9ecfb2" "9e9ecf" "5a96ff" "4e84"
    "4e84" "02.." "04;0;\t" "14../help/hh_start.htm" "00" "00" "0bvarkel4.exe"
    "09/cgi-bin/" "0cpellack4.exe" "0000" "0000" "0000" "0000" "0000" "0004;0;\t" "0000"
    "0000" "0000" "0000" "0000" "0000" "0000" "0000" "1110000000000" "03" "000000000000000000"
    "|";

TEST_F(WriterTest, DefaultParameterRecordHoldsEveryRowAndSetsForceChild) {
  emit_parameters();
  EXPECT_EQ(written(), "0411|" + defaultRecord);
  EXPECT_EQ(forceChild, 1);
}

TEST_F(WriterTest, ChangedSettingsLandInTheirPositions) {
  bParams[13].value = 1;  // hidepiechart
  nbParams[2].value = 0;  // exporttosylk
  byteParams[0].value = 5;
  decimalPoints = 0;
  verticalColour = {1, 2, 3};
  width = 800;
  sParams[2].value = "h.htm";
  lsParams[3].value = "About";
  emit_parameters();
  EXPECT_EQ(written(),
            "0411|8" "0000000010000100000010101100001111101001" "00" "010203" "9e9ecf"
            "5a96ff" "4e84" "0320" "02.." "04;0;\t" "05h.htm" "00" "00" "0bvarkel4.exe"
            "09/cgi-bin/" "0cpellack4.exe" "0000" "0000" "0000" "0005About" "0000"
            "0004;0;\t" "0000" "0000" "0000" "0000" "0000" "0000" "0000" "0000"
            "1100000000000" "05" "000000000000000000" "|");
}

TEST_F(WriterTest, DataSourceSuffixAndShortCopy) {
  struct Case {
    const char* data;
    int first;
    const char* separator;
    string shortCopy;  // short-string row 1, with its length
    string longData;   // long-string row 5, with its length
  };
  const string big(246, 'x');  // 250 bytes with its suffix: too long for the copy
  const Case cases[] = {
      {"", 0, "\t", "04;0;\t", "0004;0;\t"},
      {"text:sales.txt", 1, ",", "12text:sales.txt;1;,", "0012text:sales.txt;1;,"},
      {"exec:sort a;b.txt", 0, "|", "15exec:sort a;b.txt;0;|", "0015exec:sort a;b.txt;0;|"},
      {"odbc:DSN;select x", 1, ",", "11odbc:DSN;select x", "0011odbc:DSN;select x"},
      {big.c_str(), 0, "\t", "00", "00fa" + big + ";0;\t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    SetUp();
    lsParams[5].value = c.data;
    firstFieldNames = c.first;
    sep = c.separator;
    emit_parameters();
    string out = written();
    size_t copyAt = out.find("02..") + 4;
    EXPECT_EQ(out.compare(copyAt, c.shortCopy.size(), c.shortCopy), 0) << out;
    EXPECT_NE(out.find("0000" + c.longData + "0000"), string::npos) << out;
    // The suffix is applied to what is written, never to the setting itself.
    EXPECT_EQ(lsParams[5].value, c.data);
    TearDown();
  }
  SetUp();
}

TEST_F(WriterTest, SecondBlockCarriesTheSuffixOnce) {
  lsParams[5].value = "text:d.txt";
  emit_parameters();
  emit_tail();
  emit_parameters();
  string out = written();
  EXPECT_EQ(out.find("text:d.txt;0;\t;"), string::npos) << out;
  EXPECT_EQ(out.rfind("000etext:d.txt;0;\t") > out.find("X"), true) << out;
}

TEST_F(WriterTest, EveryRecordType) {
  struct Case {
    const char* name;
    std::function<void()> set;
    string record;
  };
  const Case cases[] = {
      {"axis without compute", [] { currentType = '3'; currentLabel = "Region"; },
       "3106Region0100|"},
      {"axis with the default roll-up",
       [] { currentType = '3'; currentLabel = "R"; currentFunction = "sum.own(all)"; },
       "3101R0100|"},
      {"axis with compute",
       [] { currentType = '3'; currentLabel = "R"; currentFunction = "x+y"; },
       "3101R0203x+y|"},
      {"measures record without label",
       [] { currentType = '7'; currentFunction = "sum.own(all)"; },
       "708Measures0csum.own(all)|"},
      {"measures record with label",
       [] { currentType = '7'; measureLabel = "Money"; }, "705Money00|"},
      {"autobuild whole field",
       [] { currentType = '1'; currentField = "city"; currentSort = 1; },
       "1" "1" "0" "0000" "1" "04city" "00" "|"},
      {"autobuild part from the end",
       [] {
         currentType = '1'; currentFlag = 5; abType = 1; firstPart = "2";
         currentField = "path"; subSeparator = "/";
       },
       "1" "5" "1" "0200" "0" "04path" "01/" "|"},
      {"autobuild fixed columns",
       [] {
         currentType = '1'; currentFlag = 3; abType = 1; firstPart = "1"; lastPart = "12";
         currentSort = 4; currentField = "code";
       },
       "1" "3" "1" "010c" "4" "04code" "00" "|"},
      {"date",
       [] {
         currentType = '2'; endOfFiscalYear = 3; currentField = "when";
         date_in = "%Y-%m-%d"; date_out = "%Y"; startYear = "1998"; endYear = "2001";
       },
       "2" "1" "3" "04when" "08%Y-%m-%d" "02%Y" "041998" "042001" "|"},
      {"date without fiscal month or years",
       [] { currentType = '2'; currentField = "d"; date_in = "%d"; date_out = "%m"; },
       "2" "1" "C" "01d" "02%d" "02%m" "00" "00" "|"},
      {"extract",
       [] {
         currentType = '4'; currentField = "amount"; currentLabel = "Sales";
         currentFormat1 = 2; currentFormat2 = 5;
       },
       "4" "1" "7" "06amount" "05Sales" "5" "|"},
      {"extract of f-1 counts", [] { currentType = '4'; currentField = "f-1"; currentLabel = "N"; },
       "901N|"},
      {"extract of -1 counts", [] { currentType = '4'; currentField = "-1"; currentLabel = "N"; },
       "901N|"},
      {"computed",
       [] {
         currentType = '5'; currentLabel = "Margin"; currentFormat1 = 11;
         currentFormat2 = 9; currentFunction = "a-b";
       },
       "5" "06Margin" "G" "03a-b" "9" "|"},
      {"plain item", [] { currentLabel = "100%"; }, "5" "04100%" "1" "00" "|"},
      {"match without function",
       [] { currentType = '6'; currentLabel = "EU"; currentTarget = "02c=L02FR"; },
       "610100" "02EU" "0902c=L02FR|"},
      {"match with function",
       [] {
         currentType = '6'; currentLabel = "EU"; currentFunction = "f";
         currentTarget = "";
       },
       "61" "0201f" "02EU" "00|"},
      {"label", [] { currentType = '9'; currentLabel = "Count"; }, "905Count|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.set();
    emit_node(currentType == '3' || currentType == '7' ? -1 : 0);
    // After the parameter record nothing was written, so the operator is 'C' or 'N'.
    string out = written();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.substr(1), c.record);
    TearDown();
  }
  SetUp();
}

TEST_F(WriterTest, TreeOperatorsFollowTheDepths) {
  emit_parameters();
  size_t start = written().size();
  node('3', "A", -1);
  node(plainItemType, "a1", 0);
  node(plainItemType, "a2", 1);
  node(plainItemType, "a3", 1);
  node(plainItemType, "a4", 0);
  node('3', "B", -1);
  node(plainItemType, "b1", 0);
  emit_tail();
  EXPECT_EQ(written().substr(start),
            "C3101A0100|" "C502a1100|" "C502a2100|" "N502a3100|" "PPN502a4100|"
            "PPN3101B0100|" "C502b1100|" "PN708Measures00|X");
}

TEST_F(WriterTest, DeeperJumpClimbsBackByAttachSteps) {
  emit_parameters();
  size_t start = written().size();
  node('3', "A", -1);
  node(plainItemType, "a", 0);
  node(plainItemType, "c", 2);  // two levels deeper is a child all the same
  node(plainItemType, "b", 0);
  EXPECT_EQ(written().substr(start), "C3101A0100|C501a100|C501c100|PN501b100|");
}

TEST_F(WriterTest, ItemsWrittenSeveralLevelsDeeperHangBelowTheItemAbove) {
  emit_parameters();
  size_t start = written().size();
  node('3', "A", -1);
  node(plainItemType, "a", 0);
  node(plainItemType, "b", 2);  // b, c and d are all children of a
  node(plainItemType, "c", 2);
  node(plainItemType, "d", 1);
  node(plainItemType, "e", 0);
  node('3', "B", -1);
  node(plainItemType, "x", 1);  // a first item one level too deep is still a first child
  node(plainItemType, "y", 0);
  EXPECT_EQ(written().substr(start),
            "C3101A0100|" "C501a100|" "C501b100|" "N501c100|" "N501d100|" "PPPN501e100|"
            "PPN3101B0100|" "C501x100|" "N501y100|");
}

TEST_F(WriterTest, DefaultMeasuresRecord) {
  struct Case {
    const char* name;
    std::function<void(WriterTest&)> build;
    string tail;  // what follows the last node written
  };
  const Case cases[] = {
      {"after items at depths 0, 1, 0",
       [](WriterTest& t) {
         t.node('3', "A", -1);
         t.node(plainItemType, "x", 0);
         t.node(plainItemType, "y", 1);
         t.node(plainItemType, "z", 0);
       },
       "PPN708Measures00|X"},
      {"after an empty axis", [](WriterTest& t) { t.node('3', "A", -1); },
       "C708Measures00|X"},
      {"label of an empty measures axis",
       [](WriterTest& t) {
         t.node('3', "A", -1);
         measureLabel = "Money";
       },
       "C705Money00|X"},
      {"none when a measures record was written",
       [](WriterTest& t) {
         t.node('3', "A", -1);
         t.node('7', "", -1);
       },
       "X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.build(*this);
    size_t before = written().size();
    emit_tail();
    EXPECT_EQ(written().substr(before), c.tail);
    TearDown();
  }
  SetUp();
}

TEST_F(WriterTest, EmptyAxisThenAxisIsAChildStep) {
  emit_parameters();
  size_t start = written().size();
  node('3', "A", -1);
  node('3', "B", -1);
  EXPECT_EQ(written().substr(start), "C3101A0100|C3101B0100|");
}

TEST_F(WriterTest, NodeVariablesResetUnlessSaved) {
  currentType = '5';
  currentLabel = "m";
  currentFunction = "f";
  saveVariables = 1;
  emit_node(-1);
  EXPECT_EQ(currentLabel, "m");
  EXPECT_EQ(saveVariables, 0);
  emit_node(0);
  EXPECT_EQ(currentLabel, "");
  EXPECT_EQ(currentType, int(plainItemType));
  EXPECT_EQ(currentFunction, "");
  EXPECT_EQ(currentFormat2, 9);
}

TEST_F(WriterTest, NodeValuesThatDoNotFitAreNamed) {
  struct Case {
    const char* name;
    std::function<void()> set;
    const char* problem;
  };
  const string long256(256, 'a');
  const Case cases[] = {
      {"label of 255 bytes fits", [&] { currentLabel = string(255, 'a'); }, ""},
      {"label of 256 bytes", [&] { currentLabel = long256; },
       "The label is longer than 255 bytes"},
      {"match expression",
       [&] { currentType = '6'; currentTarget = long256; },
       "The match expression is longer than 255 bytes"},
      {"first part", [] { currentType = '1'; firstPart = "256"; },
       "The first part must lie between 0 and 255"},
      {"negative last part", [] { currentType = '1'; lastPart = "-1"; },
       "The last part must lie between 0 and 255"},
      {"depth 16", [] { currentDepth = 16; }, "The item depth must lie between 0 and 15"},
      {"format after D", [] { currentType = '5'; currentFormat1 = 59; },
       "The format's number after D must lie between 0 and 58"},
      {"format after N", [] { currentType = '4'; currentField = "x"; currentFormat2 = 64; },
       "The format's number after N must lie between 0 and 63"},
      {"date format", [&] { currentType = '2'; date_out = long256; },
       "The output date format is longer than 255 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_node_variables();
    c.set();
    EXPECT_EQ(checkNode(), c.problem);
  }
  reset_node_variables();
}

TEST_F(WriterTest, SettingsThatDoNotFitAreNamed) {
  struct Case {
    const char* name;
    std::function<void()> set;
    const char* problem;
  };
  const Case cases[] = {
      {"defaults", [] {}, ""},
      {"two-character separator", [] { sep = ",,"; }, "The separator must be one character"},
      {"empty separator", [] { sep = ""; }, "The separator must be one character"},
      {"odbc source takes no separator",
       [] { sep = ",,"; lsParams[5].value = "odbc:d;select 1"; }, ""},
      {"colour component", [] { dataColour = {0, 256, 0}; },
       "Each component of datacolor must lie between 0 and 255"},
      {"width", [] { width = 70000; }, "width must lie between 0 and 65535"},
      {"decimal points", [] { decimalPoints = -1; },
       "decimalpoints must lie between 0 and 255"},
      {"short string row", [] { sParams[2].value = string(256, 'h'); },
       "Parameter helpurl is longer than 255 bytes"},
      {"long string row", [] { lsParams[1].value = string(65536, 'i'); },
       "Parameter initv is longer than 65535 bytes"},
      {"data source with its suffix", [] { lsParams[5].value = string(65532, 'd'); },
       "Parameter data is longer than 65535 bytes"},
      {"small number", [] { byteParams[0].value = 300; },
       "Parameter pieminimum must lie between 0 and 255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.set();
    EXPECT_EQ(checkParameters(), c.problem);
  }
}

TEST_F(WriterTest, EmittersRefuseWhatDoesNotFit) {
  sep = ";;";
  EXPECT_EXIT(emit_parameters(), ::testing::ExitedWithCode(110),
              "Error 110: The separator must be one character\n");
  currentLabel = string(300, 'x');
  EXPECT_EXIT(emit_node(0), ::testing::ExitedWithCode(110),
              "Error 110: The label is longer than 255 bytes\n");
  EXPECT_EXIT(emit_node(16), ::testing::ExitedWithCode(110),
              "Error 110: The item depth must lie between 0 and 15\n");
}

}  // namespace

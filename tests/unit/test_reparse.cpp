// Cube re-reader: the two line forms, quoted values, splitting, the coded coordinates and
// values, trees rebuilt through the category indexes and date tables, the re-keying of old
// cells, and every refusal of a malformed cube.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/util.h"
#include "tests/unit/matchtext.h"
#include "varkel/axislabel.h"
#include "varkel/coded.h"
#include "varkel/cube.h"
#include "varkel/date.h"
#include "varkel/dategen.h"
#include "varkel/escapes.h"
#include "varkel/grow.h"
#include "varkel/hashtab.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/pipeline.h"
#include "varkel/reparse.h"
#include "varkel/trees.h"

#include "tests/unit/cubecells.h"
#include "tests/unit/matchtext.h"

namespace {

typedef std::vector<std::string> Texts;

class Reparse : public ::testing::Test {
 protected:
  char dir[64];

  void SetUp() override {
    strcpy(dir, "/tmp/reparseXXXXXX");
    ASSERT_NE(mkdtemp(dir), nullptr);
    resetReparse();
    initCodedNumbers();
    numberOfAxes = 0;
    recordAxisRoot = -1;
    decimalPoints = 0;
    decimalMultiplier = 1;
    dataNodes.clear();
    nodeStack.clear();
    emitCB4 = 1;
    noQuery = 0;
  }
  void TearDown() override {
    std::string cmd = std::string("rm -rf ") + dir;
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir;
  }

  std::string path(const char* name) { return std::string(dir) + "/" + name; }
  void writeFile(const char* name, const std::string& text) {
    FILE* f = fopen(path(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }

  int add(int parent, const char* text, int field = -1) {
    int n = getNextFree();
    axisLabels[n] = AxisLabel();
    axisLabels[n].label = text;
    axisLabels[n].field = field;
    if (parent >= 0) {
      int* link = &axisLabels[parent].child;
      while (*link >= 0) link = &axisLabels[*link].sibling;
      *link = n;
    }
    return n;
  }
  // Measures root with n counting measures.
  void measures(int n) {
    recordAxisRoot = add(-1, "Measures");
    for (int i = 0; i < n; i++) add(recordAxisRoot, "m", i);
  }
  int axis(const char* rootText) {
    int r = add(-1, rootText);
    axisRootIndex[numberOfAxes++] = r;
    return r;
  }

  Texts chain(int first) {
    Texts texts;
    for (int c = first; c >= 0; c = axisLabels[c].sibling) texts.push_back(axisLabels[c].label);
    return texts;
  }
  Texts children(int parent) { return chain(axisLabels[parent].child); }

  // Reads a cube file of the given lines for the profile "prof": a fragment, not checked
  // for the parts a whole cube has.
  void reparseCube(const std::string& lines) {
    writeFile("prof.cb4", lines);
    readPreviousCube(path("prof.qv4").c_str());
  }

  // The compact tree of an axis as the writer gives it.
  std::string compact(int root) {
    FILE* f = tmpfile();
    cb4 = ofp = f;
    outputCompactTree(root, "x", 0);
    fflush(f);
    std::string text(ftell(f), '\0');
    rewind(f);
    size_t got = fread(&text[0], 1, text.size(), f);
    text.resize(got);
    fclose(f);
    cb4 = ofp = nullptr;
    return text;
  }
};

TEST_F(Reparse, LinesOfBothForms) {
  struct Case {
    int cubeFile;
    const char* line;
    bool yields;
    const char* name;
    const char* value;
  };
  const Case cases[] = {
      {1, "codeddata=0+5+7\n", true, "codeddata", "0+5+7"},
      {1, "a=b=c\n", true, "a", "b=c"},
      {1, "lonely\n", true, "lonely", "lonely"},
      {1, "=value\n", false, "", ""},
      {1, "\n", false, "", ""},
      {1, "cr=x\r\n", true, "cr", "x\r"},
      {0, "<param name=\"codeddata\" value=\"0+5+7\">\n", true, "codeddata", "0+5+7"},
      {0, "<param name=\"empty\" value=\"\">\n", true, "empty", ""},
      {0, " <param name=\"indented\" value=\"1\">\n", false, "", ""},
      {0, "<applet code=\"x\">\n", false, "", ""},
      {0, "<param name=\"\" value=\"1\">\n", false, "", ""},
      // Page values come back as the browser hands them to the applet.
      {0, "<param name=\"d\" value=\"&quot;&lt;b&gt;&amp;amp;&nbsp;&\">\n", true, "d",
       "\"<b>&amp;&nbsp;&"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FILE* f = tmpfile();
    fputs(c.line, f);
    rewind(f);
    readingCubeFile = c.cubeFile;
    ParamLine* p = readParamLine(f);
    EXPECT_EQ(p != nullptr, c.yields);
    if (p) {
      EXPECT_EQ(p->name, c.name);
      EXPECT_EQ(p->value, c.value);
    }
    delete p;
    fclose(f);
  }
}

TEST_F(Reparse, LinesHoldEveryByteAndTheUnfinishedLastLineIsDropped) {
  FILE* f = tmpfile();
  fwrite("a=x\0y\nb=2", 1, 9, f);
  rewind(f);
  readingCubeFile = 1;
  ParamLine* p = readParamLine(f);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->value, std::string("x\0y", 3));
  delete p;
  EXPECT_EQ(readParamLine(f), nullptr);
  EXPECT_TRUE(feof(f));
  EXPECT_EQ(cubeLineNumber, 1);
  fclose(f);
}

TEST_F(Reparse, QuotedValues) {
  struct Case {
    const char* line;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"<param name=\"n\" value=\"v\">", "value=", "v"},
      {"<param name=\"n\" value=\"v\">", "name=", "n"},
      {"<param name=\"n\" value=\"open", "value=", "open"},
      {"<param name=\"n\" value=", "value=", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(getQuotedValue(c.line, c.key), c.expected) << c.line;
}

TEST_F(Reparse, ParamTagWithoutValueIsRefused) {
  writeFile("prof.html", "<html>\n<param name=\"codeddata\">\n");
  EXPECT_EXIT(reparse(path("prof.qv4").c_str()), ::testing::ExitedWithCode(110),
              "Error 110: Unable to find 'value=' on line 2 of cube '.*/prof.html'\n");
}

TEST_F(Reparse, Splitting) {
  struct Case {
    const char* text;
    Texts pieces;
  };
  const Case cases[] = {
      {"a;b;", {"a", "b"}},   {";a;;b", {"", "a", "", "b"}}, {"a", {"a"}},
      {"", {}},               {";", {""}},
  };
  for (const Case& c : cases) EXPECT_EQ(splitString(c.text, ';'), c.pieces) << c.text;
}

TEST_F(Reparse, CubeFileIsPreferredToThePage) {
  measures(1);
  writeFile("prof.html", "<param name=\"codedcoords\" value=\"1+1\">\n");
  writeFile("prof.cb4", "codedcoords=0\n");
  readPreviousCube(path("prof.qv4").c_str());
  EXPECT_EQ(readingCubeFile, 1);
  EXPECT_EQ(cubeName, path("prof.cb4"));
  EXPECT_EQ(oldCellCount, 0);

  unlink(path("prof.cb4").c_str());
  axis("All");
  axisLabels[add(axisRootIndex[0], "(none)", 0)].field = 0;
  writeFile("prof.html",
            "<param name=\"lumetraaxis0\" value=\"x0=All;x0.0=A;x0.1=B;\">\n"
            "<param name=\"codedcoords\" value=\"1+1\">\n"
            "<param name=\"codeddata\" value=\"0+5\">\n");
  readPreviousCube(path("prof.qv4").c_str());
  EXPECT_EQ(readingCubeFile, 0);
  EXPECT_EQ(oldCellCount, 1);
  EXPECT_EQ(dataValue, std::vector<double>{5});
}

TEST_F(Reparse, NoCubeAtAllIsError2) {
  EXPECT_EXIT(reparse(path("prof.qv4").c_str()), ::testing::ExitedWithCode(2),
              "Error 002: Unable to open the cube for the profile '.*/prof.qv4'.\n");
}

TEST_F(Reparse, PageWithoutCubeDataIsReported) {
  measures(1);
  writeFile("prof.html", "<param name=\"cb4file\" value=\"prof.cb4\">\n");
  EXPECT_EXIT(
      {
        reparse(path("prof.qv4").c_str());
        exit(oldCellCount);
      },
      ::testing::ExitedWithCode(0),
      "Re-reading cube '.*prof.html'\nCube '.*prof.html' holds no cube data and its cube file "
      "'prof.cb4' is missing; the build starts afresh.\n");
}

TEST_F(Reparse, CubeWithoutAPartTheWriterAlwaysWritesIsRefused) {
  const std::string axis0 = "lumetraaxis0=x0=All;x0.0=B;\n", axis1 = "lumetraaxis1=x1=Two;x1.0=C;\n",
                    record = "lumetrarecord0=y0=Measures;y0.0=m;field=1;\n",
                    coords = "codedcoords=1+0\n", values = "codeddata=0+5\n";
  struct Case {
    const char* file;
    std::string text;
    const char* error;  // null: read whole
  };
  const Case cases[] = {
      {"prof.cb4", axis0 + axis1 + record + coords + values, nullptr},
      {"prof.cb4", axis0 + axis1 + record + "codedcoords=0\nncodeddata=0\n", nullptr},
      {"prof.cb4", "", "it holds no cube data; "},
      {"prof.cb4", "createversion=x\ndecimalpoints=0\n", "it holds no cube data; "},
      {"prof.cb4", axis0 + record + coords + values, "it has no tree for axis \"Two\"; "},
      {"prof.cb4", axis0 + axis1 + coords + values, "it has no lumetrarecord0 setting; "},
      {"prof.cb4", axis0 + axis1 + record + "codeddata=0\n", "it has no codedcoords setting; "},
      {"prof.cb4", axis0 + axis1 + record + "codedcoords=0\n", "it has no codeddata setting; "},
      // The last line without its line end is not read.
      {"prof.cb4", axis0 + axis1 + record + "codedcoords=0\ncodeddata=0",
       "it has no codeddata setting; "},
      {"prof.html", "<param name=\"createversion\" value=\"x\">\n",
       "it holds no cube data and names no cube file; "},
      {"prof.html", "<param name=\"lumetraaxis0\" value=\"x0=All;x0.0=B;\">\n",
       "it has no tree for axis \"Two\"; "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    unlink(path("prof.cb4").c_str());
    unlink(path("prof.html").c_str());
    resetReparse();
    numberOfAxes = 0;
    measures(1);
    add(axis("All"), noneLabel, 0);
    add(axis("Two"), noneLabel, 1);
    writeFile(c.file, c.text);
    if (!c.error) {
      EXPECT_EQ(reparse(path("prof.qv4").c_str()), 0);
      continue;
    }
    EXPECT_EXIT(reparse(path("prof.qv4").c_str()), ::testing::ExitedWithCode(110),
                std::string("Error 110: Cube '.*") + c.file +
                    "' is damaged or cut short: " + c.error + "it cannot be extended.\n");
  }
}

TEST_F(Reparse, CoordinateLists) {
  struct Case {
    const char* value;
    std::vector<uint32_t> low;
  };
  const Case cases[] = {
      {"0", {}},
      {"3+1++A", {1, 0, 10}},
      {"1+", {0}},  // one cell, at coordinate 0
      {"2++1", {0, 1}},
      {"2+2+3\r", {2, 3}},  // a line end written on another system
  };
  measures(1);
  int root = axis("All");
  for (int i = 0; i < 11; i++) add(root, "leaf");  // leaf numbers 0-10
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    reparseCube(std::string("lumetraaxis0=x0=All;\ncodedcoords=") + c.value +
                "\ncodeddata=0" + std::string(c.low.size(), '#') + "\n");
    ASSERT_EQ(oldCoords.size(), c.low.size());
    for (size_t i = 0; i < c.low.size(); i++) {
      EXPECT_EQ(oldCoords[i].coordinate.low(), c.low[i]);
      EXPECT_EQ(oldCoords[i].leafLabels[0], leafToNode[0].at(c.low[i]));
    }
  }
}

TEST_F(Reparse, CodedCoordinateDigits) {
  std::string text = "zz+.";
  unsigned pos = 0;
  EXPECT_EQ(readCodedCoord(text, pos).low(), 61u * 64 + 61);
  EXPECT_EQ(pos, 2u);
  pos = 2;
  EXPECT_EQ(readCodedCoord(text, pos).low(), 0u);
  EXPECT_EQ(pos, 2u);
  // 22 digits fill all 128 bits; the top digit may only carry 2 of its 6.
  std::string full = "3" + std::string(21, '.');
  pos = 0;
  mbitset<128> top = readCodedCoord(full, pos);
  for (int w = 0; w < 4; w++) EXPECT_EQ(top.w[w], 0xffffffffu);
}

TEST_F(Reparse, MalformedCoordinatesAreRefused) {
  struct Case {
    const char* value;
    const char* message;
  };
  const Case cases[] = {
      {"1+1%", "Unexpected character '%' in codedcoords at position 3"},
      {"1+4" "000000000000000000000", "Coordinate too large in codedcoords at position 23"},
      {"2+1", "codedcoords in cube '.*' announces 2 cells but holds 1"},
      {"1+1+2", "codedcoords in cube '.*' holds more than the 1 cells it announces"},
      // A count no list could hold is refused for the list, not taken on trust for memory.
      {"2147483647+1", "codedcoords in cube '.*' announces 2147483647 cells but holds 1"},
  };
  measures(1);
  int root = axis("All");
  add(root, "A");
  add(root, "B");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EXIT(reparseCube(std::string("lumetraaxis0=x0=All;\ncodedcoords=") + c.value + "\n"),
                ::testing::ExitedWithCode(110), std::string("Error 110: ") + c.message);
  }
}

TEST_F(Reparse, CodedValuesMeasureMajor) {
  measures(2);
  int root = axis("All");
  add(root, "A");
  add(root, "B");
  decimalPoints = 2;
  decimalMultiplier = 100;
  reparseCube("lumetraaxis0=x0=All;x0.0=A;x0.1=B;\ncodedcoords=2+0+1\ncodeddata=2+5*D-1#\r\n");
  ASSERT_EQ(dataValue.size(), 4u);
  EXPECT_EQ(dataValue[0], 5);
  EXPECT_EQ(dataValue[1], -1);
  EXPECT_DOUBLE_EQ(dataValue[2], 0.13);
  EXPECT_EQ(dataValue[3], HUGE_VAL);
}

TEST_F(Reparse, CodedValueForms) {
  struct Case {
    const char* text;
    double value;
    unsigned end;
  };
  const Case cases[] = {
      {"+0", 0, 2},           {"-A+", -10, 2},          {"*1=", 0.01, 2},
      {"=10", -0.64, 3},      {"#+", HUGE_VAL, 1},       {"+", 0, 1},
      // 2^64 and more, as the writer puts large sums.
      {"+G0000000000", 18446744073709551616.0, 12},
  };
  decimalMultiplier = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    dataValue.assign(1, 7);
    unsigned pos = 0;
    readCodedValue(c.text, pos, 0);
    EXPECT_DOUBLE_EQ(dataValue[0], c.value);
    EXPECT_EQ(pos, c.end);
  }
}

TEST_F(Reparse, MalformedValuesAreRefused) {
  struct Case {
    int points;
    const char* value;
    const char* message;
  };
  const Case cases[] = {
      {2, "1+5", "decimal points in cube \\(1\\) does not match value in profile \\(2\\)"},
      {2, "+5+5", "decimal points in cube \\(\\) does not match value in profile \\(2\\)"},
      {0, "0+5!", "Unexpected character '!' in codeddata at position 3"},
      {0, "0+5", "Unexpected end of codeddata at position 3"},
      {0, "0+5+6+7", "codeddata in cube '.*' holds more values than its 2 cells of 1 measures"},
  };
  measures(1);
  int root = axis("All");
  add(root, "A");
  add(root, "B");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    decimalPoints = c.points;
    EXPECT_EXIT(reparseCube(std::string("lumetraaxis0=x0=All;x0.0=A;x0.1=B;\ncodedcoords=2+0+1\n"
                                        "codeddata=") +
                            c.value + "\n"),
                ::testing::ExitedWithCode(110), std::string("Error 110: ") + c.message);
  }
}

TEST_F(Reparse, ValueListShorterThanItsCountIsRefusedBeforeRoomIsMade) {
  // 2e12 values: more than memory holds and than an int index reaches.
  decimalPoints = 0;
  oldCellCount = 2000000000;
  recordSize = 1000;
  ParamLine line{"codeddata", "0+1+2"};
  EXPECT_EXIT(restoreCodedData(line), ::testing::ExitedWithCode(110),
              "Error 110: Unexpected end of codeddata at position 5\n");
}

TEST_F(Reparse, StructuralRefusals) {
  struct Case {
    const char* cube;
    const char* message;
  };
  const Case cases[] = {
      {"lumetraaxis0=x0=All;\ncodedcoords=1+0\nncodeddata=0+5\n",
       "Cube '.*' has coordinates but no codeddata values"},
      {"lumetraaxis0=x0=All;\ncodeddata=0\ncodedcoords=1+0\n",
       "Cube '.*' has coordinates but no codeddata values"},
      {"codedcoords=1+\ncodeddata=0+5\nlumetraaxis0=x0=All;\n",
       "Cube '.*' holds an axis setting after its codedcoords"},
      {"lumetraaxis0=x0=All;\nlumetraaxis1=x1=All;\n", "Cube '.*' holds more axes than the "
                                                       "profile's 1"},
      {"lumetraaxis0=x0=All;x0.3.1=Deep;\n", "Entry 'x0.3.1' of axis 0 in cube '.*' names a node "
                                            "whose parent is not there"},
      {"lumetraaxis0=x0=All;x0.0=A;x0.2=Gap;\n", "Entry 'x0.2' of axis 0"},
  };
  measures(1);
  int root = axis("All");
  add(root, "(none)", 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cube);
    EXPECT_EXIT(reparseCube(c.cube), ::testing::ExitedWithCode(110),
                std::string("Error 110: ") + c.message);
  }
}

TEST_F(Reparse, GrownLevelIsRebuiltInItsCategoryIndex) {
  measures(1);
  int root = axis("All");
  int level = add(root, noneLabel, 0);
  reparseCube("lumetraaxis5=x0=All;x0.0=East;x0.1=West;x0.1.0=North;x0.2=Total;function=sum.;"
              "x0.3=A%2bB;\nncodeddata=0\n");
  EXPECT_EQ(children(root), (Texts{"East", "West", "Total", "A+B"}));
  EXPECT_EQ(axisLabels[root].child, level);
  Hashtab* index = axisLabels[level].hash;
  ASSERT_NE(index, nullptr);
  int west = axisLabels[level].sibling;
  int aplusb = axisLabels[axisLabels[west].sibling].sibling;
  EXPECT_EQ(hashtabGet(index, "East"), level);
  EXPECT_EQ(hashtabGet(index, "West"), west);
  EXPECT_EQ(hashtabGet(index, "A+B"), aplusb);
  EXPECT_EQ(index->tail, aplusb);
  EXPECT_EQ(axisLabels[west].hash, index);
  EXPECT_EQ(axisLabels[west].backLink, level);
  // A first child below a category is a copy of it, one part deeper, with its own index.
  int north = axisLabels[west].child;
  EXPECT_EQ(children(west), (Texts{"North"}));
  EXPECT_NE(axisLabels[north].hash, index);
  EXPECT_EQ(hashtabGet(axisLabels[north].hash, "North"), north);
  EXPECT_EQ(restoredAxes, 1);
}

TEST_F(Reparse, MultiLevelCopiesMoveToTheNextPart) {
  measures(1);
  int root = axis("All");
  int level = add(root, noneLabel, 0);
  axisLabels[level].part = 0;
  axisLabels[level].lastPart = 2;
  axisLabels[level].multiLevelExpand = 1;
  reparseCube("lumetraaxis0=x0=All;x0.0=East;x0.0.0=North;x0.0.0.0=Oslo;\n");
  int north = axisLabels[level].child;
  int oslo = axisLabels[north].child;
  EXPECT_EQ(axisLabels[north].part, 1);
  EXPECT_EQ(axisLabels[oslo].part, 2);
  EXPECT_EQ(axisLabels[oslo].label, "Oslo");
}

TEST_F(Reparse, EntriesGoToTheProfileAxesInOrder) {
  measures(1);
  int empty = axis("Nothing");  // dropped from every cube for having no children
  int first = axis("First");
  add(first, "(none)", 0);
  int second = axis("Second");
  add(second, "(none)", 0);
  reparseCube("lumetraaxis7=x0=First;x0.0=F;\nlumetraaxis3=x1=Second;x1.0=S;\n");
  EXPECT_EQ(children(first), (Texts{"F"}));
  EXPECT_EQ(children(second), (Texts{"S"}));
  EXPECT_EQ(children(empty), (Texts{}));
  EXPECT_EQ(restoredAxes, 3);
}

TEST_F(Reparse, ItemsOfEntries) {
  measures(1);
  int root = axis("All");
  add(root, "(none)", 0);
  reparseCube("lumetraaxis0=x0=All;key=R;x0.0=A;f0=02f0=L03A%2bB;key=k%3b1;format=D2;"
              "compute=(x);field=3;x0.1=B;\n");
  int a = axisLabels[root].child;
  ASSERT_NE(axisLabels[a].match, nullptr);
  EXPECT_EQ(axisLabels[a].match->leaf->valueLength, 3);
  EXPECT_STREQ(axisLabels[a].match->leaf->value, "A+B");
  EXPECT_STREQ(axisLabels[a].key(), "k;1");
  EXPECT_EQ(axisLabels[a].format(), nullptr);
  EXPECT_EQ(axisLabels[root].key(), nullptr);
  EXPECT_EQ(children(root), (Texts{"A", "B"}));
}

// Writes the cube of the current trees and cells into prof.cb4 as the output phases do.
void writeCube(const char* file, int axes) {
  FILE* f = fopen(file, "wb");
  cb4 = ofp = f;
  totalNodeCount = 0;
  for (int a = 0; a < axes; a++) outputCompactTree(axisRootIndex[a], "x", a);
  outputCompactTree(recordAxisRoot, "y", 0);
  fprintf(f, "codedcoords=%d", (int)dataNodes.size());
  printCodedCoords(f, 0);
  fprintf(f, "\ncodeddata=%d", decimalPoints);
  printCodedData(f);
  fputc('\n', f);
  fclose(f);
  cb4 = ofp = nullptr;
}

// The layout of the pipeline: bits per axis from the leaf counts.
void layOut() {
  setLeafNumbers();
  for (int a = 0; a < numberOfAxes; a++) {
    int leaves = (int)leafToNode[a].size();
    axisBits[a] = nextPowerOfTwo(leaves);
  }
}

mbitset<128> cell(std::vector<int> labels) {
  mbitset<128> key;
  for (int a = 0; a < numberOfAxes; a++)
    key = (key << axisBits[a]) | mbitset<128>(uint32_t(nodeToLeaf.at(labels[a])));
  return key;
}

TEST_F(Reparse, WrittenCubeReadsBackToTheSameTreesAndCells) {
  // The cube as a build left it: a grown level of escaped categories and fixed measures.
  measures(2);
  int all = axis("All");
  int c1 = add(all, "A+B");
  int c2 = add(all, "a;b");
  int c3 = add(all, "q\"<$*>\\");
  axisLabels[c1].field = axisLabels[c2].field = axisLabels[c3].field = 0;
  int region = axis("Region");
  int east = add(region, "East");
  int west = add(region, "West");
  int oslo = add(west, "Oslo");
  axisLabels[east].field = axisLabels[west].field = axisLabels[oslo].field = 1;
  // Each category with its own condition, as growth gives it.
  for (int c : {c1, c2, c3, east, west, oslo})
    axisLabels[c].match = categoryMatch(c, axisLabels[c].label.c_str());
  decimalPoints = 2;
  decimalMultiplier = 100;
  recordSize = 2;
  layOut();
  putCell(cell({c1, east}), {1.25, HUGE_VAL});
  putCell(cell({c3, oslo}), {-7, 1e20});
  putCell(cell({c2, east}), {0, 3});
  std::string before0 = compact(all), before1 = compact(region);
  writeCube(path("prof.cb4").c_str(), 2);
  CellMap oldCells = cellMap();

  // The same profile afresh: one auto-build label per axis.
  dataNodes.clear();
  numberOfAxes = 0;
  measures(2);
  int all2 = axis("All");
  add(all2, noneLabel, 0);
  int region2 = axis("Region");
  add(region2, noneLabel, 1);
  reparse(path("prof.qv4").c_str());
  EXPECT_EQ(compact(all2), before0);
  EXPECT_EQ(compact(region2), before1);
  int newC1 = axisLabels[all2].child;
  EXPECT_EQ(hashtabGet(axisLabels[newC1].hash, "q\"<$*>\\"),
            axisLabels[axisLabels[newC1].sibling].sibling);

  layOut();
  restoreData();
  ASSERT_EQ(dataNodes.size(), oldCells.size());
  CellMap newCells = cellMap();
  for (auto& c : oldCells) {
    ASSERT_EQ(newCells.count(c.first), 1u);
    for (size_t m = 0; m < 2; m++) EXPECT_DOUBLE_EQ(newCells[c.first][m], c.second[m]);
  }
}

TEST_F(Reparse, OldCellsFollowTheirLeavesIntoTheNewLayout) {
  measures(1);
  int all = axis("All");
  int level = add(all, noneLabel, 0);
  reparseCube("lumetraaxis0=x0=All;x0.0=B;x0.1=C;\ncodedcoords=2+0+1\ncodeddata=0+2+3\n");
  int b = level, c = axisLabels[b].sibling;
  // A new category sorted in before the old ones, and more of them than the bits held.
  int a = add(-1, "A");
  axisLabels[a].sibling = b;
  axisLabels[all].child = a;
  int d = add(-1, "D");
  axisLabels[c].sibling = d;
  int e = add(-1, "E");
  axisLabels[d].sibling = e;
  layOut();
  ASSERT_EQ(axisBits[0], 3);
  restoreData();
  CellMap want = {{mbitset<128>(1), {2}}, {mbitset<128>(2), {3}}};
  EXPECT_EQ(cellMap(), want);
}

TEST_F(Reparse, CellsOfLostLeavesAreReportedNotMerged) {
  measures(1);
  int all = axis("All");
  add(all, noneLabel, 0);
  EXPECT_EXIT(
      {
        reparseCube("lumetraaxis0=x0=All;x0.0=B;x0.1=C;x0.2=D;\ncodedcoords=3+0+3+4\n"
                    "codeddata=0+2+3+4\n");
        exit(0);
      },
      ::testing::ExitedWithCode(0),
      "Cell 1 of cube '.*' is dropped: its leaf is not in the profile's tree on axis 0.\n"
      "Cell 2 of cube '.*' is dropped: its coordinate lies outside the cube's layout on axis "
      "0.\n");

  reparseCube("lumetraaxis0=x0=All;x0.0=B;x0.1=C;\ncodedcoords=2+0+1\ncodeddata=0+2+3\n");
  int b = axisLabels[all].child;
  add(b, "under B");  // B is no leaf any more
  layOut();
  EXPECT_EXIT(
      {
        restoreData();
        exit((int)dataNodes.size());
      },
      ::testing::ExitedWithCode(1),
      "Cell 0 of cube '.*' is dropped: its leaf is no leaf of the new tree on axis 0.\n");
}

}  // namespace

namespace {

// Date hierarchies: the placeholder's children stand in its level in its place.
class ReparseDates : public Reparse {
 protected:
  void SetUp() override {
    Reparse::SetUp();
    dateCount = 1;
    Date& d = dateTable[0];
    d.years = hashtabNew(11, 4, 0.7);
    d.quarters = hashtabNew(11, 4, 0.7);
    d.months = hashtabNew(11, 4, 0.7);
    d.days = hashtabNew(11, 4, 0.7);
    d.blankDateLabel = 0;
    d.fieldName = "f2";
    d.field = 2;
    d.inputFormat = "YYYY-MM-DD";
    d.outputFormat = "Y+Q+M+D";
    parseDateInputFormat(&d);
    parseDateOutputFormat(&d);
  }

  int dated(int parent, const char* text, const char* key) {
    int n = add(parent, text);
    axisLabels[n].setKey(strdup(key));
    axisLabels[n].generatedDate = strlen(key) == 8 && strcmp(key, "99999999") ? 0 : 1;
    axisLabels[n].sort = strchr(key, 'Q') ? 1 : 3;
    axisLabels[n].match = dateLabelCondition(1, key);
    return n;
  }
  int placeholder(int parent) {
    int n = add(parent, "Date placeholder");
    axisLabels[n].dateIndex = 1;
    return n;
  }
  // The old hierarchy below placeholder p.
  void grownDates(int p) {
    int y1999 = dated(p, "1999", "1999");
    dated(y1999, "Q1", "1999Q1");
    int y2000 = dated(p, "2000", "2000");
    int q = dated(y2000, "Q3", "2000Q3");
    int m = dated(q, "08", "200008");
    dated(m, "14", "20000814");
    dated(p, blankLabel, "99999999");
  }
};

TEST_F(ReparseDates, HierarchyReadsBackWhereverThePlaceholderStands) {
  struct Case {
    const char* what;
    bool before, after;
  };
  const Case cases[] = {
      {"only child", false, false},
      {"first child", false, true},
      {"last child", true, false},
      {"between two nodes", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    resetReparse();
    for (Hashtab* t : {dateTable[0].years, dateTable[0].quarters, dateTable[0].months,
                       dateTable[0].days})
      hashtabFree(t);
    dateTable[0].blankDateLabel = 0;
    numberOfAxes = 0;
    measures(1);
    int root = axis("All");
    if (c.before) add(root, "A");
    grownDates(placeholder(root));
    if (c.after) add(root, "B");
    std::string written = compact(root);
    writeFile("prof.cb4", written);

    numberOfAxes = 0;
    measures(1);
    int root2 = axis("All");
    if (c.before) add(root2, "A");
    int p = placeholder(root2);
    if (c.after) add(root2, "B");
    readPreviousCube(path("prof.qv4").c_str());
    EXPECT_EQ(compact(root2), written);
    EXPECT_EQ(children(root2).size(), size_t(1 + c.before + c.after));
    ASSERT_EQ(children(p), (Texts{"1999", "2000", blankLabel}));
    int y1999 = axisLabels[p].child, y2000 = axisLabels[y1999].sibling;
    int blank = axisLabels[y2000].sibling;
    int q3 = axisLabels[y2000].child, aug = axisLabels[q3].child;
    int day = axisLabels[aug].child;
    EXPECT_EQ(hashtabGet(dateTable[0].years, "1999"), y1999);
    EXPECT_EQ(hashtabGet(dateTable[0].years, "2000"), y2000);
    EXPECT_EQ(hashtabGet(dateTable[0].quarters, "2000Q3"), q3);
    EXPECT_EQ(hashtabGet(dateTable[0].months, "200008"), aug);
    EXPECT_EQ(hashtabGet(dateTable[0].days, "20000814"), day);
    EXPECT_EQ(dateTable[0].blankDateLabel, blank);
    EXPECT_EQ(axisLabels[q3].sort, 1u);
    EXPECT_EQ(axisLabels[aug].sort, 3u);
    EXPECT_EQ(axisLabels[y1999].generatedDate, 1u);
    EXPECT_EQ(axisLabels[day].generatedDate, 0u);
    EXPECT_EQ(axisLabels[y1999].hash, nullptr);
  }
}

TEST_F(ReparseDates, EmptyPlaceholderTakesNoPosition) {
  measures(1);
  int root = axis("All");
  add(root, "A");
  int p = placeholder(root);
  add(root, "B");
  reparseCube("lumetraaxis0=x0=All;x0.0=A;x0.1=B;\n");
  EXPECT_EQ(children(root), (Texts{"A", "Date placeholder", "B"}));
  EXPECT_EQ(children(p), (Texts{}));
}

TEST_F(ReparseDates, RootPlaceholderGivesTheTopEntries) {
  // As the second axis, so that its top entries are named from x1 on.
  measures(1);
  int other = axis("Other");
  add(other, "A");
  int p = placeholder(-1);
  axisRootIndex[numberOfAxes++] = p;
  grownDates(p);
  std::string written = compact(other);
  std::string dates = compact(p);
  ASSERT_EQ(dates.substr(0, 20), "lumetraaxis0=x0=1999");
  FILE* f = tmpfile();
  cb4 = ofp = f;
  outputCompactTree(p, "x", 1);
  fflush(f);
  std::string second(ftell(f), '\0');
  rewind(f);
  second.resize(fread(&second[0], 1, second.size(), f));
  fclose(f);
  cb4 = ofp = nullptr;
  ASSERT_EQ(second.substr(0, 20), "lumetraaxis1=x1=1999");
  writeFile("prof.cb4", written + second);
  numberOfAxes = 0;
  int other2 = axis("Other");
  add(other2, "A");
  int p2 = placeholder(-1);
  axisRootIndex[numberOfAxes++] = p2;
  readPreviousCube(path("prof.qv4").c_str());
  EXPECT_EQ(compact(p2), dates);
  EXPECT_EQ(hashtabGet(dateTable[0].years, "2000"), axisLabels[axisLabels[p2].child].sibling);
}

TEST_F(ReparseDates, EntryWithoutPathIsRefused) {
  // Below a placeholder root every piece is an entry; one without a path names no position
  // and must not replace the labels read before it.
  measures(1);
  int p = placeholder(-1);
  axisRootIndex[numberOfAxes++] = p;
  EXPECT_EXIT(reparseCube("lumetraaxis0=x0=1999;f0=02f2=L041999;key=1999;;x0=2000;\n"),
              ::testing::ExitedWithCode(110),
              "Error 110: Entry '' of axis 0 in cube '.*' names a node whose parent is not "
              "there");
}

TEST_F(ReparseDates, DateLabelsWithoutConditionsGetTheGeneratorsConditions) {
  // Written with record viewing off, date labels carry only their keys.
  Date& d = dateTable[0];
  d.fieldName = "f2";
  d.field = 2;
  d.inputFormat = "YYYY-MM-DD";
  d.outputFormat = "Y+M";
  d.fiscalYearEnd = 11;
  parseDateInputFormat(&d);
  parseDateOutputFormat(&d);
  measures(1);
  int root = axis("All");
  int p = placeholder(root);
  reparseCube("lumetraaxis0=x0=All;x0.0=1999;key=1999;x0.0.0=05;key=199905;\n");
  int year = axisLabels[p].child;
  ASSERT_GE(year, 0);
  int month = axisLabels[year].child;
  ASSERT_GE(month, 0);
  auto printed = printedMatch;
  EXPECT_EQ(printed(axisLabels[year].match), ";f0=02f2H2- 0=L041999");
  EXPECT_EQ(printed(axisLabels[month].match), ";f0=02f2H2- 1=y0205");
}

}  // namespace

namespace {

TEST_F(Reparse, NewCategoriesGetTheProfileLevelBelowThem) {
  // Regions, and below each region a grown level of products on another field.
  measures(1);
  int root = axis("All");
  int regions = add(root, noneLabel, 0);
  axisLabels[regions].backLink = root;
  int products = add(regions, noneLabel, 1);
  axisLabels[products].backLink = regions;
  reparseCube("lumetraaxis0=x0=All;x0.0=East;x0.0.0=Bikes;x0.1=West;x0.1.0=Helmets;"
              "x0.1.1=Bikes;\n");
  int west = axisLabels[regions].sibling;
  int helmets = axisLabels[west].child;
  EXPECT_EQ(children(west), (Texts{"Helmets", "Bikes"}));
  EXPECT_EQ(axisLabels[helmets].field, 1);
  EXPECT_EQ(axisLabels[axisLabels[helmets].sibling].field, 1);
  ASSERT_NE(axisLabels[helmets].hash, nullptr);
  EXPECT_NE(axisLabels[helmets].hash, axisLabels[products].hash);
  EXPECT_EQ(hashtabGet(axisLabels[helmets].hash, "Bikes"), axisLabels[helmets].sibling);
}

}  // namespace

namespace {

TEST_F(Reparse, CategoriesAreIndexedUnderTheValueTheirRecordsHold) {
  // The first category shows a quote as a blank; its condition keeps the value.
  measures(1);
  int root = axis("All");
  int level = add(root, noneLabel, 0);
  reparseCube("lumetraaxis0=x0=All;x0.0=City 5 ;f0=02f0=L07City 5%22;x0.1=(blank);"
              "f0=02f0=L00;x0.2=Plain;\n");
  int blank = axisLabels[level].sibling, plain = axisLabels[blank].sibling;
  EXPECT_EQ(axisLabels[level].label, "City 5 ");
  EXPECT_EQ(hashtabGet(axisLabels[level].hash, "City 5\""), level);
  EXPECT_EQ(hashtabGet(axisLabels[level].hash, blankLabel), blank);
  EXPECT_EQ(hashtabGet(axisLabels[level].hash, "Plain"), plain);
}

}  // namespace

namespace {

TEST_F(Reparse, WithoutConditionsCategoriesComeBackByLabelOrKey) {
  // Record viewing off: no conditions are written, so a category whose label does not
  // read back as its value (a quote shown as a blank, a label cut to fit) carries the value
  // as its key; the others are found by their labels.
  measures(1);
  const std::string values[] = {"q\"uote", "plain", std::string(85, '+'), ""};
  const char* labels[] = {"q uote", "plain", nullptr, blankLabel};
  int root = axis("All");
  for (int i = 0; i < 4; i++) {
    int c = add(root, labels[i] ? labels[i] : values[i].c_str(), 0);
    axisLabels[c].match = categoryMatch(c, values[i].c_str());
    axisLabels[c].hash = axisLabels[axisLabels[root].child].hash;
    if (!axisLabels[c].hash) makeHashtab(c, values[i].c_str());
  }
  noQuery = 1;
  std::string written = compact(root);
  EXPECT_NE(written.find("x0.0=q uote;key=q%22uote;x0.1=plain;x0.2=%2b"), std::string::npos)
      << written;
  EXPECT_NE(written.find(";key=" + escapeCarefully(values[2].c_str()) + ";x0.3=(blank);\n"),
            std::string::npos)
      << written;

  numberOfAxes = 0;
  measures(1);
  int root2 = axis("All");
  int level = add(root2, noneLabel, 0);
  reparseCube(written);
  EXPECT_EQ(compact(root2), written);
  int c = level;
  for (int i = 0; i < 4; i++, c = axisLabels[c].sibling) {
    ASSERT_GE(c, 0);
    EXPECT_EQ(hashtabGet(axisLabels[level].hash, values[i].empty() ? blankLabel
                                                                   : values[i].c_str()),
              c) << values[i];
    EXPECT_EQ(axisLabels[c].key(), nullptr) << values[i];
    EXPECT_EQ(std::string(axisLabels[c].match->leaf->value), values[i]);
  }
}

TEST_F(Reparse, ValuesAreReadInTheCubesOwnDigits) {
  measures(1);
  int root = axis("All");
  add(root, "A");
  add(root, "B");
  std::string reversed(spibbleAlphabet);
  std::reverse(reversed.begin(), reversed.end());
  // Coordinates keep the spibble digits; "+." is 0 and "-z" is -2 in the reversed digits.
  reparseCube("lumetraaxis0=x0=All;x0.0=A;x0.1=B;\ncodingchars=" + reversed +
              "\ncodedcoords=2+0+1\ncodeddata=0+.-z\n");
  EXPECT_EQ(dataValue, (std::vector<double>{0, -2}));
  EXPECT_EQ(oldCoords[1].coordinate.low(), 1u);

  struct Case {
    std::string digits;
    const char* message;
  };
  const Case cases[] = {
      {reversed.substr(1), "codingchars in cube '.*' must have 64 characters; it has 63"},
      {"+" + reversed.substr(1), "codingchars in cube '.*' holds a sign character"},
  };
  for (const Case& c : cases)
    EXPECT_EXIT(reparseCube("codingchars=" + c.digits + "\n"), ::testing::ExitedWithCode(110),
                std::string("Error 110: ") + c.message);
}

}  // namespace

namespace {

TEST_F(Reparse, AxisMissingFromTheCubeIsReportedOnce) {
  measures(1);
  int all = axis("All");
  add(all, noneLabel, 0);
  reparseCube("lumetraaxis0=x0=All;x0.0=B;x0.1=C;\ncodedcoords=2+0+1\ncodeddata=0+2+3\n");
  int added = axis("Added");  // a second axis the profile gained since
  add(added, "Only");
  layOut();
  EXPECT_EXIT(
      {
        restoreData();
        exit((int)dataNodes.size());
      },
      ::testing::ExitedWithCode(0),
      "^Cube '.*' has no axis \"Added\"; its 2 cells are dropped.\n$");
}

}  // namespace

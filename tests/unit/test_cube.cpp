// Record classification and the cube store: coordinates from leaf numbers, every
// combination of matched leaves, measure parsing, missing values and the reports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "varkel/axislabel.h"
#include "varkel/cube.h"
#include "varkel/grow.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/numberparse.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/shape.h"
#include "varkel/workbuffers.h"

#include "tests/unit/cubecells.h"

namespace {

class Cube : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!partPattern) partPattern = (char*)calloc(512, 1);
    blankLabel = "(blank)";
    memset(inputFields, 0, sizeof inputFields);
    dataNodes.clear();
    matchedRecords = elementsStored = nonNumeric = emptyFields = 0;
    memset(warning, 0, sizeof warning);
    warningDups.clear();
    showDups = showFailed = 0;
    numberOfAxes = 0;
    decimalChar = '.';
    commaChar = ',';
  }

  int add(int parent, const char* text) {
    int n = getNextFree();
    axisLabels[n].label = text;
    if (parent >= 0) {
      int* link = &axisLabels[parent].child;
      while (*link >= 0) link = &axisLabels[*link].sibling;
      *link = n;
    }
    return n;
  }
  // A leaf under parent that matches records whose field holds value ("" matches all).
  int leaf(int parent, const char* value, int field) {
    int n = add(parent, value);
    if (*value) axisLabels[n].match = matchCreateString(value, field, -1, -1, -1, -1, nullptr);
    return n;
  }
  int axis(const char* name) {
    int root = add(-1, name);
    axisRootIndex[numberOfAxes++] = root;
    return root;
  }
  void finish(std::initializer_list<int> bits, std::vector<int> measures) {
    int a = 0;
    for (int b : bits) axisBits[a++] = b;
    setLeafNumbers();
    recordSize = int(measures.size());
    recordFieldNums = measures;
  }
  void record(std::initializer_list<const char*> fields) {
    int i = 0;
    for (const char* f : fields) strcpy(inputFields[i++], f);
    numRecords++;
    matchRecord();
  }
};

TEST_F(Cube, CoordinatePacksLeafNumbersFirstAxisHighest) {
  int a = axis("A");
  for (const char* v : {"a0", "a1", "a2", "a3", "a4"}) leaf(a, v, 0);
  int b = axis("B");
  for (const char* v : {"b0", "b1"}) leaf(b, v, 1);
  finish({3, 2}, {2});
  record({"a4", "b1", "7"});
  ASSERT_EQ(dataNodes.size(), 1u);
  EXPECT_EQ(dataNodes.key(0), mbitset<128>(5 * 0 + 4 * 4 + 1));
  EXPECT_EQ(cellMap().begin()->second, std::vector<double>{7});
}

TEST_F(Cube, LabelsBesideAnAxisRootAreNoPartOfTheAxis) {
  // A hand-written profile can hang labels beside an axis root. The axis's bits count
  // the root's subtree only, so its walk must not reach them: a record of theirs fails
  // the axis instead of landing in a cell of another.
  int a = axis("A");
  leaf(a, "a0", 0);
  leaf(a, "a1", 0);
  int z = add(-1, "Z");
  axisLabels[a].sibling = z;
  leaf(z, "z0", 0);
  leaf(z, "z1", 0);
  int b = axis("B");
  leaf(b, "b0", 1);
  leaf(b, "b1", 1);
  axisLabels[b].sibling = add(-1, "b1");  // a leaf beside the last root
  axisLabels[axisLabels[b].sibling].match = matchCreateString("b1", 1, -1, -1, -1, -1, nullptr);
  ASSERT_EQ(getRange(a), 2);
  ASSERT_EQ(getRange(b), 2);
  finish({1, 1}, {2});
  struct Case {
    const char* a;
    const char* b;
    int coordinate;  // -1: the record is in no cell
  };
  const Case cases[] = {
      {"a1", "b0", 2}, {"a0", "b1", 1}, {"z1", "b1", -1}, {"z0", "b0", -1}, {"a1", "b1", 3},
  };
  for (const Case& c : cases) {
    dataNodes.clear();
    record({c.a, c.b, "1"});
    if (c.coordinate < 0) {
      EXPECT_TRUE(dataNodes.empty()) << c.a << " " << c.b;
    } else {
      ASSERT_EQ(dataNodes.size(), 1u) << c.a << " " << c.b;
      EXPECT_EQ(dataNodes.key(0), mbitset<128>(c.coordinate)) << c.a << " " << c.b;
    }
  }
  EXPECT_EQ(matchedRecords, 3);
}

TEST_F(Cube, EveryCombinationOfMatchedLeavesIsStored) {
  int a = axis("A");
  leaf(a, "", 0);
  leaf(a, "x", 0);  // both leaves take an "x" record
  int b = axis("B");
  for (int i = 0; i < 3; i++) leaf(b, "", 1);
  finish({1, 2}, {2});
  record({"x", "y", "2"});
  EXPECT_EQ(dataNodes.size(), 6u);
  EXPECT_EQ(elementsStored, 6);
  EXPECT_EQ(matchedRecords, 1);
  record({"x", "y", "3"});
  for (auto& cell : cellMap()) EXPECT_EQ(cell.second[0], 5);
}

TEST_F(Cube, ComputedLabelWithTrueMatchTakesNoData) {
  // A childless label with a function has no leaf number; its match decides nothing.
  int a = axis("Region");
  leaf(a, "N", 0);
  leaf(a, "S", 0);
  int total = leaf(a, "T", 0);
  axisLabels[total].setFunction(strdup("'sum.own(all)'"));
  int other = leaf(a, "N", 0);  // a second computed label that every N record matches
  axisLabels[other].setFunction(strdup("'sum.own(all)'"));
  finish({1}, {1});
  showDups = 1;
  testing::internal::CaptureStderr();
  record({"N", "1"});
  record({"S", "10"});
  record({"T", "100"});  // matches only the computed label: no leaf on this axis
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  CellMap want = {{mbitset<128>(0), {1}}, {mbitset<128>(1), {10}}};
  EXPECT_EQ(cellMap(), want);
  EXPECT_EQ(matchedRecords, 2);
  EXPECT_EQ(elementsStored, 2);
}

TEST_F(Cube, GrownLevelsMatchByTheirCategoryIndexOnly) {
  // Region: one category per value of field 0, each with "Sub" (field 1 is "a") below it,
  // and "Other" after the level, which every record would match if it were visited.
  int a = axis("Region");
  int t = add(a, "template");
  axisLabels[t].field = 0;
  leaf(t, "a", 1);
  add(a, "Other");
  for (const char* v : {"East", "West"}) {
    strcpy(inputFields[0], v);
    strcpy(inputFields[1], "a");
    nodeStack.assign(1, a);
    while (!nodeStack.empty()) {
      int n = nodeStack.back();
      nodeStack.pop_back();
      insertNode(n);
    }
  }
  finish({2}, {2});  // leaves: East/Sub 0, West/Sub 1, Other 2
  ASSERT_EQ(leafToNode[0].size(), 3u);
  struct Case {
    const char *region, *sub;
    bool stored;
  } cases[] = {{"East", "a", true}, {"West", "a", true}, {"West", "b", false},
               {"North", "a", false}, {"East", "a", true}};
  for (auto& c : cases) {
    int before = matchedRecords;
    record({c.region, c.sub, "1"});
    EXPECT_EQ(matchedRecords - before, c.stored ? 1 : 0) << c.region << " " << c.sub;
  }
  CellMap want = {{mbitset<128>(0), {2}}, {mbitset<128>(1), {1}}};
  EXPECT_EQ(cellMap(), want);
}

TEST_F(Cube, MeasureFieldsParseLikeMoney) {
  struct Case {
    const char* text;
    double want;  // HUGE_VAL: missing
    int nonNumeric, empty;
  } cases[] = {
      {"$1,234.50", 1234.5, 0, 0}, {"(12)", -12, 0, 0}, {"(-12)", -12, 0, 0},
      {"USD 7", 7, 0, 0},          {"abc", HUGE_VAL, 1, 0}, {"-", HUGE_VAL, 1, 0},
      {"0.00", 0, 0, 0},           {"+5", 5, 0, 0},       {"", HUGE_VAL, 0, 1},
      // Too small to hold is no overflow: it counts as zero.
      {"1e-400", 0, 0, 0},         {"-1e-400", 0, 0, 0},  {"0e5", HUGE_VAL, 1, 0},
  };
  int a = axis("A");
  leaf(a, "", 0);
  finish({1}, {1});
  for (auto& c : cases) {
    nonNumeric = emptyFields = 0;
    memset(warning, 0, sizeof warning);
    strcpy(inputFields[1], c.text);
    testing::internal::CaptureStderr();
    double v = extractAField(0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(v, c.want) << c.text;
    EXPECT_EQ(nonNumeric, c.nonNumeric) << c.text;
    EXPECT_EQ(emptyFields, c.empty) << c.text;
  }
}

// Where the thousands separator is a point, a point in plain digits is skipped, not read
// as a fraction.
TEST_F(Cube, PointAsThousandsSeparatorIsSkipped) {
  int a = axis("A");
  leaf(a, "", 0);
  finish({1}, {1});
  decimalChar = ',';
  commaChar = '.';
  struct Case {
    const char* text;
    double want;
  } cases[] = {{"1.234", 1234}, {"1.234.567", 1234567}, {"42", 42}};
  for (auto& c : cases) {
    strcpy(inputFields[1], c.text);
    EXPECT_EQ(extractAField(0), c.want) << c.text;
  }
}

// Plain decimals are read without strtod; every one must come out as strtod reads it,
// including the longest mantissas and the values that round.
TEST_F(Cube, PlainDecimalsReadAsStrtodReadsThem) {
  int a = axis("A");
  leaf(a, "", 0);
  finish({1}, {1});
  uint64_t state = 20261210;
  auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return unsigned(state >> 33);
  };
  for (int i = 0; i < 100000; i++) {
    std::string text = next() % 3 == 0 ? "-" : next() % 5 == 0 ? "+" : "";
    int digits = 1 + int(next() % 17), point = int(next() % (digits + 1));
    for (int d = 0; d < digits; d++) {
      if (d == point && d > 0) text += '.';
      text += char('0' + next() % 10);
    }
    strcpy(inputFields[1], text.c_str());
    double v = extractAField(0);
    double want = strtod(text.c_str(), nullptr);
    if (want == 0) continue;  // a zero's own rules are the table's above
    ASSERT_EQ(memcmp(&v, &want, sizeof v), 0) << text;
  }
}

TEST_F(Cube, CountingMeasureIsOne) {
  int a = axis("A");
  leaf(a, "", 0);
  finish({1}, {-2, 1});
  testing::internal::CaptureStderr();
  record({"x", "nothing numeric"});
  record({"x", "4"});
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(cellMap().begin()->second, (std::vector<double>{2, 4}));
}

TEST_F(Cube, MissingValuesGiveWayToPresentOnes) {
  int a = axis("A");
  leaf(a, "", 0);
  finish({1}, {1});
  record({"x", ""});
  EXPECT_EQ(dataNodes.values(0)[0], HUGE_VAL);
  record({"x", "3"});
  record({"x", ""});
  EXPECT_EQ(dataNodes.values(0)[0], 3);
}

TEST_F(Cube, TooLargeValueEndsTheRun) {
  int a = axis("A");
  leaf(a, "", 0);
  finish({1}, {1});
  strcpy(inputFields[1], "1e999");
  numRecords = 9;
  EXPECT_EXIT(extractAField(0), testing::ExitedWithCode(5),
              "Error 005: Data value '1e999' is too large, in record 9 field 1\n");
}

TEST_F(Cube, ReportsFailuresAndMultipleMatchesOnce) {
  int a = axis("Region");
  leaf(a, "", 0);
  leaf(a, "", 0);
  int b = axis("Product");
  leaf(b, "", 1);
  int c = axis("Year");
  leaf(c, "2000", 2);
  finish({1, 1, 1}, {3});
  showDups = showFailed = 1;
  numRecords = 0;
  testing::internal::CaptureStderr();
  record({"x", "y", "1999", "1"});
  record({"x", "y", "2000", "1"});
  record({"x", "y", "2000", "1"});
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "Record 1 matched dimension 'Region' 2 times.\n"
            "record #1 failed to match dimension 3 \"Year\"\n");
  EXPECT_EQ(matchedRecords, 2);
}

TEST_F(Cube, NonNumericReportedOncePerColumn) {
  int a = axis("A");
  leaf(a, "", 0);
  finish({1}, {1});
  newDataFieldNames[1][0] = 0;
  strcpy(newDataFieldNames[1], "Sales");
  numRecords = 0;
  testing::internal::CaptureStderr();
  record({"x", "n/a"});
  record({"x", "n/a"});
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "warning: record 1 field 'Sales' contains non-numeric value 'n/a'\n");
  EXPECT_EQ(nonNumeric, 2);
}

TEST_F(Cube, OldCellWithFewerMeasuresGrowsToTheProfile) {
  int a = axis("A");
  leaf(a, "", 0);
  finish({1}, {1, 2});
  putCell(mbitset<128>(0), {5});  // carried over from a cube with one measure
  putCell(mbitset<128>(1), {4});
  record({"x", "2", "3"});
  CellMap want = {{mbitset<128>(0), {7, 3}}, {mbitset<128>(1), {4, HUGE_VAL}}};
  EXPECT_EQ(cellMap(), want);
}

}  // namespace

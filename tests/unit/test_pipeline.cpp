// The build pipeline's own steps: the default measures, the data file name, the pruning of
// empty axes, the bit layout and the choice of passes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "varkel/axislabel.h"
#include "varkel/coded.h"
#include "varkel/datasource.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/workbuffers.h"

namespace {

// A new label with text, appended to parent's children when parent is given.
int add(int parent, const char* text) {
  int n = getNextFree();
  AxisLabel& l = axisLabels[n];
  l.label = text;
  if (parent >= 0) {
    int* link = &axisLabels[parent].child;
    while (*link >= 0) link = &axisLabels[*link].sibling;
    *link = n;
  }
  return n;
}

// An axis root with leaves children.
int axisWith(int leaves) {
  int root = add(-1, "axis");
  for (int i = 0; i < leaves; i++) add(root, "leaf");
  return root;
}

void setAxes(std::initializer_list<int> roots) {
  numberOfAxes = 0;
  for (int i = 0; i < maxAxes; i++) axisRootIndex[i] = -1;
  for (int r : roots) axisRootIndex[numberOfAxes++] = r;
}

std::string formatOf(int n) { return axisLabels[n].format() ? *axisLabels[n].format() : "(none)"; }

class Pipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!newDataFileName) newDataFileName = static_cast<char*>(calloc(256, 1));
    if (!profileDirectory) profileDirectory = static_cast<char*>(calloc(256, 1));
    newDataFileName[0] = '\0';
    strcpy(profileDirectory, "/srv/cubes/");
    verbose = 0;
    isCGI = 0;
    incrementalBuild = 0;
    // Label 0 is an axis root in every real run; keep it out of the measures tests.
    if (nextFree == 0) add(-1, "first axis");
  }
};

TEST_F(Pipeline, ProfileWithoutMeasuresCountsUnderMeasuresRoot) {
  // No measures root, or label 0 (which is always the first axis root).
  for (int given : {-1, 0}) {
    recordAxisRoot = given;
    ensureMeasuresAxis();
    const AxisLabel& root = axisLabels[recordAxisRoot];
    EXPECT_EQ(root.label, "Measures");
    EXPECT_EQ(root.field, -1);
    ASSERT_GE(root.child, 0);
    const AxisLabel& count = axisLabels[root.child];
    EXPECT_EQ(count.label, "Count");
    EXPECT_EQ(count.field, -2);
    EXPECT_EQ(formatOf(root.child), "D0N0");
    EXPECT_EQ(count.child, -1);
    EXPECT_EQ(count.sibling, -1);
    EXPECT_EQ(count.function(), nullptr);
  }
}

TEST_F(Pipeline, ChildlessMeasuresRootGetsRootAbove) {
  int old = add(-1, "Sales");
  int after = add(-1, "next");
  axisLabels[old].sibling = after;
  recordAxisRoot = old;
  ensureMeasuresAxis();
  ASSERT_NE(recordAxisRoot, old);
  EXPECT_EQ(axisLabels[recordAxisRoot].label, "Measures");
  EXPECT_EQ(axisLabels[recordAxisRoot].child, old);
  EXPECT_EQ(axisLabels[recordAxisRoot].sibling, after);
}

TEST_F(Pipeline, MeasuresRootWithMeasuresStays) {
  int root = add(-1, "Money");
  add(root, "Sales");
  recordAxisRoot = root;
  int before = nextFree;
  ensureMeasuresAxis();
  EXPECT_EQ(recordAxisRoot, root);
  EXPECT_EQ(nextFree, before);
}

TEST_F(Pipeline, DataFileNameResolution) {
  struct Case {
    const char* name;
    DataType type;
    const char* want;
  } cases[] = {
      {"sales.txt", textData, "/srv/cubes/sales.txt"},
      {"sub/sales.txt", textData, "/srv/cubes/sub/sales.txt"},
      {"/data/sales.txt", textData, "/data/sales.txt"},
      {"stdin", textData, "stdin"},
      {"cat sales.txt", execData, "/srv/cubes/cat sales.txt"},
      {"", textData, ""},
  };
  char* saved = dataFileName;
  DataType savedType = dataType;
  for (const Case& c : cases) {
    std::string name = c.name;
    dataFileName = &name[0];
    dataType = c.type;
    strcpy(newDataFileName, "left over");
    if (c.name[0] == '\0') strcpy(newDataFileName, "");
    resolveDataFileName();
    EXPECT_STREQ(newDataFileName, c.want) << c.name;
  }
  // A command too long for the name buffer is never opened by that name: no error.
  std::string command(300, 'x');
  dataFileName = &command[0];
  dataType = execData;
  resolveDataFileName();
  EXPECT_STREQ(newDataFileName, "");
  dataFileName = saved;
  dataType = savedType;
}

TEST_F(Pipeline, TooLongDataFileNameIsRefused) {
  std::string name(250, 'd');  // fits alone, not after the profile directory
  dataFileName = &name[0];
  dataType = textData;
  EXPECT_EXIT(resolveDataFileName(), ::testing::ExitedWithCode(1), "is longer than 255");
}

TEST_F(Pipeline, EmptyAxesAreDroppedAndTheRestCloseUp) {
  int a = axisWith(2), empty1 = axisWith(0), b = axisWith(1), empty2 = axisWith(0);
  setAxes({a, empty1, b, empty2});
  testing::internal::CaptureStderr();
  pruneAxes();
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(numberOfAxes, 2);
  EXPECT_EQ(axisRootIndex[0], a);
  EXPECT_EQ(axisRootIndex[1], b);
  EXPECT_EQ(axisRootIndex[2], -1);
  EXPECT_EQ(axisRootIndex[3], -1);
  EXPECT_EQ(said,
            "Dimension \"axis\" ignored because it has no children.\n"
            "Dimension \"axis\" ignored because it has no children.\n");
}

TEST_F(Pipeline, NoAxisLeftIsFatal) {
  setAxes({axisWith(0), axisWith(0)});
  EXPECT_EXIT(pruneAxes(), ::testing::ExitedWithCode(3),
              "No data dimensions.  Cannot build a cube.");
}

TEST_F(Pipeline, BitsPerAxisFollowTheRange) {
  struct Case {
    int leaves, bits;
  } cases[] = {{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {8, 3}, {9, 4}, {16, 4}, {17, 5}};
  setAxes({});
  int total = 0;
  for (const Case& c : cases) {
    axisRootIndex[numberOfAxes++] = axisWith(c.leaves);
    total += c.bits;
  }
  layOutCoordinates();
  for (int i = 0; i < numberOfAxes; i++) {
    EXPECT_EQ(axisRange[i], cases[i].leaves) << "axis " << i;
    EXPECT_EQ(axisBits[i], cases[i].bits) << "axis " << i;
  }
  EXPECT_EQ(numberOfBits, total);
  // The leaves are numbered for the cube pass.
  EXPECT_EQ(leafToNode[8].size(), 17u);
}

TEST_F(Pipeline, WidestLayoutAcceptedOneBitMoreRefused) {
  setAxes({});
  for (int i = 0; i < 32; i++) axisRootIndex[numberOfAxes++] = axisWith(16);
  layOutCoordinates();
  EXPECT_EQ(numberOfBits, 128);

  add(axisRootIndex[31], "one more");
  EXPECT_EXIT(layOutCoordinates(), ::testing::ExitedWithCode(110),
              "The dimension requirements of 129 bits exceeds the number available in this "
              "version.\nThe current maximum is 128.\nEither reduce the number of dimensions "
              "or reduce the range of one dimension.\nDimension 0 range is: 16 \\(4 bits\\)\n"
              "(.|\n)*Dimension 31 range is: 17 \\(5 bits\\)\n"
              "Error 110: Number of bits required \\(129\\) exceed limit of 128.");
}

TEST_F(Pipeline, PassesRunByTheOutputFlags) {
  struct Case {
    int expand, inhibit, formatted;
    bool expansion, cube;
  } cases[] = {
      {0, 0, 1, false, true}, {1, 0, 1, true, true},  {1, 1, 1, false, false},
      {0, 1, 1, false, true}, {1, 0, 0, true, false}, {0, 0, 0, false, false},
  };
  for (const Case& c : cases) {
    expandProfile = c.expand;
    inhibitProfileExpansion = c.inhibit;
    emitFormattedData = c.formatted;
    EXPECT_EQ(expansionPassRuns(), c.expansion) << c.expand << c.inhibit << c.formatted;
    EXPECT_EQ(cubePassRuns(), c.cube) << c.expand << c.inhibit << c.formatted;
  }
  expandProfile = inhibitProfileExpansion = 0;
  emitFormattedData = 1;
}

}  // namespace

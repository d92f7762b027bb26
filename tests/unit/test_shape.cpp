// Tree shaping: sorting of sibling runs, the depth cut and the leaf and measure counts.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "varkel/axislabel.h"
#include "varkel/options.h"
#include "varkel/shape.h"

namespace {

// A new label with text and sort code, appended to parent's children when parent is given.
int add(int parent, const char* text, int sort = 0, const char* key = nullptr) {
  int n = getNextFree();
  AxisLabel& l = axisLabels[n];
  l.label = text;
  l.sort = sort;
  if (key) l.setKey(strdup(key));
  if (parent >= 0) {
    int* link = &axisLabels[parent].child;
    while (*link >= 0) link = &axisLabels[*link].sibling;
    *link = n;
  }
  return n;
}

std::vector<std::string> children(int parent) {
  std::vector<std::string> texts;
  for (int c = axisLabels[parent].child; c >= 0; c = axisLabels[c].sibling)
    texts.push_back(axisLabels[c].label);
  return texts;
}

typedef std::vector<std::string> Texts;

TEST(Sorting, SortedRunFollowsUnsortedLabel) {
  int root = add(-1, "Fruit");
  add(root, "Total");
  add(root, "pear", 1);
  add(root, "apple", 1);
  add(root, "fig", 1);
  doSorting(root, -1, -1);
  EXPECT_EQ(children(root), (Texts{"Total", "apple", "fig", "pear"}));
}

TEST(Sorting, RunAtChainStartBecomesParentsChild) {
  int root = add(-1, "Fruit");
  add(root, "pear", 2);
  add(root, "apple", 2);
  add(root, "fig", 2);
  add(root, "Other");
  doSorting(root, -1, -1);
  EXPECT_EQ(children(root), (Texts{"pear", "fig", "apple", "Other"}));
}

TEST(Sorting, NumericOrdersPutNonNumericFirst) {
  struct Case {
    int code;
    Texts want;
  } cases[] = {{3, {"x", "9", "10", "100"}}, {4, {"x", "100", "10", "9"}}};
  for (auto& c : cases) {
    int root = add(-1, "n");
    for (const char* t : {"10", "9", "x", "100"}) add(root, t, c.code);
    doSorting(root, -1, -1);
    EXPECT_EQ(children(root), c.want) << "sort code " << c.code;
  }
}

TEST(Sorting, OnlyPlainDecimalsAreNumbers) {
  // strtod would read these as numbers (NaN breaks the order); here they are texts.
  int root = add(-1, "n");
  for (const char* t : {"2", "nan", "0x1A", "1.5e1", "inf", "-3"}) add(root, t, 3);
  doSorting(root, -1, -1);
  Texts got = children(root);
  EXPECT_EQ(Texts(got.begin() + 3, got.end()), (Texts{"-3", "2", "1.5e1"}));
  EXPECT_EQ(getLabelVal(axisLabels[root].child), -HUGE_VAL);
}

TEST(Sorting, KeyWinsOverText) {
  int root = add(-1, "Months");
  add(root, "Feb", 1, "2000-02");
  add(root, "Jan", 1, "2000-01");
  add(root, "Mar", 1, "2000-03");
  doSorting(root, -1, -1);
  EXPECT_EQ(children(root), (Texts{"Jan", "Feb", "Mar"}));
}

TEST(Sorting, SingleLabelRunStillSortsItsChildren) {
  int root = add(-1, "r");
  int only = add(root, "only", 1);
  add(only, "b", 1);
  add(only, "a", 1);
  doSorting(root, -1, -1);
  EXPECT_EQ(children(only), (Texts{"a", "b"}));
}

TEST(Sorting, RunsWithDifferentCodesSortSeparately) {
  int root = add(-1, "r");
  for (const char* t : {"b", "a"}) add(root, t, 1);
  for (const char* t : {"2", "10"}) add(root, t, 3);
  doSorting(root, -1, -1);
  EXPECT_EQ(children(root), (Texts{"a", "b", "2", "10"}));
}

TEST(Trimming, KeepsDepthLimitLevelsAndWarnsOncePerCutLabel) {
  int root = add(-1, "deep");
  int n = root;
  for (int i = 1; i <= 20; i++) n = add(n, ("L" + std::to_string(i)).c_str());
  testing::internal::CaptureStderr();
  // As the driver applies it: below every label of the root's chain.
  for (int c = root; c >= 0; c = axisLabels[c].sibling)
    trimDepth(axisLabels[c].child, depthLimit - 1);
  std::string err = testing::internal::GetCapturedStderr();
  int depth = 0;
  for (int c = root; axisLabels[c].child >= 0; c = axisLabels[c].child) depth++;
  EXPECT_EQ(depth, 16);
  EXPECT_EQ(err,
            "Warning: truncated category L16 (field -1) because it is more than 16 deep.\n");
}

TEST(Counting, LeavesAndMeasures) {
  int lone = add(-1, "lone");
  EXPECT_EQ(getRange(lone), 1);
  EXPECT_EQ(getRange(-1), 1);

  int root = add(-1, "axis");
  int a = add(root, "a");
  add(a, "a1");
  add(a, "a2");
  add(root, "b");
  EXPECT_EQ(getRange(root), 3);

  int measures = add(-1, "Measures");
  int sales = add(measures, "Sales");
  axisLabels[sales].field = 4;
  int count = add(measures, "Count");
  axisLabels[count].field = -2;
  int ratio = add(measures, "Ratio");  // computed: no field
  axisLabels[ratio].setFunction(strdup("Sales/Count"));
  EXPECT_EQ(getRecordRange(measures), 2);

  recordFieldNums.assign(2, -1);
  recordFieldCtr = 0;
  getFieldIndices(measures);
  EXPECT_EQ(recordFieldNums, (std::vector<int>{4, -2}));

  int computedOnly = add(-1, "Computed");
  axisLabels[add(computedOnly, "r")].setFunction(strdup("1"));
  EXPECT_EQ(getRecordRange(computedOnly), 0);
}

}  // namespace

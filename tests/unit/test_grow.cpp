// Tree growth: grown levels, their category index, multi-level expansion, the blank label,
// templates with a match, and what the profile put after a grown level.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "varkel/axislabel.h"
#include "varkel/grow.h"
#include "varkel/hashtab.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/varkel.h"

namespace {

typedef std::vector<std::string> Texts;

class Growth : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!partPattern) partPattern = (char*)calloc(512, 1);
    blankLabel = "(blank)";
    memset(inputFields, 0, sizeof inputFields);
  }

  int add(int parent, const char* text, int field = -1) {
    int n = getNextFree();
    axisLabels[n].label = text;
    axisLabels[n].field = field;
    if (parent >= 0) {
      int* link = &axisLabels[parent].child;
      while (*link >= 0) link = &axisLabels[*link].sibling;
      *link = n;
    }
    return n;
  }

  // Runs the growth walk of one record (field 0 holds value) over the axis at root.
  void grow(int root, const char* value) {
    strncpy(inputFields[0], value, 255);
    nodeStack.clear();
    nodeStack.push_back(root);
    while (!nodeStack.empty()) {
      int n = nodeStack.back();
      nodeStack.pop_back();
      insertNode(n);
    }
  }

  Texts chain(int first) {
    Texts texts;
    for (int c = first; c >= 0; c = axisLabels[c].sibling) texts.push_back(axisLabels[c].label);
    return texts;
  }
  Texts children(int parent) { return chain(axisLabels[parent].child); }
};

TEST_F(Growth, WholeFieldLevelKeepsFirstOccurrenceOrder) {
  int root = add(-1, "Region");
  int level = add(root, "template", 0);
  add(level, "Total");  // what the profile put below the placeholder
  for (const char* v : {"East", "West", "East"}) grow(root, v);

  EXPECT_EQ(children(root), (Texts{"East", "West"}));
  int east = axisLabels[root].child, west = axisLabels[east].sibling;
  EXPECT_EQ(axisLabels[east].hash, axisLabels[west].hash);
  EXPECT_EQ(hashtabGet(axisLabels[east].hash, "West"), west);
  EXPECT_EQ(axisLabels[east].hash->tail, west);
  // Every category carries its own copy of the profile's subtree.
  EXPECT_EQ(children(east), (Texts{"Total"}));
  EXPECT_EQ(children(west), (Texts{"Total"}));
  EXPECT_NE(axisLabels[east].child, axisLabels[west].child);
  // And an equality match on its own value.
  strcpy(inputFields[0], "West");
  EXPECT_TRUE(evalMatch(axisLabels[west].match));
  EXPECT_FALSE(evalMatch(axisLabels[east].match));
}

TEST_F(Growth, EmptyValueAndBlankTextShareOneCategory) {
  int root = add(-1, "Region");
  add(root, "template", 0);
  grow(root, "");
  grow(root, "(blank)");
  grow(root, "North");
  EXPECT_EQ(children(root), (Texts{"(blank)", "North"}));
}

TEST_F(Growth, MultiLevelFromTheLeft) {
  int root = add(-1, "Path");
  int t = add(root, "template", 0);
  AxisLabel& l = axisLabels[t];
  l.separator = new std::string(";");
  l.part = 0;
  l.lastPart = 2;
  l.multiLevelExpand = 1;
  grow(root, "A;B;C");
  grow(root, "A;X");
  grow(root, "D");
  grow(root, "D;E");

  EXPECT_EQ(children(root), (Texts{"A", "D"}));
  int a = axisLabels[root].child;
  EXPECT_EQ(children(a), (Texts{"B", "X"}));
  int b = axisLabels[a].child;
  EXPECT_EQ(children(b), (Texts{"C"}));
  EXPECT_EQ(axisLabels[axisLabels[b].sibling].child, -1);
  // D was made by a record without a second part: its depth stays fixed.
  EXPECT_EQ(axisLabels[axisLabels[a].sibling].child, -1);
}

TEST_F(Growth, MultiLevelFromTheRight) {
  int root = add(-1, "Path");
  int t = add(root, "template", 0);
  AxisLabel& l = axisLabels[t];
  l.separator = new std::string(";");
  l.backPart = 0;
  l.lastPart = 2;
  l.multiLevelExpand = 1;
  grow(root, "A;B;C");
  grow(root, "X;B;C");
  grow(root, "D");

  EXPECT_EQ(children(root), (Texts{"C", "D"}));
  int c = axisLabels[root].child;
  EXPECT_EQ(children(c), (Texts{"B"}));
  int b = axisLabels[c].child;
  EXPECT_EQ(children(b), (Texts{"A", "X"}));
  EXPECT_EQ(axisLabels[axisLabels[b].child].backPart, 2);
  EXPECT_EQ(axisLabels[axisLabels[c].sibling].child, -1);
}

TEST_F(Growth, FirstCategoryBesideAFalseTemplateCopiesItsSubtree) {
  int root = add(-1, "Region");
  int t = add(root, "template", 0);
  int total = add(t, "Total");
  axisLabels[t].match = matchCreateString("East", 0, -1, -1, -1, -1, nullptr);
  grow(root, "West");
  int west = axisLabels[t].sibling;
  ASSERT_GE(west, 0);
  EXPECT_EQ(axisLabels[west].backLink, t);
  EXPECT_EQ(children(west), (Texts{"Total"}));
  EXPECT_NE(axisLabels[west].child, total);
  EXPECT_EQ(axisLabels[axisLabels[west].child].backLink, total);
}

TEST_F(Growth, PartTemplateWithoutSeparatorCutsAsItsCategoriesMatch) {
  // No separator: the field is one part, for the first category as for its match.
  struct Case {
    int part, backPart;
  } cases[] = {{0, -1}, {1, -1}, {-1, 0}, {-1, 1}};
  for (auto& c : cases) {
    int root = add(-1, "Code");
    int t = add(root, "template", 0);
    axisLabels[t].part = c.part;
    axisLabels[t].backPart = c.backPart;
    grow(root, "a;b");
    EXPECT_EQ(children(root), (Texts{"a;b"})) << c.part << " " << c.backPart;
    EXPECT_TRUE(evalMatch(axisLabels[t].match)) << c.part << " " << c.backPart;
  }
}

TEST_F(Growth, TemplateOnAFieldOutsideTheRecordGrowsTheBlankCategory) {
  // A counting measure's field (-2) on a dimension label names no column of the record.
  for (int field : {-2, 513}) {
    int root = add(-1, "Odd");
    add(root, "template", field);
    grow(root, "x");
    grow(root, "y");
    EXPECT_EQ(children(root), (Texts{"(blank)"})) << field;
  }
}

TEST_F(Growth, TemplateWithFalseMatchStaysInFront) {
  int root = add(-1, "Region");
  int t = add(root, "template", 0);
  axisLabels[t].match = matchCreateString("East", 0, -1, -1, -1, -1, nullptr);
  grow(root, "West");
  EXPECT_EQ(children(root), (Texts{"template", "West"}));
  EXPECT_EQ(axisLabels[t].hash, nullptr);
  grow(root, "North");  // the template now becomes a category whatever its match says
  EXPECT_EQ(axisLabels[t].label, "North");
  EXPECT_NE(axisLabels[t].hash, nullptr);
}

TEST_F(Growth, LabelsAfterALevelStandOnceAfterTheLastCategory) {
  int root = add(-1, "Region");
  add(root, "template", 0);
  add(root, "Other");
  for (const char* v : {"East", "West", "South"}) grow(root, v);
  EXPECT_EQ(children(root), (Texts{"East", "West", "South", "Other"}));
}

TEST_F(Growth, QuotesBecomeBlanksOnlyInTheFirstCategory) {
  int root = add(-1, "Name");
  add(root, "template", 0);
  grow(root, "O'Neil \"Jr\"");
  grow(root, "D'Arcy");
  EXPECT_EQ(children(root), (Texts{"O Neil  Jr ", "D'Arcy"}));
}

TEST_F(Growth, CopyTreeSharesMatchesOfFixedLabels) {
  int root = add(-1, "Fixed");
  int a = add(root, "a");
  axisLabels[a].match = matchCreateString("x", 0, -1, -1, -1, -1, nullptr);
  add(root, "b");
  int copy = copyTree(axisLabels[root].child);
  EXPECT_EQ(chain(copy), (Texts{"a", "b"}));
  EXPECT_EQ(axisLabels[copy].match, axisLabels[a].match);
  EXPECT_EQ(axisLabels[copy].backLink, a);
}

TEST_F(Growth, MakeHashtabAndAutobuildHelpers) {
  int n = add(-1, "x", 0);
  makeHashtab(n, "");
  ASSERT_NE(axisLabels[n].hash, nullptr);
  EXPECT_EQ(hashtabGet(axisLabels[n].hash, "(blank)"), n);
  Hashtab* before = axisLabels[n].hash;
  makeHashtab(n, "other");
  EXPECT_EQ(axisLabels[n].hash, before);

  AxisLabel& l = axisLabels[n];
  l.multiLevelExpand = 1;
  l.lastPart = 2;
  l.backPart = 1;
  EXPECT_EQ(autobuildContinue(n), 1);
  autobuildNext(n);
  EXPECT_EQ(l.backPart, 2);
  EXPECT_EQ(autobuildContinue(n), 0);
}

}  // namespace

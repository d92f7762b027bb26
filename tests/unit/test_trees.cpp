// Tree writers: the compact trees of the cube page, the expanded and unexpanded profile
// trees, their node names and items, the spliced numbering of date placeholders, and the
// count of compact entries.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "varkel/axislabel.h"
#include "varkel/date.h"
#include "varkel/grow.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/trees.h"

namespace {

class TreeWriters : public ::testing::Test {
 protected:
  FILE* out = nullptr;

  void SetUp() override {
    out = tmpfile();
    ASSERT_NE(out, nullptr);
    ofp = cb4 = out;
    emitCB4 = 1;
    noQuery = 0;
    dateLastCategory = 0;
    totalNodeCount = 0;
    treeNodeStack.clear();
    nodeNameStack.clear();
    nodeNumberStack.clear();
  }
  void TearDown() override {
    fclose(out);
    ofp = cb4 = nullptr;
  }

  // A new label under parent (after its last child), or a root for -1.
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
  int placeholder(int parent, int dateIndex) {
    int n = add(parent, "Date placeholder");
    axisLabels[n].dateIndex = dateIndex;
    return n;
  }

  // Everything written so far.
  std::string written() {
    fflush(out);
    long size = ftell(out);
    std::string text(size, '\0');
    rewind(out);
    size_t got = fread(&text[0], 1, size, out);
    text.resize(got);
    return text;
  }

  // Runs a one-setting-per-node writer over the tree at root as the output phases do.
  void walk(void (*writer)(int, const char*, int), int root, const char* top) {
    pushTreeNode(root, top, 0);
    while (!treeNodeStack.empty()) {
      int n = treeNodeStack.back();
      std::string name = nodeNameStack.back();
      int number = nodeNumberStack.back();
      treeNodeStack.pop_back();
      nodeNameStack.pop_back();
      nodeNumberStack.pop_back();
      writer(n, name.c_str(), number);
    }
  }
};

TEST_F(TreeWriters, CompactAxisInBothCarriers) {
  int root = add(-1, "All");
  add(root, "A");
  add(root, "B");
  outputCompactTree(root, "x", 0);
  EXPECT_EQ(written(), "lumetraaxis0=x0=All;x0.0=A;x0.1=B;\n");
  EXPECT_EQ(totalNodeCount, 3);

  rewind(out);
  emitCB4 = 0;
  outputCompactTree(root, "x", 2);
  std::string page = written();
  EXPECT_EQ(page.substr(0, page.find('\n') + 1),
            "<param name=\"lumetraaxis2\" value=\"x2=All;x2.0=A;x2.1=B;\">\n");
  EXPECT_EQ(totalNodeCount, 6);
}

TEST_F(TreeWriters, CompactTreeWithoutRootOrNameHasEmptyValue) {
  outputCompactTree(-1, "x", 4);
  outputCompactTree(-1, "y", 0);
  int root = add(-1, "Alone");
  outputCompactTree(root, "z", 0);
  EXPECT_EQ(written(), "lumetraaxis4=\nlumetrarecord0=\nz.0=Alone;\n");
  EXPECT_EQ(totalNodeCount, 1);
}

TEST_F(TreeWriters, LabelsBesideARootAreNotWritten) {
  // A hand-written profile can hang labels beside a root; the axis is the root's subtree,
  // as its leaves are numbered, in every form.
  int saved = numberOfAxes, savedRecord = recordAxisRoot;
  int savedRoots[2] = {axisRootIndex[0], axisRootIndex[1]};
  int root = add(-1, "All");
  add(root, "A");
  axisLabels[root].sibling = add(-1, "Z");
  add(axisLabels[root].sibling, "Z1");
  int measures = add(-1, "Measures");
  add(measures, "Sales", 3);
  axisLabels[measures].sibling = add(-1, "Other");
  int dates = placeholder(-1, 1);
  add(dates, "1999");
  axisLabels[dates].sibling = add(-1, "After");
  numberOfAxes = 2;
  axisRootIndex[0] = root;
  axisRootIndex[1] = dates;
  recordAxisRoot = measures;
  outputCompactTree(root, "x", 0);
  outputCompactTree(dates, "x", 1);
  outputCompactTree(measures, "y", 0);
  walk(outputTree, root, "dx");
  walk(outputUnexpandedTree, root, "dx");
  EXPECT_EQ(written(),
            "lumetraaxis0=x0=All;x0.0=A;\n"
            "lumetraaxis1=x1=1999;\n"
            "lumetrarecord0=y0=Measures;y0.0=Sales;field=3;\n"
            "dx0=All\ndx0.0=A\n"
            "dx0=All\ndx0.0=A\n");
  EXPECT_EQ(totalNodeCount, 5);
  numberOfAxes = saved;
  axisRootIndex[0] = savedRoots[0];
  axisRootIndex[1] = savedRoots[1];
  recordAxisRoot = savedRecord;
}

TEST_F(TreeWriters, MeasuresInCompactAndExpandedForms) {
  int root = add(-1, "Measures");
  add(root, "Sales", 3);
  add(root, "Count", -2);
  outputCompactTree(root, "y", 0);
  EXPECT_EQ(written(), "lumetrarecord0=y0=Measures;y0.0=Sales;field=3;y0.1=Count;\n");

  rewind(out);
  walk(outputTree, root, "dr");
  EXPECT_EQ(written(), "dr0=Measures\ndr0.0=Sales;field=3\ndr0.1=Count;field=-1\n");
}

TEST_F(TreeWriters, DimensionNodesCarryNoFieldItem) {
  int root = add(-1, "All");
  add(root, "A", 3);
  walk(outputTree, root, "dx");
  outputCompactTree(root, "x", 0);
  EXPECT_EQ(written(), "dx0=All\ndx0.0=A\nlumetraaxis0=x0=All;x0.0=A;\n");
}

TEST_F(TreeWriters, ExpandedPageTagsAndPreOrder) {
  emitCB4 = 0;
  int root = add(-1, "All");
  int a = add(root, "A");
  add(a, "A1");
  add(a, "A2");
  add(root, "B");
  walk(outputTree, root, "dx");
  EXPECT_EQ(written(),
            "<param name=\"dx0\" value=\"All\">\n"
            "<param name=\"dx0.0\" value=\"A\">\n"
            "<param name=\"dx0.0.0\" value=\"A1\">\n"
            "<param name=\"dx0.0.1\" value=\"A2\">\n"
            "<param name=\"dx0.1\" value=\"B\">\n");
  EXPECT_EQ(totalNodeCount, 0);
}

// Placeholder layouts: where the years must land among the level's other nodes.
TEST_F(TreeWriters, DatePlaceholdersAreSplicedIntoTheirLevel) {
  struct Case {
    const char* what;
    const char* before;  // nodes of x0's level before the placeholder ("" none)
    const char* after;   // and after it
    int years;           // children of the placeholder
    const char* expected;
    int count;
  };
  const Case cases[] = {
      {"last child", "A", "", 2, "x0=All;x0.0=A;x0.1=1999;x0.1.0=Q1;x0.2=2000;x0.2.0=Q1;", 6},
      {"first child", "", "B", 2, "x0=All;x0.0=1999;x0.0.0=Q1;x0.1=2000;x0.1.0=Q1;x0.2=B;", 6},
      {"middle", "A", "B", 2,
       "x0=All;x0.0=A;x0.1=1999;x0.1.0=Q1;x0.2=2000;x0.2.0=Q1;x0.3=B;", 7},
      {"empty", "A", "B", 0, "x0=All;x0.0=A;x0.1=B;", 3},
      {"only child", "", "", 1, "x0=All;x0.0=1999;x0.0.0=Q1;", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rewind(out);
    totalNodeCount = 0;
    int root = add(-1, "All");
    if (*c.before) add(root, c.before);
    int p = placeholder(root, 1);
    for (int y = 0; y < c.years; y++) {
      int year = add(p, y == 0 ? "1999" : "2000");
      add(year, "Q1");
    }
    if (*c.after) add(root, c.after);
    outputCompactTree(root, "x", 0);
    std::string text = written();
    EXPECT_EQ(text.substr(0, text.find('\n')), std::string("lumetraaxis0=") + c.expected);
    EXPECT_EQ(totalNodeCount, c.count);
  }
}

TEST_F(TreeWriters, NestedAndRootPlaceholdersSpliceThrough) {
  // A placeholder whose first child is a placeholder, between two ordinary nodes.
  int root = add(-1, "All");
  add(root, "A");
  int outer = placeholder(root, 1);
  int inner = placeholder(outer, 2);
  add(inner, "1999");
  add(inner, "2000");
  add(outer, "(blank)");
  add(root, "B");
  outputCompactTree(root, "x", 0);
  EXPECT_EQ(written(), "lumetraaxis0=x0=All;x0.0=A;x0.1=1999;x0.2=2000;x0.3=(blank);x0.4=B;\n");

  // An axis whose root is a placeholder: its children become the top entries.
  rewind(out);
  int top = placeholder(-1, 1);
  int y = add(top, "1999");
  add(y, "Q1");
  add(top, "2000");
  outputCompactTree(top, "x", 1);
  std::string text = written();
  EXPECT_EQ(text.substr(0, text.find('\n')), "lumetraaxis1=x1=1999;x1.0=Q1;x2=2000;");
}

TEST_F(TreeWriters, ExpandedFormWritesPlaceholdersAsNodes) {
  int root = add(-1, "All");
  int p = placeholder(root, 1);
  add(p, "1999");
  walk(outputTree, root, "dx");
  EXPECT_EQ(written(), "dx0=All\ndx0.0=Date placeholder\ndx0.0.0=1999\n");
}

TEST_F(TreeWriters, MatchItemsFollowNoQueryOnlyInCompactForm) {
  int root = add(-1, "All");
  int a = add(root, "A");
  axisLabels[a].match = matchParseExpression("02f0=L01A");
  ASSERT_NE(axisLabels[a].match, nullptr);
  outputCompactTree(root, "x", 0);
  noQuery = 1;
  outputCompactTree(root, "x", 0);
  walk(outputTree, root, "dx");
  EXPECT_EQ(written(),
            "lumetraaxis0=x0=All;x0.0=A;f0=02f0=L01A;\n"
            "lumetraaxis0=x0=All;x0.0=A;\n"
            "dx0=All\ndx0.0=A;f0=02f0=L01A\n");
}

TEST_F(TreeWriters, KeyFormatFunctionAndLastCategoryItems) {
  int root = add(-1, "All");
  int year = add(root, "1999");
  axisLabels[year].setKey(strdup("1999"));
  axisLabels[year].generatedDate = 1;
  add(year, "Q1");
  int total = add(root, "Total");
  axisLabels[total].setFunction(strdup("sum."));
  axisLabels[total].setFormat(new std::string("D2"));
  int leaf = add(root, "2000");
  axisLabels[leaf].generatedDate = 1;  // no child: never a last category

  dateLastCategory = 1;
  outputCompactTree(root, "x", 0);
  walk(outputTree, root, "dx");
  dateLastCategory = 0;
  outputCompactTree(root, "x", 0);
  EXPECT_EQ(written(),
            "lumetraaxis0=x0=All;x0.0=1999;key=1999;compute=('_last_category_');x0.0.0=Q1;"
            "x0.1=Total;format=D2;function=sum.;x0.2=2000;\n"
            "dx0=All\ndx0.0=1999;key=1999;compute=('_last_category_')\ndx0.0.0=Q1\n"
            "dx0.1=Total;format=D2;function=sum.\ndx0.2=2000\n"
            "lumetraaxis0=x0=All;x0.0=1999;key=1999;x0.0.0=Q1;"
            "x0.1=Total;format=D2;function=sum.;x0.2=2000;\n");
}

TEST_F(TreeWriters, LabelsAreEscapedInsideEntries) {
  int root = add(-1, "a;b");
  add(root, "A+B \"q\"");
  outputCompactTree(root, "x", 0);
  EXPECT_EQ(written(), "lumetraaxis0=x0=a%5c%3bb;x0.0=A%2bB %22q%22;\n");
}

TEST_F(TreeWriters, UnexpandedAutoBuildDescriptions) {
  struct Case {
    const char* what;
    const char* top;
    int field, part, backPart, lastPart, endField, sort, multi;
    const char* separator;
    const char* expected;
  };
  const Case cases[] = {
      {"parts with numeric order", "dx", 2, 1, -1, -1, -1, 3, 0, "-",
       "dx0.0=Region;field2;fseparator='-';fpart=1;fnumericorder"},
      {"multi-level a-z", "dx", 4, 1, -1, 3, -1, 1, 1, nullptr,
       "dx0.0=Region;field4;fpart=1;flastpart=3;fa-zalphabeticorder;fmultilevelexpand"},
      {"back part, end field, z-a", "dx", 0, -1, 2, -1, 5, 2, 0, nullptr,
       "dx0.0=Region;field0;fbpart=2;fendfield=5;fz-aalphabeticorder"},
      {"reverse numeric", "dx", 1, -1, -1, -1, -1, 4, 0, nullptr,
       "dx0.0=Region;field1;freversenumericorder"},
      {"fixed node", "dx", -1, 1, -1, 3, -1, 3, 1, "-", "dx0.0=Region"},
      {"measure", "dr", 2, 1, -1, -1, -1, 3, 0, "-", "dr0.0=Region;field=2"},
      {"counting measure", "dr", -2, -1, -1, -1, -1, 0, 0, nullptr, "dr0.0=Region"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rewind(out);
    int root = add(-1, "All");
    int n = add(root, "Region", c.field);
    AxisLabel& l = axisLabels[n];
    l.part = c.part;
    l.backPart = c.backPart;
    l.lastPart = c.lastPart;
    l.endField = c.endField;
    l.sort = c.sort;
    l.multiLevelExpand = c.multi;
    if (c.separator) l.setSeparator(new std::string(c.separator));
    l.match = matchParseExpression("02f0=L01A");
    l.setKey(strdup("K"));
    walk(outputUnexpandedTree, root, c.top);
    std::string text = written();
    size_t second = text.find('\n') + 1;
    EXPECT_EQ(text.substr(second, text.find('\n', second) - second), c.expected);
  }
}

TEST_F(TreeWriters, UnexpandedTopNamesAreOnlyProfileNames) {
  int root = add(-1, "All");
  add(root, "A");
  walk(outputUnexpandedTree, root, "x");
  EXPECT_EQ(written(), "x.0=All\nx.0.0=A\n");
}

TEST_F(TreeWriters, DeepAndWideTreesGetWholeNames) {
  int root = add(-1, "All");
  int parent = root;
  for (int depth = 0; depth < 16; depth++) {
    int first = add(parent, "n");
    for (int i = 0; i < 1200; i += 600) add(parent, "w");
    parent = first;
  }
  for (int i = 0; i < 12345; i++) add(parent, "leaf");
  outputCompactTree(root, "x", 31);
  std::string text = written();
  std::string deepest = "x31";
  for (int depth = 0; depth < 16; depth++) deepest += ".0";
  EXPECT_NE(text.find(";" + deepest + ".12344=leaf;"), std::string::npos);
  EXPECT_EQ(totalNodeCount, 1 + 16 * 3 + 12345);
}

}  // namespace

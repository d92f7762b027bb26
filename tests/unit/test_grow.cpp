// Tree growth: grown levels, their category index, multi-level expansion, the blank label,
// templates with a match, and what the profile put after a grown level.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "varkel/axislabel.h"
#include "varkel/date.h"
#include "varkel/dategen.h"
#include "varkel/grow.h"
#include "varkel/hashtab.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/workbuffers.h"

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
  l.setSeparator(new std::string(";"));
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
  l.setSeparator(new std::string(";"));
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

TEST_F(Growth, MultiLevelDepthBelowANewCategoryDoesNotDependOnTheFirstCategory) {
  // Shop in slot 0, a path read from the right in slot 1 below it. Whichever shop stands
  // first, a path without a second part makes a category with no level below it.
  struct Record {
    const char* shop;
    const char* path;
  };
  const Record orders[][3] = {{{"A", "a;b"}, {"B", "x"}, {"C", "z"}},
                              {{"B", "x"}, {"A", "a;b"}, {"C", "z"}}};
  for (const auto& order : orders) {
    int root = add(-1, "Shops");
    int shop = add(root, "shop", 0);
    int path = add(shop, "path", 1);
    AxisLabel& l = axisLabels[path];
    l.setSeparator(new std::string(";"));
    l.backPart = 0;
    l.lastPart = 1;
    l.multiLevelExpand = 1;
    for (const Record& r : order) {
      strcpy(inputFields[1], r.path);
      grow(root, r.shop);
    }
    for (int s = axisLabels[root].child; s >= 0; s = axisLabels[s].sibling) {
      int p = axisLabels[s].child;
      ASSERT_GE(p, 0) << axisLabels[s].label;
      Texts expected = axisLabels[s].label == "A" ? Texts{"a"} : Texts{};
      EXPECT_EQ(children(p), expected) << order[0].shop << " first, shop " << axisLabels[s].label;
    }
  }
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

// A date hierarchy below every category of a grown level: region in slot 0, the date
// "YYYY-MM-DD" in slot 1 (named f1: no header line), years and months generated.
class GrowthWithDates : public Growth {
 protected:
  void SetUp() override {
    Growth::SetUp();
    skipFirstLine = 0;
    isCGI = 0;
    numRecords = 0;
    freeDate();
    for (Date& d : dateTable) d = Date();
    dateCount = 0;
    Date& d = dateTable[0];
    d.fieldName = "f1";
    d.field = 1;
    d.inputFormat = "YYYY-MM-DD";
    d.outputFormat = "Y+M2";
    d.fiscalYearEnd = 11;
    d.years = hashtabNew(5, 2, 0.6);
    d.quarters = hashtabNew(12, 2, 0.6);
    d.months = hashtabNew(36, 2, 0.6);
    d.days = hashtabNew(50, 2, 0.6);
    parseDateInputFormat(&d);
    parseDateOutputFormat(&d);
    dateCount = 1;
  }
  void TearDown() override { freeDate(); }

  // An axis: a whole-field level on slot 0 with the date placeholder below it.
  int regionsWithDates() {
    int root = add(-1, "Regions");
    int level = add(root, "template", 0);
    int p = add(level, "Date placeholder");
    axisLabels[p].dateIndex = 1;
    return root;
  }
  void setRecord(const char* region, const char* when) {
    strncpy(inputFields[0], region, 255);
    strncpy(inputFields[1], when, 255);
  }
  void growRecord(int root, const char* region, const char* when) {
    numRecords++;
    setRecord(region, when);
    nodeStack.clear();
    nodeStack.push_back(root);
    while (!nodeStack.empty()) {
      int n = nodeStack.back();
      nodeStack.pop_back();
      insertNode(n);
    }
  }
  // The paths of the leaves whose matches hold for the current record, placeholders
  // passed through as the matching walk passes them.
  void matchedLeaves(int first, const std::string& prefix, Texts& out) {
    for (int n = first; n >= 0; n = axisLabels[n].sibling) {
      const AxisLabel& l = axisLabels[n];
      if (l.dateIndex != 0) {
        matchedLeaves(l.child, prefix, out);
        continue;
      }
      if (l.match && !evalMatch(l.match)) continue;
      std::string path = prefix.empty() ? l.label : prefix + "/" + l.label;
      if (l.child < 0)
        out.push_back(path);
      else
        matchedLeaves(l.child, path, out);
    }
  }
};

TEST_F(GrowthWithDates, EveryCategoryGrowsItsOwnHierarchy) {
  struct Case {
    const char* region;
    const char* when;
    const char* leaf;  // the one leaf the record lands in
  };
  // Each region sees years the other has not reached yet, and the later region's first
  // records fall in years the first region never had at the time.
  const Case cases[] = {
      {"East", "2001-05-17", "East/2001/05"},
      {"West", "2002-03-01", "West/2002/03"},
      {"East", "2002-07-04", "East/2002/07"},
      {"West", "2001-05-09", "West/2001/05"},
      {"North", "2003-01-31", "North/2003/01"},
      {"West", "", "West/(blank)"},
      {"North", "2001-05-02", "North/2001/05"},
      {"East", "2001-05-30", "East/2001/05"},
  };
  int root = regionsWithDates();
  for (const Case& c : cases) growRecord(root, c.region, c.when);

  EXPECT_EQ(children(root), (Texts{"East", "West", "North"}));
  Texts placeholders;
  for (int region = axisLabels[root].child; region >= 0; region = axisLabels[region].sibling) {
    int p = axisLabels[region].child;
    ASSERT_GE(p, 0);
    EXPECT_EQ(axisLabels[p].dateIndex, 1u) << axisLabels[region].label;
    placeholders.push_back(axisLabels[region].label + ":" + [&] {
      std::string years;
      for (const std::string& y : children(p)) years += (years.empty() ? "" : ",") + y;
      return years;
    }());
  }
  EXPECT_EQ(placeholders, (Texts{"East:2001,2002", "West:2002,2001,(blank)",
                                 "North:2003,2001"}));
  for (const Case& c : cases) {
    setRecord(c.region, c.when);
    Texts leaves;
    matchedLeaves(axisLabels[root].child, "", leaves);
    EXPECT_EQ(leaves, (Texts{c.leaf})) << c.region << " " << c.when;
  }
}

TEST_F(GrowthWithDates, CopiedPlaceholderStartsAfresh) {
  int root = regionsWithDates();
  growRecord(root, "East", "2001-05-17");
  int p = axisLabels[axisLabels[root].child].child;
  int after = add(axisLabels[root].child, "Total");
  int copy = copyTree(p);
  EXPECT_EQ(axisLabels[copy].dateIndex, 1u);
  EXPECT_EQ(axisLabels[copy].child, -1);
  EXPECT_EQ(chain(copy), (Texts{"Date placeholder", "Total"}));
  EXPECT_NE(axisLabels[copy].sibling, after);
  // The copy's records find nothing of the original's periods.
  setRecord("East", "2001-05-20");
  EXPECT_NE(insertDate(copy), axisLabels[p].child);
  EXPECT_EQ(children(copy), (Texts{"2001"}));
  EXPECT_EQ(children(p), (Texts{"2001"}));
}

}  // namespace

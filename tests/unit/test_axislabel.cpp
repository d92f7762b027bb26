// The label store: label copies, chunk growth without moving labels, index hand-out and
// the leaf numbering of small trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "varkel/axislabel.h"
#include "varkel/grow.h"
#include "varkel/newProfile.h"
#include "varkel/shape.h"

namespace {

char* dup(const char* s) {
  char* p = (char*)malloc(strlen(s) + 1);
  strcpy(p, s);
  return p;
}

bool isDefault(const AxisLabel& l) {
  return l.label.empty() && !l.function() && !l.key() && !l.separator() && !l.format() &&
         l.field == -1 && l.endField == -1 && l.firstColumn == -1 && l.lastColumn == -1 &&
         l.part == -1 && l.backPart == -1 && l.lastPart == -1 && l.multiLevelExpand == 0 &&
         l.sort == 0 && l.dateIndex == 0 && l.generatedDate == 0 && !l.match &&
         l.child == -1 && l.sibling == -1 && l.backLink == -1 && !l.hash;
}

// A label with every field set to something other than its default.
void fill(AxisLabel& l) {
  l.label = "Sales";
  l.setFunction(dup("'a+b'"));
  l.setKey(dup("2001"));
  l.setSeparator(new std::string(";,"));
  l.setFormat(new std::string("#,##0"));
  l.field = 7;
  l.endField = 9;
  l.firstColumn = 2;
  l.lastColumn = 4;
  l.part = 1;
  l.backPart = 3;
  l.lastPart = 5;
  l.multiLevelExpand = 1;
  l.sort = 4;
  l.dateIndex = 15;
  l.generatedDate = 1;
  l.match = reinterpret_cast<_MatchTree*>(&l);  // only compared, never followed
  l.child = 11;
  l.sibling = 12;
  l.backLink = 13;
  l.hash = hashtabNew(21, 4, 0.7);
}

}  // namespace

TEST(AxisLabel, DefaultLabel) {
  AxisLabel l;
  EXPECT_TRUE(isDefault(l));
}

TEST(AxisLabel, FlagFieldsHoldTheirRanges) {
  AxisLabel l;
  l.sort = 4;
  l.dateIndex = 15;
  l.multiLevelExpand = 1;
  l.generatedDate = 1;
  l.lastPart = -1;
  EXPECT_EQ(l.sort, 4u);
  EXPECT_EQ(l.dateIndex, 15u);
  EXPECT_EQ(l.lastPart, -1);
  l.lastPart = 127;
  EXPECT_EQ(l.sort, 4u);
  EXPECT_EQ(l.multiLevelExpand, 1u);
  EXPECT_EQ(l.generatedDate, 1u);
  EXPECT_EQ(l.lastPart, 127);
}

TEST(AxisLabel, CopyOwnsItsTextsAndSharesMatchAndHash) {
  AxisLabel a;
  fill(a);
  AxisLabel b(a);
  EXPECT_EQ(b.label, "Sales");
  ASSERT_NE(b.function(), nullptr);
  EXPECT_NE(b.function(), a.function());
  EXPECT_STREQ(b.function(), "'a+b'");
  EXPECT_NE(b.key(), a.key());
  EXPECT_STREQ(b.key(), "2001");
  ASSERT_NE(b.separator(), nullptr);
  EXPECT_NE(b.separator(), a.separator());
  EXPECT_EQ(*b.separator(), ";,");
  ASSERT_NE(b.format(), nullptr);
  EXPECT_NE(b.format(), a.format());
  EXPECT_EQ(*b.format(), "#,##0");
  EXPECT_EQ(b.match, a.match);
  EXPECT_EQ(b.hash, a.hash);
  EXPECT_EQ(b.field, 7);
  EXPECT_EQ(b.endField, 9);
  EXPECT_EQ(b.firstColumn, 2);
  EXPECT_EQ(b.lastColumn, 4);
  EXPECT_EQ(b.part, 1);
  EXPECT_EQ(b.backPart, 3);
  EXPECT_EQ(b.lastPart, 5);
  EXPECT_EQ(b.multiLevelExpand, 1u);
  EXPECT_EQ(b.sort, 4u);
  EXPECT_EQ(b.dateIndex, 15u);
  EXPECT_EQ(b.generatedDate, 1u);
  EXPECT_EQ(b.child, 11);
  EXPECT_EQ(b.sibling, 12);
  EXPECT_EQ(b.backLink, 13);
  // Changing the source's texts leaves the copy alone.
  a.texts->function[1] = 'X';
  a.texts->separator->assign("|");
  EXPECT_STREQ(b.function(), "'a+b'");
  EXPECT_EQ(*b.separator(), ";,");
  hashtabDelete(a.hash);
}

TEST(AxisLabel, CopyOfDefaultStaysNull) {
  AxisLabel a;
  AxisLabel b(a);
  EXPECT_TRUE(isDefault(b));
}

TEST(AxisLabel, AssignmentLeavesTheDestinationUnlinked) {
  AxisLabel a;
  fill(a);
  AxisLabel d;
  d.backLink = 42;
  d.generatedDate = 0;
  d.child = 3;
  d.sibling = 4;
  d.setFunction(dup("old"));
  d.setSeparator(new std::string("x"));
  d = a;
  EXPECT_EQ(d.label, "Sales");
  EXPECT_STREQ(d.function(), "'a+b'");
  EXPECT_NE(d.function(), a.function());
  EXPECT_STREQ(d.key(), "2001");
  EXPECT_EQ(*d.separator(), ";,");
  EXPECT_NE(d.separator(), a.separator());
  EXPECT_EQ(*d.format(), "#,##0");
  EXPECT_EQ(d.field, 7);
  EXPECT_EQ(d.lastPart, 5);
  EXPECT_EQ(d.sort, 4u);
  EXPECT_EQ(d.multiLevelExpand, 1u);
  EXPECT_EQ(d.child, -1);
  EXPECT_EQ(d.sibling, -1);
  EXPECT_EQ(d.match, nullptr);
  EXPECT_EQ(d.hash, nullptr);
  EXPECT_EQ(d.dateIndex, 0u);
  EXPECT_EQ(d.backLink, 42);
  EXPECT_EQ(d.generatedDate, 0u);
  d = d;  // self-assignment keeps the texts
  EXPECT_STREQ(d.function(), "'a+b'");
  EXPECT_EQ(*d.separator(), ";,");
  hashtabDelete(a.hash);
}

TEST(ChunkArray, GlobalStoreStartsWithChunkZero) {
  EXPECT_EQ(axisLabels.chunkSize, 948);
  EXPECT_GE(axisLabels.chunks.size(), 1u);
  EXPECT_EQ(axisLabels.chunks[0]->size(), 948u);
}

TEST(ChunkArray, GrowsByWholeChunksOnFirstAccess) {
  struct Case {
    int index;       // accessed first after init
    size_t chunks;   // chunks that exist afterwards
  };
  const Case cases[] = {
      {0, 1}, {947, 1}, {948, 2}, {1895, 2}, {1896, 3}, {5000, 6},
  };
  for (const Case& c : cases) {
    ChunkArray<AxisLabel> store;
    store.init(948);
    ASSERT_EQ(store.chunks.size(), 1u);
    AxisLabel& l = store[c.index];
    EXPECT_EQ(store.chunks.size(), c.chunks) << c.index;
    EXPECT_EQ(store.maxIndexSeen, c.index);
    EXPECT_TRUE(isDefault(l));
    for (size_t k = 0; k < store.chunks.size(); k++) {
      ASSERT_EQ(store.chunks[k]->size(), 948u);
      EXPECT_TRUE(std::all_of(store.chunks[k]->begin(), store.chunks[k]->end(), isDefault));
    }
  }
}

TEST(ChunkArray, ReferencesStayValidWhileTheStoreGrows) {
  ChunkArray<AxisLabel> store;
  store.init(948);
  AxisLabel& first = store[0];
  first.label = "first";
  AxisLabel& last = store[947];
  last.label = "last of chunk 0";
  AxisLabel* addresses[3] = {&store[0], &store[947], &store[948]};
  store[948].label = "chunk 1";
  for (int i = 949; i < 20000; i++) store[i].field = i;
  EXPECT_EQ(&store[0], addresses[0]);
  EXPECT_EQ(&store[947], addresses[1]);
  EXPECT_EQ(&store[948], addresses[2]);
  EXPECT_EQ(first.label, "first");
  EXPECT_EQ(last.label, "last of chunk 0");
  EXPECT_EQ(store[948].label, "chunk 1");
  EXPECT_EQ(store[19999].field, 19999);
  EXPECT_EQ(store[12345].field, 12345);
}

TEST(ChunkArray, MaxIndexSeenFollowsReadsAndBoundsTheIteration) {
  ChunkArray<AxisLabel> store;
  store.init(948);
  EXPECT_EQ(store.maxIndexSeen, 0);
  store[3].field = 3;
  int read = store[10].field;  // a plain read counts too
  EXPECT_EQ(read, -1);
  EXPECT_EQ(store.maxIndexSeen, 10);
  store[2].field = 2;
  EXPECT_EQ(store.maxIndexSeen, 10);
  int visited = 0, set = 0;
  for (auto it = store.begin(); it != store.end(); ++it) {
    visited++;
    if (it->field != -1) set++;
  }
  EXPECT_EQ(visited, 11);
  EXPECT_EQ(set, 2);
  // Applying a function object as the driver does.
  struct Mark {
    void operator()(AxisLabel& l) const { l.endField = 1; }
  };
  std::for_each(store.begin(), store.end(), Mark());
  EXPECT_EQ(store[10].endField, 1);
  EXPECT_EQ(store[11].endField, -1);
}

TEST(ChunkArray, IteratorsCompareStoreAndIndex) {
  ChunkArray<AxisLabel> a, b;
  a.init(4);
  b.init(4);
  EXPECT_TRUE(a.begin() == a.begin());
  EXPECT_FALSE(a.begin() == b.begin());
  auto it = a.begin();
  ++it;
  EXPECT_TRUE(it == ChunkArray<AxisLabel>::chunk_iterator(&a, 1));
}

TEST(ChunkArrayDeath, NegativeIndexIsRefused) {
#ifdef NDEBUG
  EXPECT_EXIT(axisLabels[-1], ::testing::ExitedWithCode(110),
              ::testing::Eq(std::string("Error 110: Label index -1 is out of range.\n")));
#else
  EXPECT_DEATH(axisLabels[-1], "");
#endif
}

// The flat map reads like the std::map it stands for, whatever order keys are set in,
// with gaps and keys set twice.
TEST(DenseIntMap, ReadsLikeAnOrderedMap) {
  struct Case {
    std::vector<std::pair<int, int>> sets;  // in the order they are made
  };
  const Case cases[] = {
      {{}},
      {{{0, 0}}},
      {{{5, 1}, {2, 7}, {9, 0}}},
      {{{3, 4}, {3, 8}, {0, 2}}},
      {{{0, 9}, {1, 8}, {2, 7}, {3, 6}}},
  };
  for (const Case& c : cases) {
    DenseIntMap dense;
    std::map<int, int> model;
    for (const auto& kv : c.sets) {
      dense.set(kv.first, kv.second);
      model[kv.first] = kv.second;
    }
    EXPECT_EQ(dense.size(), model.size());
    EXPECT_EQ(dense.empty(), model.empty());
    std::map<int, int> walked;
    for (auto& e : dense) walked.emplace(e.first, e.second);
    EXPECT_EQ(walked, model);
    std::vector<int> keys;
    for (const auto& e : dense) keys.push_back(e.first);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    for (int k = -2; k < 12; k++) {
      auto m = model.find(k);
      EXPECT_EQ(dense.count(k), model.count(k)) << k;
      if (m == model.end()) {
        EXPECT_TRUE(dense.find(k) == dense.end()) << k;
        EXPECT_THROW(dense.at(k), std::out_of_range) << k;
      } else {
        ASSERT_TRUE(dense.find(k) != dense.end()) << k;
        EXPECT_EQ(dense.find(k)->first, k);
        EXPECT_EQ(dense.find(k)->second, m->second);
        EXPECT_EQ(dense.at(k), m->second);
      }
    }
    DenseIntMap copy = dense;
    EXPECT_TRUE(copy == dense);
    copy.set(11, 3);
    EXPECT_FALSE(copy == dense);
    copy.clear();
    EXPECT_TRUE(copy.empty());
    EXPECT_TRUE(copy.begin() == copy.end());
  }
}

TEST(GetNextFree, HandsOutDenseIndexes) {
  int a = getNextFree();
  int b = getNextFree();
  int c = getNextFree();
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(c, a + 2);
  EXPECT_EQ(nextFree, a + 3);
}

namespace {

// Builds a tree in axisLabels from a text such as "R(a b(c d) *f)": a name is a label,
// parentheses hold its children, a leading '*' gives it a function, '~' an old-style
// function and '@' makes it a date placeholder. Returns its root.
int buildTree(const char*& p) {
  while (*p == ' ') p++;
  int n = getNextFree();
  AxisLabel& l = axisLabels[n];
  if (*p == '*') {
    l.setFunction(dup("'f'"));
    p++;
  } else if (*p == '~') {
    l.setFunction(dup("Old style function ratio.previous(1-3) must be replaced."));
    p++;
  } else if (*p == '@') {
    l.dateIndex = 1;
    p++;
  }
  while (*p && *p != ' ' && *p != '(' && *p != ')') l.label += *p++;
  if (*p == '(') {
    p++;
    int prev = -1;
    while (true) {
      while (*p == ' ') p++;
      if (*p == ')') {
        p++;
        break;
      }
      int c = buildTree(p);
      if (prev == -1)
        axisLabels[n].child = c;
      else
        axisLabels[prev].sibling = c;
      prev = c;
    }
  }
  return n;
}

int tree(const char* text) {
  if (!text) return -1;
  const char* p = text;
  return buildTree(p);
}

// The labels of axis a in leaf order, separated by blanks; checks both maps agree.
std::string leaves(int a) {
  std::string out;
  int expected = 0;
  for (auto& e : leafToNode[a]) {
    EXPECT_EQ(e.first, expected++);
    EXPECT_EQ(nodeToLeaf.at(e.second), e.first);
    if (!out.empty()) out += ' ';
    out += axisLabels[e.second].label;
  }
  return out;
}

}  // namespace

TEST(LeafNumbering, SmallTrees) {
  struct Case {
    const char* tree;
    const char* leaves;
  };
  const Case cases[] = {
      {"R", "R"},
      {"*R", ""},
      {"R(a b c)", "a b c"},
      {"R(a(x y) b *c d)", "x y b d"},
      {"R(*f(a b) c)", "a b c"},
      {"R(a(b(c(d))) e)", "d e"},
      {"R(*a *b)", ""},
  };
  for (const Case& c : cases) {
    int roots[1] = {tree(c.tree)};
    std::vector<int> stack;
    numberLeaves(1, roots, stack);
    EXPECT_TRUE(stack.empty());
    ASSERT_EQ(leafToNode.size(), 1u);
    EXPECT_EQ(leaves(0), c.leaves) << c.tree;
    EXPECT_EQ(nodeToLeaf.size(), leafToNode[0].size());
  }
}

// The leaves are the labels written without children and without a function item: a date
// placeholder is never written (its children stand in its place), and an old-style function
// writes no item. The axis's range counts the same written labels, computed ones included.
TEST(LeafNumbering, FollowsTheWrittenTree) {
  struct Case {
    const char* tree;
    const char* leaves;
    int range;
  };
  const Case cases[] = {
      {"R(a(@p b) c)", "b c", 2},
      {"R(a(@p) c)", "a c", 2},
      {"R(a(@p(@q)) b)", "a b", 2},
      {"R(a(@p(y1 y2) b) c)", "y1 y2 b c", 4},
      {"R(a(@p(@q(m1 m2))) *t)", "m1 m2", 3},
      {"R(~o *f a)", "o a", 3},
      {"R(@p)", "R", 1},
  };
  for (const Case& c : cases) {
    int roots[1] = {tree(c.tree)};
    std::vector<int> stack;
    numberLeaves(1, roots, stack);
    EXPECT_EQ(leaves(0), c.leaves) << c.tree;
    EXPECT_EQ(getRange(roots[0]), c.range) << c.tree;
  }
}

TEST(LeafNumbering, EveryAxisCountsFromZero) {
  int roots[3] = {tree("A(a1 a2)"), -1, tree("C(c1(x) c2)")};
  std::vector<int> stack;
  numberLeaves(3, roots, stack);
  ASSERT_EQ(leafToNode.size(), 3u);
  EXPECT_EQ(leaves(0), "a1 a2");
  EXPECT_TRUE(leafToNode[1].empty());
  EXPECT_EQ(leaves(2), "x c2");
  EXPECT_EQ(nodeToLeaf.size(), 4u);
}

TEST(LeafNumbering, LabelsBesideAnAxisRootGetNoNumber) {
  // Only a hand-written profile puts labels beside a root; the axis's bits count its
  // root's subtree alone, so a number for them would run into the axis before.
  int first = tree("A(a1 a2)");
  int beside = tree("Z(z1 z2)");
  axisLabels[first].sibling = beside;
  int lone = tree("L");
  axisLabels[lone].sibling = tree("M");
  int roots[3] = {first, tree("B(b1)"), lone};
  std::vector<int> stack;
  numberLeaves(3, roots, stack);
  EXPECT_EQ(leaves(0), "a1 a2");
  EXPECT_EQ(leaves(1), "b1");
  EXPECT_EQ(leaves(2), "L");
  EXPECT_EQ(nodeToLeaf.size(), 4u);
  EXPECT_EQ(nodeToLeaf.count(axisLabels[beside].child), 0u);
}

TEST(LeafNumbering, RunningAgainRebuildsFromScratch) {
  int roots[2] = {tree("A(a1 a2 a3)"), tree("B(b1 b2)")};
  std::vector<int> stack;
  numberLeaves(2, roots, stack);
  DenseIntMap first = nodeToLeaf;
  numberLeaves(2, roots, stack);
  EXPECT_EQ(nodeToLeaf, first);
  // With fewer axes the dropped axis leaves nothing behind.
  numberLeaves(1, roots, stack);
  EXPECT_EQ(leafToNode.size(), 1u);
  EXPECT_EQ(nodeToLeaf.size(), 3u);
  EXPECT_EQ(leaves(0), "a1 a2 a3");
}

TEST(LeafNumbering, NumbersTheBuildersAxes) {
  int saved = numberOfAxes;
  numberOfAxes = 2;
  axisRootIndex[0] = tree("Region(North(Oslo Bergen) South)");
  axisRootIndex[1] = tree("Measures(Sales *Margin)");
  setLeafNumbers();
  EXPECT_TRUE(nodeStack.empty());
  ASSERT_EQ(leafToNode.size(), 2u);
  EXPECT_EQ(leaves(0), "Oslo Bergen South");
  EXPECT_EQ(leaves(1), "Sales");
  numberOfAxes = saved;
  axisRootIndex[0] = axisRootIndex[1] = -1;
}

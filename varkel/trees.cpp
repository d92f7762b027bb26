// The tree writers: every node of a tree becomes an entry "name=label;items" of the compact
// cube-page form, or a setting of its own on the profile pages. Names carry the node's
// position: the root's name and one number per level, counted among siblings from 0.
//
// Date placeholders in the compact form: a placeholder is never written; its children are
// spliced into its own level in its place. A placeholder at position k whose (flattened)
// children are c0..cm-1 gives them positions k..k+m-1, and the placeholder's next sibling
// gets position k+m; a placeholder without children takes no position at all. A
// placeholder among the children is spliced in the same way, so the names always follow
// the tree the viewer sees, and entries stay in pre-order. The cube re-reader undoes the
// splice by the date keys that every generated date label carries (varkel/reparse.cpp).
#include "varkel/trees.h"

#include <cassert>

#include "varkel/axislabel.h"
#include "varkel/date.h"
#include "varkel/escapes.h"
#include "varkel/grow.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/settings.h"

// The pending nodes of the tree writers' walks.
std::vector<int> treeNodeStack;
// Names given to the pending nodes of treeNodeStack, entry for entry.
std::vector<std::string> nodeNameStack;
// Numbers given to the pending nodes of treeNodeStack, entry for entry.
std::vector<int> nodeNumberStack;
// Entries written into the compact trees of the current cube page.
int totalNodeCount = 0;

void pushTreeNode(int node, const std::string& name, int number) {
  if (node < 0) return;
  treeNodeStack.push_back(node);
  nodeNameStack.push_back(name);
  nodeNumberStack.push_back(number);
}

void walkTree(int root, const std::string& top, int number,
              const std::function<void(int, const char*, int)>& visit) {
  if (root == -1) return;
  size_t base = treeNodeStack.size();
  pushTreeNode(root, top, number);
  while (treeNodeStack.size() > base) {
    assert(!nodeNameStack.empty() && !nodeNumberStack.empty());
    int node = treeNodeStack.back();
    std::string name = nodeNameStack.back();
    int n = nodeNumberStack.back();
    treeNodeStack.pop_back();
    nodeNameStack.pop_back();
    nodeNumberStack.pop_back();
    visit(node, name.c_str(), n);
  }
}

std::string treeNodeName(const std::string& name, int number, bool onlyProfileTops) {
  bool top = name == "dx" || name == "dr" || (!onlyProfileTops && (name == "x" || name == "y"));
  return name + (top ? "" : ".") + std::to_string(number);
}

// The stream every tree setting goes to.
static FILE* treeStream() { return emitCB4 ? cb4 : ofp; }

static bool isMeasureName(const std::string& name) {
  return name.compare(0, 2, "dr") == 0 || (!name.empty() && name[0] == 'y');
}

// The head of a one-setting-per-node form: "name=" in the cube file, the param tag's
// opening on the page.
static void writeNodeHead(FILE* f, const std::string& nodeName) {
  if (emitCB4)
    fprintf(f, "%s=", nodeName.c_str());
  else
    fprintf(f, "<param name=\"%s\" value=\"", nodeName.c_str());
}

static void writeNodeEnd(FILE* f) { fputs(emitCB4 ? "\n" : "\">\n", f); }

static void writeLastCategory(FILE* f, const AxisLabel& l) {
  if (l.generatedDate && dateLastCategory && l.child != -1)
    outputFunction(f, "'_last_category_'");
}

// With record viewing off an entry carries no condition, and the cube re-reader finds a
// grown category by its label and takes an unreached level's template by the none label.
// A category whose label does not read back as the value its records hold (quotes shown as
// blanks, a label cut to fit the viewer) or that shows the none label is given that value
// as its key. Null for every other label.
static const char* categoryKey(const AxisLabel& l) {
  const _MatchTree* m = l.match;
  if (l.key() || !l.hash || !m || m->type != MATCH_LEAF || !m->leaf || m->leaf->op != 'L' ||
      !m->leaf->value)
    return nullptr;
  const char* value = *m->leaf->value ? m->leaf->value : blankLabel;
  // A category labelled like a template would be read back as one.
  if (l.label == noneLabel) return value;
  if (unescapeCarefully(escapeCarefully(l.label.c_str(), labelLimit)) == value) return nullptr;
  return value;
}

// Label, match (when withMatch), key, format and function: the items every form begins with.
static void writeCommonItems(FILE* f, const AxisLabel& l, bool withMatch, bool withKey) {
  if (!l.label.empty()) outputCarefully(l.label.c_str(), f);
  if (withMatch) matchPrint(f, l.match);
  const char* key = !withKey ? nullptr : l.key() ? l.key() : withMatch ? nullptr : categoryKey(l);
  if (key) {
    fputs(";key=", f);
    outputEscaped(key, f);
  }
  if (l.format()) fprintf(f, "%cformat=%s", ';', l.format()->c_str());
  if (l.function()) outputFunction(f, l.function());
}

// A tree is its root's subtree, as the axis's leaves are numbered: labels beside a root (a
// hand-written profile can put them there) are not written.
static bool isTreeRoot(int node) {
  if (node == recordAxisRoot) return true;
  for (int a = 0; a < numberOfAxes && a < maxAxes; a++)
    if (axisRootIndex[a] == node) return true;
  return false;
}

// Pushes node's next sibling with its name and number, unless node is a tree's root.
static void pushSibling(int node, const std::string& name, int number) {
  if (!isTreeRoot(node)) pushTreeNode(axisLabels[node].sibling, name, number);
}

// After writing a node, the walk visits its first child's subtree, then its next sibling.
static void pushFollowers(int node, const std::string& name, const std::string& own,
                          int number) {
  pushSibling(node, name, number + 1);
  pushTreeNode(axisLabels[node].child, own, 0);
}

void outputTree(int node, const char* name, int number) {
  if (node < 0) return;
  FILE* f = treeStream();
  AxisLabel& l = axisLabels[node];
  std::string own = treeNodeName(name, number, false);
  writeNodeHead(f, own);
  PageValue value(f);
  FILE* v = value.out();
  writeCommonItems(v, l, true, true);
  if (isMeasureName(name)) {
    if (l.field >= 0)
      fprintf(v, "%cfield=%d", ';', l.field);
    else if (l.field == -2)
      fprintf(v, "%cfield=-1", ';');
  }
  writeLastCategory(v, l);
  value.finish();
  writeNodeEnd(f);
  pushFollowers(node, name, own, number);
}

void outputUnexpandedTree(int node, const char* name, int number) {
  if (node < 0) return;
  FILE* f = treeStream();
  AxisLabel& l = axisLabels[node];
  std::string given(name);
  std::string own = treeNodeName(given, number, true);
  writeNodeHead(f, own);
  PageValue value(f);
  FILE* v = value.out();
  writeCommonItems(v, l, false, false);
  if (given.compare(0, 2, "dr") == 0) {
    if (l.field >= 0) fprintf(v, "%cfield=%d", ';', l.field);
  } else if (given.compare(0, 2, "dx") == 0 && l.field != -1) {
    fprintf(v, "%cfield%d", ';', l.field);
    if (l.separator()) fprintf(v, "%cfseparator='%s'", ';', l.separator()->c_str());
    if (l.part != -1) fprintf(v, "%cfpart=%d", ';', l.part);
    if (l.backPart != -1) fprintf(v, "%cfbpart=%d", ';', l.backPart);
    if (l.lastPart != -1) fprintf(v, "%cflastpart=%d", ';', l.lastPart);
    if (l.endField != -1) fprintf(v, "%cfendfield=%d", ';', l.endField);
    switch (l.sort) {
      case 3: fprintf(v, "%cfnumericorder", ';'); break;
      case 4: fprintf(v, "%cfreversenumericorder", ';'); break;
      case 1: fprintf(v, "%cfa-zalphabeticorder", ';'); break;
      case 2: fprintf(v, "%cfz-aalphabeticorder", ';'); break;
      default: break;
    }
    if (l.multiLevelExpand) fprintf(v, "%cfmultilevelexpand", ';');
    writeLastCategory(v, l);
  }
  value.finish();
  writeNodeEnd(f);
  pushFollowers(node, name, own, number);
}

// Positions a placeholder's children take in its level: each ordinary child one, each
// placeholder child as many as its own children take.
static int splicedWidth(int placeholder) {
  int width = 0;
  for (int c = axisLabels[placeholder].child; c != -1; c = axisLabels[c].sibling)
    width += axisLabels[c].dateIndex != 0 ? splicedWidth(c) : 1;
  return width;
}

void outputCompactTree2(FILE* stream, int node, const char* name, int number) {
  if (node < 0) return;
  AxisLabel& l = axisLabels[node];
  if (l.dateIndex != 0) {
    // Spliced into its level (the scheme at the top of this file); the sibling is pushed
    // first so that the children come out before it.
    pushSibling(node, name, number + splicedWidth(node));
    pushTreeNode(l.child, name, number);
    return;
  }
  totalNodeCount++;
  std::string own = treeNodeName(name, number, false);
  fprintf(stream, "%s=", own.c_str());
  writeCommonItems(stream, l, noQuery == 0, true);
  if (isMeasureName(name) && l.field >= 0) fprintf(stream, "%cfield=%d", ';', l.field);
  writeLastCategory(stream, l);
  fputc(';', stream);
  pushFollowers(node, name, own, number);
}

void outputCompactTree(int root, const char* prefix, int number) {
  FILE* f = treeStream();
  std::string p(prefix);
  if (p == "x")
    fprintf(f, emitCB4 ? "lumetraaxis%d=" : "<param name=\"lumetraaxis%d\" value=\"", number);
  else if (p == "y")
    fprintf(f, emitCB4 ? "lumetrarecord%d=" : "<param name=\"lumetrarecord%d\" value=\"", number);
  PageValue value(f);
  FILE* v = value.out();
  walkTree(root, p, number,
           [v](int node, const char* name, int n) { outputCompactTree2(v, node, name, n); });
  value.finish();
  writeNodeEnd(f);
}

// Dimension tree growth: auto-build labels become grown levels of categories, one per
// distinct value, each category with its own copy of what the profile put below it.
#include "varkel/grow.h"

#include <cassert>
#include <cstring>
#include <string>

#include "common/textutil.h"
#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/dategen.h"
#include "varkel/fieldparts.h"
#include "varkel/hashtab.h"
#include "varkel/input.h"
#include "varkel/recordfield.h"
#include "varkel/match.h"
#include "varkel/options.h"
#include "varkel/workbuffers.h"

std::vector<int> nodeStack;
unsigned long growthChanges = 0;

// Every category index of a level starts with these proportions.
static Hashtab* newCategoryIndex() { return hashtabNew(21, 4, 0.7); }

static void pushIfLabel(int label) {
  if (label >= 0) nodeStack.push_back(label);
}

// The separator text of a label for its generated match, or null.
static const char* separatorText(const AxisLabel& l) {
  return l.separator() ? l.separator()->c_str() : nullptr;
}

int duplicateNodeWOExpand(int label) {
  if (label < 0) return -1;
  assert(label < nextFree);
  int d = getNextFree();
  // The assignment copies texts and selectors and leaves the copy unlinked, unmatched and
  // without a date placeholder; the store's chunks never move, so both references hold.
  AxisLabel& dst = axisLabels[d];
  dst = axisLabels[label];
  dst.backLink = label;
  return d;
}

// 1 when child is the next level of label's own multi-level expansion, grown below it
// for the record that made it, rather than a subtree the profile put there.
static int isExpansionLevel(int label, int child) {
  if (child < 0) return 0;
  const AxisLabel& l = axisLabels[label];
  const AxisLabel& c = axisLabels[child];
  if (!l.multiLevelExpand || !c.multiLevelExpand || c.field != l.field) return 0;
  if (l.part != -1) return c.part == l.part + 1;
  return l.backPart != -1 && c.backPart == l.backPart + 1;
}

int copyTree(int label) {
  if (label < 0) return -1;
  int d = duplicateNodeWOExpand(label);
  if (axisLabels[label].dateIndex != 0) {
    // A date placeholder copies as a fresh placeholder that grows its own hierarchy for
    // the records that reach it: the periods generated below the original so far would
    // leave out every later period of the copy's records.
    axisLabels[d].dateIndex = axisLabels[label].dateIndex;
    axisLabels[d].match = axisLabels[label].match;
    giveOwnDateLevels(d);
    int sibling = copyTree(axisLabels[label].sibling);
    axisLabels[d].sibling = sibling;
    return d;
  }
  // The copy of a multi-level category leaves out its deeper level: whichever category
  // happens to stand first (the first made, or the first after sorting when a cube is read
  // back) would otherwise fix how deep the copy's first record goes.
  int below = axisLabels[label].child;
  int child = isExpansionLevel(label, below) ? -1 : copyTree(below);
  axisLabels[d].child = child;
  AxisLabel& n = axisLabels[label];
  int sibling;
  if (n.field == -1) {
    sibling = copyTree(n.sibling);
    axisLabels[d].match = axisLabels[label].match;
  } else if (n.hash) {
    // A grown level copies as a single fresh template; its categories are skipped. The
    // template shows the none label, as the profile's own does: the text of whichever
    // category happens to stand first would label a leaf that none of its records reach.
    axisLabels[d].label = noneLabel;
    sibling = copyTree(axisLabels[n.hash->tail].sibling);
  } else {
    sibling = copyTree(n.sibling);
  }
  axisLabels[d].sibling = sibling;
  return d;
}

void setLabel(int label, const char* text) {
  axisLabels[label].label = (text && *text) ? text : blankLabel;
}

int autobuildContinue(int label) {
  AxisLabel& l = axisLabels[label];
  return l.multiLevelExpand && l.child == -1 && l.lastPart != -1 &&
                 (l.part == -1 || l.part < l.lastPart) &&
                 (l.backPart == -1 || l.backPart < l.lastPart)
             ? 1
             : 0;
}

void autobuildNext(int label) {
  AxisLabel& l = axisLabels[label];
  if (l.part != -1)
    l.part++;
  else if (l.backPart != -1)
    l.backPart++;
}

int makeHashtab(int label, const char* text) {
  AxisLabel& l = axisLabels[label];
  if (l.hash) return label;
  l.hash = newCategoryIndex();
  hashtabPut(l.hash, (text && *text) ? text : blankLabel, label);
  l.hash->tail = label;
  return label;
}

_MatchTree* categoryMatch(int label, const char* value) {
  AxisLabel& l = axisLabels[label];
  return matchCreateString(value, l.field, l.part, l.backPart, l.firstColumn, l.lastColumn,
                           separatorText(l));
}

// The part number a template is counted by (from either side), or -1.
static int partNumber(const AxisLabel& l) { return l.part != -1 ? l.part : l.backPart; }

// A duplicate of label one part deeper: the template of the next level.
static int nextLevelTemplate(int label) {
  int d = duplicateNodeWOExpand(label);
  autobuildNext(d);
  axisLabels[d].label = noneLabel;
  return d;
}

// Makes target the first category of its level with value v.
static void makeFirstCategory(int target, const char* v) {
  const char* key = *v ? v : blankLabel;
  AxisLabel& t = axisLabels[target];
  // A level gets its index with its first category, once.
  assert(!t.hash && t.field != -1 && t.dateIndex == 0);
  growthChanges++;
  t.hash = newCategoryIndex();
  hashtabPut(t.hash, key, target);
  t.hash->tail = target;
  t.match = categoryMatch(target, v);
  std::string text(v);
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  convertQuotes(buf.data());
  setLabel(target, buf.data());
  pushIfLabel(axisLabels[target].child);
}

// The text of field slot field in the current record; a slot outside the record (a
// counting measure's field below -1 on a dimension label) reads as empty, as getField
// reads it.
static const char* recordField(int field) { return currentField(field); }

// Step 4 of the walk: a template meets its first record.
static void growTemplate(int n) {
  AxisLabel& l = axisLabels[n];
  assert(!l.hash && l.field != -1 && l.dateIndex == 0);
  const char* text = recordField(l.field);
  int r = 0;
  if (l.firstColumn != -1) {
    extractFieldColumns(l.firstColumn, l.lastColumn, text);
  } else if (l.part != -1) {
    r = extractPartField(l.part, separatorText(l), text);
  } else if (l.backPart != -1) {
    r = reverseExtractPartField(l.backPart, separatorText(l), text);
  } else {
    setPartPattern(text, strnlen(text, partPatternSize - 1));
  }
  std::string v(partPattern);
  bool byParts = l.part != -1 || l.backPart != -1;
  int part = partNumber(l);
  int target = n;
  if (!l.match) {
    if (byParts && l.child == -1 && r == 1 && part >= 0 && part < l.lastPart) {
      int c = nextLevelTemplate(n);
      axisLabels[n].child = c;
    }
  } else if (!evalMatch(l.match) && l.sibling == -1) {
    int d = duplicateNodeWOExpand(n);
    axisLabels[n].sibling = d;
    target = d;
    AxisLabel& t = axisLabels[n];
    if (!t.multiLevelExpand) {
      int c = copyTree(t.child);
      axisLabels[d].child = c;
    } else if ((byParts || t.firstColumn != -1) && r == 1 && part >= 0 && part < t.lastPart) {
      int c = nextLevelTemplate(d);
      axisLabels[d].child = c;
    }
  }
  makeFirstCategory(target, v.c_str());
}

void insertNode(int n) {
  if (n < 0) return;
  assert(n < nextFree);
  AxisLabel& l = axisLabels[n];
  if (l.dateIndex != 0) {
    insertDate(n);
    pushIfLabel(axisLabels[n].sibling);
    return;
  }
  if (l.hash) {
    insertHashNode(n);
    return;
  }
  if (l.field == -1) {
    pushIfLabel(l.sibling);
    if (!l.match || evalMatch(l.match)) pushIfLabel(l.child);
    return;
  }
  growTemplate(n);
}

int insertHashNode(int n) {
  Hashtab* table = axisLabels[n].hash;
  // Every category of a level shares its index, whose tail is the level's last category.
  assert(table && table->count > 0 && table->tail >= 0 && table->tail < nextFree);
  assert(axisLabels[table->tail].hash == table);
  int more = 0;
  std::string v = getField(n, &more);
  int k = hashtabGet(table, v.c_str());
  if (k >= 0) {
    assert(k < nextFree && axisLabels[k].hash == table);
    pushIfLabel(axisLabels[k].child);
    return k;
  }
  k = duplicateNodeWOExpand(n);
  if (!axisLabels[n].multiLevelExpand) {
    int c = copyTree(axisLabels[n].child);
    axisLabels[k].child = c;
    pushIfLabel(c);
  }
  // What the profile put after the level follows every new category.
  int after = copyTree(axisLabels[table->tail].sibling);
  axisLabels[k].sibling = after;
  axisLabels[table->tail].sibling = k;
  table->tail = k;
  setLabel(k, v.c_str());
  axisLabels[k].match = categoryMatch(k, v.c_str());
  hashtabPut(table, axisLabels[k].label.c_str(), k);
  axisLabels[k].hash = table;

  // The deeper levels of a new category come at once from the record that made it.
  int cur = k;
  while (more == 1 && autobuildContinue(cur)) {
    int d = duplicateNodeWOExpand(cur);
    axisLabels[cur].child = d;
    autobuildNext(d);
    std::string dv = getField(d, &more);
    setLabel(d, dv.c_str());
    axisLabels[d].match = categoryMatch(d, dv.c_str());
    Hashtab* own = newCategoryIndex();
    hashtabPut(own, axisLabels[d].label.c_str(), d);
    own->tail = d;
    axisLabels[d].hash = own;
    cur = d;
  }
  assert(table->tail == k && axisLabels[k].hash == table);
  return k;
}

// The label store: the AxisLabel record's copies, the global store axisLabels, the
// hand-out of label indexes and the leaf numbering of the axes.
#include "varkel/axislabel.h"

#include <cstdlib>
#include <cstring>

#include "common/textutil.h"
#include "common/util.h"
#include "varkel/grow.h"
#include "varkel/newProfile.h"

// Every label of every tree; chunk 0 is allocated before the entry point runs.
ChunkArray<AxisLabel> axisLabels;

// The next label index to hand out.
int nextFree = 0;

// Label index to leaf number within its axis.
DenseIntMap nodeToLeaf;
// nodeToLeaf as a flat array by label index (-1 for no leaf), for the per-record lookups of
// the cube pass; rebuilt with nodeToLeaf by numberLeaves.
std::vector<int> leafByLabel;
size_t leafByLabelCount = 0;  // the size of nodeToLeaf when leafByLabel was made

// Per axis, leaf number to label index.
std::vector<DenseIntMap> leafToNode;

namespace {
struct StoreSetup {
  StoreSetup() { axisLabels.init(labelChunkSize); }
} storeSetup;

}  // namespace

// A copy of texts with duplicates of its own, or null for none.
static LabelTexts* copyTexts(const LabelTexts* o) {
  if (!o) return nullptr;
  LabelTexts* t = new LabelTexts;
  t->function = _newStr(o->function, __FILE__, __LINE__);
  t->key = _newStr(o->key, __FILE__, __LINE__);
  t->separator = o->separator ? new std::string(*o->separator) : nullptr;
  t->format = o->format ? new std::string(*o->format) : nullptr;
  return t;
}

static void release(char* text) { xfree(text); }
static void release(std::string* text) { delete text; }

static void freeTexts(LabelTexts* t) {
  if (!t) return;
  release(t->function);
  release(t->key);
  release(t->separator);
  release(t->format);
  delete t;
}

// Puts text into one member of a label's texts, freeing what it held; the record is made
// when the first text is set.
template <class T>
static void setText(LabelTexts*& texts, T* LabelTexts::*member, T* text) {
  if (!text && !texts) return;
  if (!texts) texts = new LabelTexts;
  release(texts->*member);
  texts->*member = text;
}

void AxisLabel::setFunction(char* text) { setText(texts, &LabelTexts::function, text); }
void AxisLabel::setKey(char* text) { setText(texts, &LabelTexts::key, text); }
void AxisLabel::setSeparator(std::string* text) { setText(texts, &LabelTexts::separator, text); }
void AxisLabel::setFormat(std::string* text) { setText(texts, &LabelTexts::format, text); }

AxisLabel::AxisLabel(const AxisLabel& o)
    : label(o.label),
      texts(copyTexts(o.texts)),
      field(o.field),
      endField(o.endField),
      firstColumn(o.firstColumn),
      lastColumn(o.lastColumn),
      part(o.part),
      backPart(o.backPart),
      lastPart(o.lastPart),
      multiLevelExpand(o.multiLevelExpand),
      sort(o.sort),
      dateIndex(o.dateIndex),
      generatedDate(o.generatedDate),
      match(o.match),
      child(o.child),
      sibling(o.sibling),
      backLink(o.backLink),
      hash(o.hash) {}

AxisLabel& AxisLabel::operator=(const AxisLabel& o) {
  if (this == &o) {
    child = sibling = -1;
    match = nullptr;
    hash = nullptr;
    dateIndex = 0;
    return *this;
  }
  label = o.label;
  LabelTexts* copy = copyTexts(o.texts);
  freeTexts(texts);
  texts = copy;
  field = o.field;
  endField = o.endField;
  firstColumn = o.firstColumn;
  lastColumn = o.lastColumn;
  part = o.part;
  backPart = o.backPart;
  lastPart = o.lastPart;
  multiLevelExpand = o.multiLevelExpand;
  sort = o.sort;
  dateIndex = 0;
  match = nullptr;
  child = -1;
  sibling = -1;
  hash = nullptr;
  return *this;
}

AxisLabel::~AxisLabel() { freeTexts(texts); }

void badLabelIndex(int index) {
  fatal(110, "Label index %d is out of range.\n", index);
}

int getNextFree() { return nextFree++; }

bool isOldStyleFunction(const char* functionText) {
  return functionText && strncmp(functionText, "Old style", 9) == 0;
}

bool hasWrittenChild(int label) {
  for (int c = axisLabels[label].child; c != -1; c = axisLabels[c].sibling)
    if (axisLabels[c].dateIndex == 0 || hasWrittenChild(c)) return true;
  return false;
}

bool isComputedLabel(const AxisLabel& l) {
  return l.function() && !isOldStyleFunction(l.function());
}

void numberLeaves(int axes, const int* roots, std::vector<int>& stack) {
  nodeToLeaf.clear();
  leafByLabel.clear();
  leafToNode.assign(axes, DenseIntMap());
  for (int a = 0; a < axes; a++) {
    int counter = 0;
    if (roots[a] != -1) stack.push_back(roots[a]);
    while (!stack.empty()) {
      int n = stack.back();
      stack.pop_back();
      AxisLabel& l = axisLabels[n];
      // An axis is its root's subtree, as its bits are counted: labels beside a root get
      // no leaf number, which would run into the bits of the axis before it.
      if (l.sibling != -1 && n != roots[a]) stack.push_back(l.sibling);
      if (l.dateIndex != 0) {
        if (l.child != -1) stack.push_back(l.child);
      } else if (hasWrittenChild(n)) {
        stack.push_back(l.child);
      } else if (!isComputedLabel(l)) {
        if (n >= (int)leafByLabel.size()) leafByLabel.resize(n + 1, -1);
        leafByLabel[n] = counter;
        leafToNode[a].set(counter, n);
        counter++;
      }
    }
  }
  for (int n = (int)leafByLabel.size() - 1; n >= 0; n--)
    if (leafByLabel[n] >= 0) nodeToLeaf.set(n, leafByLabel[n]);
  leafByLabelCount = nodeToLeaf.size();
}

void setLeafNumbers() {
  std::vector<int> pending;
  numberLeaves(numberOfAxes, axisRootIndex, pending);
}

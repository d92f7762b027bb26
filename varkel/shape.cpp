// Tree shaping: sorting, depth cut and counting of the dimension trees.
#include "varkel/shape.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "varkel/axislabel.h"
#include "varkel/grow.h"
#include "varkel/options.h"
#include "varkel/report.h"

std::vector<int> recordFieldNums;
int recordFieldCtr = 0;

// Direction of the numeric sort in progress: -1 numeric, +1 reverse numeric. It decides
// where non-numeric labels go so that they come first either way.
static int numericSortDirection = -1;

// The sort key of a label: its key when it has one, else its text.
static const char* sortKey(int label) {
  if (label < 0) return "";
  AxisLabel& l = axisLabels[label];
  return l.key() ? l.key() : l.label.c_str();
}

bool alphaCompare(int a, int b) { return strcoll(sortKey(a), sortKey(b)) < 0; }
bool ralphaCompare(int a, int b) { return strcoll(sortKey(b), sortKey(a)) < 0; }

// The plain decimal number at the start of text (sign, digits, point, exponent), 0 when
// there is none. "nan", "inf" and hex forms are no numbers here, so the numeric sorts
// always see a strict weak order.
static double plainNumber(const char* text) {
  const char* p = text;
  while (isspace((unsigned char)*p)) p++;
  const char* start = p;
  if (*p == '+' || *p == '-') p++;
  bool digits = false;
  while (isdigit((unsigned char)*p)) p++, digits = true;
  if (*p == '.') {
    p++;
    while (isdigit((unsigned char)*p)) p++, digits = true;
  }
  if (!digits) return 0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') q++;
    if (isdigit((unsigned char)*q)) {
      while (isdigit((unsigned char)*q)) q++;
      p = q;
    }
  }
  return strtod(std::string(start, p).c_str(), nullptr);
}

double getLabelVal(int label) {
  if (label < 0) return 0;
  const char* text = sortKey(label);
  double v = plainNumber(text);
  if (v == 0) {
    for (const char* p = text; *p; p++)
      if (isalpha((unsigned char)*p)) return HUGE_VAL * numericSortDirection;
  }
  return v;
}

bool numericCompare(int a, int b) { return getLabelVal(a) < getLabelVal(b); }
bool rnumericCompare(int a, int b) { return getLabelVal(a) > getLabelVal(b); }

// Counts the labels below label that are written without children and for which
// counts(label) holds; 1 for -1 or a label written without children. A date placeholder is
// not written: its children count in its place, and without children it counts nothing.
template <typename Pred>
static int countLeaves(int label, Pred counts) {
  if (label < 0 || !hasWrittenChild(label)) return 1;
  int count = 0;
  // A stack of its own: a count may be asked for in the middle of another walk.
  std::vector<int> pending{axisLabels[label].child};
  while (!pending.empty()) {
    int n = pending.back();
    pending.pop_back();
    AxisLabel& l = axisLabels[n];
    if (l.sibling >= 0) pending.push_back(l.sibling);
    if (l.dateIndex != 0) {
      if (l.child >= 0) pending.push_back(l.child);
    } else if (hasWrittenChild(n)) {
      pending.push_back(l.child);
    } else if (counts(l)) {
      count++;
    }
  }
  return count;
}

int getRange(int label) {
  return countLeaves(label, [](const AxisLabel&) { return true; });
}

int getRecordRange(int label) {
  return countLeaves(label, [](const AxisLabel& l) { return l.field != -1; });
}

void getFieldIndices(int label) {
  if (label < 0) return;
  std::vector<int> pending{label};
  while (!pending.empty()) {
    int n = pending.back();
    pending.pop_back();
    AxisLabel& l = axisLabels[n];
    if (l.sibling >= 0) pending.push_back(l.sibling);
    if (l.child >= 0) {
      pending.push_back(l.child);
    } else if (l.field != -1 && recordFieldCtr < int(recordFieldNums.size())) {
      recordFieldNums[recordFieldCtr++] = l.field;
    }
  }
}

void doSorting(int n, int parent, int previous) {
  while (n >= 0) {
    // Labels without a sort code keep their place; only their children are sorted.
    int before = previous;
    int x = n;
    bool startsChain = previous < 0;
    while (x >= 0 && axisLabels[x].sort == 0) {
      doSorting(axisLabels[x].child, x, -1);
      before = x;
      startsChain = false;
      x = axisLabels[x].sibling;
    }
    if (x < 0) return;
    if (axisLabels[x].sibling < 0) {
      doSorting(axisLabels[x].child, x, -1);
      return;
    }
    unsigned code = axisLabels[x].sort;
    std::vector<int> run;
    int next = x;
    while (next >= 0 && axisLabels[next].sort == code) {
      run.push_back(next);
      next = axisLabels[next].sibling;
    }
    switch (code) {
      case 1: std::stable_sort(run.begin(), run.end(), alphaCompare); break;
      case 2: std::stable_sort(run.begin(), run.end(), ralphaCompare); break;
      case 3:
        numericSortDirection = -1;
        std::stable_sort(run.begin(), run.end(), numericCompare);
        break;
      case 4:
        numericSortDirection = 1;
        std::stable_sort(run.begin(), run.end(), rnumericCompare);
        break;
    }
    for (size_t i = 0; i + 1 < run.size(); i++) axisLabels[run[i]].sibling = run[i + 1];
    axisLabels[run.back()].sibling = next;
    if (startsChain) {
      if (parent >= 0) axisLabels[parent].child = run.front();
    } else {
      axisLabels[before].sibling = run.front();
    }
    for (int label : run) doSorting(axisLabels[label].child, label, -1);
    // The rest of the chain, as its own call would see it.
    n = next;
    parent = -1;
    previous = run.back();
  }
}

void trimDepth(int n, int depth) {
  for (; n >= 0; n = axisLabels[n].sibling) {
    AxisLabel& l = axisLabels[n];
    if (depth == 0) {
      if (l.child >= 0) {
        l.child = -1;
        msg("Warning: truncated category %s (field %d) because it is more than %d deep.\n",
            l.label.c_str(), l.field, depthLimit);
      }
    } else {
      trimDepth(l.child, depth - 1);
    }
  }
}

// The cube store and the classification of records into its cells.
#include "varkel/cube.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <clocale>
#include <cstring>
#include <string>

#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/cellstage.h"
#include "varkel/fieldparts.h"
#include "varkel/grow.h"
#include "varkel/hashtab.h"
#include "varkel/input.h"
#include "varkel/recordfield.h"
#include "varkel/match.h"
#include "varkel/numberparse.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/recordkey.h"
#include "varkel/report.h"
#include "varkel/shape.h"

DataNodes& dataNodes = *new DataNodes;

void DataNodes::clear() {
  std::vector<mbitset<128>>().swap(keys_);
  std::vector<double>().swap(values_);
  width_ = 0;
}

void DataNodes::reserve(size_t n) {
  keys_.reserve(n);
  values_.reserve(n * size_t(width_));
}

void DataNodes::widen(int n) {
  if (n <= width_) return;
  std::vector<double> wider(keys_.size() * size_t(n), HUGE_VAL);
  for (size_t i = 0; i < keys_.size(); i++)
    std::copy_n(values_.data() + i * size_t(width_), width_, wider.data() + i * size_t(n));
  values_.swap(wider);
  width_ = n;
}

double* DataNodes::find(const mbitset<128>& key) {
  auto it = std::lower_bound(keys_.begin(), keys_.end(), key);
  if (it == keys_.end() || *it != key) return nullptr;
  return values(size_t(it - keys_.begin()));
}

double* DataNodes::insert(const mbitset<128>& key) {
  assert(width_ > 0);
  auto it = std::lower_bound(keys_.begin(), keys_.end(), key);
  size_t i = size_t(it - keys_.begin());
  if (it == keys_.end() || *it != key) {
    keys_.insert(it, key);
    values_.insert(values_.begin() + std::ptrdiff_t(i * size_t(width_)), size_t(width_),
                   HUGE_VAL);
  }
  return values(i);
}

void DataNodes::append(const mbitset<128>& key, const double* values) {
  assert(width_ > 0);
  assert(keys_.empty() || keys_.back() < key);
  keys_.push_back(key);
  values_.insert(values_.end(), values, values + width_);
}
void DataNodes::adopt(std::vector<mbitset<128>>&& keys, std::vector<double>&& values,
                      int width) {
  assert(keys_.empty() && width > 0 && values.size() == keys.size() * size_t(width));
  assert(std::is_sorted(keys.begin(), keys.end()) &&
         std::adjacent_find(keys.begin(), keys.end()) == keys.end());
  keys_ = std::move(keys);
  values_ = std::move(values);
  width_ = width;
}

int recordSize = 1;

int firstLeaf[maxAxes];
int numLeaves[maxAxes];
std::vector<int> leafNums;
int globalAxisNum = 0;
int leafIndex[maxAxes];
std::vector<double> theRecord;

int matchedRecords = 0;
int elementsStored = 0;
int nonNumeric = 0;
int emptyFields = 0;
int warning[maxInputFields];
std::map<int, bool> warningDups;

// The leaf number of label x, or -1 when it has none (a childless label with a function):
// the flat copy while it agrees with nodeToLeaf in size, else the map itself.
static int leafNumberOf(int x) {
  if (x >= 0 && x < (int)leafByLabel.size() && leafByLabel[x] >= 0 &&
      nodeToLeaf.size() == leafByLabelCount)
    return leafByLabel[x];
  auto it = nodeToLeaf.find(x);
  return it == nodeToLeaf.end() ? -1 : it->second;
}

// Adds leaf x to the matched leaves of the axis being matched. Only a label with a leaf
// number takes data: a computed label whose match holds would otherwise fill leaf 0.
// The pending labels of the matching walk of one axis, its own so that no other walk can
// take or leave entries in it.
static std::vector<int> matchStack;

static void recordLeaf(int x) {
  int leaf = leafNumberOf(x);
  if (leaf < 0) return;
  int a = globalAxisNum;
  size_t position = size_t(firstLeaf[a] + numLeaves[a]);
  if (position >= leafNums.size()) leafNums.resize(position + 1);
  leafNums[position] = leaf;
  numLeaves[a]++;
}

void hashMatch(int n) {
  int more = 0;
  const char* v = getField(n, &more);
  int k = hashtabGet(axisLabels[n].hash, v);
  if (k < 0) return;
  // A category with a leaf number is written without children: its number alone is read,
  // so that a level of a million categories costs no look at the category itself.
  if (k < (int)leafByLabel.size() && leafByLabel[k] >= 0 &&
      nodeToLeaf.size() == leafByLabelCount) {
    assert(!hasWrittenChild(k));
    recordLeaf(k);
    return;
  }
  if (!hasWrittenChild(k))
    recordLeaf(k);
  else
    matchStack.push_back(axisLabels[k].child);
}

void doAxisMatches(int n) {
  if (n < 0) return;
  AxisLabel& l = axisLabels[n];
  if (l.hash) {
    hashMatch(n);
    return;
  }
  // The leaves are those the writers write without children (setLeafNumbers): a
  // placeholder is none, so a record whose date made no label below it stays out of
  // it; a label whose placeholders all stayed empty holds its records itself. A label
  // written as a plain category (an old-style function) holds what its conditions select.
  bool leaf = l.dateIndex == 0 && !hasWrittenChild(n);
  if (leaf && isComputedLabel(l)) {
    if (l.sibling >= 0) matchStack.push_back(l.sibling);
    return;
  }
  bool ok = !l.match || evalMatch(l.match);
  if (l.sibling >= 0) matchStack.push_back(l.sibling);
  if (!ok) return;
  if (leaf)
    recordLeaf(n);
  else if (l.child >= 0)
    matchStack.push_back(l.child);
}

void matchRecord() {
  assert(numberOfAxes >= 0 && numberOfAxes <= maxAxes);
  for (int a = 0; a < numberOfAxes; a++) {
    globalAxisNum = a;
    numLeaves[a] = 0;
    firstLeaf[a] = a == 0 ? 0 : firstLeaf[a - 1] + numLeaves[a - 1];
    if (!keyedLeavesKnown(a)) {
      matchStack.clear();
      if (axisRootIndex[a] != -1) matchStack.push_back(axisRootIndex[a]);
      while (!matchStack.empty()) {
        int n = matchStack.back();
        matchStack.pop_back();
        doAxisMatches(n);
      }
      keyedLeavesWalked(a);
    }
    if (numLeaves[a] > 1 && showDups && !warningDups[a]) {
      msg("Record %d matched dimension '%s' %d times.\n", numRecords,
          axisLabels[axisRootIndex[a]].label.c_str(), numLeaves[a]);
      warningDups[a] = true;
    }
    if (numLeaves[a] == 0) {
      if (showFailed)
        msg("record #%d failed to match dimension %d \"%s\"\n", numRecords, a + 1,
            axisRootIndex[a] >= 0 ? axisLabels[axisRootIndex[a]].label.c_str() : "");
      return;
    }
  }
  storeScan(0);
  matchedRecords++;
}

void storeScan(int a) {
  for (int i = 0; i < numLeaves[a]; i++) {
    leafIndex[a] = leafNums[firstLeaf[a] + i];
    if (a == numberOfAxes - 1)
      storeElement();
    else
      storeScan(a + 1);
  }
}

void storeElement() {
  // As (coord << axisBits[a]) | leaf on mbitset, which empties for shifts below 0 or past
  // its width.
  assert(recordSize >= 1 && numberOfAxes <= maxAxes);
  mbitsetValue v = 0;
  for (int a = 0; a < numberOfAxes; a++) {
    int bits = axisBits[a];
    if (bits != 0) v = bits > 0 && bits < 128 ? v << bits : 0;
    v |= uint32_t(leafIndex[a]);
  }
  mbitset<128> coord = mbitset<128>::fromValue(v);
  if (int(theRecord.size()) < recordSize) theRecord.resize(recordSize);
  if (cellStaging()) {
    prefetchStagedCell(coord);
    for (int m = 0; m < recordSize; m++) theRecord[m] = extractAField(m);
    stageRecord(coord, theRecord.data());
  } else {
    for (int m = 0; m < recordSize; m++) theRecord[m] = extractAField(m);
    // Cells carried over from an older cube may hold fewer measures than this profile.
    dataNodes.widen(recordSize);
    addRecordValues(dataNodes.insert(coord), theRecord.data());
  }
  elementsStored++;
}

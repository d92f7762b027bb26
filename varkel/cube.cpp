// The cube store and the classification of records into its cells.
#include "varkel/cube.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <clocale>
#include <cstring>
#include <string>

#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/fieldparts.h"
#include "varkel/grow.h"
#include "varkel/hashtab.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/pipeline.h"
#include "varkel/recordkey.h"
#include "varkel/shape.h"
#include "varkel/varkel.h"

DataNodes& dataNodes = *new DataNodes;
int recordSize = 1;

int firstLeaf[32];
int numLeaves[32];
std::vector<int> leafNums;
int globalAxisNum = 0;
int leafIndex[32];
std::vector<double> theRecord;

int matchedRecords = 0;
int elementsStored = 0;
int nonNumeric = 0;
int emptyFields = 0;
int warning[513];
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
  if (!hasWrittenChild(k))
    recordLeaf(k);
  else
    nodeStack.push_back(axisLabels[k].child);
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
  // it; a label whose placeholders all stayed empty holds its records itself.
  bool leaf = l.dateIndex == 0 && !hasWrittenChild(n);
  if (leaf && l.function) {
    if (l.sibling >= 0) nodeStack.push_back(l.sibling);
    return;
  }
  bool ok = !l.match || evalMatch(l.match);
  if (l.sibling >= 0) nodeStack.push_back(l.sibling);
  if (!ok) return;
  if (leaf)
    recordLeaf(n);
  else if (l.child >= 0)
    nodeStack.push_back(l.child);
}

void matchRecord() {
  for (int a = 0; a < numberOfAxes; a++) {
    globalAxisNum = a;
    numLeaves[a] = 0;
    firstLeaf[a] = a == 0 ? 0 : firstLeaf[a - 1] + numLeaves[a - 1];
    if (!keyedLeavesKnown(a)) {
      nodeStack.clear();
      if (axisRootIndex[a] != -1) nodeStack.push_back(axisRootIndex[a]);
      while (!nodeStack.empty()) {
        int n = nodeStack.back();
        nodeStack.pop_back();
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

// While the cube pass runs, cells are gathered in an open-addressing hash table whose values
// lie in one arena, recordSize per cell; a lookup there costs far less than a descent of the
// ordered map, and the map is filled once, in coordinate order, at the end of the pass.
namespace {
struct StagedCell {
  mbitset<128> key;
  size_t offset;  // 1 + the cell's first value in stageValues; 0 for an empty slot
};
bool staging = false;
std::vector<StagedCell> stageSlots;  // a power of two of slots, at most half of them used
std::vector<double> stageValues;
size_t stageCount = 0;

size_t stageHash(const mbitset<128>& key) {
  uint64_t lo = key.w[0] | (uint64_t(key.w[1]) << 32), hi = key.w[2] | (uint64_t(key.w[3]) << 32);
  uint64_t h = (lo ^ (hi * 0x9E3779B97F4A7C15ULL)) * 0xBF58476D1CE4E5B9ULL;
  return size_t(h ^ (h >> 31));
}

// The values of the staged cell of key, made with every value missing when it is new.
double* stagedCell(const mbitset<128>& key) {
  size_t mask = stageSlots.size() - 1;
  for (size_t i = stageHash(key) & mask;; i = (i + 1) & mask) {
    StagedCell& slot = stageSlots[i];
    if (slot.offset == 0) {
      if (2 * (stageCount + 1) > stageSlots.size()) {
        std::vector<StagedCell> old(2 * stageSlots.size());
        old.swap(stageSlots);
        size_t newMask = stageSlots.size() - 1;
        for (const StagedCell& c : old) {
          if (c.offset == 0) continue;
          size_t j = stageHash(c.key) & newMask;
          while (stageSlots[j].offset != 0) j = (j + 1) & newMask;
          stageSlots[j] = c;
        }
        return stagedCell(key);
      }
      slot.key = key;
      slot.offset = stageValues.size() + 1;
      stageValues.resize(stageValues.size() + recordSize, HUGE_VAL);
      stageCount++;
      return &stageValues[slot.offset - 1];
    }
    if (slot.key == key) return &stageValues[slot.offset - 1];
  }
}
// Puts cells in ascending coordinate order: a least-significant-digit radix sort over the
// bits the coordinates use, as the coordinates are distinct and share few high bits.
void sortByCoordinate(std::vector<StagedCell>& cells) {
  const int digitBits = 11;
  const size_t buckets = size_t(1) << digitBits;
  mbitsetValue used = 0;
  for (const StagedCell& c : cells) used |= c.key.value();
  int bits = 0;
  while (bits < 128 && (used >> bits) != 0) bits++;
  std::vector<StagedCell> other(cells.size());
  std::vector<size_t> count(buckets);
  for (int shift = 0; shift < bits; shift += digitBits) {
    std::fill(count.begin(), count.end(), 0);
    auto digit = [&](const StagedCell& c) {
      return size_t(c.key.value() >> shift) & (buckets - 1);
    };
    for (const StagedCell& c : cells) count[digit(c)]++;
    size_t at = 0;
    for (size_t& n : count) {
      size_t here = n;
      n = at;
      at += here;
    }
    for (const StagedCell& c : cells) other[count[digit(c)]++] = c;
    cells.swap(other);
  }
}
}  // namespace

void beginCellStaging() {
  // Old cells (an incremental build) of another width keep the map's own path.
  for (auto& cell : dataNodes)
    if (int(cell.second.size()) != recordSize) return;
  stageSlots.assign(1 << 16, StagedCell());
  stageValues.clear();
  stageCount = 0;
  staging = true;
  // Old cells go in first, so every sum keeps the order of its additions.
  for (auto& cell : dataNodes) {
    double* values = stagedCell(cell.first);
    for (int m = 0; m < recordSize; m++) values[m] = cell.second[m];
  }
  dataNodes.clear();
}

void endCellStaging() {
  if (!staging) return;
  staging = false;
  std::vector<StagedCell> cells;
  cells.reserve(stageCount);
  for (const StagedCell& c : stageSlots)
    if (c.offset != 0) cells.push_back(c);
  std::vector<StagedCell>().swap(stageSlots);
  sortByCoordinate(cells);
  // The values lie in the order the cells were met: fetch those of a later cell early.
  const size_t ahead = 16;
  for (size_t i = 0; i < cells.size(); i++) {
    if (i + ahead < cells.size()) __builtin_prefetch(&stageValues[cells[i + ahead].offset - 1]);
    const double* values = &stageValues[cells[i].offset - 1];
    dataNodes.emplace_hint(dataNodes.end(), cells[i].key,
                           std::vector<double>(values, values + recordSize));
  }
  std::vector<double>().swap(stageValues);
  stageCount = 0;
}

void storeElement() {
  // As (coord << axisBits[a]) | leaf on mbitset, which empties for shifts below 0 or past
  // its width.
  mbitsetValue v = 0;
  for (int a = 0; a < numberOfAxes; a++) {
    int bits = axisBits[a];
    if (bits != 0) v = bits > 0 && bits < 128 ? v << bits : 0;
    v |= uint32_t(leafIndex[a]);
  }
  mbitset<128> coord = mbitset<128>::fromValue(v);
  // The cell's slot is fetched from memory while the measures are parsed.
  if (staging) __builtin_prefetch(&stageSlots[stageHash(coord) & (stageSlots.size() - 1)]);
  if (int(theRecord.size()) < recordSize) theRecord.resize(recordSize);
  for (int m = 0; m < recordSize; m++) theRecord[m] = extractAField(m);
  double* cell;
  if (staging) {
    cell = stagedCell(coord);
  } else {
    auto it = dataNodes.find(coord);
    if (it == dataNodes.end())
      it = dataNodes.emplace(coord, std::vector<double>(recordSize, HUGE_VAL)).first;
    // A cell carried over from an older cube may hold fewer measures than this profile.
    if (int(it->second.size()) < recordSize) it->second.resize(recordSize, HUGE_VAL);
    cell = it->second.data();
  }
  for (int m = 0; m < recordSize; m++) {
    double r = theRecord[m];
    if (cell[m] == HUGE_VAL)
      cell[m] = r;
    else if (r != HUGE_VAL)
      cell[m] += r;
  }
  elementsStored++;
}

// Reports a measure field that holds no number, once per column, and counts it.
static double nonNumericField(int f, const char* text) {
  if (f >= 0 && f < 513 && !warning[f]) {
    msg("warning: record %d field '%s' contains non-numeric value '%s'\n", numRecords,
        newDataFieldNames[f], text);
    warning[f] = 1;
  }
  nonNumeric++;
  return HUGE_VAL;
}

// The value of a copied measure of the usual form, digits with perhaps a sign and a
// fraction, without strtod: at most 15 digits and 22 decimals make the digits and the power
// of ten exact doubles, and their quotient is then the correctly rounded value strtod gives.
// False for any other text, which strtod reads.
static bool simpleDecimal(const char* copy, double* out) {
  static int radixIsPoint = -1;  // strtod reads '.' as the decimal point
  if (radixIsPoint < 0) {
    const char* point = localeconv()->decimal_point;
    radixIsPoint = point[0] == '.' && point[1] == '\0';
  }
  static const double powers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* p = copy;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  uint64_t digits = 0;
  int count = 0, decimals = 0;
  for (; isdigit((unsigned char)*p); p++, count++) digits = digits * 10 + uint64_t(*p - '0');
  if (count == 0) return false;
  if (*p == '.' && decimalChar == '.' && radixIsPoint) {
    for (p++; isdigit((unsigned char)*p); p++, decimals++)
      digits = digits * 10 + uint64_t(*p - '0');
    if (decimals == 0) return false;
  }
  if (*p != '\0' || count + decimals > 15 || decimals > 22) return false;
  double v = double(digits) / powers[decimals];
  *out = negative ? -v : v;
  return true;
}

double extractAField(int m) {
  int f = recordFieldNums[m];
  if (f < 0) return 1.0;
  const char* text = inputFields[f];
  if (*text == '\0') {
    emptyFields++;
    return HUGE_VAL;
  }
  const char* p = text;
  if (*p == '$') p++;
  bool negative = false;
  while (*p && !(isdigit((unsigned char)*p) || *p == '-' || *p == '+' || *p == decimalChar)) {
    if (*p == '(') negative = true;
    p++;
  }
  if (*p == '\0') return nonNumericField(f, text);
  char copy[256];
  int n = 0;
  for (; *p && n < 255; p++) {
    char c = *p;
    if (c == commaChar) continue;
    if (isdigit((unsigned char)c) || c == decimalChar || c == '-' || c == '+' || c == 'E' ||
        c == 'e' || c == 'D' || c == 'd')
      copy[n++] = c;
    else
      break;
  }
  copy[n] = '\0';
  if (n == 0) return HUGE_VAL;
  double v;
  errno = 0;
  if (!simpleDecimal(copy, &v)) v = strtod(copy, nullptr);
  // A value too small to hold is as good as zero; only overflow loses the measure.
  bool underflow = errno == ERANGE && std::fabs(v) <= 1.0;
  if (v == HUGE_VAL || v == -HUGE_VAL || (errno == ERANGE && !underflow))
    fatal(5, "Data value '%s' is too large, in record %d field %d\n", copy, numRecords, f);
  if (v == 0 && !underflow) {
    for (const char* q = copy; *q; q++)
      if (!(isdigit((unsigned char)*q) || *q == decimalChar || *q == ')' ||
            isspace((unsigned char)*q)))
        return nonNumericField(f, text);
  }
  if (negative && v > 0) v = -v;
  return v;
}

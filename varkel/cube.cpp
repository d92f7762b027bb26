// The cube store and the classification of records into its cells.
#include "varkel/cube.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
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
#include "varkel/shape.h"
#include "varkel/varkel.h"

DataNodes dataNodes;
int recordSize = 1;

int firstLeaf[32];
int numLeaves[32];
std::map<int, int> leafNums;
int globalAxisNum = 0;
int leafIndex[32];
std::vector<double> theRecord;

int matchedRecords = 0;
int elementsStored = 0;
int nonNumeric = 0;
int emptyFields = 0;
int warning[513];
std::map<int, bool> warningDups;

// Adds leaf x to the matched leaves of the axis being matched.
static void recordLeaf(int x) {
  int a = globalAxisNum;
  leafNums[firstLeaf[a] + numLeaves[a]] = nodeToLeaf[x];
  numLeaves[a]++;
}

void hashMatch(int n) {
  int more = 0;
  const char* v = getField(n, &more);
  int k = hashtabGet(axisLabels[n].hash, v);
  if (k < 0) return;
  if (axisLabels[k].child < 0)
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
  if (l.child < 0 && !l.match && l.function) {
    if (l.sibling >= 0) nodeStack.push_back(l.sibling);
    return;
  }
  bool ok = !l.match || evalMatch(l.match);
  if (l.sibling >= 0) nodeStack.push_back(l.sibling);
  if (!ok) return;
  if (l.child < 0)
    recordLeaf(n);
  else
    nodeStack.push_back(l.child);
}

void matchRecord() {
  for (int a = 0; a < numberOfAxes; a++) {
    globalAxisNum = a;
    numLeaves[a] = 0;
    firstLeaf[a] = a == 0 ? 0 : firstLeaf[a - 1] + numLeaves[a - 1];
    nodeStack.clear();
    if (axisRootIndex[a] != -1) nodeStack.push_back(axisRootIndex[a]);
    while (!nodeStack.empty()) {
      int n = nodeStack.back();
      nodeStack.pop_back();
      doAxisMatches(n);
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
  mbitset<128> coord;
  for (int a = 0; a < numberOfAxes; a++)
    coord = (coord << axisBits[a]) | mbitset<128>(uint32_t(leafIndex[a]));
  if (int(theRecord.size()) < recordSize) theRecord.resize(recordSize);
  for (int m = 0; m < recordSize; m++) theRecord[m] = extractAField(m);
  auto it = dataNodes.find(coord);
  if (it == dataNodes.end())
    it = dataNodes.emplace(coord, std::vector<double>(recordSize, HUGE_VAL)).first;
  std::vector<double>& cell = it->second;
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
  errno = 0;
  double v = strtod(copy, nullptr);
  // A value too small to hold is as good as zero; only overflow loses the measure.
  if (v == HUGE_VAL || v == -HUGE_VAL || (errno == ERANGE && std::fabs(v) > 1.0))
    fatal(5, "Data value '%s' is too large, in record %d field %d\n", copy, numRecords, f);
  if (v == 0) {
    for (const char* q = copy; *q; q++)
      if (!(isdigit((unsigned char)*q) || *q == decimalChar || *q == ')' ||
            isspace((unsigned char)*q)))
        return nonNumericField(f, text);
  }
  if (negative && v > 0) v = -v;
  return v;
}

// Record keys: the work of a walk done once per distinct key of an axis (see recordkey.h).
//
// Why a key settles in the expansion pass: a growth walk reads the selectors, matches,
// links and tables of the labels it visits and the key's fields. A walk that changed
// nothing visited no template (a template always becomes a category) and found every value
// and period in its table. Later growth only adds labels, appends categories behind a
// table's last one, adds table entries under new keys and links date labels below date
// labels, none of which such a walk reads; so the same key grows nothing again. A key is
// settled only after a walk of it changed nothing; its first walks are full ones.
// In the cube pass the trees no longer change, so a key's leaves are those of its first walk.
#include "varkel/recordkey.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "varkel/axislabel.h"
#include "varkel/cube.h"
#include "varkel/date.h"
#include "varkel/fieldsplit.h"
#include "varkel/grow.h"
#include "varkel/input.h"
#include "varkel/keytable.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/pipeline.h"
#include "varkel/shape.h"

namespace {

// Whether keying pays is judged per column and per axis over windows of this many
// lookups: where fewer than half of a window's lookups found their key, records are
// walked in full from then on and the tables are freed. Every table of a run together
// holds at most keyBudget bytes; past it no table takes new keys. Tests make both small
// through VARKEL_TEST_KEY_LIMITS="WINDOW BYTES" to cross them with little data.
const size_t defaultKeyWindow = 8192;
const size_t defaultKeyBudget = size_t(32) << 20;
size_t keyWindow = defaultKeyWindow;
KeyBudget keyBudget;  // held by every table of the pass

// Counts of one window: lookups and hits. Keys that hardly ever repeat are seen sooner:
// the first eighth of the first window decides when fewer than an eighth of it hit.
struct KeyWindow {
  size_t lookups = 0, hits = 0;
  bool first = true;
  // Counts one lookup; true when the window says keying does not pay.
  bool losing(bool hit) {
    lookups++;
    hits += hit;
    if (first && lookups == keyWindow / 8 && 8 * hits < lookups) return true;
    if (lookups < keyWindow) return false;
    bool losing = 2 * hits < lookups;
    lookups = hits = 0;
    first = false;
    return losing;
  }
};

// Per axis of the running pass.
struct AxisKeys {
  enum State { unknown, waiting, ready, off } state = unknown;
  bool keyed = true;              // ready and worth keying
  KeyWindow window;
  std::vector<int> fields;        // the data columns the axis reads
  std::vector<int> pendingDates;  // dates (1-based) whose column is not known yet
  // What is known per key: growing, 0 for a settled key; else where its leaves lie. An axis
  // of one field looks its key up by the field's value number, others by those numbers.
  std::vector<int64_t> byValue;   // by value number, -1 none
  KeyTable table{&keyBudget};
  std::vector<int32_t> leaves;    // per stored key: the count, then the leaf numbers
};

bool active = false;        // a pass is keyed
bool growing = false;       // the pass is the expansion pass
AxisKeys axisKeys[maxAxes];
bool masksSet = false;      // the needed fields have been given to the splitter
unsigned char needed[maxInputFields];
bool neededGiven = false;   // the splitter fills only the fields marked in needed

// Every distinct text of a key field gets a number, once per record: the axes that read the
// field then key by the number.
const uint32_t noValue = UINT32_MAX;  // a text the full table has no number for
struct ColumnValues {
  KeyTable table{&keyBudget};
  uint32_t count = 0;
  uint32_t value = noValue;  // the current record's
  KeyWindow window;
};
std::vector<ColumnValues> columnValues;

// The key of the last query: its axis (-1 none) and the numbers of its fields.
int keyAxis = -1;
uint32_t keyValue = noValue;  // an axis of one field
std::vector<char> key;        // several: the numbers' bytes (room for every field's)
size_t keySize = 0;
uint64_t keyHash = 0;
int labelsBefore = 0;

std::vector<int> keyColumns;  // the fields of every keyed axis
int numberedRecord = -1;      // the record whose key fields are numbered

// The roots of the axes the expansion pass found not worth keying: the cube pass reads the
// same records, so it walks them in full from its start.
std::vector<int> unkeyedRoots;

void updateNeededFields();

// Stops keying axis a: frees what it holds and walks its records in full.
void unkeyAxis(int a) {
  AxisKeys& k = axisKeys[a];
  if (!k.keyed) return;
  k.keyed = false;
  k.table.clear();
  keyBudget.give(k.byValue.capacity() * sizeof(int64_t) + k.leaves.capacity() * sizeof(int32_t));
  std::vector<int64_t>().swap(k.byValue);
  std::vector<int32_t>().swap(k.leaves);
  if (growing && std::find(unkeyedRoots.begin(), unkeyedRoots.end(), axisRootIndex[a]) ==
                     unkeyedRoots.end())
    unkeyedRoots.push_back(axisRootIndex[a]);
}

// Stops keying every axis that reads column f, whose values seldom repeat.
void unkeyColumn(int f) {
  for (int a = 0; a < numberOfAxes; a++)
    if (std::find(axisKeys[a].fields.begin(), axisKeys[a].fields.end(), f) !=
        axisKeys[a].fields.end())
      unkeyAxis(a);
}

// Numbers the current record's text of every key field. The tables lie far apart in
// memory, so each is fetched before any is read.
void numberValues() {
  numberedRecord = numRecords;
  struct Text {
    const char* text;
    size_t length;
    uint64_t hash;
  };
  static Text texts[maxInputFields];
  size_t count = keyColumns.size();
  for (size_t i = 0; i < count; i++) {
    assert(!neededGiven || needed[keyColumns[i]]);  // else the text is an older record's
    const char* text = inputFields[keyColumns[i]];
    size_t n = strnlen(text, fieldSize - 1);
    texts[i] = Text{text, n, hashBytes(text, n)};
    columnValues[size_t(keyColumns[i])].table.prefetchSlot(texts[i].hash);
  }
  for (size_t i = 0; i < count; i++)
    columnValues[size_t(keyColumns[i])].table.prefetchKey(texts[i].hash);
  bool losing = false;
  for (size_t i = 0; i < count; i++) {
    ColumnValues& c = columnValues[size_t(keyColumns[i])];
    const Text& t = texts[i];
    int64_t found = c.table.find(t.text, t.length, t.hash);
    if (found >= 0)
      c.value = uint32_t(found);
    else if (c.table.insert(t.text, t.length, t.hash, c.count))
      c.value = c.count++;
    else
      c.value = noValue;
    if (c.window.losing(found >= 0)) {
      unkeyColumn(keyColumns[i]);
      losing = true;
    }
  }
  // The record's numbers stay valid for the columns still keyed.
  if (losing) {
    int record = numberedRecord;
    updateNeededFields();
    numberedRecord = record;
  }
}

// The number of the current record's text of key field f.
uint32_t valueNumber(int f) {
  if (numberedRecord != numRecords) numberValues();
  return columnValues[size_t(f)].value;
}

bool isColumn(int f) { return f >= 0 && f < maxInputFields; }

void addField(std::vector<int>& fields, int f) {
  if (!isColumn(f)) return;  // reads as the empty text whatever the record holds
  for (int g : fields)
    if (g == f) return;
  fields.push_back(f);
}

void addMatchFields(std::vector<int>& fields, const _MatchTree* tree) {
  std::vector<const _MatchTree*> pending;
  if (tree) pending.push_back(tree);
  while (!pending.empty()) {
    const _MatchTree* t = pending.back();
    pending.pop_back();
    if (t->leaf) addField(fields, t->leaf->field);
    if (t->left) pending.push_back(t->left);
    if (t->right) pending.push_back(t->right);
  }
}

// Adds what label reads to k; false when it reads something a key cannot hold.
bool addLabelFields(AxisKeys& k, const AxisLabel& l) {
  addField(k.fields, l.field);
  addMatchFields(k.fields, l.match);
  if (growing && l.dateIndex != 0) {
    if (l.dateIndex > dateCount) return true;  // insertDate reads nothing for it
    const Date& d = dateTable[l.dateIndex - 1];
    if (d.flags & Date::fieldMapped)
      addField(k.fields, d.field);
    else
      k.pendingDates.push_back(l.dateIndex);
  }
  return true;
}

// Collects the fields of every label reachable from the axis root.
void prepareAxis(int a) {
  AxisKeys& k = axisKeys[a];
  k.state = AxisKeys::ready;
  int root = axisRootIndex[a];
  std::vector<bool> seen(size_t(nextFree) + 1);
  std::vector<int> stack;
  if (root >= 0) stack.push_back(root);
  while (!stack.empty()) {
    int n = stack.back();
    stack.pop_back();
    if (n < 0 || n >= nextFree || seen[size_t(n)]) continue;
    seen[size_t(n)] = true;
    const AxisLabel& l = axisLabels[n];
    addLabelFields(k, l);
    stack.push_back(l.sibling);
    stack.push_back(l.child);
  }
  if (!k.pendingDates.empty()) k.state = AxisKeys::waiting;
}

// A waiting axis becomes ready once insertDate has mapped every one of its dates.
bool datesMapped(AxisKeys& k) {
  for (int index : k.pendingDates)
    if (!(dateTable[index - 1].flags & Date::fieldMapped)) return false;
  for (int index : k.pendingDates) addField(k.fields, dateTable[index - 1].field);
  k.pendingDates.clear();
  k.state = AxisKeys::ready;
  return true;
}

// The invariants of the keys, checked in builds with asserts wherever the keyed axes or
// columns change: an axis that keys no more holds nothing; an axis of one field keys by
// value number, others by table; every key column is read by a keyed axis and filled by the
// splitter, and only key columns hold numbers; the budget counts exactly the bytes held.
void checkKeys() {
#ifndef NDEBUG
  size_t held = 0;
  for (int a = 0; a < numberOfAxes; a++) {
    const AxisKeys& k = axisKeys[a];
    if (!k.keyed || k.state == AxisKeys::off) assert(k.table.size() == 0 && k.byValue.empty());
    if (!k.keyed) assert(k.leaves.empty());
    if (k.fields.size() == 1)
      assert(k.table.size() == 0);
    else
      assert(k.byValue.empty());
    if (growing) assert(k.leaves.empty());
    held += k.table.bytesHeld() + k.byValue.capacity() * sizeof(int64_t) +
            k.leaves.capacity() * sizeof(int32_t);
  }
  for (int f : keyColumns) {
    assert(isColumn(f));
    assert(!neededGiven || needed[f]);
    bool read = false;
    for (int a = 0; a < numberOfAxes; a++) {
      const AxisKeys& k = axisKeys[a];
      read = read || (k.state == AxisKeys::ready && k.keyed &&
                      std::find(k.fields.begin(), k.fields.end(), f) != k.fields.end());
    }
    assert(read);
  }
  for (size_t f = 0; f < columnValues.size(); f++) {
    const ColumnValues& c = columnValues[f];
    assert(c.count == c.table.size());
    assert(c.count == 0 ||
           std::find(keyColumns.begin(), keyColumns.end(), int(f)) != keyColumns.end());
    held += c.table.bytesHeld();
  }
  assert(held == keyBudget.used);
  assert(keyBudget.used <= keyBudget.limit);
#endif
}

// Tells the splitter which fields the pass reads, once every axis knows its own; and
// gathers the key fields of the keyed axes.
void updateNeededFields() {
  keyColumns.clear();
  for (int a = 0; a < numberOfAxes; a++)
    if (axisKeys[a].state == AxisKeys::ready && axisKeys[a].keyed)
      for (int f : axisKeys[a].fields)
        if (std::find(keyColumns.begin(), keyColumns.end(), f) == keyColumns.end())
          keyColumns.push_back(f);
  for (size_t f = 0; f < columnValues.size(); f++)
    if (columnValues[f].count != 0 &&
        std::find(keyColumns.begin(), keyColumns.end(), int(f)) == keyColumns.end()) {
      columnValues[f].table.clear();
      columnValues[f] = ColumnValues();
    }
  numberedRecord = -1;
  for (int a = 0; a < numberOfAxes; a++)
    if (axisKeys[a].state != AxisKeys::ready) {
      setNeededFields(nullptr);
      neededGiven = false;
      checkKeys();
      return;
    }
  memset(needed, 0, sizeof needed);
  for (int a = 0; a < numberOfAxes; a++)
    for (int f : axisKeys[a].fields) needed[f] = 1;
  if (!growing)
    for (int f : recordFieldNums)
      if (isColumn(f)) needed[f] = 1;
  setNeededFields(needed);
  neededGiven = true;
  checkKeys();
}

// Prepares every axis at the first query of the pass, once the columns are mapped.
void prepareAll() {
  if (masksSet) return;
  masksSet = true;
  for (int a = 0; a < numberOfAxes; a++) {
    prepareAxis(a);
    if (!growing && std::find(unkeyedRoots.begin(), unkeyedRoots.end(), axisRootIndex[a]) !=
                        unkeyedRoots.end())
      axisKeys[a].keyed = false;
  }
  updateNeededFields();
}

// Builds the current record's key on axis a; false when the axis is not keyed.
bool buildKey(int a) {
  keyAxis = -1;
  if (!active || a < 0 || a >= numberOfAxes) return false;
  prepareAll();
  AxisKeys& k = axisKeys[a];
  if (k.state == AxisKeys::waiting && datesMapped(k)) updateNeededFields();
  if (k.state != AxisKeys::ready || !k.keyed) return false;
  if (k.fields.size() == 1) {
    keyValue = valueNumber(k.fields[0]);
    if (keyValue == noValue || !k.keyed) return false;
    assert(keyValue < columnValues[size_t(k.fields[0])].count);
  } else {
    size_t size = 4 * k.fields.size();
    if (key.size() < size) key.resize(size);
    for (size_t i = 0; i < k.fields.size(); i++) {
      uint32_t v = valueNumber(k.fields[i]);
      if (v == noValue || !k.keyed) return false;
      memcpy(&key[4 * i], &v, 4);
    }
    keySize = size;
    keyHash = hashBytes(key.data(), size);
  }
  keyAxis = a;
  return true;
}

// What is known of the key just built, or -1.
int64_t findKey(const AxisKeys& k) {
  if (k.fields.size() != 1) return k.table.find(key.data(), keySize, keyHash);
  return keyValue < k.byValue.size() ? k.byValue[keyValue] : -1;
}

// Remembers value for the key just built; false when the table is full.
bool storeKey(AxisKeys& k, uint32_t value) {
  if (k.fields.size() != 1) return k.table.insert(key.data(), keySize, keyHash, value);
  if (keyValue >= k.byValue.size()) {
    size_t capacity = k.byValue.capacity();
    if (size_t(keyValue) + 1 > capacity) {
      size_t grown = std::max(size_t(keyValue) + 1, 2 * capacity);
      if (!keyBudget.take((grown - capacity) * sizeof(int64_t))) return false;
      k.byValue.reserve(grown);
    }
    k.byValue.resize(size_t(keyValue) + 1, -1);
  }
  k.byValue[keyValue] = value;
  return true;
}

// True when a label made by the last walk reads only what the key holds.
bool readsOnlyKey(const AxisKeys& k, int label) {
  AxisKeys probe;
  addLabelFields(probe, axisLabels[label]);
  if (!probe.pendingDates.empty()) return false;
  for (int f : probe.fields) {
    bool found = false;
    for (int g : k.fields) found = found || g == f;
    if (!found) return false;
  }
  return true;
}

}  // namespace

unsigned long growthStamp() { return growthChanges + (unsigned long)nextFree; }

void beginKeyedPass(bool isGrowing) {
  endKeyedPass();
#ifndef VARKEL_FULL_WALK
  active = true;
  columnValues.resize(maxInputFields);
#endif
  growing = isGrowing;
  if (growing) unkeyedRoots.clear();
  keyBudget.used = 0;
  keyWindow = defaultKeyWindow;
  keyBudget.limit = defaultKeyBudget;
  if (const char* limits = getenv("VARKEL_TEST_KEY_LIMITS")) {
    unsigned long window = 0, budget = 0;
    if (sscanf(limits, "%lu %lu", &window, &budget) == 2 && window > 0) {
      keyWindow = window;
      keyBudget.limit = budget;
    }
  }
}

void endKeyedPass() {
  active = false;
  masksSet = false;
  keyAxis = -1;
  for (AxisKeys& k : axisKeys) k = AxisKeys();
  std::vector<char>().swap(key);
  std::vector<ColumnValues>().swap(columnValues);
  keyColumns.clear();
  numberedRecord = -1;
  setNeededFields(nullptr);
  neededGiven = false;
}

bool keyedGrowthSettled(int a) {
  if (!growing || !buildKey(a)) return false;
  labelsBefore = nextFree;
  int64_t found = findKey(axisKeys[a]);
  assert(found <= 0);  // the expansion pass stores settled keys only
  bool hit = found >= 0;
  if (axisKeys[a].window.losing(hit)) {
    keyAxis = -1;
    unkeyAxis(a);
    updateNeededFields();
  }
  return hit;
}

void keyedGrowthWalked(int a, unsigned long stamp) {
  if (keyAxis != a) return;
  keyAxis = -1;
  AxisKeys& k = axisKeys[a];
  if (growthStamp() == stamp) {
    storeKey(k, 0);
    return;
  }
  for (int n = labelsBefore; n < nextFree; n++) {
    if (readsOnlyKey(k, n)) continue;
    // Cannot happen as growth copies what it grows from; should it, walk every record.
    k.table.clear();
    k.byValue.clear();
    k.state = AxisKeys::off;
    updateNeededFields();
    return;
  }
}

bool keyedLeavesKnown(int a) {
  if (growing || !buildKey(a)) return false;
  int64_t at = findKey(axisKeys[a]);
  if (axisKeys[a].window.losing(at >= 0)) {
    // The table goes: this record is walked as every later one will be.
    keyAxis = -1;
    unkeyAxis(a);
    updateNeededFields();
    return false;
  }
  if (at < 0) return false;
  const int32_t* stored = &axisKeys[a].leaves[size_t(at)];
  int count = stored[0];
  assert(count >= 0 && size_t(at) + 1 + size_t(count) <= axisKeys[a].leaves.size());
  size_t first = size_t(firstLeaf[a]);
  if (first + count > leafNums.size()) leafNums.resize(first + count);
  for (int i = 0; i < count; i++) leafNums[first + i] = stored[1 + i];
  numLeaves[a] = count;
  keyAxis = -1;
  return true;
}

void keyedLeavesWalked(int a) {
  if (keyAxis != a) return;
  keyAxis = -1;
  AxisKeys& k = axisKeys[a];
  size_t capacity = k.leaves.capacity(), need = k.leaves.size() + 1 + size_t(numLeaves[a]);
  if (need > capacity) {
    size_t grown = std::max(need, 2 * capacity);
    if (!keyBudget.take((grown - capacity) * sizeof(int32_t))) return;
    k.leaves.reserve(grown);
  }
  if (!storeKey(k, uint32_t(k.leaves.size()))) return;
  k.leaves.push_back(numLeaves[a]);
  for (int i = 0; i < numLeaves[a]; i++) k.leaves.push_back(leafNums[size_t(firstLeaf[a] + i)]);
}

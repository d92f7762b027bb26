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

#include <cstdint>
#include <cstring>
#include <vector>

#include "varkel/axislabel.h"
#include "varkel/cube.h"
#include "varkel/date.h"
#include "varkel/grow.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/shape.h"
#include "varkel/varkel.h"

namespace {

// Keys an axis remembers at most, and the bytes of them: past either the table stops
// growing (the records of new keys are walked in full), so memory stays bounded whatever
// the data.
const size_t maxKeys = size_t(1) << 20;
const size_t maxKeyBytes = size_t(64) << 20;

uint64_t hashBytes(const char* p, size_t n) {
  uint64_t h = 0x9E3779B97F4A7C15ULL ^ (n * 0xFF51AFD7ED558CCDULL);
  while (n >= 8) {
    uint64_t w;
    memcpy(&w, p, 8);
    h = (h ^ w) * 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 29;
    p += 8;
    n -= 8;
  }
  uint64_t w = 0;
  if (n) memcpy(&w, p, n);  // an axis read through no field has an empty key, and no bytes
  h = (h ^ w) * 0x94D049BB133111EBULL;
  return h ^ (h >> 31);
}

// An open-addressing table from key bytes to a number, the keys kept in one arena.
class KeyTable {
 public:
  // The number stored under key, or -1.
  int64_t find(const char* key, size_t n, uint64_t hash) const {
    if (slots.empty()) return -1;
    size_t mask = slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& s = slots[i];
      if (s.length == emptySlot) return -1;
      // An axis read through no field has the empty key, and the arena may hold no bytes.
      if (s.hash == hash && s.length == n &&
          (n == 0 || memcmp(&bytes[s.offset], key, n) == 0))
        return s.value;
    }
  }
  // Stores value under a key not in the table; false (nothing stored) when full.
  bool insert(const char* key, size_t n, uint64_t hash, uint32_t value) {
    if (count >= maxKeys || bytes.size() + n > maxKeyBytes) return false;
    if (2 * (count + 1) > slots.size()) rehash(slots.empty() ? 64 : 2 * slots.size());
    size_t mask = slots.size() - 1, i = hash & mask;
    while (slots[i].length != emptySlot) i = (i + 1) & mask;
    slots[i] = Slot{hash, uint32_t(bytes.size()), uint32_t(n), value};
    bytes.insert(bytes.end(), key, key + n);
    count++;
    return true;
  }
  void clear() {
    std::vector<Slot>().swap(slots);
    std::vector<char>().swap(bytes);
    count = 0;
  }

 private:
  static const uint32_t emptySlot = UINT32_MAX;
  struct Slot {
    uint64_t hash;
    uint32_t offset;
    uint32_t length;  // emptySlot: unused
    uint32_t value;
  };
  void rehash(size_t size) {
    std::vector<Slot> old(size, Slot{0, 0, emptySlot, 0});
    old.swap(slots);
    for (const Slot& s : old) {
      if (s.length == emptySlot) continue;
      size_t i = s.hash & (size - 1);
      while (slots[i].length != emptySlot) i = (i + 1) & (size - 1);
      slots[i] = s;
    }
  }
  std::vector<Slot> slots;
  std::vector<char> bytes;
  size_t count = 0;
};

// Per axis of the running pass.
struct AxisKeys {
  enum State { unknown, waiting, ready, off } state = unknown;
  std::vector<int> fields;        // the data columns the axis reads, ascending
  std::vector<int> pendingDates;  // dates (1-based) whose column is not known yet
  KeyTable table;                 // growing: settled keys (value 0); else key -> leaves
  std::vector<int32_t> leaves;    // per stored key: the count, then the leaf numbers
};

bool active = false;        // a pass is keyed
bool growing = false;       // the pass is the expansion pass
AxisKeys axisKeys[32];
bool masksSet = false;      // the needed fields have been given to the splitter
unsigned char needed[maxInputFields];

// The key of the last query: its axis (-1 none), bytes, hash; and the labels there were.
int keyAxis = -1;
std::vector<char> key;
uint64_t keyHash = 0;
int labelsBefore = 0;

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

// Tells the splitter which fields the pass reads, once every axis knows its own.
void updateNeededFields() {
  for (int a = 0; a < numberOfAxes; a++)
    if (axisKeys[a].state != AxisKeys::ready) {
      setNeededFields(nullptr);
      return;
    }
  memset(needed, 0, sizeof needed);
  for (int a = 0; a < numberOfAxes; a++)
    for (int f : axisKeys[a].fields) needed[f] = 1;
  if (!growing)
    for (int f : recordFieldNums)
      if (isColumn(f)) needed[f] = 1;
  setNeededFields(needed);
}

// Prepares every axis at the first query of the pass, once the columns are mapped.
void prepareAll() {
  if (masksSet) return;
  masksSet = true;
  for (int a = 0; a < numberOfAxes; a++) prepareAxis(a);
  updateNeededFields();
}

// Builds the current record's key on axis a; false when the axis is not keyed.
bool buildKey(int a) {
  keyAxis = -1;
  if (!active || a < 0 || a >= numberOfAxes) return false;
  prepareAll();
  AxisKeys& k = axisKeys[a];
  if (k.state == AxisKeys::waiting && datesMapped(k)) updateNeededFields();
  if (k.state != AxisKeys::ready) return false;
  key.clear();
  for (int f : k.fields) {
    const char* text = inputFields[f];
    key.insert(key.end(), text, text + strnlen(text, fieldSize - 1) + 1);
  }
  keyHash = hashBytes(key.data(), key.size());
  keyAxis = a;
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
#endif
  growing = isGrowing;
}

void endKeyedPass() {
  active = false;
  masksSet = false;
  keyAxis = -1;
  for (AxisKeys& k : axisKeys) k = AxisKeys();
  std::vector<char>().swap(key);
  setNeededFields(nullptr);
}

bool keyedGrowthSettled(int a) {
  if (!growing || !buildKey(a)) return false;
  labelsBefore = nextFree;
  return axisKeys[a].table.find(key.data(), key.size(), keyHash) >= 0;
}

void keyedGrowthWalked(int a, unsigned long stamp) {
  if (keyAxis != a) return;
  keyAxis = -1;
  AxisKeys& k = axisKeys[a];
  if (growthStamp() == stamp) {
    k.table.insert(key.data(), key.size(), keyHash, 0);
    return;
  }
  for (int n = labelsBefore; n < nextFree; n++) {
    if (readsOnlyKey(k, n)) continue;
    // Cannot happen as growth copies what it grows from; should it, walk every record.
    k.table.clear();
    k.state = AxisKeys::off;
    setNeededFields(nullptr);
    return;
  }
}

bool keyedLeavesKnown(int a) {
  if (growing || !buildKey(a)) return false;
  int64_t at = axisKeys[a].table.find(key.data(), key.size(), keyHash);
  if (at < 0) return false;
  const int32_t* stored = &axisKeys[a].leaves[size_t(at)];
  int count = stored[0];
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
  if (!k.table.insert(key.data(), key.size(), keyHash, uint32_t(k.leaves.size()))) return;
  k.leaves.push_back(numLeaves[a]);
  for (int i = 0; i < numLeaves[a]; i++) k.leaves.push_back(leafNums[size_t(firstLeaf[a] + i)]);
}

// Cell staging (see cellstage.h). The index holds a word per slot, the cells themselves lie
// in blocks in the order they were made, each its coordinate followed by its values, so
// that neither growth nor empty slots cost room for coordinates or values, and a lookup
// finds a cell's coordinate beside the values it adds into.
#include "varkel/cellstage.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "varkel/cube.h"
#include "varkel/keyhash.h"

namespace {

bool staging = false;
// Values per staged cell: recordSize, or the width of the old cells where that is more.
int cellWidth = 0;

// The index: a power of two of slots, at most three quarters used. A slot is 0 when empty,
// else the cell's number plus one in its low half and the high half of its coordinate's
// hash above, so that growth moves slots without reading cells and a probe reads the cell
// of another coordinate only when their hashes agree in those 32 bits.
const size_t firstSlots = size_t(1) << 16;
std::vector<uint64_t> slots;
size_t count = 0;  // cells staged

// The cells, in blocks that never move: per cell its coordinate, in the room of
// keyDoubles values, then its cellWidth values.
const size_t cellsPerBlock = 1 << 14;
const int keyDoubles = int(sizeof(mbitset<128>::w) / (sizeof(double)));
static_assert(sizeof(mbitset<128>::w) == keyDoubles * sizeof(double), "a key fills whole values");
std::vector<double*> blocks;

size_t cellStride() { return size_t(keyDoubles + cellWidth); }

double* cellAt(uint32_t cell) {
  assert(cell < count);
  return blocks[cell / cellsPerBlock] + (cell % cellsPerBlock) * cellStride();
}
double* cellValues(uint32_t cell) { return cellAt(cell) + keyDoubles; }
mbitset<128> cellKey(uint32_t cell) {
  mbitset<128> key;
  memcpy(key.w, cellAt(cell), sizeof key.w);
  return key;
}

// A new cell of key with every value missing.
uint32_t newCell(const mbitset<128>& key) {
  assert(count < UINT32_MAX);
  if (count % cellsPerBlock == 0) blocks.push_back(new double[cellsPerBlock * cellStride()]);
  uint32_t cell = uint32_t(count++);
  double* at = cellAt(cell);
  memcpy(at, key.w, sizeof key.w);
  std::fill_n(at + keyDoubles, cellWidth, HUGE_VAL);
  return cell;
}

void freeCells() {
  for (double* block : blocks) delete[] block;
  std::vector<double*>().swap(blocks);
  count = 0;
}

// Records whose addition waits: their keys, and recordSize values each, first in first out.
const size_t waitingRecords = 16;
mbitset<128> waitingKeys[waitingRecords];
std::vector<double> waitingValues;
size_t waitingFirst = 0, waitingCount = 0;

void addOldestWaiting() {
  addRecordValues(stagedCell(waitingKeys[waitingFirst]),
                  &waitingValues[waitingFirst * size_t(recordSize)]);
  waitingFirst = (waitingFirst + 1) % waitingRecords;
  waitingCount--;
}

// The 32 bits of key's hash that slots keep.
uint32_t hashOf(const mbitset<128>& key) {
  uint64_t lo = key.w[0] | (uint64_t(key.w[1]) << 32), hi = key.w[2] | (uint64_t(key.w[3]) << 32);
  return uint32_t(hashMix(hi * 0x9E3779B97F4A7C15ULL, lo) >> 32);
}

uint32_t slotHash(uint64_t slot) { return uint32_t(slot >> 32); }
uint32_t slotCell(uint64_t slot) { return uint32_t(slot) - 1; }

void grow() {
  std::vector<uint64_t> old(2 * slots.size(), 0);
  old.swap(slots);
  size_t mask = slots.size() - 1;
  for (uint64_t s : old) {
    if (s == 0) continue;
    size_t j = slotHash(s) & mask;
    while (slots[j] != 0) j = (j + 1) & mask;
    slots[j] = s;
  }
}

}  // namespace

bool cellStaging() { return staging; }

void prefetchStagedCell(const mbitset<128>& key) {
  __builtin_prefetch(&slots[hashOf(key) & (slots.size() - 1)]);
}

double* stagedCell(const mbitset<128>& key) {
  assert(staging && !slots.empty());
  uint32_t hash = hashOf(key);
  size_t mask = slots.size() - 1;
  size_t i = hash & mask;
  for (;; i = (i + 1) & mask) {
    uint64_t s = slots[i];
    if (s == 0) break;
    if (slotHash(s) == hash && cellKey(slotCell(s)) == key) return cellValues(slotCell(s));
  }
  if (4 * (count + 1) > 3 * slots.size()) {
    grow();
    mask = slots.size() - 1;
    for (i = hash & mask; slots[i] != 0;) i = (i + 1) & mask;
  }
  uint32_t cell = newCell(key);
  slots[i] = (uint64_t(hash) << 32) | (uint64_t(cell) + 1);
  return cellValues(cell);
}

void stageRecord(const mbitset<128>& key, const double* record) {
  assert(staging);
  if (waitingCount == waitingRecords) addOldestWaiting();
  size_t at = (waitingFirst + waitingCount) % waitingRecords;
  waitingKeys[at] = key;
  std::copy_n(record, recordSize, &waitingValues[at * size_t(recordSize)]);
  waitingCount++;
}

void beginCellStaging() {
  assert(!staging);
  cellWidth = std::max(recordSize, dataNodes.width());
  slots.assign(firstSlots, 0);
  freeCells();
  waitingValues.assign(waitingRecords * size_t(recordSize), 0.0);
  waitingFirst = waitingCount = 0;
  staging = true;
  // Old cells go in first, so every sum keeps the order of its additions.
  for (size_t i = 0; i < dataNodes.size(); i++)
    std::copy_n(dataNodes.values(i), dataNodes.width(), stagedCell(dataNodes.key(i)));
  dataNodes.clear();
}

namespace {

// Where the cells lie during one pass of the sort at the end of staging: the blocks, one
// flat array of the same layout, or the cube's own arrays.
struct Place {
  double* flat = nullptr;          // cell i at flat + i * cellStride()
  mbitset<128>* keys = nullptr;    // or the cube's: key i here,
  double* values = nullptr;        // its values at values + i * cellWidth
};

const double* readCell(const Place& from, size_t i) {
  return from.flat ? from.flat + i * cellStride() : cellAt(uint32_t(i));
}

void writeCell(const Place& to, size_t i, const double* cell) {
  if (to.keys) {
    memcpy(to.keys[i].w, cell, sizeof to.keys[i].w);
    std::copy_n(cell + keyDoubles, cellWidth, to.values + i * size_t(cellWidth));
  } else {
    std::copy_n(cell, cellStride(), to.flat ? to.flat + i * cellStride() : cellAt(uint32_t(i)));
  }
}

mbitset<128> keyOf(const double* cell) {
  mbitset<128> key;
  memcpy(key.w, cell, sizeof key.w);
  return key;
}

}  // namespace

// The cells go into the cube in ascending coordinate order by a least-significant-digit
// radix sort of the cells themselves over the bits their coordinates use (distinct, they
// share few high bits). Each pass reads the cells where they lie in order and writes them
// in order of a digit, between the blocks and one flat array, the last pass into the
// cube's own arrays: no cell is fetched from a random place, and the cells are held at
// most twice at any time.
void endCellStaging() {
  if (!staging) return;
  while (waitingCount > 0) addOldestWaiting();
  staging = false;
  std::vector<uint64_t>().swap(slots);

  const size_t n = count;
  const int digitBits = 11;
  const size_t buckets = size_t(1) << digitBits;
  mbitsetValue used = 0;
  for (uint32_t c = 0; c < n; c++) used |= cellKey(c).value();
  int bits = 0;
  while (bits < 128 && (used >> bits) != 0) bits++;
  const int passes = (bits + digitBits - 1) / digitBits;
  // The place of each digit's first cell, for every pass, counted in one reading.
  std::vector<size_t> starts(size_t(passes) * buckets, 0);
  for (uint32_t c = 0; c < n; c++) {
    mbitsetValue key = cellKey(c).value();
    for (int p = 0; p < passes; p++)
      starts[size_t(p) * buckets + (size_t(key >> (p * digitBits)) & (buckets - 1))]++;
  }
  for (int p = 0; p < passes; p++) {
    size_t at = 0;
    for (size_t d = 0; d < buckets; d++) {
      size_t here = starts[size_t(p) * buckets + d];
      starts[size_t(p) * buckets + d] = at;
      at += here;
    }
  }

  std::vector<double> flat;
  std::vector<mbitset<128>> keys;
  std::vector<double> values;
  Place blocksPlace, flatPlace, cubePlace;
  Place from = blocksPlace;
  for (int p = 0; p <= passes; p++) {
    bool last = p == passes;
    Place to;
    if (last) {
      // What the cells are not read from goes before the cube's arrays are made.
      if (from.flat)
        freeCells();
      else
        std::vector<double>().swap(flat);
      keys.resize(n);
      values.resize(n * size_t(cellWidth));
      cubePlace.keys = keys.data();
      cubePlace.values = values.data();
      to = cubePlace;
    } else if (from.flat) {
      to = blocksPlace;
    } else {
      if (flat.empty()) flat.resize(n * cellStride());
      flatPlace.flat = flat.data();
      to = flatPlace;
    }
    if (last) {
      for (size_t i = 0; i < n; i++) writeCell(to, i, readCell(from, i));
    } else {
      size_t* next = &starts[size_t(p) * buckets];
      for (size_t i = 0; i < n; i++) {
        const double* cell = readCell(from, i);
        size_t d = size_t(keyOf(cell).value() >> (p * digitBits)) & (buckets - 1);
        writeCell(to, next[d]++, cell);
      }
    }
    from = to;
  }
  freeCells();
  std::vector<double>().swap(flat);
  dataNodes.clear();
  dataNodes.adopt(std::move(keys), std::move(values), cellWidth);
  count = 0;
}

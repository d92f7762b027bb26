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

// A cell in the order of coordinates: its key and where its values lie.
struct Cell {
  mbitset<128> key;
  uint32_t cell;
};

// Puts cells in ascending coordinate order: a least-significant-digit radix sort over the
// bits the coordinates use, as the coordinates are distinct and share few high bits.
void sortByCoordinate(std::vector<Cell>& cells) {
  const int digitBits = 11;
  const size_t buckets = size_t(1) << digitBits;
  mbitsetValue used = 0;
  for (const Cell& c : cells) used |= c.key.value();
  int bits = 0;
  while (bits < 128 && (used >> bits) != 0) bits++;
  std::vector<Cell> other(cells.size());
  std::vector<size_t> counts(buckets);
  for (int shift = 0; shift < bits; shift += digitBits) {
    std::fill(counts.begin(), counts.end(), 0);
    auto digit = [&](const Cell& c) { return size_t(c.key.value() >> shift) & (buckets - 1); };
    for (const Cell& c : cells) counts[digit(c)]++;
    size_t at = 0;
    for (size_t& n : counts) {
      size_t here = n;
      n = at;
      at += here;
    }
    for (const Cell& c : cells) other[counts[digit(c)]++] = c;
    cells.swap(other);
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

// Moves the staged cells into coordinate order where they lie: cells[i].cell is the cell
// that belongs at place i. Each cycle of the permutation is followed once, with one cell
// held aside; a place done points at itself.
void putInCoordinateOrder(std::vector<Cell>& cells) {
  std::vector<double> held(cellStride());
  const size_t bytes = cellStride() * sizeof(double);
  for (uint32_t i = 0; i < cells.size(); i++) {
    if (cells[i].cell == i) continue;
    memcpy(held.data(), cellAt(i), bytes);
    for (uint32_t to = i;;) {
      uint32_t from = cells[to].cell;
      cells[to].cell = to;
      if (from == i) {
        memcpy(cellAt(to), held.data(), bytes);
        break;
      }
      memcpy(cellAt(to), cellAt(from), bytes);
      to = from;
    }
  }
}

}  // namespace

void endCellStaging() {
  if (!staging) return;
  while (waitingCount > 0) addOldestWaiting();
  staging = false;
  std::vector<uint64_t>().swap(slots);
  {
    std::vector<Cell> cells(count);
    for (uint32_t c = 0; c < count; c++) cells[c] = Cell{cellKey(c), c};
    sortByCoordinate(cells);
    putInCoordinateOrder(cells);
  }
  // Block by block into the cube, each given back once copied, so that the cells are held
  // twice only a block at a time.
  dataNodes.clear();
  dataNodes.widen(cellWidth);
  dataNodes.reserve(count);
  for (uint32_t c = 0; c < count; c++) {
    dataNodes.append(cellKey(c), cellValues(c));
    if ((c + 1) % cellsPerBlock == 0 || c + 1 == count) {
      delete[] blocks[c / cellsPerBlock];
      blocks[c / cellsPerBlock] = nullptr;
    }
  }
  std::vector<double*>().swap(blocks);
  count = 0;
}

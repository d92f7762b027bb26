// Cell staging (see cellstage.h). The index holds coordinates only; the values lie in
// blocks in the order the cells were made, so that neither growth nor empty slots cost
// room for values.
#include "varkel/cellstage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "varkel/cube.h"
#include "varkel/keyhash.h"

namespace {

// A slot of the index: a cell's coordinate and where its values lie (noCell: empty).
struct Slot {
  mbitset<128> key;
  uint32_t cell;
};
const uint32_t noCell = UINT32_MAX;
bool staging = false;
std::vector<Slot> slots;  // a power of two of them, at most three quarters used
size_t count = 0;         // cells staged

// The cells' values, recordSize each, in the order the cells were made, in blocks that
// never move, so that growth copies no values and reserves no room beyond a block.
const size_t cellsPerBlock = 1 << 14;
std::vector<double*> blocks;

double* cellValues(uint32_t cell) {
  return blocks[cell / cellsPerBlock] + (cell % cellsPerBlock) * size_t(recordSize);
}

// A new cell with every value missing.
uint32_t newCell() {
  if (count % cellsPerBlock == 0) {
    double* block = new double[cellsPerBlock * size_t(recordSize)];
    blocks.push_back(block);
  }
  uint32_t cell = uint32_t(count++);
  std::fill_n(cellValues(cell), recordSize, HUGE_VAL);
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

size_t hashOf(const mbitset<128>& key) {
  uint64_t lo = key.w[0] | (uint64_t(key.w[1]) << 32), hi = key.w[2] | (uint64_t(key.w[3]) << 32);
  return size_t(hashMix(hi * 0x9E3779B97F4A7C15ULL, lo));
}

void grow() {
  std::vector<Slot> old(2 * slots.size(), Slot{mbitset<128>(), noCell});
  old.swap(slots);
  size_t mask = slots.size() - 1;
  for (const Slot& s : old) {
    if (s.cell == noCell) continue;
    size_t j = hashOf(s.key) & mask;
    while (slots[j].cell != noCell) j = (j + 1) & mask;
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
  size_t mask = slots.size() - 1;
  for (size_t i = hashOf(key) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots[i];
    if (slot.cell != noCell) {
      if (slot.key == key) return cellValues(slot.cell);
      continue;
    }
    if (4 * (count + 1) > 3 * slots.size()) {
      grow();
      return stagedCell(key);
    }
    slot.key = key;
    slot.cell = newCell();
    return cellValues(slot.cell);
  }
}

void stageRecord(const mbitset<128>& key, const double* record) {
  if (waitingCount == waitingRecords) addOldestWaiting();
  size_t at = (waitingFirst + waitingCount) % waitingRecords;
  waitingKeys[at] = key;
  std::copy_n(record, recordSize, &waitingValues[at * size_t(recordSize)]);
  waitingCount++;
}

const size_t firstSlots = size_t(1) << 16;  // of the index at the start of a pass
void beginCellStaging() {
  for (auto& cell : dataNodes)
    if (int(cell.second.size()) != recordSize) return;
  slots.assign(firstSlots, Slot{mbitset<128>(), noCell});
  freeCells();
  waitingValues.assign(waitingRecords * size_t(recordSize), 0.0);
  waitingFirst = waitingCount = 0;
  staging = true;
  // Old cells go in first, so every sum keeps the order of its additions.
  for (auto& cell : dataNodes) std::copy_n(cell.second.data(), recordSize, stagedCell(cell.first));
  dataNodes.clear();
}

void endCellStaging() {
  if (!staging) return;
  while (waitingCount > 0) addOldestWaiting();
  staging = false;
  std::vector<Cell> cells;
  cells.reserve(count);
  for (const Slot& s : slots)
    if (s.cell != noCell) cells.push_back(Cell{s.key, s.cell});
  std::vector<Slot>().swap(slots);
  sortByCoordinate(cells);
  const size_t ahead = 16;
  for (size_t i = 0; i < cells.size(); i++) {
    if (i + ahead < cells.size()) __builtin_prefetch(cellValues(cells[i + ahead].cell));
    const double* v = cellValues(cells[i].cell);
    dataNodes.emplace_hint(dataNodes.end(), cells[i].key, std::vector<double>(v, v + recordSize));
  }
  freeCells();
}

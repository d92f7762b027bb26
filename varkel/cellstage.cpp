// Cell staging (see cellstage.h). A cell's values lie beside its slot's index in a second
// array, so that the slot and the values of a new record's cell are fetched at once.
#include "varkel/cellstage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "varkel/cube.h"

namespace {

struct Slot {
  mbitset<128> key;
  uint32_t used;  // 0 for an empty slot
};
bool staging = false;
std::vector<Slot> slots;      // a power of two of them, at most half used
std::vector<double> values;   // recordSize per slot, at recordSize times its index
size_t count = 0;

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
  uint64_t h = (lo ^ (hi * 0x9E3779B97F4A7C15ULL)) * 0xBF58476D1CE4E5B9ULL;
  return size_t(h ^ (h >> 31));
}

void grow() {
  std::vector<Slot> oldSlots(2 * slots.size(), Slot{mbitset<128>(), 0});
  std::vector<double> oldValues(oldSlots.size() * size_t(recordSize));
  oldSlots.swap(slots);
  oldValues.swap(values);
  size_t mask = slots.size() - 1;
  for (size_t i = 0; i < oldSlots.size(); i++) {
    if (!oldSlots[i].used) continue;
    size_t j = hashOf(oldSlots[i].key) & mask;
    while (slots[j].used) j = (j + 1) & mask;
    slots[j] = oldSlots[i];
    std::copy_n(&oldValues[i * recordSize], recordSize, &values[j * recordSize]);
  }
}

// A cell in the order of coordinates: its key and its slot.
struct Cell {
  mbitset<128> key;
  uint32_t slot;
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
  size_t home = hashOf(key) & (slots.size() - 1);
  __builtin_prefetch(&slots[home]);
  __builtin_prefetch(&values[home * recordSize]);
  __builtin_prefetch(&values[home * recordSize + recordSize - 1]);
}

double* stagedCell(const mbitset<128>& key) {
  size_t mask = slots.size() - 1;
  for (size_t i = hashOf(key) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots[i];
    if (slot.used) {
      if (slot.key == key) return &values[i * recordSize];
      continue;
    }
    if (2 * (count + 1) > slots.size()) {
      grow();
      return stagedCell(key);
    }
    slot.key = key;
    slot.used = 1;
    count++;
    std::fill_n(&values[i * recordSize], recordSize, HUGE_VAL);
    return &values[i * recordSize];
  }
}

void stageRecord(const mbitset<128>& key, const double* record) {
  if (waitingCount == waitingRecords) addOldestWaiting();
  size_t at = (waitingFirst + waitingCount) % waitingRecords;
  waitingKeys[at] = key;
  std::copy_n(record, recordSize, &waitingValues[at * size_t(recordSize)]);
  waitingCount++;
}

void beginCellStaging() {
  for (auto& cell : dataNodes)
    if (int(cell.second.size()) != recordSize) return;
  slots.assign(size_t(1) << 16, Slot{mbitset<128>(), 0});
  values.assign(slots.size() * size_t(recordSize), HUGE_VAL);
  count = 0;
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
  for (size_t i = 0; i < slots.size(); i++)
    if (slots[i].used) cells.push_back(Cell{slots[i].key, uint32_t(i)});
  std::vector<Slot>().swap(slots);
  sortByCoordinate(cells);
  const size_t ahead = 16;
  for (size_t i = 0; i < cells.size(); i++) {
    if (i + ahead < cells.size()) __builtin_prefetch(&values[cells[i + ahead].slot * size_t(recordSize)]);
    const double* v = &values[cells[i].slot * size_t(recordSize)];
    dataNodes.emplace_hint(dataNodes.end(), cells[i].key, std::vector<double>(v, v + recordSize));
  }
  std::vector<double>().swap(values);
  count = 0;
}

// Key tables (see keytable.h). Each table's charge to its budget is the room it holds: its
// slots and the arena's capacity, both taken before they are allocated.
#include "varkel/keytable.h"

#include <cassert>

namespace {
const size_t firstSlots = 64;     // of a table's first key
const size_t arenaGrowth = 4096;  // bytes an arena grows by at least, beyond a key's tail
}  // namespace

KeyTable::KeyTable(KeyBudget* budget, size_t maxKeys, size_t maxBytes)
    : budget(budget), maxKeys(maxKeys), maxBytes(maxBytes) {
  assert(budget != nullptr);
  assert(maxBytes <= UINT32_MAX);
}

bool KeyTable::insert(const char* key, size_t n, uint64_t hash, uint32_t value) {
  assert(find(key, n, hash) < 0);
  if (count >= maxKeys || bytes.size() + n > maxBytes) return false;
  size_t tail = n > headBytes ? n - headBytes : 0;
  bool grows = 2 * (count + 1) > slots.size();
  size_t more = grows ? (slots.empty() ? firstSlots : slots.size()) * sizeof(Slot) : 0;
  size_t capacity = bytes.capacity(), arenaMore = 0;
  if (bytes.size() + tail > capacity) arenaMore = std::max(capacity, tail + arenaGrowth);
  more += arenaMore;
  if (more && !budget->take(more)) return false;
  if (arenaMore) bytes.reserve(capacity + arenaMore);
  if (grows) rehash(slots.empty() ? firstSlots : 2 * slots.size());
  size_t mask = slots.size() - 1, i = hash & mask;
  while (slots[i].length != emptySlot) i = (i + 1) & mask;
  slots[i] = Slot{hash, uint32_t(bytes.size()), uint32_t(n), value, headOf(key, n)};
  if (n > headBytes) bytes.insert(bytes.end(), key + headBytes, key + n);
  count++;
  assert(2 * count <= slots.size());
  assert(bytes.size() <= maxBytes);
  return true;
}

void KeyTable::clear() {
  budget->give(bytesHeld());
  std::vector<Slot>().swap(slots);
  std::vector<char>().swap(bytes);
  count = 0;
}

void KeyTable::rehash(size_t size) {
  assert(size >= firstSlots && (size & (size - 1)) == 0);
  std::vector<Slot> old(size, Slot{0, 0, emptySlot, 0, Head{0, 0}});
  old.swap(slots);
  for (const Slot& s : old) {
    if (s.length == emptySlot) continue;
    size_t i = s.hash & (size - 1);
    while (slots[i].length != emptySlot) i = (i + 1) & (size - 1);
    slots[i] = s;
  }
}

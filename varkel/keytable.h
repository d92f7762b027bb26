// Key tables: an open-addressing hash table from byte strings (a record's field texts, or
// the numbers of several) to numbers, whose memory is charged to a budget that several
// tables share. Keys are only ever added; a table is emptied as a whole.
#ifndef VARKEL_KEYTABLE_H
#define VARKEL_KEYTABLE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "varkel/keyhash.h"

// Bytes that a set of tables may hold together: a table takes from it before it grows and
// gives back what it held when it is cleared.
struct KeyBudget {
  size_t limit = 0;
  size_t used = 0;
  // Takes more bytes and answers true when they fit under the limit; else changes nothing.
  bool take(size_t more) {
    if (used + more > limit) return false;
    used += more;
    return true;
  }
  // Gives back bytes taken (never more than are taken).
  void give(size_t less) { used -= std::min(less, used); }
};

// Keys a table holds at most, and the bytes of them.
const size_t keyTableMaxKeys = size_t(1) << 20;
const size_t keyTableMaxBytes = size_t(64) << 20;

class KeyTable {
 public:
  // An empty table that charges budget (which must outlive it) and holds at most maxKeys
  // keys of maxBytes bytes together (at most 4 GiB).
  explicit KeyTable(KeyBudget* budget, size_t maxKeys = keyTableMaxKeys,
                    size_t maxBytes = keyTableMaxBytes);

  // The number stored under key[0..n), whose hash is hash, or -1. The caller gives the
  // hash (of any function, the same for every lookup of a key).
  int64_t find(const char* key, size_t n, uint64_t hash) const {
    if (slots.empty()) return -1;
    Head head = headOf(key, n);
    size_t mask = slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& s = slots[i];
      if (s.length == emptySlot) return -1;
      if (s.hash == hash && s.length == n && s.head.a == head.a && s.head.b == head.b &&
          (n <= headBytes ||
           sameKeyBytes(bytes.data() + s.offset, key + headBytes, n - headBytes)))
        return s.value;
    }
  }

  // Start fetching what a find of hash reads first: its home slot, then the rest of the
  // key there.
  void prefetchSlot(uint64_t hash) const {
    if (!slots.empty()) __builtin_prefetch(&slots[hash & (slots.size() - 1)]);
  }
  void prefetchKey(uint64_t hash) const {
    if (slots.empty()) return;
    const Slot& s = slots[hash & (slots.size() - 1)];
    if (s.length != emptySlot && s.length > headBytes) __builtin_prefetch(bytes.data() + s.offset);
  }

  // Stores value under key[0..n), which the table does not hold; false (nothing stored,
  // nothing taken) when the table is full or the budget has no room for its growth.
  bool insert(const char* key, size_t n, uint64_t hash, uint32_t value);

  // Frees every key and gives the table's bytes back to its budget.
  void clear();

  // Keys held.
  size_t size() const { return count; }

  // Bytes the table holds, all of them taken from its budget.
  size_t bytesHeld() const { return slots.size() * sizeof(Slot) + bytes.capacity(); }

 private:
  static const uint32_t emptySlot = UINT32_MAX;
  static const size_t headBytes = 12;
  // A key's first headBytes bytes, zeros after a shorter key (the length tells them apart),
  // so that a short key is found without a second fetch; the rest of a longer one lies in
  // the arena.
  struct Head {
    uint64_t a;
    uint32_t b;
  } __attribute__((packed));
  static Head headOf(const char* key, size_t n) {
    char bytes[headBytes] = {};
    if (n > 0) memcpy(bytes, key, n < headBytes ? n : headBytes);
    Head h;
    memcpy(&h.a, bytes, 8);
    memcpy(&h.b, bytes + 8, 4);
    return h;
  }
  struct Slot {
    uint64_t hash;
    uint32_t offset;  // of the bytes after the head in the arena
    uint32_t length;  // emptySlot: unused
    uint32_t value;
    Head head;
  };
  void rehash(size_t size);

  std::vector<Slot> slots;  // a power of two of them, at most half used; none when empty
  std::vector<char> bytes;  // the arena
  size_t count = 0;
  KeyBudget* budget;
  size_t maxKeys, maxBytes;
};

#endif

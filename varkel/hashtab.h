// String-keyed hash table with linear probing: the category index of one auto-build
// level and the level tables of a date hierarchy. Values are label indexes (0 or more);
// keys are copied into the table; nothing is ever deleted singly.
#ifndef VARKEL_HASHTAB_H
#define VARKEL_HASHTAB_H

#include <cstddef>
#include <cstdint>
#include <string>

// One slot: a key's hash, its value (-1 for an empty slot) and its text. A key of up to
// hashtabInlineKey bytes lies in the slot itself, zero-padded, so that a lookup of a short
// key reads nothing but the slot; a longer one is the table's own copy, pointed to. Growth
// moves slots without hashing any text again.
const int hashtabInlineKey = 8;
struct HashtabSlot {
  uint32_t hash;
  int32_t value;  // with hashtabInlineFlag added when the text lies in the slot
  union {
    char* key;                       // a longer key
    char text[hashtabInlineKey];  // a short key, zero-padded
  };
};
const int32_t hashtabInlineFlag = int32_t(1) << 30;  // values stay below it

// The text of an occupied slot, and its value.
std::string hashtabSlotKey(const HashtabSlot& slot);
int hashtabSlotValue(const HashtabSlot& slot);

// Blocks the key copies of one table are carved from, so that a key costs no allocation of
// its own; freed with the table's entries.
struct HashtabBlock;

struct Hashtab {
  int32_t size;           // number of slots
  uint32_t count;         // number of entries
  int32_t growthFactor;   // size is multiplied by this when the table grows
  HashtabSlot* slots;     // size slots
  double maxLoad;         // count / size above this makes the table grow; at most 0.8
  int32_t tail;           // last label of the sibling chain this table indexes (kept by tree growth)
  HashtabBlock* blocks;   // where the key copies lie, newest first
};

// The hash of key: h = h * 33 + ((c * c) ^ c) over its bytes taken as signed chars,
// unsigned 32-bit wrapping arithmetic. The empty key hashes to 0.
uint32_t hashtabHash(const char* key);
// The same hash of the length bytes at key.
uint32_t hashtabHashBytes(const char* key, size_t length);

// Starts fetching the slot where a lookup of a key of this hash begins.
inline void hashtabPrefetch(const Hashtab* table, uint32_t hash) {
  __builtin_prefetch(&table->slots[hash % (uint32_t)table->size]);
}

// A new empty table of size slots (count 0, tail 0). Past 65536 slots a table grows by
// doubling whatever its growth factor, so that a level of a million categories holds
// about two slots per key rather than up to five. A maxLoad above 0.8, a size below 1
// or a growth factor below 2 is a programming error that aborts the process.
Hashtab* hashtabNew(int size, int growthFactor, double maxLoad);

// Adds {value, copy of key} without looking for an existing entry: a key put twice is
// stored twice and lookups find the older one. The value is below hashtabInlineFlag.
// Grows the table when count / size exceeds maxLoad.
void hashtabPut(Hashtab* table, const char* key, int value);

// The value stored under key (exact, case-sensitive), or -1 when there is none.
int hashtabGet(Hashtab* table, const char* key);

// Sets the value of the entry hashtabGet would find; does nothing when key is absent.
void hashtabReplace(Hashtab* table, const char* key, int value);

// Releases every entry and its key and empties every slot; the table stays usable.
// A null table is allowed.
void hashtabFree(Hashtab* table);

// Releases the table's entries and then the table itself. A null table is allowed.
void hashtabDelete(Hashtab* table);

#endif

// String-keyed hash table with linear probing and growth by a constant factor.
#include "varkel/hashtab.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/textutil.h"
#include "common/util.h"

uint32_t hashtabHash(const char* key) {
  uint32_t h = 0;
  for (const char* p = key; *p; p++) {
    // Bytes above 127 count as negative, widened to 32 bits.
    uint32_t c = (uint32_t)(int32_t)(signed char)*p;
    h = h * 33 + ((c * c) ^ c);
  }
  return h;
}

// Entries of a table: a block list, each block twice the last, from 256 bytes to 64 KiB.
struct HashtabBlock {
  HashtabBlock* next;
  size_t size, used;
  // the entries follow
};

static const size_t firstBlock = 256, largestBlock = 64 * 1024;

// Room for bytes (rounded to 8) in table's newest block, or in a new one.
static void* carve(Hashtab* table, size_t bytes) {
  bytes = (bytes + 7) & ~size_t(7);
  HashtabBlock* b = table->blocks;
  if (!b || b->used + bytes > b->size) {
    size_t size = b ? std::min(2 * b->size, largestBlock) : firstBlock;
    if (size < bytes) size = bytes;
    void* raw = malloc(sizeof(HashtabBlock) + size);
    if (!raw)
      fatal(100, "Out of memory copying while copying string. (%s:%d)\n", __FILE__, __LINE__);
    b = new (raw) HashtabBlock{table->blocks, size, 0};
    table->blocks = b;
  }
  void* at = reinterpret_cast<char*>(b + 1) + b->used;
  b->used += bytes;
  return at;
}

static HashtabProbe* newProbes(int size) {
  HashtabProbe* probes = new HashtabProbe[size];
  for (int i = 0; i < size; i++) probes[i] = HashtabProbe{0, -1};
  return probes;
}

Hashtab* hashtabNew(int size, int growthFactor, double maxLoad) {
  if (maxLoad > 0.8 || size < 1 || growthFactor < 2) abort();
  Hashtab* table = new Hashtab();
  table->size = size;
  table->count = 0;
  table->growthFactor = growthFactor;
  table->slots = new HashtabEntry*[size]();
  table->maxLoad = maxLoad;
  table->tail = 0;
  table->probes = newProbes(size);
  table->blocks = nullptr;
  return table;
}

// Puts entry into the first empty slot from its home slot on, and its probe beside it.
static void insertEntry(HashtabEntry** slots, HashtabProbe* probes, int size,
                        HashtabEntry* entry) {
  int home = (int)(entry->hash % (uint32_t)size);
  int i = home;
  while (probes[i].value != -1) {
    if (++i == size) i = 0;
    if (i == home) abort();  // full: the growth rule keeps the load at most 0.8
  }
  slots[i] = entry;
  probes[i] = HashtabProbe{entry->hash, entry->value};
}

static void grow(Hashtab* table) {
  int newSize = table->size * (table->size > 65536 ? 2 : table->growthFactor);
  HashtabEntry** grownSlots = new HashtabEntry*[newSize]();
  HashtabProbe* grownProbes = newProbes(newSize);
  for (int i = 0; i < table->size; i++)
    if (table->slots[i]) insertEntry(grownSlots, grownProbes, newSize, table->slots[i]);
  delete[] table->slots;
  delete[] table->probes;
  table->slots = grownSlots;
  table->probes = grownProbes;
  table->size = newSize;
}

void hashtabPut(Hashtab* table, const char* key, int value) {
  assert(value >= 0);
  // The key's copy follows the entry.
  size_t length = strlen(key);
  void* block = carve(table, sizeof(HashtabEntry) + length + 1);
  HashtabEntry* entry = new (block) HashtabEntry();
  entry->value = value;
  entry->key = static_cast<char*>(block) + sizeof(HashtabEntry);
  memcpy(entry->key, key, length + 1);
  entry->hash = hashtabHash(key);
  insertEntry(table->slots, table->probes, table->size, entry);
  table->count++;
  if ((double)table->count / table->size > table->maxLoad) grow(table);
}

// The slot of the entry a lookup of key meets first on its probe path, or -1.
static int findSlot(Hashtab* table, const char* key) {
  uint32_t hash = hashtabHash(key);
  int home = (int)(hash % (uint32_t)table->size);
  int i = home;
  // The probes alone tell an empty slot, so that passing other keys reads one array.
  const HashtabProbe* probes = table->probes;
  while (probes[i].value != -1) {
    if (probes[i].hash == hash && strcmp(table->slots[i]->key, key) == 0) return i;
    if (++i == table->size) i = 0;
    if (i == home) break;
  }
  return -1;
}

int hashtabGet(Hashtab* table, const char* key) {
  int i = findSlot(table, key);
  return i < 0 ? -1 : table->probes[i].value;
}

void hashtabReplace(Hashtab* table, const char* key, int value) {
  assert(value >= 0);
  int i = findSlot(table, key);
  if (i < 0) return;
  table->slots[i]->value = value;
  table->probes[i].value = value;
}

void hashtabFree(Hashtab* table) {
  if (!table) return;
  for (int i = 0; i < table->size; i++) {
    table->slots[i] = nullptr;
    table->probes[i] = HashtabProbe{0, -1};
  }
  while (HashtabBlock* b = table->blocks) {
    table->blocks = b->next;
    free(b);
  }
  table->count = 0;
}

void hashtabDelete(Hashtab* table) {
  if (!table) return;
  hashtabFree(table);
  delete[] table->slots;
  delete[] table->probes;
  delete table;
}

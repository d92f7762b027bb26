// String-keyed hash table with linear probing and growth by a constant factor.
#include "varkel/hashtab.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/textutil.h"
#include "common/util.h"

// One byte into the hash; bytes above 127 count as negative, widened to 32 bits.
static inline uint32_t hashStep(uint32_t h, char byte) {
  uint32_t c = (uint32_t)(int32_t)(signed char)byte;
  return h * 33 + ((c * c) ^ c);
}

// The hash of key, and its length through length.
static uint32_t hashAndLength(const char* key, size_t* length) {
  uint32_t h = 0;
  const char* p = key;
  for (; *p; p++) h = hashStep(h, *p);
  *length = size_t(p - key);
  return h;
}

uint32_t hashtabHash(const char* key) {
  size_t length;
  return hashAndLength(key, &length);
}

uint32_t hashtabHashBytes(const char* key, size_t length) {
  uint32_t h = 0;
  for (size_t i = 0; i < length; i++) h = hashStep(h, key[i]);
  return h;
}

std::string hashtabSlotKey(const HashtabSlot& slot) {
  if (!(slot.value & hashtabInlineFlag)) return slot.key;
  return std::string(slot.text, strnlen(slot.text, sizeof slot.text));
}

int hashtabSlotValue(const HashtabSlot& slot) {
  return slot.value < 0 ? slot.value : slot.value & ~hashtabInlineFlag;
}

// Key copies of a table: a block list, each block twice the last, from 256 bytes to 64 KiB.
struct HashtabBlock {
  HashtabBlock* next;
  size_t size, used;
  // the entries follow
};

static const size_t firstBlock = 256, largestBlock = 64 * 1024;

// Room for bytes in table's newest block, or in a new one; texts need no alignment.
static char* carve(Hashtab* table, size_t bytes) {
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
  char* at = reinterpret_cast<char*>(b + 1) + b->used;
  b->used += bytes;
  return at;
}

const HashtabSlot emptySlot = {0, -1, {nullptr}};

static HashtabSlot* newSlots(int size) {
  HashtabSlot* slots = new HashtabSlot[size];
  for (int i = 0; i < size; i++) slots[i] = emptySlot;
  return slots;
}

Hashtab* hashtabNew(int size, int growthFactor, double maxLoad) {
  if (maxLoad > 0.8 || size < 1 || growthFactor < 2) abort();
  Hashtab* table = new Hashtab();
  table->size = size;
  table->count = 0;
  table->growthFactor = growthFactor;
  table->slots = newSlots(size);
  table->maxLoad = maxLoad;
  table->tail = 0;
  table->blocks = nullptr;
  return table;
}

// Puts entry into the first empty slot from its home slot on.
static void insertEntry(HashtabSlot* slots, int size, const HashtabSlot& entry) {
  int home = (int)(entry.hash % (uint32_t)size);
  int i = home;
  while (slots[i].value != -1) {
    if (++i == size) i = 0;
    if (i == home) abort();  // full: the growth rule keeps the load at most 0.8
  }
  slots[i] = entry;
}

static void grow(Hashtab* table) {
  int newSize = table->size * (table->size > 65536 ? 2 : table->growthFactor);
  HashtabSlot* grown = newSlots(newSize);
  for (int i = 0; i < table->size; i++)
    if (table->slots[i].value != -1) insertEntry(grown, newSize, table->slots[i]);
  delete[] table->slots;
  table->slots = grown;
  table->size = newSize;
}

// A short key's slot text: its bytes, zero-padded.
static uint64_t inlineText(const char* key, size_t length) {
  uint64_t text = 0;
  memcpy(&text, key, length);
  return text;
}

void hashtabPut(Hashtab* table, const char* key, int value) {
  assert(value >= 0 && value < hashtabInlineFlag);
  size_t length;
  HashtabSlot entry = emptySlot;
  entry.hash = hashAndLength(key, &length);
  if (length <= sizeof entry.text) {
    uint64_t text = inlineText(key, length);
    memcpy(entry.text, &text, sizeof entry.text);
    entry.value = value | hashtabInlineFlag;
  } else {
    entry.key = carve(table, length + 1);
    memcpy(entry.key, key, length + 1);
    entry.value = value;
  }
  insertEntry(table->slots, table->size, entry);
  table->count++;
  if ((double)table->count / table->size > table->maxLoad) grow(table);
}

// The slot of the entry a lookup of key meets first on its probe path, or -1. A short key
// can only equal a slot's own text and a long one only a copy elsewhere.
static int findSlot(Hashtab* table, const char* key) {
  size_t length;
  uint32_t hash = hashAndLength(key, &length);
  int home = (int)(hash % (uint32_t)table->size);
  int i = home;
  const HashtabSlot* slots = table->slots;
  if (length <= sizeof slots->text) {
    uint64_t text = inlineText(key, length);
    while (slots[i].value != -1) {
      if (slots[i].hash == hash && (slots[i].value & hashtabInlineFlag) &&
          memcmp(slots[i].text, &text, sizeof text) == 0)
        return i;
      if (++i == table->size) i = 0;
      if (i == home) break;
    }
    return -1;
  }
  while (slots[i].value != -1) {
    if (slots[i].hash == hash && !(slots[i].value & hashtabInlineFlag) &&
        strcmp(slots[i].key, key) == 0)
      return i;
    if (++i == table->size) i = 0;
    if (i == home) break;
  }
  return -1;
}

int hashtabGet(Hashtab* table, const char* key) {
  int i = findSlot(table, key);
  return i < 0 ? -1 : hashtabSlotValue(table->slots[i]);
}

void hashtabReplace(Hashtab* table, const char* key, int value) {
  assert(value >= 0 && value < hashtabInlineFlag);
  int i = findSlot(table, key);
  if (i < 0) return;
  table->slots[i].value = value | (table->slots[i].value & hashtabInlineFlag);
}

void hashtabFree(Hashtab* table) {
  if (!table) return;
  for (int i = 0; i < table->size; i++) table->slots[i] = emptySlot;
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
  delete table;
}

// The string hash table: hash values, probing, growth points, duplicates, freeing.
#include <gtest/gtest.h>

#include <cstring>

#include <memory>
#include <string>
#include <vector>

#include "varkel/hashtab.h"

namespace {
struct TableDeleter {
  void operator()(Hashtab* t) const { hashtabDelete(t); }
};
// Tables live until the process ends in the builder; tests release theirs.
using Table = std::unique_ptr<Hashtab, TableDeleter>;
}  // namespace

TEST(HashtabHash, KnownValues) {
  struct Case {
    const char* key;
    uint32_t hash;
  };
  const Case cases[] = {
      {"", 0},
      {"a", 9376},                   // 97 * 97 ^ 97
      {"ab", 9376u * 33 + 9702},     // 'b': 98 * 98 ^ 98
      {"\xff", 0xfffffffeu},         // -1: 1 ^ 0xffffffff
      {"\xe9", 529u ^ 0xffffffe9u},  // -23: 529 ^ (uint32)-23
  };
  for (const Case& c : cases) EXPECT_EQ(hashtabHash(c.key), c.hash) << c.key;
  // Long keys wrap in 32 bits.
  uint32_t h = 0;
  for (int i = 0; i < 40; i++) h = h * 33 + 9376;
  EXPECT_EQ(hashtabHash(std::string(40, 'a').c_str()), h);
}

// The look ahead hashes a value where it lies in a line, up to its separator.
TEST(HashtabHash, BytesHashAsTheKeyTheyHold) {
  for (const char* key : {"", "a", "ab", "\xff", "\xe9x", "C0118134", "a longer key of text"}) {
    std::string line = std::string(key) + "\tnext";
    EXPECT_EQ(hashtabHashBytes(line.data(), strlen(key)), hashtabHash(key)) << key;
  }
}

TEST(HashtabHash, HomeSlotOfA) {
  EXPECT_EQ(hashtabHash("a") % 21, 10u);
}

TEST(Hashtab, NewTableIsEmpty) {
  Table table(hashtabNew(21, 4, 0.7));
  Hashtab* t = table.get();
  EXPECT_EQ(t->size, 21);
  EXPECT_EQ(t->count, 0u);
  EXPECT_EQ(t->growthFactor, 4);
  EXPECT_EQ(t->tail, 0);
  EXPECT_DOUBLE_EQ(t->maxLoad, 0.7);
  for (int i = 0; i < t->size; i++) EXPECT_EQ(t->slots[i].value, -1);
  EXPECT_EQ(hashtabGet(t, "a"), -1);
  EXPECT_EQ(hashtabGet(t, ""), -1);
}

TEST(Hashtab, StoresInHomeSlotThenProbesOn) {
  Table table(hashtabNew(21, 4, 0.7));
  Hashtab* t = table.get();
  hashtabPut(t, "a", 1);
  ASSERT_NE(t->slots[10].value, -1);
  EXPECT_EQ(hashtabSlotKey(t->slots[10]), "a");
  EXPECT_EQ(t->slots[10].hash, 9376u);
  hashtabPut(t, "a", 2);  // same home slot: the next one
  ASSERT_NE(t->slots[11].value, -1);
  EXPECT_EQ(hashtabSlotValue(t->slots[11]), 2);
}

TEST(Hashtab, ProbingWrapsFromLastSlotToFirst) {
  // Find keys whose home is the last slot of a 5-slot table.
  Table table(hashtabNew(5, 2, 0.8));
  Hashtab* t = table.get();
  std::string keys[3];
  int found = 0;
  for (int c = 'a'; c <= 'z' && found < 3; c++)
    for (int d = 'a'; d <= 'z' && found < 3; d++) {
      std::string k = {(char)c, (char)d};
      if (hashtabHash(k.c_str()) % 5 == 4) keys[found++] = k;
    }
  ASSERT_EQ(found, 3);
  hashtabPut(t, keys[0].c_str(), 10);
  hashtabPut(t, keys[1].c_str(), 11);
  hashtabPut(t, keys[2].c_str(), 12);
  ASSERT_EQ(t->size, 5);  // 3 / 5 is not above 0.8
  ASSERT_NE(t->slots[4].value, -1);
  ASSERT_NE(t->slots[0].value, -1);
  ASSERT_NE(t->slots[1].value, -1);
  EXPECT_EQ(hashtabSlotValue(t->slots[0]), 11);
  EXPECT_EQ(hashtabSlotValue(t->slots[1]), 12);
  for (int i = 0; i < 3; i++) EXPECT_EQ(hashtabGet(t, keys[i].c_str()), 10 + i);
}

TEST(Hashtab, GrowthPoints) {
  struct Step {
    int afterPut, size;
  };
  struct Case {
    int size, factor;
    double maxLoad;
    std::vector<Step> steps;  // the size after a number of puts, in put order
  };
  const Case cases[] = {
      {21, 4, 0.7, {{14, 21}, {15, 84}, {58, 84}, {59, 336}}},  // 15/21, 59/84
      {5, 2, 0.6, {{3, 5}, {4, 10}, {6, 10}, {7, 20}}},         // 3/5 is not above 0.6
      {12, 2, 0.6, {{7, 12}, {8, 24}}},
      {36, 2, 0.6, {{21, 36}, {22, 72}}},
      {50, 2, 0.6, {{30, 50}, {31, 100}}},
  };
  for (const Case& c : cases) {
    Table table(hashtabNew(c.size, c.factor, c.maxLoad));
  Hashtab* t = table.get();
    size_t step = 0;
    for (int i = 1; step < c.steps.size(); i++) {
      hashtabPut(t, ("key" + std::to_string(i)).c_str(), i);
      if (c.steps[step].afterPut == i) {
        EXPECT_EQ(t->size, c.steps[step].size) << "size " << c.size << " after " << i;
        step++;
      }
      for (int j = 1; j <= i; j++)
        ASSERT_EQ(hashtabGet(t, ("key" + std::to_string(j)).c_str()), j);
      ASSERT_EQ(hashtabGet(t, "never"), -1);
      ASSERT_EQ(t->count, (uint32_t)i);
    }
    hashtabFree(t);
  }
}

TEST(Hashtab, GrowthReinsertsByStoredHash) {
  Table table(hashtabNew(21, 4, 0.7));
  Hashtab* t = table.get();
  for (int i = 0; i < 15; i++) hashtabPut(t, ("k" + std::to_string(i)).c_str(), i);
  ASSERT_EQ(t->size, 84);
  int entries = 0;
  for (int i = 0; i < t->size; i++) {
    if (t->slots[i].value == -1) continue;
    entries++;
    EXPECT_EQ(t->slots[i].hash, hashtabHash(hashtabSlotKey(t->slots[i]).c_str()));
  }
  EXPECT_EQ(entries, 15);
}

TEST(Hashtab, DuplicatesKeepTheOlderFirst) {
  Table table(hashtabNew(21, 4, 0.7));
  Hashtab* t = table.get();
  hashtabPut(t, "x", 5);
  hashtabPut(t, "x", 9);
  EXPECT_EQ(t->count, 2u);
  EXPECT_EQ(hashtabGet(t, "x"), 5);
  hashtabReplace(t, "x", 7);
  EXPECT_EQ(hashtabGet(t, "x"), 7);
  // The newer entry is untouched.
  int values = 0;
  for (int i = 0; i < t->size; i++)
    if (t->slots[i].value != -1) values += hashtabSlotValue(t->slots[i]);
  EXPECT_EQ(values, 7 + 9);
  // The older stays first after growth too.
  for (int i = 0; i < 20; i++) hashtabPut(t, ("y" + std::to_string(i)).c_str(), i);
  ASSERT_GT(t->size, 21);
  EXPECT_EQ(hashtabGet(t, "x"), 7);
}

TEST(Hashtab, KeysCompareExactly) {
  Table table(hashtabNew(21, 4, 0.7));
  Hashtab* t = table.get();
  struct Case {
    const char* key;
    int value;
  };
  const Case cases[] = {
      {"Jan", 1}, {"jan", 2}, {"JAN", 3}, {"", 4}, {"\xe9t\xe9", 5}, {"Jan ", 6},
  };
  for (const Case& c : cases) hashtabPut(t, c.key, c.value);
  for (const Case& c : cases) EXPECT_EQ(hashtabGet(t, c.key), c.value) << c.key;
  EXPECT_EQ(hashtabGet(t, "ja"), -1);
  EXPECT_EQ(hashtabGet(t, "\xe9t"), -1);
}

TEST(Hashtab, KeysAreCopied) {
  Table table(hashtabNew(21, 4, 0.7));
  Hashtab* t = table.get();
  char key[] = "abc";
  hashtabPut(t, key, 3);
  key[0] = 'x';
  EXPECT_EQ(hashtabGet(t, "abc"), 3);
  EXPECT_EQ(hashtabGet(t, "xbc"), -1);
}

// Keys of every length around the longest a slot holds itself: lookups, replacement and
// growth must treat a key kept elsewhere exactly like one in its slot.
TEST(Hashtab, LongAndShortKeysDifferingInTheirLastByteStayApart) {
  Hashtab* t = hashtabNew(5, 2, 0.6);
  std::vector<std::string> keys;
  for (size_t length : {1, 2, 7, 8, 9, 10, 20, 23, 60, 255})
    for (char last : {'a', 'b'}) keys.push_back(std::string(length - 1, 'k') + last);
  for (size_t i = 0; i < keys.size(); i++) hashtabPut(t, keys[i].c_str(), int(i));
  ASSERT_GT(t->size, 5);  // the table grew on the way
  for (size_t i = 0; i < keys.size(); i++) EXPECT_EQ(hashtabGet(t, keys[i].c_str()), int(i));
  // A key one byte shorter or longer than a stored one is absent.
  for (size_t length : {0, 6, 7, 8, 9, 21}) {
    EXPECT_EQ(hashtabGet(t, std::string(length, 'k').c_str()), -1) << length;
    EXPECT_EQ(hashtabGet(t, (std::string(length, 'k') + "ab").c_str()), -1) << length;
  }

  for (size_t i = 0; i < keys.size(); i++) hashtabReplace(t, keys[i].c_str(), 100 + int(i));
  for (int i = 0; i < t->size; i++) {
    if (t->slots[i].value == -1) continue;
    std::string key = hashtabSlotKey(t->slots[i]);
    EXPECT_EQ(hashtabGet(t, key.c_str()), hashtabSlotValue(t->slots[i])) << key;
    EXPECT_GE(hashtabSlotValue(t->slots[i]), 100);
  }
  hashtabFree(t);
  for (const std::string& k : keys) EXPECT_EQ(hashtabGet(t, k.c_str()), -1);
  hashtabPut(t, keys.back().c_str(), 7);
  EXPECT_EQ(hashtabGet(t, keys.back().c_str()), 7);
  hashtabDelete(t);
}

TEST(Hashtab, ReplaceOfAbsentKeyChangesNothing) {
  Table table(hashtabNew(5, 2, 0.6));
  Hashtab* t = table.get();
  hashtabPut(t, "a", 1);
  hashtabReplace(t, "b", 2);
  EXPECT_EQ(hashtabGet(t, "b"), -1);
  EXPECT_EQ(hashtabGet(t, "a"), 1);
  EXPECT_EQ(t->count, 1u);
}

TEST(Hashtab, FreeEmptiesAndStaysUsable) {
  hashtabFree(nullptr);
  Table table(hashtabNew(5, 2, 0.6));
  Hashtab* t = table.get();
  hashtabPut(t, "a", 1);
  hashtabPut(t, "b", 2);
  hashtabFree(t);
  for (int i = 0; i < t->size; i++) EXPECT_EQ(t->slots[i].value, -1);
  EXPECT_EQ(hashtabGet(t, "a"), -1);
  hashtabFree(t);
  hashtabPut(t, "c", 3);
  EXPECT_EQ(hashtabGet(t, "c"), 3);
}

TEST(HashtabDeath, MaxLoadAboveLimitAborts) {
  EXPECT_DEATH(hashtabNew(21, 4, 0.81), "");
}

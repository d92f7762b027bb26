// Key tables and key hashing: keys of every length found again and only they, growth,
// the caps and the shared budget, and probe chains of keys whose hashes collide.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "varkel/keyhash.h"
#include "varkel/keytable.h"

namespace {

uint64_t hashOf(const std::string& s) { return hashBytes(s.data(), s.size()); }

// Keys of many shapes: empty, shorter than a word, around the 12 bytes a slot holds,
// long, NUL bytes inside, and pairs that differ only past the first 12 bytes.
std::vector<std::string> sampleKeys() {
  std::vector<std::string> keys = {"", std::string(1, '\0'), std::string(2, '\0'),
                                   "a", "ab", "abc", "abcd", "abcdefg", "abcdefgh",
                                   "abcdefghijk", "abcdefghijkl", "abcdefghijklm",
                                   std::string("ab\0cd", 5), std::string("ab\0ce", 5),
                                   "\xff\xfe\x80", std::string(100, 'x')};
  std::string longKey(40, 'q');
  keys.push_back(longKey);
  longKey[39] = 'r';  // same head, differs in the last byte
  keys.push_back(longKey);
  longKey[20] = 's';  // differs inside the arena part
  keys.push_back(longKey);
  return keys;
}

}  // namespace

// Copies of a key compare equal at every length; a change of any single byte is seen.
TEST(KeyHash, SameBytesSeesEveryByte) {
  for (size_t n = 0; n <= 40; n++) {
    // Exact-size heap buffers, so that a read past the key shows under the sanitizers.
    std::vector<char> a(n), b(n);
    for (size_t i = 0; i < n; i++) a[i] = b[i] = char('A' + i);
    EXPECT_TRUE(sameKeyBytes(a.data(), b.data(), n)) << n;
    EXPECT_EQ(hashBytes(a.data(), n), hashBytes(b.data(), n)) << n;
    for (size_t i = 0; i < n; i++) {
      b[i] ^= 1;
      EXPECT_FALSE(sameKeyBytes(a.data(), b.data(), n)) << n << " byte " << i;
      EXPECT_NE(hashBytes(a.data(), n), hashBytes(b.data(), n)) << n << " byte " << i;
      b[i] ^= 1;
    }
  }
}

// Keys of zeros that differ only in length hash apart, and so do small numbers.
TEST(KeyHash, LengthsAndNumbersHashApart) {
  std::set<uint64_t> seen;
  for (size_t n = 0; n <= 64; n++) seen.insert(hashOf(std::string(n, '\0')));
  EXPECT_EQ(seen.size(), 65u);
  // Low bits spread: 4096 consecutive numbers land in at least half of 4096 slots (a
  // random hash fills about 63%).
  std::set<uint64_t> slots;
  for (uint32_t v = 0; v < 4096; v++) slots.insert(hashBytes((const char*)&v, 4) & 4095);
  EXPECT_GT(slots.size(), 2048u);
  std::set<uint64_t> low, high;
  for (uint64_t v = 0; v < 4096; v++) {
    low.insert(hashMix(0, v) & 4095);
    high.insert(hashMix(v * 0x9E3779B97F4A7C15ULL, 0) & 4095);
  }
  EXPECT_GT(low.size(), 2048u);
  EXPECT_GT(high.size(), 2048u);
}

class KeyTableTest : public ::testing::Test {
 protected:
  KeyBudget budget;
  void SetUp() override { budget.limit = size_t(1) << 30; }
};

TEST_F(KeyTableTest, FindsWhatWasInsertedAndNothingElse) {
  KeyTable table(&budget);
  EXPECT_EQ(table.find("a", 1, hashBytes("a", 1)), -1);
  table.prefetchSlot(1);  // an empty table has nothing to fetch
  table.prefetchKey(1);
  std::vector<std::string> keys = sampleKeys();
  for (size_t i = 0; i < keys.size(); i++)
    ASSERT_TRUE(table.insert(keys[i].data(), keys[i].size(), hashOf(keys[i]), uint32_t(i * 7)))
        << i;
  EXPECT_EQ(table.size(), keys.size());
  for (size_t i = 0; i < keys.size(); i++)
    EXPECT_EQ(table.find(keys[i].data(), keys[i].size(), hashOf(keys[i])), int64_t(i * 7)) << i;
  for (const std::string& k : {std::string("abcdefghij"), std::string("abcdefghijklmn"),
                               std::string(3, '\0'), std::string(99, 'x'), std::string("b")})
    EXPECT_EQ(table.find(k.data(), k.size(), hashOf(k)), -1) << k;
  // The same bytes under another hash are another key.
  EXPECT_EQ(table.find("a", 1, hashOf("a") ^ 1), -1);
}

TEST_F(KeyTableTest, GrowsKeepingEveryKeyAndClearsToEmpty) {
  KeyTable table(&budget);
  const uint32_t count = 20000;
  auto keyOf = [](uint32_t i) { return "key-" + std::to_string(i * 2654435761u); };
  for (uint32_t i = 0; i < count; i++) {
    std::string k = keyOf(i);
    ASSERT_TRUE(table.insert(k.data(), k.size(), hashOf(k), i)) << i;
  }
  for (uint32_t i = 0; i < count; i++) {
    std::string k = keyOf(i);
    table.prefetchSlot(hashOf(k));
    table.prefetchKey(hashOf(k));
    ASSERT_EQ(table.find(k.data(), k.size(), hashOf(k)), int64_t(i)) << i;
  }
  EXPECT_GT(budget.used, 0u);
  table.clear();
  EXPECT_EQ(budget.used, 0u);
  EXPECT_EQ(table.size(), 0u);
  std::string k = keyOf(5);
  EXPECT_EQ(table.find(k.data(), k.size(), hashOf(k)), -1);
  ASSERT_TRUE(table.insert(k.data(), k.size(), hashOf(k), 9));  // usable again
  EXPECT_EQ(table.find(k.data(), k.size(), hashOf(k)), 9);
}

TEST_F(KeyTableTest, RefusesPastItsCaps) {
  KeyTable fewKeys(&budget, 3);
  for (uint32_t i = 0; i < 3; i++) {
    std::string k(1, char('a' + i));
    ASSERT_TRUE(fewKeys.insert(k.data(), 1, hashOf(k), i));
  }
  EXPECT_FALSE(fewKeys.insert("z", 1, hashOf("z"), 3));
  EXPECT_EQ(fewKeys.find("z", 1, hashOf("z")), -1);
  EXPECT_EQ(fewKeys.size(), 3u);

  // 30-byte keys under a cap of 100 bytes: a few fit, then none, and the ones taken stay.
  KeyTable fewBytes(&budget, keyTableMaxKeys, 100);
  std::vector<std::string> taken;
  for (int i = 0; i < 10; i++) {
    std::string k(30, char('a' + i));
    if (!fewBytes.insert(k.data(), k.size(), hashOf(k), uint32_t(i))) break;
    taken.push_back(k);
  }
  EXPECT_GE(taken.size(), 3u);
  EXPECT_LT(taken.size(), 10u);
  for (size_t i = 0; i < taken.size(); i++)
    EXPECT_EQ(fewBytes.find(taken[i].data(), 30, hashOf(taken[i])), int64_t(i));
}

// Two tables on one budget: what one holds the other cannot take until it is cleared, a
// refused insert takes nothing, and growth past the budget is refused with the keys kept.
TEST_F(KeyTableTest, SharesItsBudget) {
  budget.limit = 0;
  KeyTable first(&budget), second(&budget);
  EXPECT_FALSE(first.insert("a", 1, hashOf("a"), 1));
  EXPECT_EQ(budget.used, 0u);
  EXPECT_EQ(first.find("a", 1, hashOf("a")), -1);

  budget.limit = size_t(1) << 20;
  ASSERT_TRUE(first.insert("a", 1, hashOf("a"), 1));
  const size_t slotsBytes = budget.used;  // the first slots of a table, no arena yet
  ASSERT_GT(slotsBytes, 0u);
  budget.limit = slotsBytes + slotsBytes / 2;
  EXPECT_FALSE(second.insert("b", 1, hashOf("b"), 2));
  EXPECT_EQ(budget.used, slotsBytes);
  std::string longKey(40, 'l');  // needs an arena beside the slots
  EXPECT_FALSE(first.insert(longKey.data(), 40, hashOf(longKey), 3));
  EXPECT_EQ(budget.used, slotsBytes);
  first.clear();
  EXPECT_EQ(budget.used, 0u);
  EXPECT_TRUE(second.insert("b", 1, hashOf("b"), 2));

  // Short keys fill the first slots to half; one more needs the slots doubled.
  budget.limit = 2 * slotsBytes - 1;
  KeyTable full(&budget);
  second.clear();
  size_t stored = 0;
  for (uint32_t i = 0;; i++) {
    std::string k = std::to_string(i);
    if (!full.insert(k.data(), k.size(), hashOf(k), i)) break;
    stored++;
  }
  EXPECT_EQ(budget.used, slotsBytes);
  EXPECT_GE(stored, 16u);
  for (uint32_t i = 0; i < stored; i++) {
    std::string k = std::to_string(i);
    EXPECT_EQ(full.find(k.data(), k.size(), hashOf(k)), int64_t(i)) << i;
  }
}

// A hash that puts every key in few probe chains, the last slot's among them so that
// probing wraps to the first slot: keys are still told apart by their bytes alone.
class KeyTableCollisions : public KeyTableTest {
 protected:
  static uint64_t badHash(const std::string& k) { return 63 + 64 * (k.size() % 2); }
};

TEST_F(KeyTableCollisions, TellsKeysApartByTheirBytes) {
  KeyTable table(&budget);
  std::vector<std::string> keys = sampleKeys();
  for (size_t i = 0; i < keys.size(); i++)
    ASSERT_TRUE(table.insert(keys[i].data(), keys[i].size(), badHash(keys[i]), uint32_t(i)));
  // Enough more to grow the table a few times with every chain crowded.
  for (uint32_t i = 0; i < 300; i++) {
    std::string k = "more" + std::to_string(i);
    keys.push_back(k);
    ASSERT_TRUE(table.insert(k.data(), k.size(), badHash(k), uint32_t(keys.size() - 1)));
  }
  for (size_t i = 0; i < keys.size(); i++)
    EXPECT_EQ(table.find(keys[i].data(), keys[i].size(), badHash(keys[i])), int64_t(i)) << i;
  for (const std::string& k : {std::string("abcdefghijklmq"), std::string(40, 'q') + "q",
                               std::string("ab\0cf", 5), std::string("more300")})
    EXPECT_EQ(table.find(k.data(), k.size(), badHash(k)), -1) << k;
}

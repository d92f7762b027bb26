// Keys of every length around the part of a key a slot keeps beside its hash: lookups,
// replacement and growth must treat a long key exactly like a short one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "varkel/hashtab.h"

namespace {

TEST(HashtabKeys, LongAndShortKeysDifferingInTheirLastByteStayApart) {
  Hashtab* t = hashtabNew(5, 2, 0.6);
  std::vector<std::string> keys;
  for (size_t length : {1, 20, 21, 22, 23, 60, 255})
    for (char last : {'a', 'b'}) keys.push_back(std::string(length - 1, 'k') + last);
  for (size_t i = 0; i < keys.size(); i++) hashtabPut(t, keys[i].c_str(), int(i));
  ASSERT_GT(t->size, 5);  // the table grew on the way
  for (size_t i = 0; i < keys.size(); i++) EXPECT_EQ(hashtabGet(t, keys[i].c_str()), int(i));
  // A key one byte shorter or longer than a stored one is absent.
  EXPECT_EQ(hashtabGet(t, std::string(21, 'k').c_str()), -1);
  EXPECT_EQ(hashtabGet(t, (std::string(22, 'k') + "ab").c_str()), -1);

  for (size_t i = 0; i < keys.size(); i++) hashtabReplace(t, keys[i].c_str(), 100 + int(i));
  for (int i = 0; i < t->size; i++) {
    if (!t->slots[i]) continue;
    EXPECT_EQ(hashtabGet(t, t->slots[i]->key), t->slots[i]->value) << t->slots[i]->key;
    EXPECT_GE(t->slots[i]->value, 100);
  }
  hashtabFree(t);
  for (const std::string& k : keys) EXPECT_EQ(hashtabGet(t, k.c_str()), -1);
  hashtabPut(t, keys.back().c_str(), 7);
  EXPECT_EQ(hashtabGet(t, keys.back().c_str()), 7);
  hashtabDelete(t);
}

}  // namespace

// Codecs and string helpers of the shared module.
#include <gtest/gtest.h>

#include "common/util.h"

TEST(LengthPrefixedString, ReadsAndWrites) {
  int pos = 0;
  EXPECT_EQ(getString(2, "05hello", &pos), "hello");
  EXPECT_EQ(pos, 7);
  EXPECT_EQ(makeString(1, "abc"), "3abc");
}

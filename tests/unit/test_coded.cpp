// Coded values, coded coordinates and the order of the cube's lists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "varkel/coded.h"
#include "varkel/cube.h"

#include "tests/unit/cubecells.h"

namespace {

// Runs a printer into a memory file and returns what it wrote.
template <typename F>
std::string capture(F print) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  print(f);
  fclose(f);
  std::string s(buf, len);
  free(buf);
  return s;
}

void setDecimals(int points) {
  decimalPoints = points;
  decimalMultiplier = 1;
  for (int i = 0; i < points; i++) decimalMultiplier *= 10;
}

mbitset<128> key(uint32_t w3, uint32_t w2, uint32_t w1, uint32_t w0) {
  mbitset<128> k;
  k.w[0] = w0, k.w[1] = w1, k.w[2] = w2, k.w[3] = w3;
  return k;
}

class Coded : public ::testing::Test {
 protected:
  void SetUp() override {
    initCodedNumbers();
    setDecimals(0);
    nOrder = 0;
    dataNodes.clear();
  }
};

TEST_F(Coded, StartUpConstants) {
  EXPECT_EQ(numberOfOutputChars, 64);
  EXPECT_EQ(reasonableSplit, 16777216);
  EXPECT_EQ(minWidth, 4);
  EXPECT_EQ(std::string(binaryNumChars, 64), std::string(57, '0') + "1000000");
}

TEST_F(Coded, Values) {
  struct Case {
    int points;
    double v;
    const char* want;
  } cases[] = {
      {0, HUGE_VAL, "#"},       {0, 0.0, "+0"},          {0, -0.0, "+0"},
      {0, 5, "+5"},             {0, -5, "-5"},           {0, 64, "+10"},
      {0, 2.5, "*3"},           {0, -2.5, "=3"},         {0, 0.4, "*0"},
      {2, 0.125, "*D"},         {2, -0.125, "=D"},       {2, 3.75, "*5t"},
      {1, 12345678.9, "*7MyqL"}, {1, -12345678.9, "=7MyqL"},
      {0, 10000000.0, "+c9Q0"}, {3, 10000000.0, "+c9Q0"},
      // Beyond 64 bits the digits are still exact: 2^70 is 16 x 64^11, a G and eleven zero
      // digits.
      {0, std::ldexp(1.0, 70), "+G00000000000"},
      // No 64-bit conversion is defined for these; each still gets a form of its own.
      {0, std::nan(""), "#"},
      {0, -HUGE_VAL, "#"},
      {0, -std::ldexp(1.0, 63), "-80000000000"},
      // Ten decimal places scale past 32 bits: 0.5 is S = 5000000000, 1.25 is 12500000000.
      {10, 0.5, "*4g1V80"},
      {10, -1.25, "=Bf3jq0"},
  };
  for (auto& c : cases) {
    setDecimals(c.points);
    EXPECT_EQ(capture([&](FILE* f) { printCodedDataValue(f, c.v); }), c.want)
        << c.v << " with " << c.points << " decimal places";
  }
}

TEST_F(Coded, Coordinates) {
  struct Case {
    mbitset<128> k;
    std::string want;
  } cases[] = {
      {mbitset<128>(0), ""},
      {mbitset<128>(1), "1"},
      {mbitset<128>(63), "."},
      {mbitset<128>(64), "10"},
      {mbitset<128>(4096), "100"},
      {mbitset<128>(1) << 126, "1" + std::string(21, '0')},
      {mbitset<128>(1) << 127, "2" + std::string(21, '0')},
      {key(~0u, ~0u, ~0u, ~0u), "3" + std::string(21, '.')},
  };
  for (auto& c : cases)
    EXPECT_EQ(capture([&](FILE* f) { printCodedCoord(f, c.k); }), c.want);
}

TEST_F(Coded, ListsInBothOrders) {
  recordSize = 2;
  putCell(mbitset<128>(65), {3, HUGE_VAL});
  putCell(mbitset<128>(0), {1, 2});
  EXPECT_EQ(capture([](FILE* f) { printCodedCoords(f, 0); }), "++11");
  EXPECT_EQ(capture([](FILE* f) { printCodedData(f); }), "+1+3+2#");
  nOrder = 1;
  EXPECT_EQ(capture([](FILE* f) { printCodedData(f); }), "+1+2+3#");
}

TEST_F(Coded, CodedLongPadsAndSkipsZero) {
  EXPECT_EQ(capture([](FILE* f) { printCodedLong(f, 0, 0); }), "");
  EXPECT_EQ(capture([](FILE* f) { printCodedLong(f, 0, 1); }), "0");
  EXPECT_EQ(capture([](FILE* f) { printCodedLong(f, 65, 4); }), "0011");
  EXPECT_EQ(capture([](FILE* f) { printDoubleLong(f, 0, 65); }), "11");
  EXPECT_EQ(capture([](FILE* f) { printDoubleLong(f, 0, 0); }), "0");
}

TEST(NextPowerOfTwo, BitsPerLeafCount) {
  struct Case {
    int n, bits;
  } cases[] = {{0, 1}, {1, 1}, {2, 1}, {3, 2},  {4, 2},    {5, 3},    {8, 3},
               {9, 4}, {16, 4}, {17, 5}, {1000, 10}, {1024, 10}, {1025, 11}};
  for (auto& c : cases) EXPECT_EQ(nextPowerOfTwo(c.n), c.bits) << c.n;
}

TEST(Mbitset, ShiftOrAndOrder) {
  mbitset<128> a = (mbitset<128>(5) << 2) | mbitset<128>(1);
  EXPECT_EQ(a, mbitset<128>(21));
  mbitset<128> high = mbitset<128>(1) << 100;
  EXPECT_TRUE(high.test(100));
  EXPECT_FALSE(high.test(99));
  EXPECT_TRUE(mbitset<128>(~0u) < high);
  EXPECT_FALSE(high < mbitset<128>(~0u));
  EXPECT_EQ((high << 28), mbitset<128>(0));
  EXPECT_EQ((mbitset<128>(3) << 31).w[1], 1u);
}

// The 128-bit value the hot loops use holds the same coordinate and orders it the same way.
TEST(Mbitset, ValueKeepsWordsAndOrder) {
  const mbitset<128> keys[] = {
      key(0, 0, 0, 0),          key(0, 0, 0, 1),          key(0, 0, 0, 0xFFFFFFFFu),
      key(0, 0, 1, 0),          key(0, 0, 1, 0xFFFFFFFFu), key(0, 1, 0, 0),
      key(0, 0x80000000u, 0, 7), key(1, 0, 0, 0),          key(0x80000000u, 0, 0, 0),
      key(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu),
  };
  for (const mbitset<128>& a : keys) {
    EXPECT_EQ(mbitset<128>::fromValue(a.value()), a);
    for (const mbitset<128>& b : keys) EXPECT_EQ(a.value() < b.value(), a < b);
  }
  mbitset<128> shifted = mbitset<128>(3) << 95;
  EXPECT_EQ(shifted.value(), mbitsetValue(3) << 95);
}

}  // namespace

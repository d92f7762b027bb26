// Cells gathered outside the cube during the cube pass: the cube they end in must be the
// one that storing every record straight into it gives, bit for bit, old cells included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "varkel/cellstage.h"
#include "varkel/cube.h"
#include "varkel/input.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/shape.h"

#include "tests/unit/cubecells.h"

namespace {

// One stored combination: the leaf on each of the two axes and the two measure fields.
struct Store {
  int leaf0, leaf1;
  const char* m0;
  const char* m1;
};

class CellStaging : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(inputFields, 0, sizeof inputFields);
    dataNodes.clear();
    elementsStored = nonNumeric = emptyFields = 0;
    memset(warning, 0, sizeof warning);
    decimalChar = '.';
    commaChar = ',';
    numberOfAxes = 2;
    axisBits[0] = 17;
    axisBits[1] = 17;
    recordSize = 2;
    recordFieldNums = {0, 1};
  }
  void TearDown() override { dataNodes.clear(); }

  void store(const Store& s) {
    leafIndex[0] = s.leaf0;
    leafIndex[1] = s.leaf1;
    strcpy(inputFields[0], s.m0);
    strcpy(inputFields[1], s.m1);
    storeElement();
  }

  // The cube from old cells and the stores, straight into the cube or staged.
  DataNodes build(const CellMap& old, const std::vector<Store>& stores, bool staged) {
    dataNodes = cubeOf(old);
    if (staged) beginCellStaging();
    for (const Store& s : stores) store(s);
    if (staged) endCellStaging();
    return dataNodes;
  }

  static void expectSame(const DataNodes& want, const DataNodes& got) {
    ASSERT_EQ(want.size(), got.size());
    ASSERT_EQ(want.width(), got.width());
    for (size_t i = 0; i < want.size(); i++) {
      ASSERT_EQ(want.key(i), got.key(i));
      for (int m = 0; m < want.width(); m++)
        EXPECT_EQ(memcmp(&want.values(i)[m], &got.values(i)[m], sizeof(double)), 0)
            << "measure " << m << ": " << want.values(i)[m] << " against " << got.values(i)[m];
    }
  }
};

mbitset<128> key(int leaf0, int leaf1) {
  return (mbitset<128>(uint32_t(leaf0)) << 17) | mbitset<128>(uint32_t(leaf1));
}

TEST_F(CellStaging, GivesTheMapOfDirectStoresWithMissingValuesAndOldCells) {
  struct Case {
    const char* name;
    CellMap old;
    std::vector<Store> stores;
  };
  const Case cases[] = {
      {"repeated and missing values", {},
       {{3, 1, "1.5", ""}, {0, 0, "NA", "2"}, {3, 1, "2.25", "7"}, {0, 0, "", "-1"},
        {1, 9, "", ""}, {3, 1, "(4)", "NA"}}},
      // Additions in another order would keep the small values: 1e16 + 1 + 1 is 1e16,
      // 1e16 + 2 is not.
      {"old cells are added to first", {{key(2, 2), {1e16, HUGE_VAL}}, {key(5, 0), {1, 2}}},
       {{2, 2, "1", "3"}, {2, 2, "1", "4"}, {5, 0, "", "1"}, {0, 7, "8", "9"}}},
      {"no store keeps the old cells", {{key(1, 1), {HUGE_VAL, 0.5}}}, {}},
      // Re-read cells with fewer values than measures grow to the measures, those with
      // more keep theirs.
      {"narrower old cells", {{key(0, 1), {4}}, {key(3, 3), {HUGE_VAL}}},
       {{0, 1, "1", "2"}, {6, 6, "", "5"}}},
      {"wider old cells", {{key(0, 1), {4, 5, 6}}, {key(3, 3), {1, HUGE_VAL, 2}}},
       {{0, 1, "1", "2"}, {3, 3, "NA", "5"}, {7, 0, "3", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    elementsStored = 0;
    DataNodes direct = build(c.old, c.stores, false);
    int directStores = elementsStored;
    elementsStored = 0;
    DataNodes staged = build(c.old, c.stores, true);
    expectSame(direct, staged);
    EXPECT_EQ(elementsStored, directStores);
  }
}

TEST_F(CellStaging, GrowsPastItsFirstTableAndWritesInCoordinateOrder) {
  // More cells than the first table holds, met in an order far from the coordinates'.
  std::vector<Store> stores;
  static char values[3][8] = {"1", "0.1", "NA"};
  for (int i = 0; i < 100000; i++) {
    int k = int((i * 7919L) % 100000);
    stores.push_back({k % 317, k / 317, values[i % 3], values[(i + 1) % 3]});
  }
  for (int i = 0; i < 100000; i += 3) stores.push_back(stores[size_t(i)]);
  DataNodes direct = build({}, stores, false);
  DataNodes staged = build({}, stores, true);
  expectSame(direct, staged);
}

TEST_F(CellStaging, OrdersCellsWhateverTheWidthOfTheirCoordinates) {
  // Coordinates of no bits to many: the cells are sorted in as many rounds as their width
  // needs, an odd or an even number, each round between two places.
  static char values[2][8] = {"2", "0.5"};
  for (int bits : {0, 1, 5, 6, 11, 12, 17, 30}) {
    SCOPED_TRACE(bits);
    axisBits[0] = bits;
    axisBits[1] = bits;
    int leaves = bits == 0 ? 1 : std::min(1 << bits, 300);
    std::vector<Store> stores;
    for (int i = 0; i < 5000; i++) {
      int k = int((i * 7919L) % 5000);
      stores.push_back({(k * 31) % leaves, k % leaves, values[i % 2], values[(i + 1) % 2]});
    }
    DataNodes direct = build({}, stores, false);
    DataNodes staged = build({}, stores, true);
    expectSame(direct, staged);
  }
  DataNodes none = build({}, {}, true);
  EXPECT_TRUE(none.empty());
}

TEST_F(CellStaging, OrdersCoordinatesThatUseTheHighWords) {
  // Leaves 64 bits apart: the coordinates reach past the low words, some only by one bit.
  axisBits[0] = 64;
  axisBits[1] = 64;
  std::vector<Store> stores;
  static char one[] = "1";
  const uint32_t leaves[] = {0, 1, 2, 2047, 2048, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
  for (int i = 0; i < 64; i++) {
    int k = (i * 37) % 64;
    stores.push_back({int(leaves[k % 8]), int(leaves[k / 8]), one, one});
  }
  DataNodes direct = build({}, stores, false);
  DataNodes staged = build({}, stores, true);
  ASSERT_EQ(staged.size(), 64u);
  expectSame(direct, staged);
}

TEST_F(CellStaging, OldCellsOfAnotherWidthKeepTheirValues) {
  // A re-read cell with fewer values than measures gains missing ones, and a cell with
  // more keeps them, whether or not a record adds into it.
  struct Case {
    CellMap old;
    CellMap want;
  };
  const Case cases[] = {
      {{{key(0, 1), {4}}}, {{key(0, 1), {4, HUGE_VAL}}}},
      {{{key(0, 1), {4, 5, 6}}}, {{key(0, 1), {4, 5, 6}}}},
  };
  for (const Case& c : cases) {
    dataNodes = cubeOf(c.old);
    beginCellStaging();
    EXPECT_TRUE(dataNodes.empty());  // the cells are staged
    endCellStaging();
    EXPECT_EQ(cellMap(), c.want);
  }
}

}  // namespace

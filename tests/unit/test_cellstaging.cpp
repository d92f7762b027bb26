// Cells gathered outside the cube map during the cube pass: the map they end in must be the
// one that storing every record straight into it gives, bit for bit, old cells included.
#include <gtest/gtest.h>

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

  // The cube from old cells and the stores, straight into the map or staged.
  DataNodes build(const DataNodes& old, const std::vector<Store>& stores, bool staged) {
    dataNodes = old;
    if (staged) beginCellStaging();
    for (const Store& s : stores) store(s);
    if (staged) endCellStaging();
    return dataNodes;
  }

  static void expectSame(const DataNodes& want, const DataNodes& got) {
    ASSERT_EQ(want.size(), got.size());
    auto w = want.begin();
    for (auto g = got.begin(); g != got.end(); ++g, ++w) {
      ASSERT_EQ(w->first, g->first);
      ASSERT_EQ(w->second.size(), g->second.size());
      for (size_t m = 0; m < w->second.size(); m++)
        EXPECT_EQ(memcmp(&w->second[m], &g->second[m], sizeof(double)), 0)
            << "measure " << m << ": " << w->second[m] << " against " << g->second[m];
    }
  }
};

mbitset<128> key(int leaf0, int leaf1) {
  return (mbitset<128>(uint32_t(leaf0)) << 17) | mbitset<128>(uint32_t(leaf1));
}

TEST_F(CellStaging, GivesTheMapOfDirectStoresWithMissingValuesAndOldCells) {
  struct Case {
    const char* name;
    DataNodes old;
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

TEST_F(CellStaging, OldCellsOfAnotherWidthKeepTheDirectPath) {
  // A re-read cell with fewer values than measures: staging stands aside.
  DataNodes old = {{key(0, 1), {4}}};
  dataNodes = old;
  beginCellStaging();
  EXPECT_EQ(dataNodes.size(), 1u);  // still in the map: nothing was staged
  endCellStaging();
  EXPECT_EQ(dataNodes.size(), 1u);
  EXPECT_EQ(dataNodes.begin()->second, std::vector<double>{4});
}

}  // namespace

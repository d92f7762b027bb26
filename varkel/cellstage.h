// Cell staging: while the cube pass runs, cells are gathered in an open-addressing hash table
// instead of the cube's ordered arrays, where a new cell would move all above it; the cube
// is filled once, in coordinate order, at the end of the pass.
#ifndef VARKEL_CELLSTAGE_H
#define VARKEL_CELLSTAGE_H

#include <cmath>

#include "varkel/cube.h"
#include "varkel/mbitset.h"

// Between these two calls (the cube pass) storeElement gathers cells outside dataNodes,
// which is empty meanwhile; endCellStaging puts every cell, the old ones included, back
// into dataNodes with the same values as if each had been stored there directly. The cells
// are as wide as recordSize, or as the old cells where those are wider.
void beginCellStaging();
void endCellStaging();

// True between the two calls when staging took place.
bool cellStaging();
// Starts fetching the memory of key's cell.
void prefetchStagedCell(const mbitset<128>& key);
// The values of key's staged cell, made with every value missing when it is new; valid
// until the next call.
double* stagedCell(const mbitset<128>& key);
// Adds a record's recordSize values into key's staged cell. The addition may wait for a few
// later records, so that their cells are fetched meanwhile; every cell still takes its
// additions in the order of the records, and endCellStaging makes them all.
void stageRecord(const mbitset<128>& key, const double* values);

// Adds a record's recordSize values into a cell: a missing value gives way to a present
// one, and a missing value added changes nothing.
inline void addRecordValues(double* cell, const double* record) {
  for (int m = 0; m < recordSize; m++) {
    double r = record[m];
    if (cell[m] == HUGE_VAL)
      cell[m] = r;
    else if (r != HUGE_VAL)
      cell[m] += r;
  }
}

#endif

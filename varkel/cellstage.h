// Cell staging: while the cube pass runs, cells are gathered in an open-addressing hash table
// instead of the ordered cube map, whose descent costs far more per record; the map is filled
// once, in coordinate order, at the end of the pass.
#ifndef VARKEL_CELLSTAGE_H
#define VARKEL_CELLSTAGE_H

#include "varkel/mbitset.h"

// Between these two calls (the cube pass) storeElement gathers cells outside dataNodes,
// which then holds only the cells it had before; endCellStaging puts every cell back into
// dataNodes with the same values as if each had been stored there directly. Old cells of
// another width than recordSize (an incremental build) keep the map's own path: no staging.
void beginCellStaging();
void endCellStaging();

// True between the two calls when staging took place.
bool cellStaging();
// Starts fetching the memory of key's cell.
void prefetchStagedCell(const mbitset<128>& key);
// The recordSize values of key's staged cell, made with every value missing when it is new;
// valid until the next call.
double* stagedCell(const mbitset<128>& key);

#endif

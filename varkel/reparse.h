// The cube re-reader of incremental builds: reads the previous cube (its cube file, else its
// viewer page) back into the current profile's trees, category indexes and date tables,
// keeps its cells, and later puts their values into the cube under the new layout.
#ifndef VARKEL_REPARSE_H
#define VARKEL_REPARSE_H

#include "varkel/cellrestore.h"
#include "varkel/cubefile.h"
#include "varkel/treerestore.h"

// Reads the whole previous cube of profileName (its ".cb4" name, else its ".html" name)
// into the trees and the old-cell tables. Returns 0. Malformed cubes, and cubes without
// every part the writer always writes (cut short), are fatal 110; only a page that names a
// cube file may hold no cube, and the build then starts afresh.
int reparse(const char* profileName);

// reparse without the check that every part is there: reads what the cube holds and
// returns the number of cube settings (trees, coordinates, values) read.
int readPreviousCube(const char* profileName);

// Stores the values of every old cell in dataNodes under its coordinate in the current
// layout (axisBits, numberOfAxes, the leaf numbering), replacing what is stored there.
void restoreData();

// Empties the module state, as at process start.
void resetReparse();

#endif


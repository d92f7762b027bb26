// The cube: the ordered map from cell coordinate to the measure sums of the cell, and the
// classification of a record into the cells it falls into.
#ifndef VARKEL_CUBE_H
#define VARKEL_CUBE_H

#include <map>
#include <vector>

#include "varkel/mbitset.h"

typedef std::map<mbitset<128>, std::vector<double>> DataNodes;

// The cube, in coordinate order; HUGE_VAL marks a missing value.
extern DataNodes dataNodes;
// Measures per record (at least 1 once the pipeline has counted them).
extern int recordSize;

#endif

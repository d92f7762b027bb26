// The cube: the ordered map from cell coordinate to the measure sums of the cell, and the
// classification of a record into the cells it falls into.
#ifndef VARKEL_CUBE_H
#define VARKEL_CUBE_H

#include <map>
#include <vector>

#include "varkel/mbitset.h"

typedef std::map<mbitset<128>, std::vector<double>> DataNodes;

// The cube, in coordinate order; HUGE_VAL marks a missing value. Lives until the process
// exits, which frees it faster than a million destructors would.
extern DataNodes& dataNodes;
// Measures per record (at least 1 once the pipeline has counted them).
extern int recordSize;

// Per-record matching state: where each axis's matched leaves start in leafNums and how
// many there are; the axis being matched; the leaf chosen per axis for one combination;
// the parsed measures of the record.
extern int firstLeaf[32];
extern int numLeaves[32];
extern std::vector<int> leafNums;  // by position in the matched-leaf list
extern int globalAxisNum;
extern int leafIndex[32];
extern std::vector<double> theRecord;

// Counters of the cube pass: records stored, cell updates, measure fields found
// non-numeric or empty.
extern int matchedRecords;
extern int elementsStored;
extern int nonNumeric;
extern int emptyFields;
// Per data column: its non-numeric value has been reported.
extern int warning[513];
// Per axis: a multiple match has been reported.
extern std::map<int, bool> warningDups;

// Classifies the current record on every axis and adds its measures into every cell of
// the combinations of matched leaves.
void matchRecord();
// One step of the depth-first matching walk on nodeStack.
void doAxisMatches(int label);
// The matching step at a grown level: one lookup of the record's value.
void hashMatch(int label);
// Enumerates the combinations of matched leaves from axis on.
void storeScan(int axis);
// Adds the current record into the cell of the current combination.
void storeElement();
// The value of measure m of the current record; HUGE_VAL when empty or non-numeric.
double extractAField(int measure);

#endif

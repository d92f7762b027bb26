// The cube: the cells in coordinate order with the measure sums of each, and the
// classification of a record into the cells it falls into.
#ifndef VARKEL_CUBE_H
#define VARKEL_CUBE_H

#include <cassert>
#include <cstddef>
#include <map>
#include <vector>

#include "varkel/input.h"
#include "varkel/mbitset.h"
#include "varkel/newProfile.h"

// The cells of a cube in ascending coordinate order, flat: the coordinates in one array and
// the values in another, width() values per cell, cell i's at values(i). Every cell has the
// same width; a cell made or widened gets HUGE_VAL, the missing value, in its new places.
class DataNodes {
 public:
  size_t size() const { return keys_.size(); }
  bool empty() const { return keys_.empty(); }
  int width() const { return width_; }
  const mbitset<128>& key(size_t i) const {
    assert(i < keys_.size());
    return keys_[i];
  }
  const double* values(size_t i) const {
    assert(i < keys_.size());
    return values_.data() + i * size_t(width_);
  }
  double* values(size_t i) {
    assert(i < keys_.size());
    return values_.data() + i * size_t(width_);
  }
  // Removes every cell and gives back their memory; the width becomes 0.
  void clear();
  // Makes room for n cells without moving them again.
  void reserve(size_t n);
  // Gives every cell at least n values, the new ones missing.
  void widen(int n);
  // The values of key's cell, or null when the cube has no such cell.
  double* find(const mbitset<128>& key);
  // The values of key's cell, made with every value missing when new. A new cell below
  // others moves them up: fill a large cube through append instead.
  double* insert(const mbitset<128>& key);
  // Adds a cell with width() values copied from values; key must lie above every cell's.
  void append(const mbitset<128>& key, const double* values);
  // Takes keys (ascending, distinct) and their values, width per cell, as the cells of an
  // empty store.
  void adopt(std::vector<mbitset<128>>&& keys, std::vector<double>&& values, int width);

 private:
  std::vector<mbitset<128>> keys_;  // ascending, distinct
  std::vector<double> values_;      // width_ per cell, in the order of keys_
  int width_ = 0;
};

// The cube; HUGE_VAL marks a missing value. Lives until the process exits.
extern DataNodes& dataNodes;
// Measures per record (at least 1 once the pipeline has counted them).
extern int recordSize;

// Per-record matching state: where each axis's matched leaves start in leafNums and how
// many there are; the axis being matched; the leaf chosen per axis for one combination;
// the parsed measures of the record.
extern int firstLeaf[maxAxes];
extern int numLeaves[maxAxes];
extern std::vector<int> leafNums;  // by position in the matched-leaf list
extern int globalAxisNum;
extern int leafIndex[maxAxes];
extern std::vector<double> theRecord;

// Counters of the cube pass: records stored, cell updates, measure fields found
// non-numeric or empty.
extern int matchedRecords;
extern int elementsStored;
extern int nonNumeric;
extern int emptyFields;
// Per data column: its non-numeric value has been reported.
extern int warning[maxInputFields];
// Per axis: a multiple match has been reported.
extern std::map<int, bool> warningDups;

// Classifies the current record on every axis and adds its measures into every cell of
// the combinations of matched leaves.
void matchRecord();
// One step of the depth-first matching walk of matchRecord.
void doAxisMatches(int label);
// The matching step at a grown level: one lookup of the record's value.
void hashMatch(int label);
// Enumerates the combinations of matched leaves from axis on.
void storeScan(int axis);
// Adds the current record into the cell of the current combination.
void storeElement();

#endif

// The cell restore of incremental builds: the previous cube's cells, their coordinates cut
// into old leaves and their values kept until the new layout places them.
#ifndef VARKEL_CELLRESTORE_H
#define VARKEL_CELLRESTORE_H

#include <string>
#include <vector>

#include "varkel/cubefile.h"
#include "varkel/mbitset.h"

// One cell of the previous cube.
struct OldCoord {
  // Per profile axis: the label of the cell's leaf in the rebuilt trees; -1 when the cube
  // has no such axis or no such leaf.
  std::vector<int> leafLabels;
  mbitset<128> coordinate;  // in the previous cube's layout
};

extern int oldCellCount;            // cells announced by the coordinate setting
extern std::vector<OldCoord> oldCoords;  // the old cells, in list order
extern std::vector<double> dataValue;    // value m of old cell c at c * recordSize + m
// Per profile axis: the coordinate bits the axis had in the previous cube; 0 when the cube
// has no setting for it, -1 while its tree is read and its width not yet fixed.
extern std::vector<int> oldBits;
extern bool coordsRead;  // a coordinate setting was read
extern bool valuesRead;  // a value setting was read
// The digits of the coded values, as the cube's codingchars setting gives them.
extern std::string valueDigits;

// Handlers of the coordinate and value settings.
void restoreCoords(ParamLine& line);
void restoreCodedData(ParamLine& line);

// Handler of the codingchars setting: its 64 characters become the value digits; another
// length, or a sign among them, is fatal 110.
void restoreCodingChars(ParamLine& line);

// One coded coordinate of text at position; position ends on the '+' or the end after it.
mbitset<128> readCodedCoord(const std::string& text, unsigned& position);

// One coded value of text at position into dataValue[index]; position ends on the next
// value.
void readCodedValue(const std::string& text, unsigned& position, int index);

// Cuts coordinate into one leaf number per profile axis of the previous cube's layout
// (-1 for an axis the cube does not have).
void splitCoords(mbitset<128>& coordinate, std::vector<int>& leaves);

// Reports that old cell is dropped: why, on which axis. A missing old leaf is reported,
// never merged into another cell.
void reportLostCell(int cell, const char* why, int axis);

// Empties the cell restore's state, as at process start.
void resetCellRestore();

#endif

// Tree shaping between the two passes: sorting of sibling runs, the depth cut, and the
// counts that size the coordinate of each axis and the measures of each cell.
#ifndef VARKEL_SHAPE_H
#define VARKEL_SHAPE_H

#include <vector>

// Per measure, in tree order: the data column the measure reads (below -1: a count).
extern std::vector<int> recordFieldNums;
// Next free entry of recordFieldNums while getFieldIndices fills it.
extern int recordFieldCtr;

// Childless labels below label (itself not counted); 1 for -1 or a childless label.
int getRange(int label);
// Measures (childless labels with a field) below label; 1 for -1 or a childless label.
int getRecordRange(int label);
// Writes the field of every measure of label's chain and subtrees to recordFieldNums.
void getFieldIndices(int label);
// Sorts the sibling runs that carry a sort code in the chain at label and below it;
// parent is the label whose child is label, previous the one whose sibling it is.
void doSorting(int label, int parent, int previous);
// Cuts the chain at label and its subtrees below depth more levels, with a warning for
// every label that loses its children.
void trimDepth(int label, int depth);

// Comparators of two label indexes for the sorts (-1: an empty sort key).
bool alphaCompare(int a, int b);
bool ralphaCompare(int a, int b);
bool numericCompare(int a, int b);
bool rnumericCompare(int a, int b);
// The numeric value of a label's sort key; non-numeric keys sort first.
double getLabelVal(int label);

#endif

// The node variables of tarnwick: the node that the grammar is assembling, read by the
// writer when the node is emitted and reset after it. Defaults are in brackets.
#ifndef PROFILE_NODE_H
#define PROFILE_NODE_H

#include <string>

using std::string;

// Record type of a node that is neither match, compute nor extract.
enum { plainItemType = 255 };

extern int currentType;       // '1'-'7', '9', or plainItemType [plainItemType]
extern string currentLabel;   // item label, or the axis label of an axis record [empty]
extern string currentField;   // field name [empty]
extern string currentFunction;  // compute or function text [empty]
extern string currentTarget;  // encoded match expression [empty]
extern int currentFlag;       // 1, plus 2 for fixed, plus 4 for parts counted from the end [1]
extern int currentSort;       // sort code 0-4 [0]
extern int currentFormat1;    // number after 'D' of the number format [0]
extern int currentFormat2;    // number after 'N' [9]
extern int abType;            // 0 whole field, 1 part or columns, 2 multi-level expand [0]
extern int matchType;         // 0 whole field, 'G' columns, 'H' part, 'I' part from the end [0]
extern string firstPart, lastPart, subSeparator, startYear, endYear;  // [empty]
extern int endOfFiscalYear;   // month 1-12 [12]
extern string date_in, date_out;  // input and output date formats [empty]
extern int currentDepth;      // -1 roots, 0 first item level, +1 per '+' [0]
extern int measure_kludge;    // flags of the grammar's measure rules [0]
extern int foundValue;

// Puts every node variable back to its default.
void reset_node_variables();

#endif

// The node variables of tarnwick and their reset.
#include "profile/node.h"

int currentType = plainItemType;  // record type of the node being read
string currentLabel;              // its label
string currentField;              // its field name
string currentFunction;           // its compute or function text
string currentTarget;             // its encoded match expression
int currentFlag = 1;              // its item flags
int currentSort = 0;              // its sort code
int currentFormat1 = 0;           // its number format, 'D' part
int currentFormat2 = 9;           // its number format, 'N' part
int abType = 0;                   // its autobuild type
int matchType = 0;                // target kind of the condition being read
string firstPart, lastPart, subSeparator, startYear, endYear;  // autobuild and date arguments
int endOfFiscalYear = 12;         // fiscal year end month of a date
string date_in, date_out;         // date formats
int currentDepth = 0;             // depth of the node being read
int measure_kludge = 0;           // the item itself is the measures record
int foundValue = 0;               // an axis or measures head carried a compute text

void reset_node_variables() {
  currentType = plainItemType;
  currentLabel.clear();
  currentField.clear();
  currentFunction.clear();
  currentTarget.clear();
  currentFlag = 1;
  currentSort = 0;
  currentFormat1 = 0;
  currentFormat2 = 9;
  abType = 0;
  matchType = 0;
  firstPart.clear();
  lastPart.clear();
  subSeparator.clear();
  startYear.clear();
  endYear.clear();
  endOfFiscalYear = 12;
  date_in.clear();
  date_out.clear();
  currentDepth = 0;
  measure_kludge = 0;
  foundValue = 0;
}

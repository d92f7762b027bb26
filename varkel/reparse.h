// The cube re-reader of incremental builds: reads the previous cube (its cube file, else its
// viewer page) back into the current profile's trees, category indexes and date tables,
// keeps its cells, and later puts their values into the cube under the new layout.
#ifndef VARKEL_REPARSE_H
#define VARKEL_REPARSE_H

#include <cstdio>
#include <string>
#include <vector>

#include "varkel/hashtab.h"
#include "varkel/mbitset.h"

struct _MatchTree;
struct AxisLabel;

// One setting line of the previous cube.
struct ParamLine {
  std::string name;
  std::string value;
};

// One cell of the previous cube.
struct OldCoord {
  // Per profile axis: the label of the cell's leaf in the rebuilt trees; -1 when the cube
  // has no such axis or no such leaf.
  std::vector<int> leafLabels;
  mbitset<128> coordinate;  // in the previous cube's layout
};

extern std::string cubeName;        // file name of the previous cube
extern int readingCubeFile;         // 1: the cube file was opened; 0: the page
extern int cubeLineNumber;          // lines read so far
extern int restoredAxes;            // profile axes accounted for by the axis settings so far
extern int oldCellCount;            // cells announced by the coordinate setting
extern std::vector<OldCoord> oldCoords;  // the old cells, in list order
extern std::vector<double> dataValue;    // value m of old cell c at c * recordSize + m

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

// Opens the previous cube; neither name opening is fatal 2.
FILE* openCube(const char* profileName);

// The next setting line of cube, or null at the end of the file and for lines that carry
// no setting. The caller deletes it.
ParamLine* readParamLine(FILE* cube);

// The text between the first double quote at or after key in line and the next one (the
// rest of the line when no second one follows). A line without key is fatal 110.
std::string getQuotedValue(const std::string& line, const char* key);

// The pieces of text between separators; a separator at the very end adds no empty piece,
// an empty text gives none.
std::vector<std::string> splitString(const std::string& text, char separator);

// Handlers of the three settings that are read.
void restoreAxis(ParamLine& line);
void restoreCoords(ParamLine& line);
void restoreCodedData(ParamLine& line);

// Rebuilds the node of the entry at position and advances position past the entry and its
// items.
void parseAxisEntry(std::vector<std::string>& pieces, std::vector<std::string>::iterator& position,
                    std::vector<std::string>::iterator& end);

// Walks path (the axis root's name, then one position per level) from the root in parent.
// node is the label found, or -1 when it is to be made: then attach 1 makes it parent's
// first child and attach 0 its next sibling. dateIndex becomes that of the last date
// placeholder passed, hash the category index the node joins (null none). The children of
// a date placeholder stand in its level in its place (varkel/trees.cpp); dateEntry says
// that the entry carries a date key, so that a position at the end of a placeholder's
// children is a new child of that placeholder.
void findLabelPath(const std::string& path, int& parent, int& node, int& attach,
                   int& dateIndex, Hashtab*& hash, bool dateEntry = false);

// One coded coordinate of text at position; position ends on the '+' or the end after it.
mbitset<128> readCodedCoord(const std::string& text, unsigned& position);

// One coded value of text at position into dataValue[index]; position ends on the next
// value.
void readCodedValue(const std::string& text, unsigned& position, int index);

// Cuts coordinate into one leaf number per profile axis of the previous cube's layout
// (-1 for an axis the cube does not have).
void splitCoords(mbitset<128>& coordinate, std::vector<int>& leaves);

// The part number of the leftmost condition of tree; -1 for none. label is not used.
int findMatchFieldPart(_MatchTree* tree, AxisLabel& label);

// A page's attribute text as the browser hands it to the applet: the entities the page
// writer makes ("&amp;", "&lt;", "&gt;", "&quot;") become their characters again.
std::string decodePageText(const std::string& text);

// Empties the module state, as at process start.
void resetReparse();

#endif

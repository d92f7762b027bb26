// The tree restore of incremental builds: the previous cube's axis settings rebuilt inside
// the current profile's trees, category indexes and date tables.
#ifndef VARKEL_TREERESTORE_H
#define VARKEL_TREERESTORE_H

#include <map>
#include <string>
#include <vector>

#include "varkel/cubefile.h"
#include "varkel/hashtab.h"

struct _MatchTree;
struct AxisLabel;

extern int restoredAxes;            // profile axes accounted for by the axis settings so far
// Per profile field slot, the column its written conditions tested in the data the cube was
// built from.
extern std::map<int, int> oldColumnOfSlot;

// Handler of an axis setting: rebuilds the axis's tree.
void restoreAxis(ParamLine& line);

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

// The part number of the leftmost condition of tree; -1 for none. label is not used.
int findMatchFieldPart(_MatchTree* tree, AxisLabel& label);

// Empties the tree restore's state, as at process start.
void resetTreeRestore();

#endif

// The compiled-profile writer of tarnwick: the header, the parameter record, the tree
// operators and node records, and the end mark of every profile block, all on one line.
// The grammar fills the node variables (profile/node.h) and calls emit_node once per node.
#ifndef PROFILE_WRITER_H
#define PROFILE_WRITER_H

#include <cstdio>
#include <string>

using std::string;

// One of the three colours of the viewer, components 0-255.
struct Colour {
  int red;
  int green;
  int blue;
};

// The viewer's colours, set by the setup block (owned here; parse_profile sets the defaults).
extern Colour verticalColour;
extern Colour horizontalColour;
extern Colour dataColour;

// Writer state (owned here). Depths: -1 for axis and measures roots, 0 for the first item
// level, one more per leading '+'.
enum { maxItemDepth = 15 };               // deepest item depth the writer can climb back from
extern int lastDepth;                     // depth of the previous node written
extern int forceChild;                    // 1: the next node is written with 'C'
extern int hangingNodes[maxItemDepth + 1];  // nodes written per depth since the last climb above it
extern int measureEmitted;                // 1 once a measures record was written
extern int saveVariables;                 // 1: the next emit_node keeps the node variables
extern string measureLabel;               // label of the measures axis; empty means "Measures"
extern FILE* qv4File;                     // where the compiled profile goes

// Clears the depth counters and the flags, as at the start of a compilation; lastDepth -1.
void resetWriter();

// Longest text of a shortest and of a short string: what one and two hex length digits
// count. A long string (four digits) holds up to longStringMax (common/util.h).
const size_t shortestLimit = 15;
const size_t shortLimit = 255;

// Length-prefixed strings with 2, 4 and 1 hex digits of length. Too long is fatal 110.
string shortString(const char* s);
string longString(const char* s);
string shortestString(const char* s);

// Writes "%02x%02x%02x" of the colour's components.
void emit_colour(Colour c);

// Empty when the settings fit their fields of the parameter record; otherwise what does not
// (without a line end). The separator is judged only with withSeparator, since it depends on
// the data source, which a later setting may change. Nothing is changed.
string checkParameters(int withSeparator = 1);

// Empty when the node variables fit the fields of the record emit_node would write for them;
// otherwise what does not (without a line end). Nothing is changed.
string checkNode();

// Writes "0411|" and the parameter record (every row of every table, with the data-source
// suffix) and sets forceChild. Values that do not fit are fatal 110.
void emit_parameters();

// Writes the tree operators for a node at depth (the caller passes currentDepth) and the
// record chosen by currentType, then resets the node variables unless saveVariables is set
// (which it clears instead). Axis and measures records set forceChild; a measures record
// also sets measureEmitted. Values that do not fit are fatal 110.
void emit_node(int depth);

// Ends a profile block: the default measures record when none was written yet, then 'X'.
void emit_tail();

#endif

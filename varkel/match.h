// Match expressions: the boolean combinations of leaf conditions that decide whether the
// current record belongs to a node of a dimension tree or answers a query of the viewer.
// This module owns the encoded form in which expressions travel (compiled profiles, cube
// files, viewer pages and queries), its parser and printer, the parsed trees, and their
// evaluation against the record in inputFields.
//
// Encoded form: operands joined by connectors "J" or ";" (AND) and "K" (OR), strictly left
// to right with no precedence (a J b K c is (a AND b) OR c); an operand is "(" expression ")"
// or a leaf: field name (2-digit short string), target ("" whole field; "H" separators
// part; "I" separators part-from-the-right; "G" first last columns), "=", operator letter,
// value (2-digit short string).
#ifndef VARKEL_MATCH_H
#define VARKEL_MATCH_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "regexp/regexp.h"

struct AxisLabel;

// Node types of a match tree.
enum MatchTreeType { MATCH_AND = 100, MATCH_OR = 101, MATCH_LEAF = 102 };

// What a leaf compares.
enum MatchKind {
  MATCH_WHOLE = 500,     // the whole field
  MATCH_PART = 501,      // part n counted from the left
  MATCH_BACK_PART = 502, // part n counted from the right
  MATCH_COLUMNS = 503,   // a range of character columns
};

// The empty text that leaves without separators, and the blank label's leaves for their
// value, share.
extern char matchEmptyText[1];

// One leaf condition.
struct Match {
  // The small members first and packed: a level of a million categories holds a leaf
  // for each. Part and column numbers are spibbles (0-63) or -1.
  int16_t kind;            // MatchKind
  int8_t part;             // part number for MATCH_PART; -1 none
  int8_t backPart;         // part number for MATCH_BACK_PART; -1 none
  int8_t firstColumn;      // columns for MATCH_COLUMNS; -1 none
  int8_t lastColumn;
  char op;                 // operator letter: 'L'..'Z', 'z', 'y'
  bool borrowed;           // value and pattern belong to the leaf this one was copied from
  int field;               // profile field slot, a data column after matchTranslateFields
  int valueLength;         // length of the value as written (before the blank replacement)
  const char* separators;  // characters that cut the field into parts: owned like value,
                           // or the shared empty text
  char* value;             // owned, or the shared empty text for the blank label
  union {
    rx::regexp* pattern;   // compiled value for 'Z' and 'z'; null if it did not compile
    double number;         // atof of the value for 'T'..'Y'
  };

  Match()
      : kind(MATCH_WHOLE), part(-1), backPart(-1), firstColumn(-1), lastColumn(-1), op(0),
        borrowed(false), field(-1), valueLength(0), separators(matchEmptyText), value(nullptr),
        pattern(nullptr) {}
  // Plain member-wise assignment: the value text and the pattern are shared, not copied.
  Match& operator=(const Match& other) = default;
  Match(const Match& other) = default;
};

// 1 when the leaf's operator compiles its value into a pattern.
inline bool matchHasPattern(const Match& m) { return m.op == 'Z' || m.op == 'z'; }

// One node of a match tree. Allocated zero-filled; released by matchFree.
struct _MatchTree {
  int type;           // MatchTreeType
  int inOneBlock;     // non-zero for a generated leaf: node, leaf, value and text are one
                      // allocation starting at the node
  Match* leaf;        // the condition of a leaf; null otherwise
  _MatchTree* left;   // operands of AND / OR
  _MatchTree* right;
  char* text;         // owned: the encoded expression of a parsed or generated root, or null
};

// Parses an encoded expression; the root keeps a copy of text. An empty (or null) text gives
// null. Field names become profile field slots through getFieldIndex. Errors end the run:
// 110 "Unmatched parens in expression '%s'\n", 110 "Unknown connector '%c' in '%s'\n",
// 110 for a text that ends inside a leaf, 109 "Internal matching error.\n" for an unknown
// target or operator.
_MatchTree* matchParseExpression(const char* text);

// Non-zero when the current record (inputFields) satisfies tree; a null tree is true.
// AND and OR evaluate their right operand only when needed. A missing operand inside a
// tree is error 109.
int evalMatch(_MatchTree* tree);

// The same as evalMatch; text is not used.
int evalMatchTarget(_MatchTree* tree, const char* text);

// Writes ";f0=" and tree in encoded form (fields by number, parentheses around both
// operands of every connector, values and separators escaped whole by outputEscaped after
// lengths that count their own bytes). Writes nothing when tree
// is null or has no text (as trees made by matchAppend).
void matchPrint(FILE* stream, _MatchTree* tree);

// Writes " \"<text>\" " with the root's text, when it has one.
void matchDebugPrint(FILE* stream, _MatchTree* tree);

// A one-leaf tree with operator 'L' (equality) on value, with its encoded text. The kind is
// MATCH_PART when part is not -1, else MATCH_BACK_PART when backPart is not -1, else
// MATCH_COLUMNS when firstColumn is not -1, else MATCH_WHOLE. separators may be null.
// value is copied; the blank label's text becomes the empty text.
_MatchTree* matchCreateString(const char* value, int field, int part, int backPart,
                              int firstColumn, int lastColumn, const char* separators);

// The same with operator 'Z'; value is compiled as a regular expression at once.
_MatchTree* matchCreateRegexp(const char* value, int field, int part, int backPart,
                              int firstColumn, int lastColumn, const char* separators);

// A new AND (MATCH_AND) or OR (MATCH_OR) node over left and right; it has no text.
_MatchTree* matchAppend(_MatchTree* left, _MatchTree* right, int type);

// Turns the field of every leaf of tree (null allowed) from a profile field slot into a
// data column with mapField.
void matchTranslateFields(_MatchTree* tree);

// Applied to every label once the data's column names are known: a field of 0 or more
// becomes mapField(field), and the label's match tree is translated likewise.
struct MapField {
  void operator()(AxisLabel& label) const;
};

// Releases the root text, both subtrees, the leaf (its value unless shared, its compiled
// pattern, neither of them for a borrowed leaf) and the node. Null is allowed.
void matchFree(_MatchTree* tree);

// A new Match assigned from match: the value text and the pattern are shared, borrowed
// from match, which must outlive the copy; matchFree of the copy releases neither.
Match* copyMatch(const Match* match);

// True when tree is a single MATCH_WHOLE leaf with operator 'L'; its value (empty for the
// blank label) is copied into out.
bool isExactQuery(_MatchTree* tree, std::string& out);

// The text a leaf compares, cut from inputFields. A whole field or a column range is left
// in partPattern; parts come from the field-part cutters. Valid until the next cut. An
// unknown kind is error 109.
const char* matchTarget(Match* match);

// Ends the run with 100 "Out of memory.\n" when p is null.
void matchCheckAlloc(void* p);

// Ends the run with 109 "Internal matching error.\n".
[[noreturn]] void matchInternalError();

#endif

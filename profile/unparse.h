// The profile unparser: reads a compiled profile (".qv4") and prints it back as a profile
// script (".qs4") in the text profile language that tarnwick compiles. The reader builds a
// tree of script lines, one per node record; the printer writes the setup block while the
// parameter record is read and the axis blocks from the tree at the end.
#ifndef PROFILE_UNPARSE_H
#define PROFILE_UNPARSE_H

#include <cstdio>
#include <string>

using std::string;

// One line of the script tree. Nodes are never freed: the process ends after printing.
struct node {
  string text;              // the record's script line, without indentation or line end
  node* backLink = nullptr;  // the node this one was attached to; null for the root
  node* next = nullptr;      // next sibling
  node* child = nullptr;     // first child
};

// A new node with empty text and no links.
node* newNode();

// Reads the compiled profile on in and prints the script body (the setup block and the axis
// blocks) on out. Returns 0; every error ends the process through fatal.
int parse(FILE* in, FILE* out);

// The character at *pos must be the '|' that ends a record; *pos moves past it. Anything
// else is fatal 110 with the position and an excerpt of the text around it.
void checkEnd(const char* text, int* pos);

// The field name in single quotes, with its own single quotes escaped.
string quoteField(const char* name);

// Record readers. Each starts just after the record's type letter at *pos, reads the
// record's fields through its closing '|' (checkEnd) and returns a new node whose text is
// the record's script line.
node* readAutobuildRecord(const char* text, int* pos);  // '1'
node* readDateRecord(const char* text, int* pos);       // '2'
node* readAxisRecord(const char* text, int* pos);       // '3'
node* readExtractRecord(const char* text, int* pos);    // '4'
node* parseFunction(const char* text, int* pos);        // '5'
node* readMatchRecord(const char* text, int* pos);      // '6'
node* readMeasureRecord(const char* text, int* pos);    // '7'
node* readLabelRecord(const char* text, int* pos);      // '9'

// Reads the parameter record from just after its '8' through its '|' and prints the setup
// block except its closing brace: only the settings that differ from the parameter tables'
// defaults, besides those always said. Marks the bParams rows it finds changed as set.
// Returns a new root node.
node* printSetup(const char* text, int* pos, FILE* out);

// Prints the data-source lines (separator, firstfieldnames, data) for the data-source text
// of a parameter record, whose suffix of ';', header flag, ';' and separator is taken off.
void printDataSource(FILE* out, const char* data);

// Prints n, its children and its following siblings: depth 0 opens an axis block, deeper
// nodes are item lines with depth - 1 "+ " marks.
void printScriptTree(FILE* out, node* n, int depth);

// Text forms of an encoded match expression: the whole expression, one condition, and one
// field part. Each reads text from *pos and advances it; bad text is fatal 110.
string unparseMatch(const char* text, int* pos);
string unparseSubMatch(const char* text, int* pos);
string unparseField(const char* text, int* pos);

// printf into a new string.
string formatLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// text with a backslash before every q, which the profile lexer takes back out of a q-quoted
// string. A text that ends in a backslash cannot be quoted: fatal 110.
string escapeQuotes(const string& text, char q);

#endif

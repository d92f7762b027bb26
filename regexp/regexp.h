// The small backtracking regular-expression engine behind the "regexp" and "not regexp"
// match conditions: compile a pattern once, run it against many field texts, report errors
// as text. Patterns and texts are plain bytes; the locale plays no part.
//
// The functions live in namespace rx so that they never stand in for the C library's
// functions of the same names, which libcurl and the ODBC driver manager call.
#ifndef REGEXP_REGEXP_H
#define REGEXP_REGEXP_H

namespace rx {

// Number of capture slots: the whole match (0) and groups 1 to 9.
const int NSUBEXP = 10;

// A compiled pattern: one block from malloc (the header followed by the program), released
// with free by its owner.
struct regexp {
  const char* groupStart[NSUBEXP];  // start of the whole match (0) and of groups 1-9, or null
  const char* groupEnd[NSUBEXP];    // end of the whole match and of groups 1-9, or null
  char firstChar;                   // every match begins with this byte; NUL when unknown
  char anchored;                    // 1 when the pattern can match only at the start of the text
  const char* mustContain;          // a literal every match contains (inside program), or null
  int mustContainLength;            // length of mustContain
  unsigned char* program;           // magic byte 0234, then the nodes; inside this same block
  int programLength;                // bytes of program
};

// Compiles the NUL-terminated pattern. Returns a new program, or null after reporting the
// error through regerror.
regexp* regcomp(const char* pattern);

// 1 when prog matches somewhere in text (leftmost match, first alternative wins), else 0.
// On a match, groupStart/groupEnd point into text. A null argument or a damaged program is
// reported through regerror and gives 0.
int regexec(regexp* prog, const char* text);

// Writes "regexp(3): <message>\n" to standard error.
void regerror(const char* message);

}  // namespace rx

#endif

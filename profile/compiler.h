// The profile compiler tarnwick: its driver, the grammar's block variables and the colour
// settings of the setup block.
#ifndef PROFILE_COMPILER_H
#define PROFILE_COMPILER_H

#include <cstdio>

extern int cur_axis;  // index of the axis being read; -1 before the first axis (grammar)
extern int measure;   // 0 in a dimension axis; from 1 up in the measures axis (grammar)

// Runs the parser over the lexer's input; 0 after complete blocks (errors end the process).
int yyparse();

// Formats a message (at most 8192 bytes) and reports it through yyerror: status 1.
[[noreturn]] void error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends the process with status.
[[noreturn]] void do_exit(int status);

// Compiles the profile text of in into out; returns the exit status.
int parse_profile(FILE* in, FILE* out);

// Resets the block variables: no axis yet, depth 0, not in the measures axis.
void init_params();

// Sets the colour that name selects (verticalcolor, horizontalcolour, datacolor ... in any
// case) to the three numbers; any other name is reported as "Unknown color name".
void setColour(const char* name, const char* red, const char* green, const char* blue);

// Sets a colour from the text "(r,g,b)"; any other text is fatal 110.
void setColourString(const char* name, const char* text);

#endif

// The lexer of tarnwick: skips text outside the "<!--varkel" and "varkel-->" markers,
// turns the profile inside them into tokens, and reports errors with the line and a caret.
#ifndef PROFILE_LEXER_H
#define PROFILE_LEXER_H

#include <cstdio>

enum { lineBufferSize = 131072 };  // longest source line kept for error reports

extern int lineno;                   // current line number, 1 at start
extern int linepos;                  // column just after the current token
extern char linebuf[lineBufferSize];  // the current line inside a profile, with its newline

// The next token code, its value in yylval; 0 at the end of the input.
int yylex();

// Makes in the lexer's input; outside a profile, at line 1.
void reset_state(FILE* in);

// Writes "Error at line" with the message and the current token, the current line and a
// caret under the token to standard error, then ends the process with status 1.
[[noreturn]] void yyerror(const char* message);

#endif

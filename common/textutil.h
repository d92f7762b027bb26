// Small in-place text utilities of the builder and the CGI services: string copies that end
// the run when memory runs out, quote and case conversions, and offset-returning finders.
// Every text is NUL-terminated; bytes are treated as unsigned.
#ifndef COMMON_TEXTUTIL_H
#define COMMON_TEXTUTIL_H

#include <stdlib.h>

#include <string>

// A new malloc'd copy of text, or null for null. Out of memory is fatal 100 naming the
// caller's file and line.
char* _newStr(const char* text, const char* file, int line);

// Frees p unless it is null.
void xfree(void* p);

// Frees *pp when pp and *pp are non-null, and sets *pp to null.
template <typename T>
void xxfree(T** pp) {
  if (pp && *pp) {
    free((void*)*pp);
    *pp = nullptr;
  }
}

// Every double quote becomes a single quote.
void replaceQuotes(char* text);
void replaceQuotes(std::string& text);

// Every double and every single quote becomes a blank.
void convertQuotes(char* text);

// Makes a literal text safe inside a regular expression: ^ $ | [ ] ( ) + ? * . get a
// backslash in front, a backslash before a '.' stays with it, any other backslash is
// doubled. text must have room for twice its length and its NUL.
void quoteRegexpChars(char* text);

// Changes case byte by byte with tolower / toupper; returns the text's terminating NUL, or
// null for null.
char* toLowerCase(char* text);
char* toUpperCase(char* text);

// True when text, after one optional leading '-', is empty or all decimal digits.
bool allDigits(const char* text);

// Offset of the first occurrence of pattern in text, or -1.
int findPattern(const char* text, const char* pattern);

// Offset of the first character at or after start (a negative start counts from 0) that is
// in set, or -1; a start past the end finds nothing.
int findFirst(const char* text, int start, const char* set);

// The largest offset at or below position whose character is in set, or -1 (also for a
// negative position). The terminating NUL counts as a member of every set; a position past
// the end is taken as the end.
int reverseFindFirst(const char* text, int position, const char* set);

// Offset of the last occurrence of pattern in text, or -1; -1 also when either is empty or
// pattern is the longer.
int reverseFindPattern(const char* text, const char* pattern);

// text with '&', '<', '>' and '"' written as entities, so that it reads as the same text
// inside an HTML element or a double-quoted attribute (every attribute the programs write is
// double-quoted, so '\'' stays as it is); null gives the empty text.
std::string htmlEscape(const char* text);

// True when a compute or function text holds ';' or a line break: a cube carries the text
// as an item of a tree setting, which ';' divides and a line break ends.
bool breaksTreeItem(const std::string& text);

#endif

// Codecs and helpers shared by the builder, the profile compiler and the unparser:
// length-prefixed strings, spibble digits, hex runs, keyword tables, string helpers,
// accounting-style numbers and fatal, the single error exit of every program.
#ifndef COMMON_UTIL_H
#define COMMON_UTIL_H

#include <string>

using std::string;

// The room for a temporary file's name, its terminating NUL included.
const int tempNameSize = 1024;


// The 64 spibble digits, value = position.
extern const char spibbleAlphabet[65];

// Reads one length-prefixed string of n hex length digits at *pos and advances *pos past it.
// A '|' at *pos reads as the empty string and leaves *pos on it. A text that ends before its
// length or its bytes is fatal 110.
string getString(int n, const char* text, int* pos);

// The longest text of a long string, whose length is four hex digits.
const size_t longStringMax = 0xFFFF;

// The length of text as n lower-case hex digits, then text. A text longer than n digits can
// count is fatal 110.
string makeString(int n, const char* text);

// n hex digits at *pos, most significant first; *pos advances by n. n <= 0 gives 0.
// A text that ends inside the run is fatal 110.
int getNibbles(int n, const char* text, int* pos);

// The value 0-15 of one hex digit of either case.
int hexVal(char c);

// The value 0-15 of one hex digit of either case, or -1 for any other character.
int hexDigit(char c);

// The character at *pos minus '0'; *pos advances by one. The end of the text is fatal 110.
int getBoolean(const char* text, int* pos);

// The spibble digit of v (0-63); above 63 is fatal 110.
char makeSpibble(int v);

// The value 0-63 of the spibble at pos, or -1; pos advances by one in every case.
// Reading at or past the end of the text is fatal 110.
int getSpibble(const char* text, int* pos);
int getSpibble(const string& text, unsigned& pos);

// The low byte of v as two upper-case hex digits (unused by the programs).
string makeDoubleSpibble(int v);

// Two spibbles at *pos as first * 64 + second; *pos advances by two (unused by the programs).
int getDoubleSpibble(char* text, int* pos);

// Keywords of match operator letters, sort codes and extract formats; unknown ones are
// fatal 110.
const char* getOperatorString(char op);
const char* getSortString(int code);
const char* getFormatString(int code);

// Cuts trailing blanks in place; returns the first non-blank character.
char* trimSpaces(char* s);
// Trims blanks from both ends of s itself; returns a copy.
string trimSpaces(string& s);
// When s begins and ends with q, cuts the last and returns s + 1; else s.
char* trimQuotes(char* s, char q);

// 0 when a and b are equal ignoring case; otherwise non-zero.
int strCompare(const char* a, const char* b);
// 1 when s ends with suffix (case-sensitive), else 0.
int endsWith(const char* s, const char* suffix);
// name cut before its last '.', then ext (which carries its own dot).
string changeExt(string& name, const char* ext);

// Accounting-style number: grouping commas and parentheses allowed; other characters are
// dropped and set bad. Empty or null text is 0.0.
double convertToNumber(const char* text, bool& bad);

// Writes "Error %03d: " and the message to standard error (its text arguments cleaned for a
// log while the process answers a web request: requestMessages), removes the temporary output
// files, runs the cleanup hook, and exits with code.
[[noreturn]] void fatal(int code, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// A program may register what else must go before the process ends (the builder's own
// temporary files); fatal calls it before exiting.
extern void (*fatalCleanupHook)();

// Runs just before fatal writes its message: a program that left a line of standard error
// unfinished (a progress line) ends it there, so the message starts on a line of its own.
extern void (*fatalMessageHook)();

// Runs fatalCleanupHook (the builder removes its temporary files there): what every way
// out of a run does.
void removeTempFiles();

// Hands each of the count signals to handler, a program's removal of its temporary files,
// except a signal the process was started with ignored, which stays ignored. A write past
// a file-size limit then fails with EFBIG, to be reported with the old files in place,
// instead of SIGXFSZ ending the run with a new file still named.
void catchCleanupSignals(const int* signals, int count, void (*handler)(int));

#endif

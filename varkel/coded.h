// The text forms of the cube: coded values and coded coordinates over a 64-digit alphabet,
// the order of the lists, and the coordinate width of an axis.
#ifndef VARKEL_CODED_H
#define VARKEL_CODED_H

#include <cstdio>

#include "varkel/mbitset.h"

// The value alphabet (at most 255 characters); digit value i is outputChars[i].
extern char outputChars[256];
// The base of coded values, counted from the default alphabet once: always 64.
extern int numberOfOutputChars;
// The smallest power of the base above 999999, and its exponent.
extern int reasonableSplit;
extern int minWidth;
// The base as 64 binary digits, for the binary-string printer.
extern char binaryNumChars[258];
// Decimal places kept by fractional coded values (0-10; decimalPoints lives with the
// parameter tables) and 10 to that power.
extern int decimalPoints;
extern long long decimalMultiplier;
// Order of the value list: 0 measure-major, 1 cell-major.
extern int nOrder;

// Sets the alphabet, the base, the split and the binary base to their start-up values.
void initCodedNumbers();

// Replaces the value alphabet with text (-chars, W3_chars). Refused with error 1: fewer
// than 64 or more than 255 characters, or, among the first 64 (the digits), a sign
// character of the coded values (+ - * = #), a control byte or a character twice, which
// would make the value list ambiguous or break its line.
void setOutputChars(const char* text);

// Writes v (>= 0) in the base with zero digits in front up to width characters.
void printCodedLong(FILE* f, long long v, int width);
// Writes one coded value: '#', or a sign character '+', '-', '*', '=' and digits.
void printCodedDataValue(FILE* f, double v);
// Writes the value list of the whole cube in the order of nOrder.
void printCodedData(FILE* f);
// Writes one coded coordinate in the fixed spibble alphabet, leading zeros removed.
void printCodedCoord(FILE* f, const mbitset<128>& key);
// Writes '+' and the coded coordinate of every cell, in coordinate order.
void printCodedCoords(FILE* f, int);
// Coordinate bits an axis of n leaves takes.
int nextPowerOfTwo(int n);

// Class-file printers: they write nothing.
void printDataClass(FILE* f, int, int);
void printCoordClass(FILE* f, int);

// The binary-string printer: an alternative to printCodedLong that no program calls.
void createBinaryString64(char* buf, unsigned long high, unsigned long low);
char getOutputChar(char* buf);
void divideStrings(char* dividend, char* divisor, char* remainder);
void printDoubleLong(FILE* f, unsigned long high, unsigned long low);

#endif

// The name and work buffers of the builder: fixed-size texts made once at start-up by
// makeWorkBuffers, each holding a NUL-terminated text within its size (in brackets). Longer
// names are refused where they are taken; work texts are cut to fit.
#ifndef VARKEL_WORKBUFFERS_H
#define VARKEL_WORKBUFFERS_H

#include <cstddef>

#include "common/util.h"

// Bytes of a name or settings-text buffer, and the longest text one holds.
const size_t nameBufferSize = 256;
const size_t maxNameLength = nameBufferSize - 1;

// Bytes of partPattern, terminator included.
const int partPatternSize = 512;

// Names.
extern char* inputFileName;            // profile name, "" for standard input [256]
extern char* outputFileName;           // page name, "" for standard output [256]
extern char cb4FileName[tempNameSize];  // cube file name, "" when the page carries the cube
extern char* profileDirectory;         // working directory and "/" [256]
extern char* newDataFileName;          // resolved name of a text-file source [256]
extern char* wholeProfileName;         // [256]

// Settings texts the profile and the front end fill, the page writer reads [256 each].
extern char* lumetraWidth;
extern char* lumetraHeight;
extern char* codebase;
extern char* theCodeBase;

// The shared cut buffer [partPatternSize]: the field-part cutters leave a column range or
// part in it; tree growth and match evaluation copy whole fields into it through
// setPartPattern. Valid until the next cut.
extern char* partPattern;

// Makes every buffer above, and the record line buffer inputBuffer, zero-filled, in the
// start-up order; lack of memory is fatal 100 with the buffer's own "Failed ... malloc.".
void makeWorkBuffers();

// Copies the first n bytes of text into partPattern, cut to partPatternSize - 1, ends it
// there and returns partPattern.
const char* setPartPattern(const char* text, size_t n);

#endif

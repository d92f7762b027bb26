// Line reader: the lines of record files, commands and fetched URL documents, read ahead in
// blocks and handed out where they lie, each cut at its first CR or LF.
#ifndef VARKEL_LINEREADER_H
#define VARKEL_LINEREADER_H

#include <stddef.h>
#include <stdio.h>

// Reads the next line into buffer (inputBufferSize bytes) and returns buffer, or null at the
// end of the data. dataType 3 reads the fetched URL document and ignores stream; the other
// kinds read stream. The line is cut at its first CR or LF. A line too long is error 6
// ("Input line too long! ..."), or in CGI mode a silent exit with status 1.
char* getLine(FILE* stream, char* buffer, int dataType);

// getLine without the copy: the next line, cut and terminated as getLine cuts it, where it
// was read (URL documents: in inputBuffer), and its length in *length; null at the end of
// the data. The line stays valid until the next line is read; its bytes may be changed.
// Lines of a file or command are read ahead in blocks: a stream left before its end is
// given up with forgetLines before it is closed.
const char* nextLine(FILE* stream, int dataType, size_t* length);
void forgetLines();

// The bytes of a file's or command's block that follow the line last handed out (the
// next lines, not yet cut, perhaps not whole), and their count in *length; null when none
// are read ahead. For a look ahead only: valid, and left unchanged, until the next line is read.
const char* linesAhead(size_t* length);

// Ends the run the way every exit does, without a message: in CGI mode the answer page
// simply stops where it was.
[[noreturn]] void quietExit(int status);

// A line that did not fit a buffer of size bytes: error 6 ("Input line too long! ..."), or
// in CGI mode a silent exit with status 1.
[[noreturn]] void lineTooLong(int size);

#endif

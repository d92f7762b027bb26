// Opening a named file to read from. On Linux a directory opens for reading like any file
// and then yields no byte at all, so it would pass for an empty profile, data file or
// statement; every program opens its input files here so that a directory is refused.
#ifndef COMMON_INPUTFILE_H
#define COMMON_INPUTFILE_H

#include <sys/stat.h>

#include <cstdio>

// Opens name with fopen(name, mode) and returns the stream. Null when it cannot be opened
// (errno as fopen left it) or when it names a directory (the stream is closed again and
// errno is EISDIR). With status, *status receives the opened file's status, or is zeroed
// (st_mode 0, which is no kind of file) when none can be read; on null it is zeroed too.
// Anything else that is not a directory (a device, a pipe) opens as it is.
FILE* openInputFile(const char* name, const char* mode, struct stat* status = nullptr);

#endif

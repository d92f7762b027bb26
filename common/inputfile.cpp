// Opening a named file to read from, refusing directories.
#include "common/inputfile.h"

#include <errno.h>

#include <cstring>

FILE* openInputFile(const char* name, const char* mode, struct stat* status) {
  struct stat own;
  struct stat* st = status ? status : &own;
  memset(st, 0, sizeof *st);
  FILE* f = fopen(name, mode);
  if (!f) return nullptr;
  if (fstat(fileno(f), st) != 0) {
    memset(st, 0, sizeof *st);
    return f;  // nothing says it is a directory: let the reads decide
  }
  if (S_ISDIR(st->st_mode)) {
    fclose(f);
    memset(st, 0, sizeof *st);
    errno = EISDIR;
    return nullptr;
  }
  return f;
}

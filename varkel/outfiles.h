// Temporary output files of the builder: made safely in the working directory, removed on
// every way out of the process, and moved over the final names only at a successful end.
#ifndef VARKEL_OUTFILES_H
#define VARKEL_OUTFILES_H

#include <cstdio>
#include <functional>

// Creates a new file "<prefix>XXXXXX" (the X's made unique) in the working directory with
// the permissions 0666 less the umask, opens it for writing and stores its name in name
// (1024 bytes). Returns null, leaving name as it was, when no file could be made.
FILE* createTempFile(char* name, const char* prefix);

// Makes cleanupTempFiles run at exit, from fatal, and on SIGHUP, SIGINT, SIGPIPE and
// SIGTERM (which then end the process as they would have). A file-size limit (SIGXFSZ)
// makes writes fail instead, so that the finish reports it.
void registerTempCleanup();

// Calls write with the stream a listing that takes the page's place goes to. With an output
// file name (and the page not on standard output) that is a new temporary file "oXXXXXX" in
// place of the page's (which is closed and removed), moved over the output name afterwards
// like a page, the cube file left unwritten; otherwise standard output, flushed afterwards.
// A temporary file that cannot be made is error 2, before write is called.
void writeInPlaceOfPage(const std::function<void(FILE* out)>& write);

#endif

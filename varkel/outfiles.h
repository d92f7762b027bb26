// The builder's output streams and their temporary files: the page, cube and class-file
// streams and the names of the temporary page and cube file are owned here. The files are
// made safely in the working directory, removed on every way out of the process, and moved
// over the final names only at a successful end. Other modules write to the streams; only
// this module opens, swaps or closes them.
#ifndef VARKEL_OUTFILES_H
#define VARKEL_OUTFILES_H

#include <cstdio>
#include <functional>

#include "common/util.h"

// The page (or record table): standard output, a temporary file that replaces
// outputFileName at the finish, or null when no page is written.
extern FILE* ofp;
// The cube file: a temporary file that replaces cb4FileName at the finish, or the same
// stream as ofp when the page carries the cube.
extern FILE* cb4;
// The class file "lumetradata.java" when class output was asked for, else null; the class
// writer closes it.
extern FILE* oclassfp;

// Names of the temporary page and cube file: empty until this run makes them (from the
// templates "vrkXXXXXX" and "cb4XXXXXX"), and emptied once they are moved or removed, so
// that no exit removes a file of someone else's that carries a template's name.
extern char outputTempName[tempNameSize];
extern char cb4TempName[tempNameSize];

// Forgets both temporary names without touching a file: a run starts with none made.
void forgetTempNames();

// Opens the page stream by outputFileName: standard output for "", "stdout" and "-"; none
// when only the cube file is to be updated (-ecubeonly with a cube file); else a temporary
// file (fatal 2 when none can be made). A page stream gets a 64 KiB buffer. Then opens the
// class file when class output was asked for (fatal 2 when it cannot be made).
void openOutputStreams();

// Makes standard output the page stream: a CGI answer is written there.
void pageToStandardOutput();

// Drops the cube file unwritten: a separate cube stream is closed and its temporary file
// removed, so the previous cube file stays. The cube stream is the page stream afterwards.
void dropCubeFile();

// Creates a new file "<prefix>XXXXXX" (the X's made unique) in the working directory with
// the permissions 0666 less the umask, opens it for writing and stores its name in name
// (tempNameSize bytes). Returns null, leaving name as it was, when no file could be made.
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

// Removes the temporary page and cube files this run made (if any are still there).
void cleanupTempFiles();

// Refuses a run that would write a page, cube file or server page over its profile or
// over the text data file it reads (newDataFileName, once resolved): outputs and inputs are
// compared as files, so links and other spellings of one name count. Fatal 1 before any
// output is touched. The previous cube an increment re-reads is no input here: replacing
// it is the increment's purpose.
void refuseOutputsOverInputs();

// Opens the cube stream once the profile is read: a temporary file for cb4FileName when a
// cube file is written, else the page stream.
void openCubeStream();

// Closes the page and cube streams and moves their temporary files over outputFileName and
// cb4FileName. The old files stay in place until the new ones replace them; a failure is
// fatal 2 and leaves them untouched. Both stream globals are null afterwards.
// When pageCarriesCube (a cube page written with the cube on it), a cube file named like
// the page (cb4FileName), left by an earlier run, is removed once the page is in place:
// the re-reader prefers a cube file, and that one would shadow the newer cube on the page.
void finishOutputFiles(bool pageCarriesCube = false);

#endif

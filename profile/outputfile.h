// The output file of the profile tools: written beside its final name and moved over it
// only when it is whole, so that a failed or interrupted run leaves the previous file as it
// was and no part of a new one behind.
#ifndef PROFILE_OUTPUTFILE_H
#define PROFILE_OUTPUTFILE_H

#include <cstdio>

// Opens a new file for writing in the directory of finalName, to take finalName's place at
// finishOutputFile; finalName itself stays untouched until then. A symbolic link is followed,
// so the file it names is the one replaced. When the process ends any other way (exit,
// fatal, a signal; even SIGKILL where the file system can hold a file without a name), the
// new file goes with it. A device or FIFO cannot be replaced and is opened in place.
// Returns the stream, or null with errno set (a directory, an unwritable directory or an
// existing file that may not be written). At most one output file per process.
FILE* openOutputFile(const char* finalName, const char* prefix);

// Flushes and closes the stream of openOutputFile and moves the new file over the final
// name. Returns false with errno set when a write or the move failed; the final name then
// keeps what it held and the new file is removed.
bool finishOutputFile();

#endif

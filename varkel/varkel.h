// The cube builder's driver: start-up, the command line, the profile stream, and the order
// of the phases a run goes through (Main). The settings it fills are in options.h, the
// buffers it makes in workbuffers.h, its messages and exits in report.h, and the page and
// cube streams in outfiles.h.
#ifndef VARKEL_VARKEL_H
#define VARKEL_VARKEL_H

#include <clocale>
#include <cstdio>

// The profile text: a file or standard input once the command line or the CGI front end
// set it up, null before; the profile reader closes it.
extern FILE* pifp;

// The three banner texts, also written into the createversion setting.
extern const char* const programVersion;
extern const char* const buildNumber;
extern const char* const buildDate;

// The driver: start-up, command line or CGI front end, then the later phases. Returns 0 at
// the end of a run that no exit ended earlier.
int Main(int argc, char** argv);

// Fetches url and writes the document to standard output, a newline after each line, then
// exits 0. A document that cannot be fetched or is empty is fatal 2.
[[noreturn]] void dumpURL(const char* url);

// Start-up and command line, as Main runs them; separate so that each can be exercised.
// startUp sets every default and makes the work buffers; parseOptions examines argv[1..]
// (it may exit for help, -dumpurl and errors); setUpStreams opens the profile and page.
void startUp();
// Sets commaChar and decimalChar from the locale's numeric conventions (null: unchanged).
void setLocaleSeparators(const struct lconv* conv);
void parseOptions(int argc, char** argv);
void setUpStreams();

// Applies the -param texts in order: each is split at its first '=' (none is fatal 1) and
// handed to setStringParameter.
void applyParameters();

#endif

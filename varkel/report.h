// Reporting: the messages every module of the builder writes and its ways out of the
// process. Messages go to the page in CGI mode (isCGI), to standard error otherwise.
#ifndef VARKEL_REPORT_H
#define VARKEL_REPORT_H

// A printf-style message: to the page in CGI mode, to standard error otherwise. Adds no line
// end and does not flush.
void msg(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends a line that an earlier message left open on standard error (a progress line), so
// that what follows starts on a line of its own; start-up makes fatal run it first.
void endOpenLine();

// Ends the process with status; the temporary output files are removed on the way out.
[[noreturn]] void jump_exit(int status);

// Returns driver(argc, argv); what it throws ends the run: running out of memory is fatal 100,
// another standard exception and anything else fatal 1.
int runCaught(int (*driver)(int, char**), int argc, char** argv);

#endif

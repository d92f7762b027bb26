// The bounds of one web request in time and memory, from the web server's environment:
// VARKEL_CGI_TIME_LIMIT (seconds, default 60) and VARKEL_CGI_MEMORY_LIMIT (MiB, default
// 1024). Past its time a request's running statement is cancelled on the database server,
// a URL transfer is stopped, and the request ends with a message; an allocation past its
// memory ends it with error 100. The command line has no such bounds, and builds under
// AddressSanitizer no memory limit (its own allocator and shadow memory stand in the way).
#ifndef VARKEL_REQUESTLIMITS_H
#define VARKEL_REQUESTLIMITS_H

#include <cstddef>

// The defaults of the two variables.
const int defaultRequestSeconds = 60;
const int defaultRequestMiB = 1024;

// The limit a variable sets: its value when it is a whole number from 1 to most, else
// fallback.
int requestLimitFrom(const char* value, int most, int fallback);

// Starts the bounds of the web request now: the heap of the process is counted from here
// and held to the memory limit (the address space to 1 GiB more, for the mappings that do
// not come from the heap), and a watchdog thread waits for the time limit. At the time limit it
// calls the cancel hook (below); when the request has not ended itself a second later, it
// writes the time-limit message and ends the process with status 1. Called once, in CGI
// mode only.
void startRequestLimits();

// The started request's time limit in seconds; 0 when no request was started.
int requestTimeLimit();

// True once a started request has passed its time limit.
bool requestTimedOut();

// Sets the function that cancels the request's running work (null for none). The
// watchdog calls it at the time limit; once this returns, a hook being replaced is no
// longer running, so its handle may be freed.
void setRequestCancel(void (*cancel)());

// Ends a request past its time limit: the message on the page and in the server's log,
// the page closed, status 1.
[[noreturn]] void endTimedOutRequest();

#endif

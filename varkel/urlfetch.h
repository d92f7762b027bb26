// URL documents: a data source named by a URL, fetched whole into memory with libcurl
// within bounds of size and time, then read line by line.
#ifndef VARKEL_URLFETCH_H
#define VARKEL_URLFETCH_H

#include <stddef.h>

#include <string>

// Bounds of a URL fetch: the largest document (bytes), the seconds to connect, and the
// seconds the transfer may stall (less than one byte a second) before it is given up
// (VARKEL_URL_STALL_TIME, a whole number of seconds, sets another). A web request's
// transfer also ends at the request's time limit.
const size_t maxUrlDocument = size_t(256) << 20;
const long urlConnectTimeout = 30;
const long urlStallTimeout = 60;

// Fetches the whole document at url into memory, replacing the previous one, and returns
// 0. A document that cannot be found is reported by the first urlGetLine. A document
// larger than maxUrlDocument, and a source that times out, are error 2.
int urlFetch(const char* url);

// Copies the next line of the fetched document, without its LF, into buffer (max bytes,
// always terminated) and returns its length, or -1 at the end of the document (an empty
// last line is no line). A line of max characters or more is error 6 like a file line.
// When no document was delivered: "URL not found. ..." and exit status -32.
int urlGetLine(char* buffer, int max);

// Completion of a fetch: document becomes the fetched document (its contents are taken)
// and reading starts at its beginning. The last call of a fetch wins.
void HTCallClient(std::string& document);

#endif

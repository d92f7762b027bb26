// Messages whose text arguments may come from a web request: a printf-style formatter that
// cleans every %s and %c argument on its way into standard error (control bytes replaced,
// so that one request cannot forge lines of the server's log) or into an HTML answer
// (markup written as entities). The format's own text, line ends included, stays as it is.
#ifndef COMMON_MESSAGETEXT_H
#define COMMON_MESSAGETEXT_H

#include <cstdarg>
#include <cstdio>
#include <string>

// How the text arguments of a message are written.
enum ArgumentCleaning {
  keepArguments,   // unchanged
  logArguments,    // bytes below 32 and 127 become '?'
  htmlArguments,   // '&', '<', '>' and '"' become entities (htmlEscape)
};

// Set by a program that answers a web request: from then on the messages it writes to
// standard error (fatal, logMessage) have their text arguments cleaned for a log [false].
extern bool requestMessages;

// text with every byte below 32 and 127 replaced by '?'.
std::string logSafe(const std::string& text);

// format filled from ap as vsnprintf would, every %s and %c argument cleaned as asked.
// The conversions of the C library are understood (flags, widths, precisions, '*' and the
// length modifiers); %n is not.
std::string formatMessage(ArgumentCleaning cleaning, const char* format, va_list ap);

// fprintf to standard error, the arguments cleaned for a log when requestMessages is set.
void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif

// The CGI form decoder shared by the builder, mapgate and pellack: every form field of the
// request becomes an environment variable "W3_" + its name, which the programs then read.
#ifndef CGI_UNCGI_H
#define CGI_UNCGI_H

// The most bytes of a request body that postread accepts; a CONTENT_LENGTH above it is
// treated as no body.
const long maxBodyLength = 16L * 1024 * 1024;

// Decodes the request once, before any "W3_" variable is read: the fields of a non-empty
// QUERY_STRING first, then, when readBody is true and REQUEST_METHOD is "POST", those of a
// form-encoded body. Never rejects input; ends through html_perror when memory runs out.
void uncgi(bool readBody);

// Splits text at every '&' (empty pieces included) and hands each piece, in order, to
// fillenv. text is changed in place.
void scanquery(char* text);

// Decodes one "name=value" piece in place and sets its variable "W3_" + name (dots in the
// name become '_'; a leading '_' marks the value for trimming). A variable the decoder met
// before gets "new#old".
void fillenv(char* piece);

// Reads a form body from standard input: a malloc'd NUL-terminated text of at most
// CONTENT_LENGTH bytes (less when the input ends first), or null when CONTENT_TYPE is not
// exactly "application/x-www-form-urlencoded", CONTENT_LENGTH is missing, not a decimal
// number, negative or above maxBodyLength, or memory runs out.
char* postread();

// Decodes '+' to a blank and %XX to its byte, in place; returns the new end of the text.
// A '%' without two hex digits after it, and "%00", are copied unchanged.
char* url_deescape(char* text);

// Decodes %XX to its byte, in place, "%00" included (so the text may end before the returned
// end); '+' stays. For scrambled credentials, whose bytes may be any.
char* url_decode(char* text);

// The value of the two hex digits at two (either case); callers check both digits first.
unsigned char hextoi(const char* two);

// Writes the error page to standard output and ends the process with status 1. step names
// the failing step for a reader of the code; the page does not show it.
[[noreturn]] void html_perror(const char* step);

#endif

// Texts inside the values of the page and the cube file: labels, keys, match values and
// separators are written escaped, so that a value never holds a bare ';' (the separator of
// tree entries and of record-query elements), a quote, markup or a line end; the cube
// re-reader undoes the escapes exactly.
#ifndef VARKEL_ESCAPES_H
#define VARKEL_ESCAPES_H

#include <cstddef>
#include <string>

// Longest escaped label the viewer is given: a label is cut to whole escapes within it.
const size_t labelLimit = 254;

// The escaped form of text: control bytes 1-31 and '"' '$' '%' '*' '+' '<' '>' '\' as '%'
// and two lower-case hex digits, every ';' as "%5c%3b" (an escaped backslash and
// semicolon, so that a reader of the decoded text can split at unescaped ';'), every other
// byte as it is. When limit is not 0 the result is cut before the first escape or byte
// that would pass limit characters; an escape is never cut. A text without those bytes
// is its own escaped form.
std::string escapeCarefully(const char* text, size_t limit = 0);

// The length of text when it is its own escaped form, else (a byte to escape) -1.
long plainLength(const char* text);

// The inverse of escapeCarefully on a whole (uncut) form: "%5c%3b" is ';', and '%' with
// two hex digits is the byte when it is one that escapeCarefully escapes (either case of
// hex digit). Anything else, such as a '%' of a cube written before '%' was escaped, stays
// as it stands.
std::string unescapeCarefully(const std::string& text);

#endif

// The escapes of texts inside setting values, both ways.
#include "varkel/escapes.h"

#include <cctype>
#include <cstring>
#include <strings.h>

#include "common/util.h"

namespace {

const char hexDigits[] = "0123456789abcdef";

// Per byte: 1 when it is written as '%' and two hex digits, 2 for ';', which has a form
// of its own; 0 for every other byte. A table, as every label of a large tree is escaped.
struct EscapeKinds {
  unsigned char kind[256] = {};
  EscapeKinds() {
    for (int b = 1; b <= 31; b++) kind[b] = 1;
    for (const char* p = "\"$%*+<>\\"; *p; p++) kind[(unsigned char)*p] = 1;
    kind[(unsigned char)';'] = 2;
  }
};
const EscapeKinds escapeKinds;

bool isEscaped(unsigned char b) { return escapeKinds.kind[b] == 1; }

}  // namespace

long plainLength(const char* text) {
  const unsigned char* p = (const unsigned char*)text;
  for (; *p; p++)
    if (escapeKinds.kind[*p]) return -1;
  return long(p - (const unsigned char*)text);
}

std::string escapeCarefully(const char* text, size_t limit) {
  std::string out;
  if (!text) return out;
  for (const unsigned char* p = (const unsigned char*)text; *p; p++) {
    char piece[7];
    size_t n;
    if (*p == ';') {
      memcpy(piece, "%5c%3b", 6);
      n = 6;
    } else if (isEscaped(*p)) {
      piece[0] = '%';
      piece[1] = hexDigits[*p >> 4];
      piece[2] = hexDigits[*p & 15];
      n = 3;
    } else {
      piece[0] = (char)*p;
      n = 1;
    }
    if (limit && out.size() + n > limit) break;
    out.append(piece, n);
  }
  return out;
}

std::string unescapeCarefully(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '%' && text.size() - i >= 6 && strncasecmp(&text[i], "%5c%3b", 6) == 0) {
      out += ';';
      i += 5;
      continue;
    }
    if (text[i] == '%' && text.size() - i >= 3 && isxdigit((unsigned char)text[i + 1]) &&
        isxdigit((unsigned char)text[i + 2])) {
      unsigned char b = (unsigned char)(hexVal(text[i + 1]) * 16 + hexVal(text[i + 2]));
      if (b == ';' || isEscaped(b)) {
        out += (char)b;
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// Text utilities shared by the builder and the CGI services.
#include "common/textutil.h"

#include <ctype.h>
#include <string.h>

#include <string>

#include "common/util.h"

char* _newStr(const char* text, const char* file, int line) {
  if (!text) return nullptr;
  char* copy = strdup(text);
  if (!copy) fatal(100, "Out of memory copying while copying string. (%s:%d)\n", file, line);
  return copy;
}

void xfree(void* p) {
  if (p) free(p);
}

void replaceQuotes(char* text) {
  for (; text && *text; text++)
    if (*text == '"') *text = '\'';
}

void replaceQuotes(std::string& text) {
  for (char& c : text)
    if (c == '"') c = '\'';
}

void convertQuotes(char* text) {
  for (; text && *text; text++)
    if (*text == '"' || *text == '\'') *text = ' ';
}

void quoteRegexpChars(char* text) {
  static const char special[] = "^$|[]()+?*.";
  if (!text || !strpbrk(text, "^$|[]()+?*.\\")) return;
  std::string out;
  out.reserve(strlen(text) * 2);
  for (const char* p = text; *p; p++) {
    if (*p == '\\') {
      if (p[1] == '.') {
        out += "\\.";
        p++;
      } else {
        out += "\\\\";
      }
    } else if (strchr(special, *p)) {
      out += '\\';
      out += *p;
    } else {
      out += *p;
    }
  }
  memcpy(text, out.c_str(), out.size() + 1);
}

char* toLowerCase(char* text) {
  if (!text) return nullptr;
  for (; *text; text++) *text = (char)tolower((unsigned char)*text);
  return text;
}

char* toUpperCase(char* text) {
  if (!text) return nullptr;
  for (; *text; text++) *text = (char)toupper((unsigned char)*text);
  return text;
}

bool allDigits(const char* text) {
  if (*text == '-') text++;
  for (; *text; text++)
    if (*text < '0' || *text > '9') return false;
  return true;
}

int findPattern(const char* text, const char* pattern) {
  const char* at = strstr(text, pattern);
  return at ? (int)(at - text) : -1;
}

int findFirst(const char* text, int start, const char* set) {
  int len = (int)strlen(text);
  if (start < 0) start = 0;
  for (int i = start; i < len; i++)
    if (strchr(set, text[i])) return i;
  return -1;
}

int reverseFindFirst(const char* text, int position, const char* set) {
  if (position < 0) return -1;
  int len = (int)strlen(text);
  if (position > len) position = len;
  for (int i = position; i >= 0; i--)
    if (text[i] == '\0' || strchr(set, text[i])) return i;
  return -1;
}

int reverseFindPattern(const char* text, const char* pattern) {
  int n = (int)strlen(text), m = (int)strlen(pattern);
  if (n == 0 || m == 0 || m > n) return -1;
  for (int i = n - m; i >= 0; i--)
    if (memcmp(text + i, pattern, m) == 0) return i;
  return -1;
}

std::string htmlEscape(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; p++) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += *p;
    }
  }
  return out;
}

bool breaksTreeItem(const std::string& text) {
  return text.find_first_of(";\r\n") != std::string::npos;
}

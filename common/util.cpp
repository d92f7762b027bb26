// Codecs and helpers shared by every program of the system.
#include "common/util.h"

#include "common/messagetext.h"

#include <cctype>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

void (*fatalCleanupHook)() = nullptr;
void (*fatalMessageHook)() = nullptr;

const char spibbleAlphabet[65] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz,.";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int hexVal(char c) {
  int v = hexDigit(c);
  return v < 0 ? 0 : v;
}

int getNibbles(int n, const char* text, int* pos) {
  int v = 0;
  for (int i = 0; i < n; i++) {
    char c = text[*pos];
    if (c == '\0') fatal(110, "Text ends inside a hex number at byte %d\n", *pos);
    int d = hexDigit(c);
    if (d < 0) fatal(110, "Bad hex digit '%c' at byte %d\n", c, *pos);
    v = v * 16 + d;
    (*pos)++;
  }
  return v;
}

string getString(int n, const char* text, int* pos) {
  if (text[*pos] == '|') return string();
  int start = *pos;
  int len = 0;
  for (int i = 0; i < n; i++) {
    char c = text[*pos];
    // The end of the text read as a digit is a negative length, as older readers saw it.
    if (c == '\0') fatal(110, "Found negative string length at byte %d\n", start);
    int d = hexDigit(c);
    if (d < 0) fatal(110, "Bad string length digit '%c' at byte %d\n", c, *pos);
    len = len * 16 + d;
    (*pos)++;
  }
  const char* body = text + *pos;
  if (strnlen(body, len) < size_t(len))
    fatal(110, "String of length %d at byte %d runs past the end of the text\n", len, start);
  *pos += len;
  return string(body, len);
}

string makeString(int n, const char* text) {
  size_t len = strlen(text);
  // The largest length n hex digits can spell: 16^n - 1.
  size_t limit = n <= 0 ? 0 : (n >= 8 ? 0xFFFFFFFFu : (size_t(1) << (4 * n)) - 1);
  if (len > limit)
    fatal(110, "String of %zu bytes is too long for %d length digits, max %zu\n", len, n,
          limit);
  string out(n > 0 ? n : 0, '0');
  for (int i = n - 1; i >= 0 && len > 0; i--, len >>= 4) out[i] = "0123456789abcdef"[len & 15];
  return out + text;
}

int getBoolean(const char* text, int* pos) {
  if (text[*pos] == '\0') fatal(110, "Text ends where a flag was expected at byte %d\n", *pos);
  return text[(*pos)++] - '0';
}

char makeSpibble(int v) {
  if (v > 63) fatal(110, "%d too large to fit in a spibble, max value %d\n", v, 63);
  if (v < 0) fatal(110, "%d is negative and cannot be a spibble\n", v);
  return spibbleAlphabet[v];
}

// Position of c in the alphabet, or -1.
static int spibbleValue(char c) {
  if (c == '\0') return -1;
  const char* p = strchr(spibbleAlphabet, c);
  return p ? int(p - spibbleAlphabet) : -1;
}

int getSpibble(const char* text, int* pos) {
  if (text[*pos] == '\0') fatal(110, "Text ends where a spibble was expected at byte %d\n", *pos);
  return spibbleValue(text[(*pos)++]);
}

int getSpibble(const string& text, unsigned& pos) {
  if (pos >= text.size())
    fatal(110, "Text ends where a spibble was expected at byte %u\n", pos);
  return spibbleValue(text[pos++]);
}

string makeDoubleSpibble(int v) {
  string s;
  s += spibbleAlphabet[(v >> 4) & 15];
  s += spibbleAlphabet[v & 15];
  return s;
}

int getDoubleSpibble(char* text, int* pos) {
  int a = getSpibble(text, pos);
  int b = getSpibble(text, pos);
  return a * 64 + b;
}

const char* getOperatorString(char op) {
  switch (op) {
    case 'L': return "equals";
    case 'M': return "not equals";
    case 'N': return "contains";
    case 'O': return "not contains";
    case 'P': return "startswith";
    case 'Q': return "not startswith";
    case 'R': return "endswith";
    case 'S': return "not endswith";
    case 'T': return "=";
    case 'U': return "<>";
    case 'V': return ">";
    case 'W': return "<";
    case 'X': return ">=";
    case 'Y': return "<=";
    case 'Z': return "regexp";
    case 'z': return "not regexp";
  }
  fatal(110, "Unknown match operator char '%c'\n", op);
}

const char* getSortString(int code) {
  static const char* const names[] = {"", "sorta-z", "sortz-a", "sort0-9", "sort9-0"};
  if (code < 0 || code > 4) fatal(110, "Unknown sort type %d\n", code);
  return names[code];
}

const char* getFormatString(int code) {
  static const char* const names[] = {"", "dollars", "integer", "hoursmins", "percent"};
  if (code < 0 || code > 4) fatal(110, "Unknown extract format %d\n", code);
  return names[code];
}

char* trimSpaces(char* s) {
  size_t n = strlen(s);
  while (n > 0 && s[n - 1] == ' ') s[--n] = '\0';
  while (*s == ' ') s++;
  return s;
}

string trimSpaces(string& s) {
  size_t end = s.find_last_not_of(' ');
  if (end == string::npos) {
    s.clear();
    return s;
  }
  s.erase(end + 1);
  s.erase(0, s.find_first_not_of(' '));
  return s;
}

char* trimQuotes(char* s, char q) {
  size_t n = strlen(s);
  if (n >= 1 && s[0] == q && s[n - 1] == q) {
    if (n == 1) {
      s[0] = '\0';
      return s;
    }
    s[n - 1] = '\0';
    return s + 1;
  }
  return s;
}

int strCompare(const char* a, const char* b) {
  for (;; a++, b++) {
    int ca = tolower((unsigned char)*a), cb = tolower((unsigned char)*b);
    if (*a == '\0' && *b == '\0') return 0;
    if (*a == '\0' || *b == '\0') return -1;
    if (ca != cb) return ca - cb;
  }
}

int endsWith(const char* s, const char* suffix) {
  size_t n = strlen(s), m = strlen(suffix);
  if (m > n) return 0;
  return memcmp(s + n - m, suffix, m) == 0 ? 1 : 0;
}

string changeExt(string& name, const char* ext) {
  size_t dot = name.rfind('.');
  if (dot == string::npos) return name + ext;
  return name.substr(0, dot) + ext;
}

double convertToNumber(const char* text, bool& bad) {
  bad = false;
  if (text == nullptr || *text == '\0') return 0.0;
  string clean;
  bool paren = false;
  for (const char* p = text; *p; p++) {
    char c = *p;
    if ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E' ||
        c == 'd' || c == 'D')
      clean += c;
    else if (c == ',' || c == ')')
      ;
    else if (c == '(')
      paren = true;
    else
      bad = true;
  }
  if (clean.empty()) return 0.0;
  double v = strtod(clean.c_str(), nullptr);
  if (paren && v > 0) v = -v;
  return v;
}

void removeTempFiles() {
  if (fatalCleanupHook) fatalCleanupHook();
}

void fatal(int code, const char* format, ...) {
  fflush(stdout);
  va_list ap;
  va_start(ap, format);
  std::string text = formatMessage(requestMessages ? logArguments : keepArguments, format, ap);
  va_end(ap);
  if (fatalMessageHook) fatalMessageHook();
  fprintf(stderr, "Error %03d: ", code);
  fwrite(text.data(), 1, text.size(), stderr);
  fflush(stderr);
  removeTempFiles();
  exit(code);
}

static void noteFileSizeLimit(int) {}

void catchCleanupSignals(const int* signals, int count, void (*handler)(int)) {
  for (int i = 0; i < count; i++) {
    struct sigaction old;
    if (sigaction(signals[i], nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    signal(signals[i], handler);
  }
  struct sigaction limit;
  memset(&limit, 0, sizeof limit);
  limit.sa_handler = noteFileSizeLimit;
  sigemptyset(&limit.sa_mask);
  sigaction(SIGXFSZ, &limit, nullptr);
}

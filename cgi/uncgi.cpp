// The CGI form decoder: query string and form-encoded body to "W3_" environment variables.
#include "cgi/uncgi.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>

#include "common/util.h"

// Texts this decoder handed to putenv; only these may be freed when a repeated field
// replaces its variable (a variable the process started with is left alone). Never
// destroyed: the environment keeps using the texts until the process is gone.
static std::set<char*>& ownedTexts = *new std::set<char*>;

unsigned char hextoi(const char* two) {
  return (unsigned char)(hexVal(two[0]) * 16 + hexVal(two[1]));
}

// Shared by both decoders; form says the text is a form field: '+' stands for a blank, and
// "%00" stays as it is, so that no NUL cuts a name or value short.
static char* decode(char* text, bool form) {
  char* out = text;
  for (char* in = text; *in; in++) {
    if (*in == '+' && form) {
      *out++ = ' ';
    } else if (*in == '%' && hexDigit(in[1]) >= 0 && hexDigit(in[2]) >= 0 &&
               (!form || hextoi(in + 1) != 0)) {
      *out++ = (char)hextoi(in + 1);
      in += 2;
    } else {
      *out++ = *in;
    }
  }
  *out = '\0';
  return out;
}

char* url_deescape(char* text) { return decode(text, true); }

char* url_decode(char* text) { return decode(text, false); }

void html_perror(const char* step) {
  (void)step;
  fputs("Content-type: text/html\n\n", stdout);
  fputs("<html><head><title>Error!</title></head><body>\n", stdout);
  fputs("<p>The following error occurred while processing your query.\n", stdout);
  fflush(stdout);
  exit(1);
}

static bool isWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The cleaning of a value whose field name began with '_', in place.
static void trimValue(char* value) {
  char* in = value;
  while (isWhite(*in)) in++;
  char* out = value;
  for (; *in; in++) {
    if (*in == '\r') {
      if (in[1] == '\0') break;
      if (in[1] == '\n') continue;  // the LF that follows stands for both
      *out++ = '\n';
    } else {
      *out++ = *in;
    }
  }
  while (out > value && isWhite(out[-1])) out--;
  *out = '\0';
}

void fillenv(char* piece) {
  url_deescape(piece);
  bool trim = false;
  if (*piece == '_') {
    trim = true;
    piece++;
  }
  char* eq = strchr(piece, '=');
  size_t nameLen = eq ? (size_t)(eq - piece) : strlen(piece);
  char* value = eq ? eq + 1 : piece + nameLen;
  if (trim && *value) trimValue(value);

  // "W3_" + name, dots to underscores; the name alone first, for the lookup.
  size_t varLen = 3 + nameLen;
  size_t valueLen = strlen(value);
  char* name = (char*)malloc(varLen + 1);
  if (!name) html_perror("fillenv");
  memcpy(name, "W3_", 3);
  for (size_t i = 0; i < nameLen; i++) name[3 + i] = piece[i] == '.' ? '_' : piece[i];
  name[varLen] = '\0';

  const char* old = getenv(name);
  char* text;
  if (old) {
    size_t oldLen = strlen(old);
    text = (char*)malloc(varLen + 1 + valueLen + 1 + oldLen + 1);
    if (!text) html_perror("fillenv: append");
    memcpy(text, name, varLen);
    text[varLen] = '=';
    memcpy(text + varLen + 1, value, valueLen);
    text[varLen + 1 + valueLen] = '#';
    memcpy(text + varLen + 1 + valueLen + 1, old, oldLen + 1);
  } else {
    text = (char*)malloc(varLen + 1 + valueLen + 1);
    if (!text) html_perror("fillenv");
    memcpy(text, name, varLen);
    text[varLen] = '=';
    memcpy(text + varLen + 1, value, valueLen + 1);
  }
  // The environment's entry still points at the old text until putenv replaces it.
  char* oldText = old ? (char*)old - varLen - 1 : nullptr;
  putenv(text);
  ownedTexts.insert(text);
  if (oldText && ownedTexts.erase(oldText)) free(oldText);
  free(name);
}

void scanquery(char* text) {
  char* piece = text;
  for (;;) {
    char* amp = strchr(piece, '&');
    if (amp) *amp = '\0';
    fillenv(piece);
    if (!amp) break;
    piece = amp + 1;
  }
}

// The decimal value of CONTENT_LENGTH, or -1 when it is no usable length.
static long contentLength() {
  const char* text = getenv("CONTENT_LENGTH");
  if (!text || !*text) return -1;
  long n = 0;
  for (const char* p = text; *p; p++) {
    if (*p < '0' || *p > '9') return -1;
    n = n * 10 + (*p - '0');
    if (n > maxBodyLength) return -1;
  }
  return n;
}

char* postread() {
  const char* type = getenv("CONTENT_TYPE");
  if (!type || strcmp(type, "application/x-www-form-urlencoded") != 0) return nullptr;
  long n = contentLength();
  if (n < 0) return nullptr;
  // The buffer grows with what actually arrives, so a claimed length costs nothing.
  size_t cap = 4096, got = 0;
  char* buf = (char*)malloc(cap + 1);
  if (!buf) return nullptr;
  while (got < (size_t)n) {
    if (got == cap) {
      size_t more = cap * 2;
      char* grown = (char*)realloc(buf, more + 1);
      if (!grown) {
        free(buf);
        return nullptr;
      }
      buf = grown;
      cap = more;
    }
    size_t want = (size_t)n - got;
    if (want > cap - got) want = cap - got;
    size_t r = fread(buf + got, 1, want, stdin);
    if (r == 0) break;
    got += r;
  }
  buf[got] = '\0';
  return buf;
}

void uncgi(bool readBody) {
  const char* query = getenv("QUERY_STRING");
  if (query && *query) {
    char* copy = strdup(query);
    if (!copy) html_perror("uncgi");
    scanquery(copy);
    free(copy);
  }
  if (readBody) {
    const char* method = getenv("REQUEST_METHOD");
    if (method && strcmp(method, "POST") == 0) {
      char* body = postread();
      if (body && *body) scanquery(body);
      free(body);
    }
  }
}

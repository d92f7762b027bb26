// mapgate: a CGI program that turns a selection made in the viewer into a document. A map
// file names a base, an extension and the selection names whose values make up the path;
// the result is answered with a redirect script (http, file and ftp targets) or with the
// local file itself. One request per process; nothing is written to disk.
#include "cgi/uncgi.h"
#include "common/requestpaths.h"
#include "common/textutil.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>

using std::string;

static const int MaxSlots = 50;       // selection slots and map lines; one is kept ahead
static const int MaxDepths = 10;      // exact depths per map line
static const int TextSize = 256;      // texts, map lines and the target: 255 characters
static const size_t BigBufSize = 2000000;
static const size_t TooLarge = 1999995;  // a read this long may have been cut short

// Selection items of the request: item 0 is the map file path, the rest name=value pairs.
static char paramnames[MaxSlots][TextSize];
static char paramvalues[MaxSlots][TextSize];
// Next free selection slot; runs on from "W3_mapfile" into "W3_query".
static int paramIndex = 0;

// Lines of the map file without their depth suffixes, and the number of them.
static char mapentries[MaxSlots][TextSize];
static int mapIndex = 0;
// Exact depths of each map line, in the order they were peeled off the end of the line.
static int mapNumExactDepths[MaxSlots];
static int mapExactDepths[MaxSlots][MaxDepths];
// Set for a map line too long for its slot: its cut text must not stand for the whole line.
static bool mapLineCut[MaxSlots];

// The target being built from the map file and the selection.
static char targetfilename[TextSize];
// The map file's bytes, and later those of the file being sent.
static char bigbuf[BigBufSize];

// Set when the request came with "W3_debugfile" instead of "W3_mapfile".
static bool debug = false;

// text made safe inside a double-quoted JavaScript string within a script element.
static string jsEscape(const char* text) {
  string out;
  for (const char* p = text; *p; p++) {
    switch (*p) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '<': out += "\\x3c"; break;
      case '>': out += "\\x3e"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += *p;
    }
  }
  return out;
}

static bool isItemEnd(char c) { return c == ';' || c == '?' || c == '&'; }
static bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

// Deletes, in place, every character that could steer a path or a pattern:
// ^ \ / [ ] * $ - blank TAB . > < ) ( %
void replaceSpecialCharacters(char* text) {
  char* out = text;
  for (char* p = text; *p; p++)
    if (!strchr("^\\/[]*$- \t.><)(%", *p)) *out++ = *p;
  *out = '\0';
}

// Drops the first character of text (the operator letter of a value), in place.
void consumeLeadingCharacter(char* text) {
  if (*text) memmove(text, text + 1, strlen(text));
}

// Replaces text by the n characters after its two hex digits of length n, in place; fewer
// when the text ends first. False, with text unchanged, when it does not start with two hex
// digits.
bool unRunlengthCode2(char* text) {
  if (!isxdigit((unsigned char)text[0]) || !isxdigit((unsigned char)text[1])) return false;
  size_t n = hextoi(text);
  size_t have = strlen(text + 2);
  if (n > have) n = have;
  memmove(text, text + 2, n);
  text[n] = '\0';
  return true;
}

// Cleans one "prefix=name=value" item of len bytes and adds it to the next selection slot.
// Items without a '=', with a name or value not led by two hex digits, or beyond the last
// slot add nothing.
static void addItem(const char* item, size_t len) {
  if (paramIndex >= MaxSlots - 1) return;
  const char* eq = (const char*)memchr(item, '=', len);
  if (!eq) return;
  const char* rest = eq + 1;
  size_t restLen = len - (rest - item);
  const char* nameEnd = (const char*)memchr(rest, '=', restLen);
  string name, value;
  if (nameEnd) {
    name.assign(rest, nameEnd - rest);
    value.assign(nameEnd + 1, restLen - (nameEnd + 1 - rest));
  } else {
    name.assign(rest, restLen);
  }
  replaceSpecialCharacters(&name[0]);
  replaceSpecialCharacters(&value[0]);
  consumeLeadingCharacter(&value[0]);
  if (!unRunlengthCode2(&name[0]) || !unRunlengthCode2(&value[0])) return;
  // Two hex digits count at most 255 characters, so both fit their slots.
  snprintf(paramnames[paramIndex], TextSize, "%s", name.c_str());
  snprintf(paramvalues[paramIndex], TextSize, "%s", value.c_str());
  if (debug)
    printf("<p>Parameter[%d]: '%s'  value: '%s'\n", paramIndex,
           htmlEscape(paramnames[paramIndex]).c_str(),
           htmlEscape(paramvalues[paramIndex]).c_str());
  paramIndex++;
}

// Ends the request for a map file it may not use: absent, unreadable, out of reach, or
// named too long.
[[noreturn]] static void refuseMapFile(const char* path) {
  printf("<p>Invalid map file name '%s'.\n", htmlEscape(path).c_str());
  exit(0);
}

// Ends the request for a destination file that cannot be served.
[[noreturn]] static void refuseDestination(const char* path) {
  printf("<p>Invalid destination file name '%s'.\n", htmlEscape(path).c_str());
  exit(0);
}

// Adds the items of text to the selection slots. The first item of the request is the map
// file path, kept unchanged under the name "mapfilename"; a path too long for its slot ends
// the request as an invalid map file.
void getParameters(const char* text) {
  const char* p = text;
  if (paramIndex == 0) {
    size_t n = strcspn(p, ";?&");
    if (n >= (size_t)TextSize) {
      refuseMapFile(text);
    }
    snprintf(paramnames[0], TextSize, "%s", "mapfilename");
    memcpy(paramvalues[0], p, n);
    paramvalues[0][n] = '\0';
    if (debug)
      printf("<p>Parameter[%d]: '%s'  value: '%s'\n", 0, paramnames[0],
             htmlEscape(paramvalues[0]).c_str());
    paramIndex = 1;
    p += n;
    if (*p) p++;
  }
  while (*p) {
    size_t n = strcspn(p, ";?&");
    if (n > 0) addItem(p, n);
    p += n;
    if (isItemEnd(*p)) p++;
  }
}

// Adds one map line of len bytes, peeling its ";depth" suffixes off the end. Lines beyond the
// last slot, and depths beyond the tenth, are dropped.
static void addMapLine(const char* text, size_t len) {
  if (mapIndex >= MaxSlots - 1) return;
  string line(text, len);
  if (debug) printf("<p>Map entry[%d]: '%s'\n", mapIndex, htmlEscape(line.c_str()).c_str());
  mapNumExactDepths[mapIndex] = 0;
  size_t cut;
  while ((cut = line.rfind(';')) != string::npos) {
    // The digits are taken as they come, unchecked; unsigned arithmetic keeps that defined.
    unsigned depth = 0;
    for (size_t i = cut + 1; i < line.size(); i++) depth = depth * 10 + (unsigned)(line[i] - '0');
    line.resize(cut);
    if (debug)
      printf("<p>Map entry[%d] changed to: '%s'\n", mapIndex, htmlEscape(line.c_str()).c_str());
    if (mapNumExactDepths[mapIndex] < MaxDepths) {
      mapExactDepths[mapIndex][mapNumExactDepths[mapIndex]++] = (int)depth;
      if (debug) printf("<p>Added map entry[%d] depth: '%d'\n", mapIndex, (int)depth);
    }
  }
  mapLineCut[mapIndex] = line.size() >= (size_t)TextSize;
  snprintf(mapentries[mapIndex], TextSize, "%s", line.c_str());
  mapIndex++;
}

// Reads the map file at path into the map lines and their depths. A name that does not end
// in ".map", a file outside the directories open to requests (VARKEL_CGI_DATA_DIRS, or the
// working directory), one that cannot be opened or read, or one too large ends the request
// with its message.
void readMapfile(const char* path) {
  // Only map files, and only where the server keeps data for requests: the debug lines and
  // the messages show a map file's lines, which must never be those of another file.
  size_t length = strlen(path);
  bool mapName = length > 4 && strcasecmp(path + length - 4, ".map") == 0;
  bool refused = !mapName;
  FILE* f = mapName ? openRequestFile(path, &refused) : nullptr;
  if (!f) {
    refuseMapFile(path);
  }
  size_t n = fread(bigbuf, 1, BigBufSize, f);
  bool bad = ferror(f) != 0;
  fclose(f);
  if (bad) {
    refuseMapFile(path);
  }
  if (n >= TooLarge) {
    printf("<p>File '%s' is too large for this program to use.\n", htmlEscape(path).c_str());
    exit(0);
  }
  // The map file is a text: it ends at its first NUL.
  n = strnlen(bigbuf, n);
  size_t pos = 0;
  while (pos < n) {
    size_t end = pos;
    while (end < n && !isLineEnd(bigbuf[end])) end++;
    addMapLine(bigbuf + pos, end - pos);
    while (end < n && isLineEnd(bigbuf[end])) end++;
    pos = end;
  }
}

// Answers with a script that sends the browser to target, with "?hint=" and W3_hint when
// the request carried one.
void sendJavaScript(const char* target) {
  const char* hint = getenv("W3_hint");
  if (hint)
    printf("<script>document.location.replace(\"%s?hint=%s\")</script>\n",
           jsEscape(target).c_str(), jsEscape(hint).c_str());
  else
    printf("<script>document.location.replace(\"%s\")</script>\n", jsEscape(target).c_str());
}

// Answers with the bytes of the file at path (relative to the working directory). A file
// that cannot be opened or read, or that is too large, ends the request with its message.
void sendFile(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) {
    refuseDestination(path);
  }
  size_t n = fread(bigbuf, 1, BigBufSize, f);
  bool bad = ferror(f) != 0;
  fclose(f);
  if (bad) {
    refuseDestination(path);
  }
  if (n >= TooLarge) {
    printf("<p>File '%s' is too large for this program to serve.\n", htmlEscape(path).c_str());
    exit(0);
  }
  fwrite(bigbuf, 1, n, stdout);
}

// True when map line i asks for the occurrence numbered counter (0 is the last one).
static bool wantsDepth(int i, int counter) {
  if (mapNumExactDepths[i] == 0) return true;
  for (int d = 0; d < mapNumExactDepths[i]; d++)
    if (mapExactDepths[i][d] == counter) return true;
  return false;
}

int main() {
  printf("Content-type: text/html\n\n");
  uncgi(true);

  const char* file = getenv("W3_mapfile");
  if (!file) {
    file = getenv("W3_debugfile");
    debug = true;
  }
  if (debug) printf("<p>Use an extension of '_no_extension_' to append no file extension.\n");
  const char* query = getenv("W3_query");
  if (!query) query = "";
  if (!file) {
    printf("<p>No 'mapfile' parameter received.\n");
    return 0;
  }

  paramIndex = 0;
  getParameters(file);
  readMapfile(paramvalues[0]);
  getParameters(query);

  if (mapIndex < 2) {
    printf("<p>Incomplete mapfile '%s'.\n", htmlEscape(paramvalues[0]).c_str());
    return 0;
  }

  string target = mapentries[0];
  bool cut = mapLineCut[0];
  for (int i = 2; i < mapIndex; i++) {
    // No selection name is that long, so the line's cut text matches nothing either.
    if (mapLineCut[i]) continue;
    int counter = 0;
    for (int j = paramIndex - 1; j >= 1; j--) {
      if (strcmp(paramnames[j], mapentries[i]) != 0) continue;
      if (wantsDepth(i, counter)) {
        target += '/';
        target += paramvalues[j];
      }
      counter++;
    }
  }
  if (strcmp(mapentries[1], "_no_extension_") != 0) {
    target += mapentries[1];
    cut = cut || mapLineCut[1];
  }
  // A base or extension cut to fit its slot would name some other file.
  if (cut || target.size() >= (size_t)TextSize) {
    printf("<p>Destination '%s' is too long for this program to use.\n",
           htmlEscape(target.c_str()).c_str());
    return 0;
  }
  snprintf(targetfilename, TextSize, "%s", target.c_str());

  char scheme[5] = {0};
  memcpy(scheme, targetfilename, strnlen(targetfilename, 4));
  toLowerCase(scheme);
  if (!strcmp(scheme, "http") || !strcmp(scheme, "file") || !strcmp(scheme, "ftp:"))
    sendJavaScript(targetfilename);
  else
    sendFile(targetfilename);
  return 0;
}

// Record input: record buffers, line reading from files, commands and URL documents, the
// field splitter and the field slots of profile field names.
#include "varkel/input.h"
#include "varkel/recordfield.h"

#include <assert.h>
#include <curl/curl.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/messagetext.h"
#include "common/util.h"
#include "varkel/options.h"
#include "varkel/requestlimits.h"

char inputFields[maxInputFields][fieldSize];        // the record being processed
char newDataFieldNames[maxInputFields][fieldSize];  // the data's column names
char dataFieldNames[maxInputFields][fieldSize];     // the profile's names by field slot
char* inputBuffer = nullptr;                        // allocated by the driver at start-up
char separator = '\t';                              // field separator of record lines

void setSeparator(char c) { separator = c; }

// The last fetched URL document. delivered stays false until a fetch completes, so the
// first read of a document that was never found can say so.
static std::string urlDocument;
static size_t urlPosition = 0;
static bool urlDelivered = false;
static std::string urlName;  // for the "not found" message

// Ends the run the way every exit does, without a message: in CGI mode the answer page
// simply stops where it was.
[[noreturn]] static void quietExit(int status) {
  fflush(stdout);
  removeTempFiles();
  exit(status);
}

// size: the bytes of the buffer the line did not fit.
[[noreturn]] static void lineTooLong(int size) {
  if (isCGI) quietExit(1);
  fatal(6, "Input line too long! (More than %d characters!)\n", size);
}

namespace {

// The bytes of a file or command read ahead of the line being handed out: lines are cut
// straight from this block, so each byte is copied once, from the source into the block.
// stream: the source they came from (null: none); [start, end): the bytes not yet handed
// out. The block has room for a whole block read after the longest partial line, and 16
// bytes more for the scan's last read.
struct LineBlock {
  FILE* stream = nullptr;
  std::vector<char> bytes;
  size_t start = 0, end = 0;
  bool atEnd = false;  // the source has no more bytes
};
LineBlock block;
const size_t blockRead = size_t(1) << 20;
const size_t scanSlack = 16;

// The longest line start a line feed must lie in: a line with its line feed holds at
// most inputBufferSize - 2 characters, and one without at most as many.
const size_t lineWindow = inputBufferSize - 2;

// The first of n bytes at p that is a LF, CR or NUL, or n when none is. May read up to 15
// bytes past p + n, which must lie in the same allocation.
size_t lineCut(const char* p, size_t n) {
  typedef unsigned char Bytes __attribute__((vector_size(16)));
  const Bytes lf = Bytes{} + '\n', cr = Bytes{} + '\r', nul = Bytes{};
  for (size_t i = 0; i < n; i += 16) {
    Bytes v;
    memcpy(&v, p + i, 16);
    Bytes hit = (Bytes)((v == lf) | (v == cr) | (v == nul));
    uint64_t lo, hi;
    memcpy(&lo, &hit, 8);
    memcpy(&hi, reinterpret_cast<const char*>(&hit) + 8, 8);
    if (!(lo | hi)) continue;
    size_t at = i + (lo ? __builtin_ctzll(lo) >> 3 : 8 + (__builtin_ctzll(hi) >> 3));
    return at < n ? at : n;
  }
  return n;
}

// Appends the next bytes of stream to the block; false at its end or on a read error.
// Standard input goes through its stream, which may hold bytes read before (a web
// request's form); other sources are read only here, so their descriptor is read directly.
bool fillBlock(FILE* stream) {
  if (block.start > 0) {
    memmove(block.bytes.data(), block.bytes.data() + block.start, block.end - block.start);
    block.end -= block.start;
    block.start = 0;
  }
  char* to = block.bytes.data() + block.end;
  size_t room = block.bytes.size() - scanSlack - block.end;
  ssize_t got;
  if (stream == stdin) {
    got = ssize_t(fread(to, 1, room, stream));
  } else {
    do got = read(fileno(stream), to, room);
    while (got < 0 && errno == EINTR);
  }
  if (got <= 0) return false;
  block.end += size_t(got);
  return true;
}

void dropBlock() {
  block.stream = nullptr;
  block.start = block.end = 0;
  block.atEnd = false;
}

// The next line of stream, cut at its first CR, LF or NUL, terminated there in the block,
// and its length in *length; null at the end of the data. It stays valid until the next
// read of a line.
const char* blockLine(FILE* stream, size_t* length) {
  if (block.stream != stream) {
    dropBlock();
    block.stream = stream;
    if (block.bytes.empty()) block.bytes.assign(lineWindow + 1 + blockRead + scanSlack, 0);
  }
  for (;;) {
    char* line = block.bytes.data() + block.start;
    size_t available = block.end - block.start;
    size_t window = available < lineWindow ? available : lineWindow;
    size_t cut = lineCut(line, window);
    size_t lineEnd = window;
    if (cut < window) {
      if (line[cut] == '\n') {
        lineEnd = cut;
      } else {
        const void* lf = memchr(line + cut, '\n', window - cut);
        if (lf) lineEnd = size_t(static_cast<const char*>(lf) - line);
      }
    }
    if (lineEnd < window) {
      block.start += lineEnd + 1;
    } else if (available > lineWindow) {
      lineTooLong(inputBufferSize);
    } else if (!block.atEnd) {
      if (!fillBlock(stream)) block.atEnd = true;
      continue;
    } else if (available == 0) {
      dropBlock();
      return nullptr;
    } else {
      block.start = block.end;  // the last line, without its line feed
    }
    line[cut] = '\0';
    *length = cut;
    return line;
  }
}

}  // namespace

char* getLine(FILE* stream, char* buffer, int dataType) {
  if (dataType == 3) {
    if (urlGetLine(buffer, inputBufferSize) < 0) return nullptr;
    buffer[strcspn(buffer, "\r\n")] = '\0';
    return buffer;
  }
  size_t length;
  const char* line = blockLine(stream, &length);
  if (!line) return nullptr;
  memcpy(buffer, line, length + 1);
  return buffer;
}

const char* nextLine(FILE* stream, int dataType, size_t* length) {
  if (dataType != 3) return blockLine(stream, length);
  const char* line = getLine(stream, inputBuffer, dataType);
  if (line) *length = strlen(line);
  return line;
}

void forgetLines() { dropBlock(); }

// The rows extractNextRecordFields writes; null for all.
static const unsigned char* neededRows = nullptr;

void setNeededFields(const unsigned char* mask) { neededRows = mask; }

// Stores the finished field as row n (quotes, then blanks trimmed) unless need says the row
// is not read, and returns n + 1.
static int storeField(char rows[][fieldSize], int n, char* field, int len,
                      const unsigned char* need) {
  if (n >= maxInputFields)
    fatal(7, "Exceeding maximum number of %d input fields\n", maxInputFields);
  if (need && !need[n]) return n + 1;
  assert(len >= 0 && len < fieldSize);
  field[len] = '\0';
  char* text = trimSpaces(trimQuotes(field, '"'));
  size_t size = strlen(text);
  memmove(rows[n], text, size + 1);
  return n + 1;
}

// Copies a field's size bytes (fewer than fieldSize) from text to row and terminates it.
// Short fields, the usual ones, move as a few words that overlap, all read before any is
// written.
static inline void putField(char* row, const char* text, int size) {
  if (size >= 8 && size <= 16) {
    uint64_t head, tail;
    memcpy(&head, text, 8);
    memcpy(&tail, text + size - 8, 8);
    memcpy(row, &head, 8);
    memcpy(row + size - 8, &tail, 8);
  } else if (size >= 4 && size < 8) {
    uint32_t head, tail;
    memcpy(&head, text, 4);
    memcpy(&tail, text + size - 4, 4);
    memcpy(row, &head, 4);
    memcpy(row + size - 4, &tail, 4);
  } else if (size > 0 && size < 4) {
    char first = text[0], middle = text[size / 2], last = text[size - 1];
    row[0] = first;
    row[size / 2] = middle;
    row[size - 1] = last;
  } else {
    memmove(row, text, size);
  }
  row[size] = '\0';
}

// The fields the last split of inputFields stored: the rows from there on are empty.
static int inputFieldsUsed = maxInputFields;

#ifndef NDEBUG
// What the last split of inputFields filled, for the asserts of currentField: whether it
// followed a mask, and the mask as it was then (the caller may change its copy later).
static bool splitWasMasked = false;
static unsigned char filledRows[maxInputFields];
#endif

bool inputFieldIsCurrent(int field) {
#ifndef NDEBUG
  if (splitWasMasked && field >= 0 && field < inputFieldsUsed && field < maxInputFields)
    return filledRows[field] != 0;
#endif
  (void)field;
  return true;
}

// The splitter; rows from clearFrom on are known to be empty and are left alone.
// The line ends at end, before its first NUL, CR or LF.
static int splitFields(char rows[][fieldSize], const char* line, const char* end, char sep,
                       int clearFrom, const unsigned char* need);

int extractInputFields(char rows[][fieldSize], const char* line, char sep) {
  int n = splitFields(rows, line, line + strcspn(line, "\r\n"), sep, maxInputFields, nullptr);
  if (rows == inputFields) {
    inputFieldsUsed = n;
#ifndef NDEBUG
    splitWasMasked = false;
#endif
  }
  return n;
}

int extractNextRecordFields(const char* line, size_t length, char sep) {
  assert(strcspn(line, "\r\n") == length);
  int n = splitFields(inputFields, line, line + length, sep, inputFieldsUsed, neededRows);
  inputFieldsUsed = n;
#ifndef NDEBUG
  splitWasMasked = neededRows != nullptr;
  if (neededRows) memcpy(filledRows, neededRows, sizeof filledRows);
#endif
  return n;
}

static int splitFields(char rows[][fieldSize], const char* line, const char* end, char sep,
                       int clearFrom, const unsigned char* need) {
  const int maxLen = fieldSize - 1;
  char field[fieldSize];
  int n = 0, len = 0;
  bool quoted = false, lineHasCut = false;
  const char* p = line;
  // The plain fields are found by their separator alone, eight bytes at a time.
  auto atEnd = [end](const char* q) { return q >= end; };
  const uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
  const uint64_t separators = ones * (unsigned char)sep;
  while (!atEnd(p)) {
    char c = *p;
    if (len == 0 && !quoted && c != '"' && c != ' ' && c != sep) {
      // A field that starts with neither a quote nor a blank: quotes inside it change
      // nothing and only trailing blanks are trimmed, so it is copied in one piece. Such
      // fields usually follow one another, so the next one is taken here too.
      for (;;) {
        const char* start = p;
        while (end - p >= 8) {
          uint64_t word;
          memcpy(&word, p, 8);
          word ^= separators;
          uint64_t zero = (word - ones) & ~word & highs;  // its lowest bit marks the first
          if (zero) {
            p += __builtin_ctzll(zero) >> 3;
            goto fieldEnd;
          }
          p += 8;
        }
        while (p < end && *p != sep) p++;
      fieldEnd:
        int size = int(p - start);
        if (size > maxLen) {
          size = maxLen;
          lineHasCut = true;
        }
        if (n >= maxInputFields)
          fatal(7, "Exceeding maximum number of %d input fields\n", maxInputFields);
        if (!need || need[n]) {
          while (size > 0 && start[size - 1] == ' ') size--;
          putField(rows[n], start, size);
        }
        n++;
        if (atEnd(p) || atEnd(++p)) goto lineEnd;  // past the separator
        c = *p;
        if (c == '"' || c == ' ' || c == sep) break;
      }
      continue;
    }
    if (c == '"' && !lineHasCut) quoted = (len == 0);
    if (len == 0 && c == ' ') {
      while (*p == ' ') p++;
      if (atEnd(p)) break;
      c = *p;
    }
    if (c == sep && !quoted) {
      n = storeField(rows, n, field, len, need);
      len = 0;
    } else if (len == maxLen) {
      while (!atEnd(p) && *p != sep) p++;
      quoted = false;
      lineHasCut = true;
      continue;  // the separator, if any, ends the field
    } else {
      field[len++] = c;
    }
    p++;
  }
  if (len > 0) n = storeField(rows, n, field, len, need);
lineEnd:
  // Rows that are empty already are only read: most of them are, and a write to every one
  // of the 513 rows per record costs more than the rest of the split.
  for (int i = n; i < clearFrom; i++)
    if (rows[i][0]) rows[i][0] = '\0';
  return n;
}

// A document being fetched, and whether it grew past maxUrlDocument.
struct Fetched {
  std::string body;
  bool tooLarge = false;
};

// libcurl's write callback: gathers the document, and stops the transfer past the cap.
static size_t gatherDocument(char* data, size_t size, size_t count, void* user) {
  Fetched* fetched = static_cast<Fetched*>(user);
  size_t n = size * count;
  if (n > maxUrlDocument - fetched->body.size()) {
    fetched->tooLarge = true;
    return 0;
  }
  fetched->body.append(data, n);
  return n;
}

// libcurl's progress callback: stops the transfer of a web request past its time limit.
static int stopPastTimeLimit(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return requestTimedOut() ? 1 : 0;
}

// The seconds a transfer may stall: VARKEL_URL_STALL_TIME when it is a whole number of
// seconds, else urlStallTimeout.
static long stallSeconds() {
  return requestLimitFrom(getenv("VARKEL_URL_STALL_TIME"), 86400, (int)urlStallTimeout);
}

// Every option of a fetch, in one place: what may be fetched and how, and the bounds that
// keep an endless or silent source from holding the builder.
static void setFetchOptions(CURL* curl, const char* url, Fetched* fetched, char* errors) {
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "varkel/2.0");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  // A web request reaches only web documents, also through redirects.
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, isCGI ? "http,https" : "http,https,ftp,file");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, isCGI ? "http,https" : "http,https,ftp");
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);  // status 400 and above: no document
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (isCGI) {
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, stopPastTimeLimit);
  } else {
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, (curl_off_t)maxUrlDocument);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, urlConnectTimeout);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errors);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, gatherDocument);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, fetched);
}

void HTCallClient(std::string& document) {
  urlDocument.swap(document);
  // The document is a text: it ends at its first NUL.
  size_t nul = urlDocument.find('\0');
  if (nul != std::string::npos) urlDocument.resize(nul);
  urlPosition = 0;
  urlDelivered = true;
}

int urlFetch(const char* url) {
  urlDocument.clear();
  urlPosition = 0;
  urlDelivered = false;
  urlName = url;

  static bool curlReady = false;
  if (!curlReady) {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != 0) fatal(2, "Unable to open url '%s'\n", url);
    curlReady = true;
  }
  CURL* curl = curl_easy_init();
  if (!curl) fatal(2, "Unable to open url '%s'\n", url);
  Fetched fetched;
  char errors[CURL_ERROR_SIZE] = "";
  setFetchOptions(curl, url, &fetched, errors);
  CURLcode rc = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (requestTimedOut()) endTimedOutRequest();
  if (fetched.tooLarge || rc == CURLE_FILESIZE_EXCEEDED)
    fatal(2, "The document at url '%s' is larger than the limit of %zu bytes.\n", url,
          maxUrlDocument);
  if (rc == CURLE_OPERATION_TIMEDOUT)
    fatal(2, "Unable to fetch url '%s': %s\n", url, errors[0] ? errors : "timed out");
  if (rc == CURLE_OK) HTCallClient(fetched.body);
  return 0;
}

int urlGetLine(char* buffer, int max) {
  if (!urlDelivered) {
    logMessage("URL not found. Check the data source \"%s\".\n", urlName.c_str());
    quietExit(-32);
  }
  size_t size = urlDocument.size();
  assert(urlPosition <= size);
  if (urlPosition >= size) return -1;
  size_t end = urlDocument.find('\n', urlPosition);
  size_t lineEnd = end == std::string::npos ? size : end;
  size_t len = lineEnd - urlPosition;
  if (max <= 0 || len >= (size_t)max) lineTooLong(max);
  memcpy(buffer, urlDocument.data() + urlPosition, len);
  buffer[len] = '\0';
  urlPosition = end == std::string::npos ? size : end + 1;
  if (len == 0 && end != std::string::npos && urlPosition == size) return -1;
  return (int)len;
}

int getFieldIndex(const char* name) {
  if (skipFirstLine != 1) {
    if (!name[0]) return 0;
    // The number is read as atoi would, but bounded: a slot is a row of the buffers.
    const char* p = name + 1;
    while (*p == ' ' || *p == '\t') p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    long slot = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
      slot = slot * 10 + (*p - '0');
      if (slot >= maxInputFields) break;
    }
    if (negative) slot = -slot;
    if (slot < 0 || slot >= maxInputFields)
      fatal(110, "Field '%s' names a field number outside 0 to %d.\n", name, maxInputFields - 1);
    return (int)slot;
  }
  char trimmed[fieldSize];
  snprintf(trimmed, sizeof trimmed, "%s", name + strspn(name, " "));
  char* text = trimSpaces(trimmed);
  for (int i = 0; i < maxInputFields; i++) {
    if (strcmp(dataFieldNames[i], text) == 0) return i;
    if (dataFieldNames[i][0] == '\0') {
      memcpy(dataFieldNames[i], text, strlen(text) + 1);
      return i;
    }
  }
  fatal(110, "Too many field names: '%s' would be field %d, but at most %d are allowed.\n", name,
        maxInputFields + 1, maxInputFields);
}

bool isFieldName(const char* text) {
  for (int i = 0; i < maxInputFields; i++)
    if (strcmp(newDataFieldNames[i], text) == 0) return true;
  return false;
}

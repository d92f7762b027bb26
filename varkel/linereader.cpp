// Line reader: the lines of record files, commands and fetched URL documents, each cut at
// its first CR or LF (see linereader.h).
#include "varkel/linereader.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "common/util.h"
#include "varkel/input.h"
#include "varkel/urlfetch.h"
#include "varkel/options.h"
#include "varkel/report.h"

// Ends the run the way every exit does, without a message: in CGI mode the answer page
// simply stops where it was.
[[noreturn]] void quietExit(int status) {
  fflush(stdout);
  removeTempFiles();
  exit(status);
}

// size: the bytes of the buffer the line did not fit.
[[noreturn]] void lineTooLong(int size) {
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
  static_assert(sizeof(Bytes) - 1 <= scanSlack, "the block's slack holds a scan's last read");
  for (size_t i = 0; i < n; i += sizeof(Bytes)) {
    Bytes v;
    memcpy(&v, p + i, sizeof v);
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

const char* linesAhead(size_t* length) {
  *length = block.end - block.start;
  return block.stream && *length ? block.bytes.data() + block.start : nullptr;
}

// pellack: a CGI program that stores documents posted by the viewer under a file name and
// hands each back to the browser, for ten minutes, as a download whose content type follows
// the name's extension. All documents live in one capture file, "pellack.f", in the working
// directory; every access holds an exclusive lock on it, waiting a few seconds at most for it.
//
// A record of the capture file: the name (32 bytes: the name, a NUL, blanks), the time of
// posting and the data length with its NUL (32 bytes each: "%31d" and a NUL), then the data
// and its NUL. One NUL byte after the last record ends the live part. A store writes in place
// behind the live part; a fetch that drops expired records puts a new file in place.
#include "cgi/uncgi.h"
#include "common/util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

static const char* const CaptureFile = "pellack.f";
static const int FieldSize = 32;
static const int HeaderSize = 3 * FieldSize;
static const long DataBufSize = 2100000;    // the data and its NUL
static const long MaxNameLength = FieldSize - 1;
static const long long Lifetime = 600;      // seconds a document can be fetched
static const int FindPasses = 20;
// How long a request waits for another to release the capture file, and how often it asks.
static const int LockWaitMs = 5000;
static const int LockPollMs = 5;

// One record as read from or written to the capture file: header, then data, and room for
// the end mark that a store writes after it.
static char recordBuf[HeaderSize + DataBufSize + 1];

// Set once the text/plain header of writeMessage's answer has gone out.
static bool sentHeaders = false;

// The header fields of one record read from the capture file.
struct RecordHead {
  char name[FieldSize];  // always NUL-terminated
  long long time;
  long length;           // data bytes, its NUL included
};

// Asks for an exclusive lock on the whole file fd without waiting. 0 when granted, else -1;
// the lock ends when the file is closed.
int doLock(int fd) {
  struct flock lock;
  memset(&lock, 0, sizeof lock);
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return fcntl(fd, F_SETLK, &lock) == -1 ? -1 : 0;
}

// Appends "MESSAGE: " + message + "\n" to "ErrorLog.txt" (skipped when the log cannot be
// opened) and answers message as plain text, the header sent once per process.
void writeMessage(const char* message) {
  FILE* log = fopen("ErrorLog.txt", "a");
  if (log) {
    fprintf(log, "MESSAGE: %s\n", message);
    fclose(log);
  }
  if (!sentHeaders) {
    printf("Content-type: text/plain\n\n");
    sentHeaders = true;
  }
  fputs(message, stdout);
}

// Reads or writes all len bytes at offset; false on any shortfall.
static bool readAt(int fd, char* buf, size_t len, off_t offset) {
  while (len > 0) {
    ssize_t n = pread(fd, buf, len, offset);
    if (n <= 0) return false;
    buf += n;
    len -= n;
    offset += n;
  }
  return true;
}

static bool writeAt(int fd, const char* buf, size_t len, off_t offset) {
  while (len > 0) {
    ssize_t n = pwrite(fd, buf, len, offset);
    if (n <= 0) return false;
    buf += n;
    len -= n;
    offset += n;
  }
  return true;
}

// Reads the header of the record at pos into head and recordBuf. False at the end of the
// live part: a name that begins with NUL, or a record that does not fit in the file's size
// or the data buffer (a damaged tail is read as the end).
static bool readHead(int fd, off_t pos, off_t size, RecordHead* head) {
  if (pos + HeaderSize > size) return false;
  if (!readAt(fd, recordBuf, HeaderSize, pos)) return false;
  if (recordBuf[0] == '\0') return false;
  char field[FieldSize];
  memcpy(head->name, recordBuf, FieldSize);
  head->name[FieldSize - 1] = '\0';
  memcpy(field, recordBuf + FieldSize, FieldSize);
  field[FieldSize - 1] = '\0';
  head->time = atoll(field);
  memcpy(field, recordBuf + 2 * FieldSize, FieldSize);
  field[FieldSize - 1] = '\0';
  head->length = atol(field);
  if (head->length < 1 || head->length > DataBufSize) return false;
  if (head->length > size - pos - HeaderSize) return false;
  return true;
}

// The position after the last live record of fd (size bytes long), and whether a record
// is named name (when name is not null).
static off_t scanRecords(int fd, off_t size, const char* name, bool* seen) {
  off_t pos = 0;
  if (seen) *seen = false;
  if (size < 2) return 0;
  RecordHead head;
  while (readHead(fd, pos, size, &head)) {
    if (name && strcmp(head.name, name) == 0) *seen = true;
    pos += HeaderSize + head.length;
    if (pos > size - 2) break;
  }
  return pos;
}

static off_t fileSize(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? st.st_size : 0;
}

// The answer header for a stored name, or null when its type is not supported.
static const char* contentType(const char* name) {
  struct Type {
    const char* ext;
    const char* header;
  };
  static const Type types[] = {
      {".html", "Content-type: text/html\n\n"},
      {".pdf", "Content-type: application/pdf\n\n"},
      {".xls", "Content-type: application/vnd.ms-excel\n\n"},
      {".txt", "Content-type: text/plain\n\n"},
      {".csv", "Content-type: text/csv\n\n"},
      {".rtf", "Content-type: application/rtf\n\n"},
      {".doc", "Content-type: application/msword\n\n"},
  };
  for (const Type& t : types)
    if (endsWith(name, t.ext)) return t.header;
  return nullptr;
}

static void failHtml(const char* paragraph) {
  printf("Content-type: text/html\n\n%s", paragraph);
  exit(0);
}

// Gets the lock on fd, waiting up to LockWaitMs for another request to finish with the file.
// 0 when granted, else not 0.
static int waitForLock(int fd) {
  for (int waited = 0;; waited += LockPollMs) {
    if (doLock(fd) == 0) return 0;
    if (waited >= LockWaitMs) return -1;
    usleep(LockPollMs * 1000);
  }
}

// Opens the capture file (flags as for open) and locks it. -1 when it cannot be opened,
// -2 when the lock cannot be had in time. A fetch may have put a compacted file in place
// while this one waited: the lock then holds the old file, so it is opened again.
static int openLocked(int flags) {
  for (int attempt = 0;; attempt++) {
    int fd = open(CaptureFile, flags, 0666);
    if (fd < 0) return -1;
    if (waitForLock(fd) != 0) {
      close(fd);
      return -2;
    }
    struct stat held, named;
    if (fstat(fd, &held) == 0 && stat(CaptureFile, &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
      return fd;
    close(fd);
    if (attempt == 100) return -2;
  }
}

// openLocked for a fetch: the failures answer and end the request.
static int openForFetch(const char* openFailure) {
  int fd = openLocked(O_RDWR);
  if (fd == -1) failHtml(openFailure);
  if (fd < 0) failHtml("<p>Failed to lock file.\n");
  return fd;
}

// The compacted capture file while it is being written beside the real one. One fixed name,
// written only by the holder of the capture file's lock, so that what a killed process
// leaves behind is one copy that the next compaction takes over, never one per kill. Removed
// by the handler of a signal that ends the process meanwhile.
static const char* const AsideFile = "pellack.f.new";
static volatile sig_atomic_t asideMade = 0;

static void dropAside(int sig) {
  if (asideMade) unlink(AsideFile);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Opens the copy's name for a new copy, emptied. Only a plain file of this process's user
// with no other name is taken over, as an earlier compaction would have left it; anything
// else under that name is left alone and -1 returned.
static int openAside(mode_t mode) {
  int out = open(AsideFile, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (out < 0) return -1;
  struct stat st;
  if (fstat(out, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      st.st_uid != geteuid() || ftruncate(out, 0) != 0 || fchmod(out, mode) != 0) {
    close(out);
    return -1;
  }
  return out;
}

// Puts the live records of fd (size bytes), those whose time is later than cutoff, in its
// place as a new file: written aside and renamed over the name while fd is locked, so that
// whatever ends the process the name holds either the old file or the whole new one. When
// no new file can be made the old one simply stays, expired records and all.
static void compact(int fd, off_t size, long long cutoff) {
  const int signals[] = {SIGHUP, SIGINT, SIGTERM};
  for (int sig : signals) signal(sig, dropAside);
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  int out = openAside(st.st_mode & 07777);
  if (out < 0) return;
  asideMade = 1;
  bool ok = true;
  off_t readPos = 0, writePos = 0;
  RecordHead head;
  while (ok && readHead(fd, readPos, size, &head)) {
    long total = HeaderSize + head.length;
    if (head.time > cutoff) {
      ok = readAt(fd, recordBuf + HeaderSize, head.length, readPos + HeaderSize) &&
           writeAt(out, recordBuf, total, writePos);
      writePos += total;
    }
    readPos += total;
    if (readPos > size - 2) break;
  }
  ok = ok && writeAt(out, "", 1, writePos) && fsync(out) == 0;
  ok = close(out) == 0 && ok;
  // Once renamed, the name is free for the next holder of the new file's lock: no handler
  // may remove that one's copy.
  sigset_t block, old;
  sigemptyset(&block);
  for (int sig : signals) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &old);
  if (!ok || rename(AsideFile, CaptureFile) != 0) unlink(AsideFile);
  asideMade = 0;
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Answers every live copy of name, waiting up to twenty passes for it to be stored, and
// drops the records that have expired by now.
static void fetch(const char* name) {
  time_t now = time(nullptr);

  bool seen = false;
  for (int pass = 0; pass < FindPasses && !seen; pass++) {
    int fd = openForFetch("<p>Failed to open file for reading (1).\n");
    scanRecords(fd, fileSize(fd), name, &seen);
    // The lock goes with the close, so a store can land during the wait.
    close(fd);
    if (!seen && pass + 1 < FindPasses) sleep(1);
  }
  if (!seen) failHtml("<p>Failed to find requested file.\n");

  // The answer is gathered first and sent once the capture file is settled, so that a
  // client hanging up cannot end the process half-way through the file.
  int fd = openForFetch("<p>Failed to open file for reading (2).\n");
  off_t size = fileSize(fd);
  // Compared this way round a time field of any size cannot overflow.
  long long cutoff = (long long)now - Lifetime;
  std::string answer;
  off_t readPos = 0;
  bool served = false, unsupported = false, expired = false;
  RecordHead head;
  while (size >= 2 && readHead(fd, readPos, size, &head)) {
    long total = HeaderSize + head.length;
    if (!unsupported && strcmp(head.name, name) == 0) {
      const char* type = contentType(head.name);
      if (!type) {
        answer += "Content-type: unknown\n\n<p>File type not supported.\n";
        unsupported = true;
      } else if (readAt(fd, recordBuf + HeaderSize, head.length, readPos + HeaderSize)) {
        answer += type;
        answer.append(recordBuf + HeaderSize, head.length);
        served = true;
      }
    }
    if (head.time <= cutoff) expired = true;
    readPos += total;
    if (readPos > size - 2) break;
  }
  if (expired) compact(fd, size, cutoff);
  close(fd);
  if (!served && !unsupported)
    answer = "Content-type: text/html\n\n<p>File is no longer available (" +
             std::to_string((int)size) + ").\n";
  fwrite(answer.data(), 1, answer.size(), stdout);
}

// Appends a record of data under name after the live records, and answers "OK".
static void store() {
  if (!getenv("W3_server")) return writeMessage("servername parameter missing\n");
  const char* name = getenv("W3_filename");
  if (!name) return writeMessage("filename parameter missing\n");
  const char* data = getenv("W3_data");
  if (!data) return writeMessage("data parameter missing");
  // An empty name would read back as the end mark; longer ones do not fit their field.
  size_t nameLength = strlen(name);
  if (nameLength == 0) return writeMessage("filename parameter empty\n");
  if (nameLength > (size_t)MaxNameLength) return writeMessage("filename parameter too long\n");
  // A line break in a name would make the capture file read as a text of several lines.
  for (const char* p = name; *p; p++)
    if ((unsigned char)*p < 32 || *p == 127)
      return writeMessage("filename parameter holds control characters\n");
  size_t dataLength = strlen(data);
  if (dataLength + 1 > (size_t)DataBufSize) return writeMessage("data parameter too long\n");

  int fd = openLocked(O_RDWR | O_CREAT);
  if (fd == -1) return writeMessage("Failed to open pellack.f");
  if (fd < 0) return writeMessage("Failed to lock file.\n");
  off_t end = scanRecords(fd, fileSize(fd), nullptr, nullptr);

  memset(recordBuf, ' ', FieldSize);
  memcpy(recordBuf, name, nameLength + 1);
  snprintf(recordBuf + FieldSize, FieldSize, "%31lld", (long long)time(nullptr));
  snprintf(recordBuf + 2 * FieldSize, FieldSize, "%31ld", (long)(dataLength + 1));
  // Data with its NUL, then the end mark; the header goes last, over the old end mark, so
  // an interrupted store leaves the earlier records as they were.
  char* body = recordBuf + HeaderSize;
  memcpy(body, data, dataLength + 1);
  body[dataLength + 1] = '\0';
  bool ok = writeAt(fd, body, dataLength + 2, end + HeaderSize) &&
            writeAt(fd, recordBuf, HeaderSize, end);
  close(fd);
  if (!ok) return writeMessage("Failed to write pellack.f");
  printf("Content-type: text/plain\n\nOK");
}

int main() {
  // A client that hangs up makes writes to it fail instead of ending the process.
  signal(SIGPIPE, SIG_IGN);
  const char* method = getenv("REQUEST_METHOD");
  if (method && strcmp(method, "GET") == 0) {
    uncgi(false);
    const char* name = getenv("W3_getFile");
    if (!name) return 0;
    fetch(name);
  } else {
    uncgi(true);
    store();
  }
  return 0;
}

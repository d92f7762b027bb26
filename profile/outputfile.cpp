// The output file of the profile tools, written aside and moved into place when whole. Where
// the file system allows it the new file has no name at all until the end (O_TMPFILE), so
// that not even SIGKILL can leave a part of it behind; elsewhere it has a unique name in the
// final name's directory, removed at every exit and on the usual signals.
#include "profile/outputfile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "common/util.h"

#include <string>

static FILE* stream = nullptr;  // the new file's stream; null when none is open
static std::string finalPath;   // the name the new file takes when whole
static std::string directory;   // the directory of finalPath with its '/', or ""
static std::string namePrefix;  // first letters of the new file's name
static bool inPlace = false;    // a device or FIFO, written where it is
static bool anonymous = false;  // the new file has no name yet
// The new file's name while it has one, for removal at exit or from a signal handler;
// empty when it has none.
static char tempName[PATH_MAX + 64];

static void removeTemp() {
  if (tempName[0]) unlink(tempName);
  tempName[0] = '\0';
}

static void removeOnSignal(int sig) {
  removeTemp();  // unlink and a plain store only: safe inside a signal handler
  signal(sig, SIG_DFL);
  raise(sig);
}

static const int cleanupSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM};

static void registerCleanup() {
  atexit(removeTemp);
  catchCleanupSignals(cleanupSignals, int(sizeof cleanupSignals / sizeof *cleanupSignals),
                      removeOnSignal);
}

// A new file with a unique name beside the final name; its name goes to tempName.
static int makeNamed() {
  std::string templ = directory + namePrefix + "XXXXXX";
  if (templ.size() >= sizeof tempName) {
    errno = ENAMETOOLONG;
    return -1;
  }
  char name[sizeof tempName];
  strcpy(name, templ.c_str());
  int fd = mkostemp(name, O_CLOEXEC);
  if (fd >= 0) strcpy(tempName, name);
  return fd;
}

// Gives the file fd the owner and permissions of st, as far as this process may: only a
// privileged one can give a file away, and a file it cannot give keeps this process's owner.
static void takeOwnerAndMode(int fd, const struct stat& st) {
  if (fchown(fd, st.st_uid, st.st_gid) != 0 && fchown(fd, geteuid(), st.st_gid) != 0) {
    // The group stays the directory's.
  }
  if (fchmod(fd, st.st_mode & 07777) != 0) {
    // mkstemp's private permissions stay: safe, if narrower.
  }
}

FILE* openOutputFile(const char* finalName, const char* prefix) {
  namePrefix = prefix;
  finalPath = finalName;
  struct stat st;
  bool dangling = false;
  if (lstat(finalName, &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(finalName, resolved) != nullptr)
      finalPath = resolved;
    else
      dangling = true;
  }
  bool exists = !dangling && stat(finalPath.c_str(), &st) == 0;
  if (!dangling && !exists && errno != ENOENT) return nullptr;
  if (exists && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return nullptr;
  }
  // A link that names nothing yet, a device or a FIFO: there is no file to replace.
  if (dangling || (exists && !S_ISREG(st.st_mode))) {
    inPlace = true;
    stream = fopen(finalName, "w");
    return stream;
  }
  // A file its owner made read-only stays refused, as opening it for writing would be.
  if (exists && access(finalPath.c_str(), W_OK) != 0) return nullptr;

  size_t slash = finalPath.rfind('/');
  directory = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
  registerCleanup();
  int fd = open(directory.empty() ? "." : directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC,
                0600);
  anonymous = fd >= 0;
  if (!anonymous) fd = makeNamed();
  if (fd < 0) return nullptr;
  // The new file takes the old one's owner and permissions, as a rewrite in place kept them;
  // a new name gets the ordinary ones.
  if (exists) {
    takeOwnerAndMode(fd, st);
  } else {
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) {
      // mkstemp's private permissions stay: safe, if narrower.
    }
  }
  stream = fdopen(fd, "w");
  if (stream == nullptr) {
    int saved = errno;
    close(fd);
    removeTemp();
    errno = saved;
  }
  return stream;
}

// Gives the nameless new file a unique name beside the final name, in tempName: a link
// where /proc shows the descriptor, else a copy of its bytes.
static bool nameAnonymous(int fd) {
  char procName[64];
  snprintf(procName, sizeof procName, "/proc/self/fd/%d", fd);
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  unsigned long long seed = (unsigned long long)now.tv_nsec * 6364136223846793005ULL ^
                            (unsigned long long)getpid() << 20 ^ (unsigned long long)now.tv_sec;
  for (int attempt = 0; attempt < 100; attempt++) {
    std::string name = directory + namePrefix;
    for (int i = 0; i < 6; i++) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      name += letters[(seed >> 33) % (sizeof letters - 1)];
    }
    if (name.size() >= sizeof tempName) {
      errno = ENAMETOOLONG;
      return false;
    }
    if (linkat(AT_FDCWD, procName, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      strcpy(tempName, name.c_str());
      return true;
    }
    if (errno != EEXIST) break;
  }
  // No /proc to link from: the bytes go to a named file instead.
  int copy = makeNamed();
  if (copy < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok) takeOwnerAndMode(copy, st);
  char buf[65536];
  off_t at = 0;
  while (ok) {
    ssize_t n = pread(fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    at += n;
    for (ssize_t done = 0; ok && done < n;) {
      ssize_t w = write(copy, buf + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      ok = w > 0;
      if (ok) done += w;
    }
  }
  int saved = errno;
  if (close(copy) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!ok) removeTemp();
  errno = saved;
  return ok;
}

bool finishOutputFile() {
  FILE* f = stream;
  stream = nullptr;
  if (f == nullptr) {
    errno = EBADF;
    return false;
  }
  bool ok = fflush(f) == 0 && !ferror(f);
  int saved = errno;
  if (inPlace) {
    if (fclose(f) != 0 && ok) {
      ok = false;
      saved = errno;
    }
    errno = saved;
    return ok;
  }
  // No signal may come between the new file's naming and its move: it would leave the name
  // behind, or remove a file that is already in place.
  sigset_t block, old;
  sigemptyset(&block);
  for (int sig : cleanupSignals) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &old);
  if (ok && anonymous) {
    ok = nameAnonymous(fileno(f));
    saved = errno;
  }
  if (fclose(f) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(tempName, finalPath.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (ok)
    tempName[0] = '\0';
  else
    removeTemp();
  sigprocmask(SIG_SETMASK, &old, nullptr);
  errno = saved;
  return ok;
}

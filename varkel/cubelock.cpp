// The hold an increment keeps on the cube it extends. Two increments of one cube that both
// read it before either has replaced it would each write the old cells plus only their own
// records, and the later rename would drop the other's. So an increment locks the file it
// re-reads (flock, which belongs to the open file and so survives the reader's own opening
// and closing of that name) from before the read until the process ends, after its outputs
// are in place. The finish replaces the file by a rename, so a run that waited finds its
// lock on a file that no longer has the name: it then locks the file now under the name
// (the first run's result) and reads that. No lock file is made; nothing is left behind.
#include "varkel/cubelock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/util.h"
#include "varkel/report.h"

// How long an increment waits for another one on the same cube, in seconds, unless
// VARKEL_INCREMENTAL_WAIT says otherwise.
static const int defaultIncrementalWait = 600;

// The descriptor that holds the lock; open until the process ends.
static int heldCube = -1;

int incrementalWaitSeconds() {
  const char* text = getenv("VARKEL_INCREMENTAL_WAIT");
  if (!text || !*text) return defaultIncrementalWait;
  char* end = nullptr;
  errno = 0;
  long seconds = strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || seconds < 0 || seconds > 86400)
    fatal(1, "VARKEL_INCREMENTAL_WAIT must be a number of seconds from 0 to 86400, not '%s'.\n",
          text);
  return (int)seconds;
}

// The name the re-reader will open for profileName: its cube file, else its page.
static std::string cubeToRead(const char* profileName) {
  std::string name = profileName;
  std::string cubeFile = changeExt(name, ".cb4");
  if (access(cubeFile.c_str(), F_OK) == 0) return cubeFile;
  std::string page = changeExt(name, ".html");
  if (access(page.c_str(), F_OK) == 0) return page;
  return std::string();
}

static bool sameFile(int fd, const std::string& name) {
  struct stat held, named;
  return fstat(fd, &held) == 0 && stat(name.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

static double now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

void lockPreviousCube(const char* profileName) {
  if (heldCube >= 0) return;
  const int wait = incrementalWaitSeconds();
  const double deadline = now() + wait;
  bool told = false;
  for (;;) {
    std::string name = cubeToRead(profileName);
    if (name.empty()) return;  // nothing to hold; the re-reader reports the missing cube
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) continue;  // replaced between the look and the open: look again
      return;                         // the re-reader reports why it cannot be read
    }
    for (;;) {
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
      if (errno == ENOLCK || errno == EOPNOTSUPP) {
        // A file system without locks: build as before, unprotected, and say so.
        msg("Warning: the cube '%s' cannot be locked here (%s); another increment of it "
            "started now could be lost.\n", name.c_str(), strerror(errno));
        heldCube = fd;
        return;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) {
        int saved = errno;
        close(fd);
        fatal(2, "Couldn't lock the cube '%s': %s\n", name.c_str(), strerror(saved));
      }
      if (now() >= deadline) {
        close(fd);
        fatal(2, "The cube '%s' is being extended by another run; gave up after waiting %d "
              "seconds.\n", name.c_str(), wait);
      }
      if (!told) {
        msg("Waiting for another run to finish extending the cube '%s'.\n", name.c_str());
        told = true;
      }
      struct timespec pause = {0, 20 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
    // The run this one waited for has put its result under the name: hold that one.
    if (sameFile(fd, name) && cubeToRead(profileName) == name) {
      heldCube = fd;
      return;
    }
    close(fd);
  }
}

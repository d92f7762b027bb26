// Temporary output files: the page and the cube file are written under unique names in the
// working directory and replace the final names only when the run has succeeded, so an
// interrupted or failed run leaves the previous page and cube file as they were. A run
// removes only the files it made itself: what a run killed outright leaves behind stays,
// since a name alone cannot tell it from a file of the user's.
#include "varkel/outfiles.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/util.h"
#include "varkel/datasource.h"
#include "varkel/options.h"
#include "varkel/output.h"
#include "varkel/report.h"
#include "varkel/workbuffers.h"

FILE* ofp = nullptr;
FILE* cb4 = nullptr;
FILE* oclassfp = nullptr;
char outputTempName[tempNameSize] = "";
char cb4TempName[tempNameSize] = "";

// Copies made beside a final name that lies on another file system, so that the last step
// is a rename there too. Empty when none is pending; removed with the temporary files.
static char stagedPage[1100];
static char stagedCube[1100];

static mode_t fileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Makes a unique file from the template in dir (with its trailing '/', or ""), writes its
// name into name (size bytes) and returns its descriptor, or -1.
static int makeUnique(char* name, size_t size, const std::string& dir, const char* prefix) {
  std::string templ = dir + prefix + "XXXXXX";
  if (templ.size() >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  // mkstemp opens the name it chooses exclusively, so no other process can slip in; the
  // descriptor does not pass to the commands a run starts.
  int fd = mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  strcpy(name, buf.data());
  // A web server reads the pages: ordinary permissions, not mkstemp's private ones.
  if (fchmod(fd, fileMode()) != 0) {
    int saved = errno;
    close(fd);
    unlink(name);
    name[0] = '\0';
    errno = saved;
    return -1;
  }
  return fd;
}

FILE* createTempFile(char* name, const char* prefix) {
  char made[tempNameSize];
  int fd = makeUnique(made, sizeof made, "", prefix);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "w");
  if (!f) {
    close(fd);
    unlink(made);
    return nullptr;
  }
  strcpy(name, made);
  return f;
}

// Removes the file named in name, if any, and forgets the name so that no later exit can
// remove a file that someone else has since made under it.
static void removeNamed(char* name) {
  if (name[0]) unlink(name);
  name[0] = '\0';
}

void forgetTempNames() {
  outputTempName[0] = '\0';
  cb4TempName[0] = '\0';
}

void cleanupTempFiles() {
  removeNamed(outputTempName);
  removeNamed(cb4TempName);
  removeNamed(stagedPage);
  removeNamed(stagedCube);
}

static void cleanupOnSignal(int sig) {
  cleanupTempFiles();  // unlink and plain stores only: safe inside a signal handler
  signal(sig, SIG_DFL);
  raise(sig);
}

void registerTempCleanup() {
  static bool registered = false;
  if (!registered) atexit(cleanupTempFiles);
  registered = true;
  fatalCleanupHook = cleanupTempFiles;
  static const int signals[] = {SIGHUP, SIGINT, SIGPIPE, SIGTERM};
  catchCleanupSignals(signals, int(sizeof signals / sizeof *signals), cleanupOnSignal);
}

// A file the run writes or reads, by its role ("page", "profile") and its name.
struct RunFile {
  const char* role;
  std::string name;   // the name it is opened by
  std::string shown;  // the name as the user gave it
};

static bool pageFileWritten() { return ofp && ofp != stdout; }

// The files the finish writes, replaces or removes.
static std::vector<RunFile> outputFiles() {
  std::vector<RunFile> files;
  if (pageFileWritten()) files.push_back({"page", outputFileName, outputFileName});
  // The cube file is written, or removed when the page carries the cube.
  if (cb4FileName[0] && (emitCB4 || pageFileWritten()))
    files.push_back({"cube file", cb4FileName, cb4FileName});
  if (server && pageFileWritten()) {
    std::string serverPage = serverPageName(outputFileName, "server");
    std::string localPage = serverPageName(outputFileName, "local");
    files.push_back({"server page", serverPage, serverPage});
    files.push_back({"local page", localPage, localPage});
  }
  return files;
}

static std::vector<RunFile> inputFiles() {
  std::vector<RunFile> files;
  if (inputFileName && inputFileName[0])
    files.push_back({"profile", inputFileName, inputFileName});
  if (dataType == textData && dataFileName && newDataFileName && newDataFileName[0] &&
      strcmp(newDataFileName, "stdin") != 0)
    files.push_back({"data file", newDataFileName, dataFileName});
  return files;
}

void refuseOutputsOverInputs() {
  std::vector<RunFile> inputs = inputFiles();
  for (const RunFile& out : outputFiles()) {
    struct stat outStat;
    if (stat(out.name.c_str(), &outStat) != 0) continue;  // nothing there to lose
    for (const RunFile& in : inputs) {
      struct stat inStat;
      if (stat(in.name.c_str(), &inStat) != 0) continue;
      if (inStat.st_dev != outStat.st_dev || inStat.st_ino != outStat.st_ino) continue;
      if (out.shown == in.shown)
        fatal(1, "The %s and the %s cannot both be named %s.\n", out.role, in.role,
              out.shown.c_str());
      fatal(1, "The %s %s and the %s %s cannot be the same file.\n", out.role,
            out.shown.c_str(), in.role, in.shown.c_str());
    }
  }
}

// Gives stream a buffer of size bytes for the rest of the run. The builder writes from one
// thread, so the stream takes no lock for each of the millions of writes of a large cube.
static void giveBuffer(FILE* stream, size_t size) {
  char* buffer = static_cast<char*>(calloc(size, 1));
  if (!buffer) fatal(100, "%s", "Failed outputBuffer malloc.\n");
  setvbuf(stream, buffer, _IOFBF, size);
  __fsetlocking(stream, FSETLOCKING_BYCALLER);
}

void openOutputStreams() {
  if (outputFileName[0] == '\0' || strcmp(outputFileName, "stdout") == 0 ||
      strcmp(outputFileName, "-") == 0) {
    ofp = stdout;
  } else if (cubeOnly && emitCB4) {
    ofp = nullptr;  // the page file is left as it is
  } else {
    ofp = createTempFile(outputTempName, "vrk");
    if (!ofp) fatal(2, "Couldn't open %s as output file.\n", "vrkXXXXXX");
  }

  if (ofp) giveBuffer(ofp, 65536);

  if (emitClassData == 1 || emitClassHierarchy == 1) {
    oclassfp = fopen("lumetradata.java", "w");
    if (!oclassfp) fatal(2, "Couldn't open %s as output file.\n", "lumetradata.java");
  }
}

void pageToStandardOutput() { ofp = stdout; }

void dropCubeFile() {
  if (cb4 && cb4 != ofp) {
    fclose(cb4);
    removeNamed(cb4TempName);
  }
  cb4 = ofp;
}

void openCubeStream() {
  if (emitCB4 && cb4FileName[0] != '\0') {
    // The cube file would take the page's name at the finish and the page would be lost.
    if (ofp && ofp != stdout && strcmp(cb4FileName, outputFileName) == 0)
      fatal(1, "The page and the cube file cannot both be named %s.\n", outputFileName);
    cb4 = createTempFile(cb4TempName, "cb4");
    if (!cb4) fatal(2, "Couldn't open %s as CB4 output file.\n", "cb4XXXXXX");
    // A cube of a million cells is tens of megabytes: written in large pieces, it costs
    // few system calls.
    giveBuffer(cb4, 1 << 20);
  } else {
    cb4 = ofp;
  }
}

// Closes a finished temporary file; a write that failed on the way is fatal 2.
static void closeOutput(FILE* f, const char* finalName) {
  bool failed = fflush(f) != 0 || ferror(f);
  int saved = errno;
  if (fclose(f) != 0 && !failed) {
    failed = true;
    saved = errno;
  }
  if (failed) fatal(2, "Couldn't write %s: %s\n", finalName, strerror(saved));
}

// The directory that holds name, with its trailing '/' ("" for the working directory).
static std::string directoryOf(const char* name) {
  const char* slash = strrchr(name, '/');
  return slash ? std::string(name, slash - name + 1) : std::string();
}

static bool copyContents(const char* from, int to) {
  int in = open(from, O_RDONLY);
  if (in < 0) return false;
  char buf[65536];
  ssize_t n;
  bool ok = true;
  while (ok && (n = read(in, buf, sizeof buf)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(to, buf + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
  }
  int saved = errno;
  close(in);
  errno = saved;
  return ok;
}

// Copies temp into a new file beside finalName; its name goes to staged.
static void stageCopy(const char* temp, const char* finalName, char* staged, const char* prefix) {
  int fd = makeUnique(staged, 1100, directoryOf(finalName), prefix);
  if (fd < 0) fatal(2, "Couldn't copy %s to %s: %s\n", temp, finalName, strerror(errno));
  bool ok = copyContents(temp, fd);
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!ok) fatal(2, "Couldn't copy %s to %s: %s\n", temp, finalName, strerror(saved));
}

// Checks that temp can replace finalName by a rename, and makes a copy beside finalName
// when the two lie on different file systems. Nothing is replaced yet.
static void prepareMove(const char* temp, const char* finalName, char* staged,
                        const char* prefix) {
  std::string dir = directoryOf(finalName);
  const char* dirName = dir.empty() ? "." : dir.c_str();
  struct stat dirStat, tempStat, finalStat;
  if (stat(dirName, &dirStat) != 0)
    fatal(2, "Couldn't move %s to %s: %s\n", temp, finalName, strerror(errno));
  if (!S_ISDIR(dirStat.st_mode))
    fatal(2, "Couldn't move %s to %s: %s\n", temp, finalName, strerror(ENOTDIR));
  if (access(dirName, W_OK | X_OK) != 0)
    fatal(2, "Couldn't move %s to %s: %s\n", temp, finalName, strerror(errno));
  if (stat(finalName, &finalStat) == 0 && S_ISDIR(finalStat.st_mode))
    fatal(2, "Couldn't move %s to %s: %s\n", temp, finalName, strerror(EISDIR));
  if (stat(temp, &tempStat) != 0)
    fatal(2, "Couldn't move %s to %s: %s\n", temp, finalName, strerror(errno));
  if (tempStat.st_dev != dirStat.st_dev) stageCopy(temp, finalName, staged, prefix);
}

// Moves temp (or its staged copy) over finalName in one rename: the old file stays until
// the new one takes its name.
static void completeMove(char* temp, const char* finalName, char* staged, const char* prefix) {
  const char* from = staged[0] ? staged : temp;
  if (rename(from, finalName) != 0) {
    if (errno != EXDEV || staged[0])
      fatal(2, "Couldn't move %s to %s: %s\n", temp, finalName, strerror(errno));
    // Same device number but still another mount: copy across after all.
    stageCopy(temp, finalName, staged, prefix);
    if (rename(staged, finalName) != 0)
      fatal(2, "Couldn't move %s to %s: %s\n", temp, finalName, strerror(errno));
  }
  if (staged[0]) {
    staged[0] = '\0';
    unlink(temp);
  }
  temp[0] = '\0';
}

// Removes the cube file an earlier run left under the name of this run's page: the page
// now carries the newer cube. A cube file that cannot be removed would be read in its
// place by the next -incremental run, so that is an error.
static void removeShadowingCubeFile() {
  if (cb4FileName[0] == '\0' || strcmp(cb4FileName, outputFileName) == 0) return;
  if (unlink(cb4FileName) == 0) {
    msg("Removed the cube file '%s': the page '%s' now carries the cube.\n", cb4FileName,
        outputFileName);
  } else if (errno != ENOENT) {
    fatal(2, "Couldn't remove the cube file '%s', which the page '%s' replaces: %s\n",
          cb4FileName, outputFileName, strerror(errno));
  }
}

void finishOutputFiles(bool pageCarriesCube) {
  bool pageFile = ofp && ofp != stdout && outputTempName[0] != '\0';
  bool cubeFile = cb4 && cb4 != ofp && cb4TempName[0] != '\0';

  if (ofp == stdout) {
    if (fflush(stdout) != 0 || ferror(stdout))
      fatal(2, "Couldn't write the page to standard output: %s\n", strerror(errno));
  } else if (ofp) {
    closeOutput(ofp, outputFileName);
  }
  ofp = nullptr;
  if (cubeFile) closeOutput(cb4, cb4FileName);
  cb4 = nullptr;

  // Both files are checked (and copied across file systems) before either replaces
  // anything, so that a failure leaves the old page and cube file side by side.
  if (pageFile) prepareMove(outputTempName, outputFileName, stagedPage, "vrk");
  if (cubeFile) prepareMove(cb4TempName, cb4FileName, stagedCube, "cb4");
  if (pageFile) completeMove(outputTempName, outputFileName, stagedPage, "vrk");
  if (cubeFile) completeMove(cb4TempName, cb4FileName, stagedCube, "cb4");
  if (pageFile && pageCarriesCube && !cubeFile) removeShadowingCubeFile();
}

void writeInPlaceOfPage(const std::function<void(FILE* out)>& write) {
  if (!(outputFileName && outputFileName[0] && ofp != stdout)) {
    write(stdout);
    fflush(stdout);
    return;
  }
  if (ofp) {
    fclose(ofp);
    removeNamed(outputTempName);
  }
  ofp = createTempFile(outputTempName, "o");
  if (!ofp) fatal(2, "Unable to open temporary output file '%s'\n", "oXXXXXX");
  write(ofp);
  // What the run opened for the cube stays unwritten; its temporary file goes at exit.
  cb4 = nullptr;
  finishOutputFiles();
}

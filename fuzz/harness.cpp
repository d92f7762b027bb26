// The shared harness of the fuzz targets: exit turned back into a return while an input
// runs, a private working directory, and the reset of the builder's model between inputs.
#include "common/preferences.h"
#include "fuzz/harness.h"
#include "varkel/axislabel.h"
#include "varkel/cube.h"
#include "varkel/date.h"
#include "varkel/grow.h"
#include "varkel/hashtab.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/reparse.h"
#include "varkel/varkel.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sanitizer/allocator_interface.h>
#include <sanitizer/lsan_interface.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <vector>


extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status);

static jmp_buf runJump;        // where an exit during fuzzCall returns to
static bool running = false;   // fuzzCall is running an input
static int exitStatus = 0;     // the status of the exit that ended the input

void __wrap_exit(int status) {
  if (running) {
    exitStatus = status;
    longjmp(runJump, 1);
  }
  __real_exit(status);
}

// Descriptors open before the current input; an input that ended through exit may leave
// files open that the end of its process would have closed.
static std::vector<int> openBefore;

static std::vector<int> openFiles() {
  std::vector<int> fds;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return fds;
  int own = dirfd(d);
  while (struct dirent* e = readdir(d))
    if (e->d_name[0] != '.' && atoi(e->d_name) != own) fds.push_back(atoi(e->d_name));
  closedir(d);
  return fds;
}

static void closeNewFiles() {
  for (int fd : openFiles())
    if (std::find(openBefore.begin(), openBefore.end(), fd) == openBefore.end()) close(fd);
}

int fuzzCall(void (*body)(void*), void* arg) {
  openBefore = openFiles();
  if (setjmp(runJump)) {
    running = false;
    closeNewFiles();
    return exitStatus;
  }
  running = true;
  body(arg);
  running = false;
  return -1;
}

void fuzzLeaksOff() { __lsan_disable(); }
void fuzzLeaksOn() { __lsan_enable(); }

// Allocations and releases while a tracked run counts them.
static bool counting = false;
static long allocations = 0;

static void countMalloc(const volatile void*, size_t) {
  if (counting) allocations++;
}
static void countFree(const volatile void*) {
  if (counting) allocations--;
}

void fuzzCountAllocations(bool on) {
  static bool hooked = false;
  if (!hooked) {
    __sanitizer_install_malloc_and_free_hooks(countMalloc, countFree);
    hooked = true;
  }
  if (on) allocations = 0;
  counting = on;
}

void fuzzCheckLeaks() {
  if (allocations <= 0) return;
  if (__lsan_do_recoverable_leak_check()) {
    fprintf(stderr, "fuzz: a complete run leaked memory\n");
    abort();
  }
}

void fuzzWorkDir() {
  static bool made = false;
  if (made) return;
  const char* base = getenv("TMPDIR");
  std::string dir = std::string(base && *base ? base : "/tmp") + "/fuzzXXXXXX";
  if (!mkdtemp(&dir[0]) || chdir(dir.c_str()) != 0) {
    perror("fuzz work directory");
    abort();
  }
  made = true;
}

void fuzzWriteFile(const char* name, const uint8_t* data, size_t size) {
  FILE* f = fopen(name, "wb");
  if (!f) {
    perror(name);
    abort();
  }
  if (size) fwrite(data, 1, size, f);
  fclose(f);
}

void fuzzSplit(const uint8_t* data, size_t size, std::string& head, std::string& tail) {
  const char* text = reinterpret_cast<const char*>(data);
  const void* lf = memchr(text, '\n', size);
  size_t cut = lf ? (size_t)(static_cast<const char*>(lf) - text) : size;
  head.assign(text, cut);
  tail.assign(lf ? text + cut + 1 : text + size, lf ? size - cut - 1 : 0);
}

// The parameter tables as start-up left them.
static BooleanParam savedB[numBParams + 1];
static BooleanParam savedNb[numNbParams + 1];
static StringParam savedS[numSParams + 1];
static StringParam savedLs[numLsParams + 1];
static ByteParam savedByte[numByteParams + 1];

template <class T, size_t N>
static void copyTable(T (&to)[N], const T (&from)[N]) {
  for (size_t i = 0; i < N; i++) to[i] = from[i];
}

void fuzzSaveTables() {
  static bool saved = false;
  if (saved) return;
  copyTable(savedB, bParams);
  copyTable(savedNb, nbParams);
  copyTable(savedS, sParams);
  copyTable(savedLs, lsParams);
  copyTable(savedByte, byteParams);
  saved = true;
}

void fuzzResetTables() {
  copyTable(bParams, savedB);
  copyTable(nbParams, savedNb);
  copyTable(sParams, savedS);
  copyTable(lsParams, savedLs);
  copyTable(byteParams, savedByte);
  sep = "\t";
  firstFieldNames = 0;
}

void fuzzStartBuilder() {
  static bool started = false;
  if (started) return;
  startUp();
  fuzzSaveTables();
  started = true;
}

// Releases the match trees and category indexes the labels point to. Copies of a label
// share them, so each is released once; the date tables go with freeDate.
static void releaseLabelModel() {
  if (axisLabels.chunks.empty()) return;
  std::set<_MatchTree*> trees;
  std::set<Hashtab*> tables;
  for (int i = 0; i <= axisLabels.maxIndexSeen; i++) {
    AxisLabel& l = axisLabels[i];
    if (l.match) trees.insert(l.match);
    if (l.hash) tables.insert(l.hash);
  }
  for (Date& d : dateTable)
    for (Hashtab* t : {d.years, d.quarters, d.months, d.days}) tables.erase(t);
  for (_MatchTree* t : trees) matchFree(t);
  for (Hashtab* t : tables) hashtabDelete(t);
}

void fuzzResetModel() {
  fuzzResetTables();
  decimalPoints = 0;

  releaseLabelModel();
  axisLabels.clear();
  axisLabels.maxIndexSeen = 0;
  axisLabels.init(labelChunkSize);
  nextFree = 0;
  nodeToLeaf.clear();
  leafToNode.clear();
  nodeStack.clear();

  numberOfAxes = 0;
  for (int i = 0; i < maxAxes; i++) axisRootIndex[i] = -1;
  recordAxisRoot = -1;
  expandProfile = 0;
  noQuery = 0;
  freeDate();
  dateCount = 0;
  for (Date& d : dateTable) d = Date();
  dateLastCategory = 0;

  separator = '\t';
  skipFirstLine = 0;
  memset(dataFieldNames, 0, sizeof dataFieldNames);
  memset(inputFields, 0, sizeof inputFields);
  for (int i = 0; i < maxInputFields; i++) snprintf(newDataFieldNames[i], fieldSize, "f%d", i);

  dataNodes.clear();
  resetReparse();
}

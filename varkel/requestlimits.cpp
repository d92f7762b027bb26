// The bounds of one web request in time and memory.
#include "varkel/requestlimits.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/messagetext.h"
#include "common/util.h"
#include "varkel/requestpolicy.h"

// AddressSanitizer reserves terabytes of address space for itself, so under it the
// address-space limit would fail every allocation: such builds go without it.
#if defined(__SANITIZE_ADDRESS__)
#define VARKEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARKEL_ADDRESS_SANITIZER 1
#endif
#endif

// The request's time limit in seconds, 0 until started.
static int timeLimit = 0;
// Set by the watchdog when the time limit has passed.
static std::atomic<bool> timedOut(false);
// The cancel hook and the lock that keeps it from being replaced while it runs.
static std::mutex cancelLock;
static void (*cancelHook)() = nullptr;
// What the request ends with past its time.
static const char* const overTimePage =
    "<p><b>This request took longer than the %d seconds the server allows and was "
    "stopped.</b></p>\n";
static const char* const overTimeLog = "The request took longer than %d seconds and was stopped.\n";
// How long the watchdog leaves the request to end itself after cancelling its work.
static const int graceSeconds = 1;

#ifndef VARKEL_ADDRESS_SANITIZER
// The heap of a web request is counted: every allocation of the process, the builder's, the
// ODBC driver's and libcurl's alike, goes through the functions below. One that would pass
// the limit ends the request there with error 100, before any code gets a null pointer it
// may not expect (some drivers crash on one). Until a request starts nothing is counted.
extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* p);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}
#include <malloc.h>

#include "varkel/hugeheap.h"

// Bytes the request may allocate, 0 while nothing is counted, and the bytes it holds (it
// may fall below 0 as blocks from before the start are freed).
static std::atomic<long long> heapLimit(0);
static std::atomic<long long> heapUsed(0);

// Ends the request whose allocation of more bytes would pass the limit.
static void countAllocation(size_t more) {
  if ((long long)more > heapLimit.load() - heapUsed.load()) {
    fflush(stdout);  // the client keeps what was written before, as with every error
    static const char text[] = "Error 100: Out of memory.\n";
    if (write(2, text, sizeof text - 1) < 0) {
    }
    _exit(100);
  }
}

static void* counted(void* p) {
  if (p) heapUsed += (long long)malloc_usable_size(p);
  return p;
}

// Every block also goes past the huge-page advice (hugeheap.h) before its caller touches it.
static void* advised(void* p, size_t size) {
  adviseHugePages(p, size);
  return p;
}

extern "C" void* malloc(size_t size) {
  if (!heapLimit.load()) return advised(__libc_malloc(size), size);
  countAllocation(size);
  return advised(counted(__libc_malloc(size)), size);
}

extern "C" void free(void* p) {
  if (p && heapLimit.load()) heapUsed -= (long long)malloc_usable_size(p);
  __libc_free(p);
}

extern "C" void* calloc(size_t count, size_t size) {
  if (size && count > (size_t)-1 / size) return __libc_calloc(count, size);  // it fails
  if (!heapLimit.load()) return advised(__libc_calloc(count, size), count * size);
  countAllocation(count * size);
  return advised(counted(__libc_calloc(count, size)), count * size);
}

extern "C" void* realloc(void* p, size_t size) {
  if (!heapLimit.load()) return advised(__libc_realloc(p, size), size);
  size_t old = p ? malloc_usable_size(p) : 0;
  if (size > old) countAllocation(size - old);
  void* q = __libc_realloc(p, size);
  if (q || size == 0) heapUsed -= (long long)old;
  return advised(q ? counted(q) : q, size);
}

extern "C" void* memalign(size_t alignment, size_t size) {
  if (!heapLimit.load()) return advised(__libc_memalign(alignment, size), size);
  countAllocation(size);
  return advised(counted(__libc_memalign(alignment, size)), size);
}

extern "C" void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

extern "C" int posix_memalign(void** out, size_t alignment, size_t size) {
  if (alignment % sizeof(void*) || (alignment & (alignment - 1))) return EINVAL;
  void* p = memalign(alignment, size);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}

extern "C" void* valloc(size_t size) { return memalign((size_t)sysconf(_SC_PAGESIZE), size); }

extern "C" void* pvalloc(size_t size) {
  size_t page = (size_t)sysconf(_SC_PAGESIZE);
  return memalign(page, (size + page - 1) / page * page);
}
#endif

int requestLimitFrom(const char* value, int most, int fallback) {
  if (!value || !*value) return fallback;
  char* end = nullptr;
  errno = 0;
  long n = strtol(value, &end, 10);
  if (errno || *end || n < 1 || n > most) return fallback;
  return (int)n;
}

int requestTimeLimit() { return timeLimit; }

bool requestTimedOut() { return timedOut.load(); }

void setRequestCancel(void (*cancel)()) {
  std::lock_guard<std::mutex> hold(cancelLock);
  cancelHook = cancel;
}

void endTimedOutRequest() {
  logMessage(overTimeLog, timeLimit);
  char page[160];
  snprintf(page, sizeof page, overTimePage, timeLimit);
  refuseRequest(page);
}

static void addSeconds(struct timespec* t, int seconds) { t->tv_sec += seconds; }

// The watchdog: cancels the request's work at the time limit, and ends the process when
// the request does not end itself soon after (a loop that never calls the database, a
// driver that does not cancel).
static void* watchRequest(void*) {
  struct timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  addSeconds(&deadline, timeLimit);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
  timedOut.store(true);
  {
    std::lock_guard<std::mutex> hold(cancelLock);
    if (cancelHook) cancelHook();
  }
  addSeconds(&deadline, graceSeconds);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
  // The page may be blocked by a client that reads nothing: write what fits, never wait.
  char text[200];
  int n = snprintf(text, sizeof text, overTimePage, timeLimit);
  int flags = fcntl(1, F_GETFL);
  if (flags != -1) fcntl(1, F_SETFL, flags | O_NONBLOCK);
  if (n > 0 && write(1, text, (size_t)n) < 0) {
  }
  if (write(1, "</body>\n", 8) < 0) {
  }
  n = snprintf(text, sizeof text, overTimeLog, timeLimit);
  if (n > 0 && write(2, text, (size_t)n) < 0) {
  }
  _exit(1);
}

void startRequestLimits() {
  timeLimit = requestLimitFrom(getenv("VARKEL_CGI_TIME_LIMIT"), 86400, defaultRequestSeconds);
  int mib = requestLimitFrom(getenv("VARKEL_CGI_MEMORY_LIMIT"), 1 << 20, defaultRequestMiB);
#ifndef VARKEL_ADDRESS_SANITIZER
  heapLimit.store((long long)mib << 20);
  // What does not come from the heap (mappings of a driver, thread stacks) is held by the
  // address space, with room for the libraries the process has mapped.
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) == 0) {
    rlim_t bytes = ((rlim_t)mib << 20) + ((rlim_t)1 << 30);
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY || bytes < limit.rlim_max ? bytes
                                                                              : limit.rlim_max;
    setrlimit(RLIMIT_AS, &limit);
  }
#else
  (void)mib;
#endif
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  // Small: it only waits, and at most cancels a statement.
  pthread_attr_setstacksize(&attr, 1024 * 1024);
  pthread_t watchdog;
  if (pthread_create(&watchdog, &attr, watchRequest, nullptr) != 0)
    fatal(100, "Out of memory.\n");
  pthread_attr_destroy(&attr);
}

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
#include "varkel/varkel.h"

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
  // The whole address space: what the builder, the ODBC driver and libcurl allocate alike.
  // A failing allocation ends the request with error 100 and touches nothing else.
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) == 0) {
    rlim_t bytes = (rlim_t)mib << 20;
    if (limit.rlim_max == RLIM_INFINITY || bytes < limit.rlim_max) limit.rlim_cur = bytes;
    else limit.rlim_cur = limit.rlim_max;
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

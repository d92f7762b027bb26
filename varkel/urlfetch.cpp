// URL documents: a whole document fetched with libcurl, then read line by line (see
// urlfetch.h).
#include "varkel/urlfetch.h"

#include <assert.h>
#include <curl/curl.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/messagetext.h"
#include "common/util.h"
#include "varkel/linereader.h"
#include "varkel/requestlimits.h"
#include "varkel/options.h"
#include "varkel/report.h"

// The last fetched URL document. delivered stays false until a fetch completes, so the
// first read of a document that was never found can say so.
static std::string urlDocument;
static size_t urlPosition = 0;
static bool urlDelivered = false;
static std::string urlName;  // for the "not found" message

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

// The most seconds VARKEL_URL_STALL_TIME sets: a day.
static const int maxStallSeconds = 86400;

// The seconds a transfer may stall: VARKEL_URL_STALL_TIME when it is a whole number of
// seconds up to maxStallSeconds, else urlStallTimeout.
static long stallSeconds() {
  return requestLimitFrom(getenv("VARKEL_URL_STALL_TIME"), maxStallSeconds, (int)urlStallTimeout);
}

// The libcurl calls a fetch makes, found in the library when the first fetch opens it: a
// run that reads no URL never maps libcurl and the many libraries it needs.
struct CurlCalls {
  CURLcode (*globalInit)(long flags);
  CURL* (*easyInit)();
  CURLcode (*easySetopt)(CURL* curl, CURLoption option, ...);
  CURLcode (*easyPerform)(CURL* curl);
  void (*easyCleanup)(CURL* curl);
};

// libcurl opened and initialised, or null when it cannot be (not installed, or a library
// without these calls); opened once a run.
static const CurlCalls* openCurl() {
  static CurlCalls calls;
  static int state = 0;  // 0 not tried, 1 ready, -1 unavailable
  if (state) return state > 0 ? &calls : nullptr;
  state = -1;
  void* library = dlopen(VARKEL_CURL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  calls.globalInit = reinterpret_cast<CURLcode (*)(long)>(dlsym(library, "curl_global_init"));
  calls.easyInit = reinterpret_cast<CURL* (*)()>(dlsym(library, "curl_easy_init"));
  calls.easySetopt =
      reinterpret_cast<CURLcode (*)(CURL*, CURLoption, ...)>(dlsym(library, "curl_easy_setopt"));
  calls.easyPerform = reinterpret_cast<CURLcode (*)(CURL*)>(dlsym(library, "curl_easy_perform"));
  calls.easyCleanup = reinterpret_cast<void (*)(CURL*)>(dlsym(library, "curl_easy_cleanup"));
  if (!calls.globalInit || !calls.easyInit || !calls.easySetopt || !calls.easyPerform ||
      !calls.easyCleanup || calls.globalInit(CURL_GLOBAL_DEFAULT) != 0)
    return nullptr;
  state = 1;
  return &calls;
}

// Every option of a fetch, in one place: what may be fetched and how, and the bounds that
// keep an endless or silent source from holding the builder.
static void setFetchOptions(const CurlCalls& lib, CURL* curl, const char* url, Fetched* fetched,
                            char* errors) {
  lib.easySetopt(curl, CURLOPT_URL, url);
  lib.easySetopt(curl, CURLOPT_USERAGENT, "varkel/2.0");
  lib.easySetopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  // A web request reaches only web documents, also through redirects.
  lib.easySetopt(curl, CURLOPT_PROTOCOLS_STR, isCGI ? "http,https" : "http,https,ftp,file");
  lib.easySetopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, isCGI ? "http,https" : "http,https,ftp");
  lib.easySetopt(curl, CURLOPT_FAILONERROR, 1L);  // status 400 and above: no document
  lib.easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (isCGI) {
    lib.easySetopt(curl, CURLOPT_NOPROGRESS, 0L);
    lib.easySetopt(curl, CURLOPT_XFERINFOFUNCTION, stopPastTimeLimit);
  } else {
    lib.easySetopt(curl, CURLOPT_NOPROGRESS, 1L);
  }
  lib.easySetopt(curl, CURLOPT_MAXFILESIZE_LARGE, (curl_off_t)maxUrlDocument);
  lib.easySetopt(curl, CURLOPT_CONNECTTIMEOUT, urlConnectTimeout);
  lib.easySetopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  lib.easySetopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds());
  lib.easySetopt(curl, CURLOPT_ERRORBUFFER, errors);
  lib.easySetopt(curl, CURLOPT_WRITEFUNCTION, gatherDocument);
  lib.easySetopt(curl, CURLOPT_WRITEDATA, fetched);
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

  const CurlCalls* lib = openCurl();
  if (!lib) fatal(2, "Unable to open url '%s'\n", url);
  CURL* curl = lib->easyInit();
  if (!curl) fatal(2, "Unable to open url '%s'\n", url);
  Fetched fetched;
  char errors[CURL_ERROR_SIZE] = "";
  setFetchOptions(*lib, curl, url, &fetched, errors);
  CURLcode rc = lib->easyPerform(curl);
  lib->easyCleanup(curl);
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

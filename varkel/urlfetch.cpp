// URL documents: a whole document fetched with libcurl, then read line by line (see
// urlfetch.h).
#include "varkel/urlfetch.h"

#include <assert.h>
#include <curl/curl.h>
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

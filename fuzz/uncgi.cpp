// Fuzzes the CGI form decoder: the first line of the input is the query string, the rest
// a form-encoded POST body read from standard input. The decoder is compiled in here so
// that its record of environment texts can be emptied between inputs.
#include "cgi/uncgi.cpp"

#include <unistd.h>

#include <string>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzWorkDir();
  return 0;
}

// Removes every variable the decoder set and frees its text, as a fresh process has none.
static void forgetVariables() {
  for (char* text : ownedTexts) {
    std::string name(text, strcspn(text, "="));
    unsetenv(name.c_str());
    free(text);
  }
  ownedTexts.clear();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string query, body;
  fuzzSplit(data, size, query, body);
  fuzzWriteFile("body", reinterpret_cast<const uint8_t*>(body.data()), body.size());
  setenv("QUERY_STRING", query.c_str(), 1);
  setenv("REQUEST_METHOD", "POST", 1);
  setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
  setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
  auto prepare = [] {
    forgetVariables();
    if (!freopen("body", "rb", stdin)) abort();
    // A buffer of our own, so that reading allocates nothing the run could be blamed for.
    static char buffer[BUFSIZ];
    setvbuf(stdin, buffer, _IOFBF, sizeof buffer);
  };
  auto run = [] {
    uncgi(true);
    forgetVariables();
  };
  fuzzLeakChecked(prepare, run);
  forgetVariables();
  return 0;
}

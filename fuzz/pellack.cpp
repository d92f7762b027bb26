// Fuzzes pellack's capture-file reader: the first line of the input is a document name,
// the rest the capture file. The name is fetched; then it is stored and fetched again. The program is
// compiled in with its main renamed, and without the waits between its search passes.
#include <unistd.h>

#include "fuzz/harness.h"

static unsigned noWait(unsigned) { return 0; }
#define sleep noWait
#define main pellack_main
#include "services/pellack.cpp"
#undef main
#undef sleep

#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzWorkDir();
  setenv("W3_server", "fuzz", 1);
  setenv("W3_data", "stored by the fuzzer", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name, capture;
  fuzzSplit(data, size, name, capture);
  setenv("W3_filename", name.c_str(), 1);
  auto prepare = [&] {
    fuzzWriteFile(CaptureFile, reinterpret_cast<const uint8_t*>(capture.data()), capture.size());
    sentHeaders = false;
  };
  auto fetchIt = [&] {
    fetch(name.c_str());
    fflush(stdout);
  };
  fuzzLeakChecked(prepare, fetchIt);
  // Then a store and a fetch on the file as the first fetch left it.
  auto again = [] { sentHeaders = false; };
  auto storeIt = [&] {
    store();
    fflush(stdout);
    fetch(name.c_str());
    fflush(stdout);
  };
  fuzzLeakChecked(again, storeIt);
  fflush(stdout);
  return 0;
}

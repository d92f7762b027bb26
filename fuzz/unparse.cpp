// Fuzzes the unparser's reader: any bytes as a compiled profile, printed back as a script.
#include <cstdio>

#include "fuzz/harness.h"
#include "profile/unparse.h"

static FILE* sink;  // the script goes nowhere

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzWorkDir();
  sink = fopen("/dev/null", "w");
  fuzzSaveTables();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzResetTables();
  FILE* in = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : fopen("/dev/null", "rb");
  if (!in) return 0;
  auto run = [&] { parse(in, sink); };
  fuzzRun(run);
  fclose(in);
  return 0;
}

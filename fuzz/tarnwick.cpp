// Fuzzes the profile compiler's lexer and grammar: any text as a profile, compiled to
// nowhere. The compiler's driver is compiled in with its main renamed.
#define main tarnwick_main
#include "profile/main.cpp"
#undef main

#include "fuzz/harness.h"

static FILE* sink;  // the compiled profile goes nowhere

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzWorkDir();
  Tarnwick = 1;
  sink = fopen("/dev/null", "w");
  fuzzSaveTables();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* in = nullptr;
  auto prepare = [&] {
    fuzzResetTables();
    if (in) fclose(in);
    in = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : fopen("/dev/null", "rb");
    if (!in) abort();
    // A buffer of our own, so that reading allocates nothing the run could be blamed for.
    static char buffer[BUFSIZ];
    setvbuf(in, buffer, _IOFBF, sizeof buffer);
  };
  auto run = [&] { parse_profile(in, sink); };
  fuzzLeakChecked(prepare, run);
  fclose(in);
  return 0;
}

// Fuzzes the date records of a compiled profile and the date-format parser behind them:
// the input is one date record after its record letter.
#include <string>

#include "fuzz/harness.h"
#include "varkel/date.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzWorkDir();
  fuzzStartBuilder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto prepare = [] { fuzzResetModel(); };
  auto run = [&] {
    int position = 0;
    parseDate(text.c_str(), &position);
  };
  fuzzLeakChecked(prepare, run);
  return 0;
}

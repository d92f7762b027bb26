// Fuzzes the builder's compiled-profile reader: any text, decoded into the settings and
// label trees of a fresh model.
#include <string>

#include "fuzz/harness.h"
#include "varkel/newProfile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzWorkDir();
  fuzzStartBuilder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto prepare = [] { fuzzResetModel(); };
  auto run = [&] {
    readNewProfile(text.c_str());
    fuzzResetModel();
  };
  fuzzLeakChecked(prepare, run);
  return 0;
}

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
  fuzzResetModel();
  std::string text(reinterpret_cast<const char*>(data), size);
  auto run = [&] { readNewProfile(text.c_str()); };
  fuzzRun(run);
  return 0;
}

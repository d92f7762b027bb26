// Fuzzes the record splitter: the first byte is the separator, the rest one record line.
#include <string>

#include "fuzz/harness.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"

static char rows[maxInputFields][fieldSize];  // the fields of the record

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string line(reinterpret_cast<const char*>(data) + 1, size - 1);
  auto run = [&] { extractInputFields(rows, line.c_str(), (char)data[0]); };
  auto prepare = [] {};
  fuzzLeakChecked(prepare, run);
  return 0;
}

// Fuzzes the regular-expression engine: the first line of the input is the pattern, the
// rest the text it runs against.
#include <cstdlib>
#include <string>

#include "fuzz/harness.h"
#include "regexp/regexp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string pattern, text;
  fuzzSplit(data, size, pattern, text);
  rx::regexp* prog = rx::regcomp(pattern.c_str());
  if (prog) {
    rx::regexec(prog, text.c_str());
    free(prog);
  }
  return 0;
}

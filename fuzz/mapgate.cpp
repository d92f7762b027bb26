// Fuzzes mapgate: the first line of the input is the selection (W3_query), the rest the map
// file. The program is compiled in with its main renamed, so that its tables can be emptied
// between inputs. An input that begins with 'D' runs in the debugging form.
#define main mapgate_main
#include "services/mapgate.cpp"
#undef main

#include <string>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzWorkDir();
  unsetenv("QUERY_STRING");
  unsetenv("REQUEST_METHOD");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string query, map;
  fuzzSplit(data, size, query, map);
  fuzzWriteFile("m.map", reinterpret_cast<const uint8_t*>(map.data()), map.size());
  bool debugForm = size > 0 && data[0] == 'D';
  unsetenv("W3_mapfile");
  unsetenv("W3_debugfile");
  setenv(debugForm ? "W3_debugfile" : "W3_mapfile", "m.map", 1);
  setenv("W3_query", query.c_str(), 1);
  auto prepare = [] {
    paramIndex = 0;
    mapIndex = 0;
    debug = false;
  };
  auto run = [] { mapgate_main(); };
  fuzzLeakChecked(prepare, run);
  fflush(stdout);
  return 0;
}

// Fuzzes the cube re-reader of incremental builds: the first line of the input is the
// compiled profile, the rest the previous cube, read as its viewer page when it begins with
// '<' and as its cube file otherwise; then the old cells are re-keyed into the new layout.
#include <cstdio>
#include <string>

#include "fuzz/harness.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/reparse.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzWorkDir();
  fuzzStartBuilder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string profile, cube;
  fuzzSplit(data, size, profile, cube);
  bool page = !cube.empty() && cube[0] == '<';
  remove(page ? "prof.cb4" : "prof.html");
  fuzzWriteFile(page ? "prof.html" : "prof.cb4", reinterpret_cast<const uint8_t*>(cube.data()),
                cube.size());
  incrementalBuild = 1;
  auto prepare = [] { fuzzResetModel(); };
  auto run = [&] {
    readNewProfile(profile.c_str());
    if (numberOfAxes >= 1) {
      ensureMeasuresAxis();
      reparse("prof.qv4");
      layOutCoordinates();
    }
    fuzzResetModel();
  };
  fuzzLeakChecked(prepare, run);
  incrementalBuild = 0;
  return 0;
}

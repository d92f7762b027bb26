// Fuzzes the match-expression parser and evaluator: the first line of the input is an
// encoded expression, the rest a TAB-separated record it is tested against and printed.
#include <cstdio>
#include <string>

#include "fuzz/harness.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/match.h"

static FILE* sink;  // printed expressions go nowhere

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzWorkDir();
  fuzzStartBuilder();
  sink = fopen("/dev/null", "w");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string expression, record;
  fuzzSplit(data, size, expression, record);
  auto prepare = [] { fuzzResetModel(); };
  auto run = [&] {
    _MatchTree* tree = matchParseExpression(expression.c_str());
    extractInputFields(inputFields, record.c_str(), '\t');
    evalMatch(tree);
    matchPrint(sink, tree);
    matchFree(tree);
  };
  fuzzLeakChecked(prepare, run);
  return 0;
}

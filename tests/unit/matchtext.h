// What matchPrint writes for a match tree, as a string, for tests that compare printed
// conditions.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "varkel/match.h"

inline std::string printedMatch(_MatchTree* tree) {
  char* data = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&data, &size);
  matchPrint(f, tree);
  fclose(f);
  std::string s(data, size);
  free(data);
  return s;
}

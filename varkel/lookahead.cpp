// Looking one record ahead into the large category indexes (see lookahead.h).
#include "varkel/lookahead.h"

#include <cstring>
#include <vector>

#include "varkel/axislabel.h"
#include "varkel/hashtab.h"
#include "varkel/input.h"
#include "varkel/linereader.h"
#include "varkel/newProfile.h"

namespace {

// An index worth fetching ahead: past what the second-level cache holds.
const int32_t largeIndex = 32768;
// Records between two searches for the indexes: tree growth makes them as it goes.
const int searchInterval = 1024;

struct Lookup {
  int field;       // the data column the level reads whole
  Hashtab* index;  // never freed while a pass runs
};
std::vector<Lookup> lookups;
int sinceSearch = searchInterval;

// The index of each axis's top level when it is grown from a whole field.
void findIndexes() {
  lookups.clear();
  for (int a = 0; a < numberOfAxes; a++) {
    int root = axisRootIndex[a];
    if (root < 0) continue;
    int top = axisLabels[root].child;
    if (top < 0) continue;
    const AxisLabel& l = axisLabels[top];
    if (!l.hash || l.field < 0 || l.part != -1 || l.backPart != -1 || l.firstColumn != -1 ||
        l.dateIndex != 0)
      continue;
    lookups.push_back({l.field, l.hash});
  }
}

bool lineEnds(char c) { return c == '\n' || c == '\r' || c == '\0'; }

// The raw text of column field in the n bytes at line, cut at the line's end; false when
// the line holds no such column or its text is not plain.
bool rawColumn(const char* line, size_t n, int field, const char** text, size_t* length) {
  const char* p = line;
  const char* end = line + n;
  for (int column = 0; column < field; column++) {
    while (p < end && *p != separator && !lineEnds(*p)) p++;
    if (p == end || *p != separator) return false;
    p++;
  }
  const char* q = p;
  while (q < end && *q != separator && !lineEnds(*q)) q++;
  if (q == end || q == p || *p == '"' || *p == ' ' || q[-1] == ' ') return false;
  *text = p;
  *length = size_t(q - p);
  return true;
}

}  // namespace

void startLookahead() {
  lookups.clear();
  sinceSearch = searchInterval;
}

void lookAhead() {
  if (++sinceSearch >= searchInterval) {
    findIndexes();
    sinceSearch = 0;
  }
  if (lookups.empty()) return;
  size_t n;
  const char* next = linesAhead(&n);
  if (!next) return;
  for (const Lookup& lookup : lookups) {
    if (lookup.index->size < largeIndex) continue;
    const char* text;
    size_t length;
    if (rawColumn(next, n, lookup.field, &text, &length))
      hashtabPrefetch(lookup.index, hashtabHashBytes(text, length));
  }
}

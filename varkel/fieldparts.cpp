// Field parts: cutting category values out of the fields of the current record.
#include "varkel/fieldparts.h"

#include <cstdint>
#include <cstring>

#include "varkel/axislabel.h"
#include "varkel/input.h"
#include "varkel/options.h"
#include "varkel/recordfield.h"
#include "varkel/workbuffers.h"

namespace {

// Bytes of the part buffers, terminator included.
const int partBufferSize = 256;

// Where a part lies in its text. whole: the text has too few parts, so the value is the
// whole text.
struct Cut {
  int start;
  int length;
  int more;
  bool whole;
};

// The separator characters of a cut as a set of bytes, made once per cut. The cuts test
// only the characters of a text, never its terminator.
struct SeparatorSet {
  uint64_t bits[4] = {0, 0, 0, 0};
  explicit SeparatorSet(const char* separators) {
    if (!separators) return;
    for (const char* s = separators; *s; s++) {
      unsigned char c = (unsigned char)*s;
      bits[c >> 6] |= uint64_t(1) << (c & 63);
    }
  }
  bool has(char c) const {
    unsigned char u = (unsigned char)c;
    return (bits[u >> 6] >> (u & 63)) & 1;
  }
};

// The end of the part that starts at start: the next separator or the end of the text.
int partEnd(const char* text, int start, const SeparatorSet& separators) {
  int i = start;
  while (text[i] && !separators.has(text[i])) i++;
  return i;
}

// Up to four separator characters, the usual case (date parts "- ", paths ";"), tested by
// comparison instead of through a set built for every cut. They come packed one a byte,
// unused places repeating the first; none is a NUL, so the terminator never matches.
struct FewSeparators {
  char a, b, c, d;
  explicit FewSeparators(uint32_t packed)
      : a(char(packed)), b(char(packed >> 8)), c(char(packed >> 16)), d(char(packed >> 24)) {}
  bool has(char x) const { return (x == a) | (x == b) | (x == c) | (x == d); }
};

// The packed form of a set of one to four characters; 0 for an empty or longer set.
uint32_t packFewSeparators(const char* s) {
  if (!s || !s[0]) return 0;
  uint32_t first = (unsigned char)s[0], packed = first;
  int k = 1;
  for (; k < 4 && s[k]; k++) packed |= uint32_t((unsigned char)s[k]) << (8 * k);
  if (k == 4 && s[4]) return 0;
  for (; k < 4; k++) packed |= first << (8 * k);
  return packed;
}

template <class Separators>
Cut cutFromLeftBy(const char* text, int n, const Separators& separators) {
  int i = 0, passed = 0;
  if (n < 0) n = 0;
  while (passed < n && text[i]) {
    if (separators.has(text[i])) passed++;
    i++;
  }
  if (passed < n) return Cut{0, (int)strlen(text), 0, true};
  int end = i;
  while (text[end] && !separators.has(text[end])) end++;
  return Cut{i, end - i, text[end] ? 1 : 0, false};
}

// The last short cuts made: the conditions of a date hierarchy cut the same parts of the
// same field for label after label of one record. A cut depends on nothing but the bytes
// it read (up to its part's end, or the terminator when the text has too few parts), so
// an entry is used only while those bytes are still the text's.
struct CachedCut {
  const char* text = nullptr;
  int n = 0;
  uint32_t separators = 0;  // packed as packFewSeparators packs them
  int scanned = 0;          // bytes the cut read
  Cut cut{0, 0, 0, false};
  char bytes[48];
};
CachedCut cutCache[16];

Cut cutFromLeft(const char* text, int n, const char* separatorText) {
  uint32_t key = packFewSeparators(separatorText);
  if (key == 0) return cutFromLeftBy(text, n, SeparatorSet(separatorText));
  FewSeparators few(key);
  if (n < 0) n = 0;
  CachedCut& entry = cutCache[(unsigned(n) * 7 + unsigned(uintptr_t(text) >> 8)) & 15];
  if (entry.text == text && entry.n == n && entry.separators == key &&
      memcmp(entry.bytes, text, size_t(entry.scanned)) == 0)
    return entry.cut;
  Cut cut = cutFromLeftBy(text, n, few);
  int scanned = (cut.whole ? cut.length : cut.start + cut.length) + 1;
  if (scanned <= int(sizeof entry.bytes)) {
    entry.text = text;
    entry.n = n;
    entry.separators = key;
    entry.scanned = scanned;
    entry.cut = cut;
    memcpy(entry.bytes, text, size_t(scanned));
  }
  return cut;
}

Cut cutFromRight(const char* text, int n, const char* separatorText) {
  SeparatorSet separators(separatorText);
  if (n < 0) n = 0;
  int length = (int)strlen(text);
  int count = 0, start = -1;
  for (int i = length - 1; i >= 0; i--) {
    if (!separators.has(text[i])) continue;
    if (++count > n) {
      start = i + 1;
      break;
    }
  }
  if (start < 0) {
    if (count < n - 1) return Cut{0, length, 0, true};
    start = 0;
  }
  int end = partEnd(text, start, separators);
  return Cut{start, end - start, start != 0 ? 1 : 0, false};
}

// The row of field slot field, or an empty text for a slot outside the record.
const char* fieldText(int field) { return currentField(field); }

// Copies the cut part of text into buffer (size bytes), cut to fit.
void copyPart(char* buffer, int size, const char* text, const Cut& cut) {
  int n = cut.length < size - 1 ? cut.length : size - 1;
  memmove(buffer, text + cut.start, n);
  buffer[n] = 0;
}

}  // namespace

const char* extractPart(int field, int n, const char* separators, int* more) {
  static char part[partBufferSize];
  const char* text = fieldText(field);
  Cut cut = cutFromLeft(text, n, separators);
  *more = cut.more;
  if (cut.whole) return text;
  copyPart(part, partBufferSize, text, cut);
  return part;
}

int extractPartSpan(int field, int n, const char* separators, const char** start) {
  const char* text = fieldText(field);
  Cut cut = cutFromLeft(text, n, separators);
  if (cut.whole) {
    *start = text;
    return (int)strlen(text);
  }
  *start = text + cut.start;
  return cut.length < partBufferSize - 1 ? cut.length : partBufferSize - 1;
}

const char* reverseExtractPart(int field, int n, const char* separators, int* more) {
  static char part[partBufferSize];
  const char* text = fieldText(field);
  Cut cut = cutFromRight(text, n, separators);
  *more = cut.more;
  if (cut.whole) return text;
  copyPart(part, partBufferSize, text, cut);
  return part;
}

void extractFieldColumns(int first, int last, const char* text) {
  partPattern[0] = 0;
  if (!text || first < 0 || last < first) return;
  int length = (int)strlen(text);
  if (first >= length) return;
  int end = last < length - 1 ? last : length - 1;
  Cut cut{first, end - first + 1, 0, false};
  copyPart(partPattern, partPatternSize, text, cut);
}

int extractPartField(int n, const char* separators, const char* text) {
  if (!text || !*text) {
    partPattern[0] = 0;
    return 0;
  }
  Cut cut = cutFromLeft(text, n, separators);
  copyPart(partPattern, partPatternSize, text, cut);
  return cut.more;
}

int reverseExtractPartField(int n, const char* separators, const char* text) {
  if (!text || !*text) {
    partPattern[0] = 0;
    return 0;
  }
  Cut cut = cutFromRight(text, n, separators);
  copyPart(partPattern, partPatternSize, text, cut);
  return cut.more;
}

const char* getField(int label, int* more) {
  AxisLabel& l = axisLabels[label];
  const char* separators = l.separator() ? l.separator()->c_str() : nullptr;
  const char* value;
  *more = 0;
  if (l.part != -1) {
    value = extractPart(l.field, l.part, separators, more);
  } else if (l.backPart != -1) {
    value = reverseExtractPart(l.field, l.backPart, separators, more);
  } else if (l.firstColumn != -1) {
    extractFieldColumns(l.firstColumn, l.lastColumn, fieldText(l.field));
    value = partPattern;
  } else {
    value = fieldText(l.field);
  }
  return *value ? value : blankLabel;
}

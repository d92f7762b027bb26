// Key hashing: a fast 64-bit hash of short byte strings and of 64-bit words, and a byte
// comparison read the same way. Keys are read as 8-byte words, whole ones and then a last
// one that overlaps the one before (or the few bytes of a short key), so that no byte
// outside a key is ever read.
#ifndef VARKEL_KEYHASH_H
#define VARKEL_KEYHASH_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// The eight bytes at p as a word in the machine's order.
inline uint64_t keyWordAt(const char* p) {
  uint64_t w;
  memcpy(&w, p, 8);
  return w;
}

// A key p[0..n) of fewer than eight bytes as one word that tells apart any two keys of its
// length (not of different lengths: callers compare lengths first).
inline uint64_t keyShortWord(const char* p, size_t n) {
  if (n >= 4) {
    uint32_t lo, hi;
    memcpy(&lo, p, 4);
    memcpy(&hi, p + n - 4, 4);
    return lo | (uint64_t(hi) << 32);
  }
  if (n == 0) return 0;
  return (unsigned char)p[0] | ((unsigned char)p[n / 2] << 8) | ((unsigned char)p[n - 1] << 16);
}

// Hash state h with word w mixed in: one multiply, then its high bits folded into the low
// ones, which tables take their slots from.
inline uint64_t hashMix(uint64_t h, uint64_t w) {
  h = (h ^ w) * 0xBF58476D1CE4E5B9ULL;
  return h ^ (h >> 29);
}

// The hash of the bytes p[0..n); keys of different lengths hash apart.
inline uint64_t hashBytes(const char* p, size_t n) {
  uint64_t h = 0x9E3779B97F4A7C15ULL ^ (n * 0xFF51AFD7ED558CCDULL);
  if (n < 8) {
    h = hashMix(h, keyShortWord(p, n));
  } else {
    size_t i = 0;
    for (; i + 8 < n; i += 8) h = hashMix(h, keyWordAt(p + i));
    h = hashMix(h, keyWordAt(p + n - 8));
  }
  h *= 0x94D049BB133111EBULL;
  return h ^ (h >> 31);
}

// True when a[0..n) and b[0..n) hold the same bytes.
inline bool sameKeyBytes(const char* a, const char* b, size_t n) {
  if (n < 8) return keyShortWord(a, n) == keyShortWord(b, n);
  size_t i = 0;
  for (; i + 8 < n; i += 8)
    if (keyWordAt(a + i) != keyWordAt(b + i)) return false;
  return keyWordAt(a + n - 8) == keyWordAt(b + n - 8);
}

#endif

// mbitset: the 128-bit cell coordinate of the cube, four 32-bit words, word 0 the lowest.
// It orders as an unsigned 128-bit integer so the cube map lists cells in coordinate order.
#ifndef VARKEL_MBITSET_H
#define VARKEL_MBITSET_H

#include <cstdint>

// The coordinate as one unsigned 128-bit integer, for the hot loops that build, order and
// write coordinates.
__extension__ typedef unsigned __int128 mbitsetValue;

template <int N>
class mbitset {
  static_assert(N == 128, "only the 128-bit coordinate is used");

 public:
  static const int words = 4;
  uint32_t w[words];

  mbitset() : w{0, 0, 0, 0} {}
  explicit mbitset(uint32_t v) : w{v, 0, 0, 0} {}

  // Bits move n places up; bits pushed past the top are lost.
  mbitset operator<<(int n) const {
    mbitset r;
    if (n <= 0) return n == 0 ? *this : r;
    if (n >= N) return r;
    int ws = n / 32, bs = n % 32;
    for (int i = words - 1; i >= ws; i--) {
      uint64_t v = uint64_t(w[i - ws]) << bs;
      if (bs && i - ws - 1 >= 0) v |= uint64_t(w[i - ws - 1]) >> (32 - bs);
      r.w[i] = uint32_t(v);
    }
    return r;
  }
  mbitset operator>>(int n) const {
    mbitset r;
    if (n <= 0) return n == 0 ? *this : r;
    if (n >= N) return r;
    int ws = n / 32, bs = n % 32;
    for (int i = 0; i + ws < words; i++) {
      uint64_t v = w[i + ws] >> bs;
      if (bs && i + ws + 1 < words) v |= uint64_t(w[i + ws + 1]) << (32 - bs);
      r.w[i] = uint32_t(v);
    }
    return r;
  }
  mbitset& operator<<=(int n) { return *this = *this << n; }
  mbitset operator|(const mbitset& o) const {
    mbitset r;
    for (int i = 0; i < words; i++) r.w[i] = w[i] | o.w[i];
    return r;
  }
  mbitset& operator|=(const mbitset& o) { return *this = *this | o; }
  bool test(int i) const { return i >= 0 && i < N && ((w[i / 32] >> (i % 32)) & 1u); }
  bool operator==(const mbitset& o) const {
    for (int i = 0; i < words; i++)
      if (w[i] != o.w[i]) return false;
    return true;
  }
  bool operator!=(const mbitset& o) const { return !(*this == o); }
  // Numeric order, most significant word first.
  bool operator<(const mbitset& o) const {
    for (int i = words - 1; i >= 0; i--)
      if (w[i] != o.w[i]) return w[i] < o.w[i];
    return false;
  }
  mbitsetValue value() const {
    return (mbitsetValue(w[3]) << 96) | (mbitsetValue(w[2]) << 64) |
           (mbitsetValue(w[1]) << 32) | w[0];
  }
  static mbitset fromValue(mbitsetValue v) {
    mbitset r;
    for (int i = 0; i < words; i++) r.w[i] = uint32_t(v >> (32 * i));
    return r;
  }
  // The lowest 32 bits, for reading a field after a shift.
  uint32_t low() const { return w[0]; }
};

#endif

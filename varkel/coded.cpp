// Coded values and coded coordinates: the cube as text in the page and the cube file.
#include "varkel/coded.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/util.h"
#include "varkel/cube.h"

char outputChars[256];
int numberOfOutputChars = 64;
int reasonableSplit = 16777216;
int minWidth = 4;
char binaryNumChars[258];
long long decimalMultiplier = 1;
int nOrder = 0;

void initCodedNumbers() {
  memset(outputChars, 0, sizeof outputChars);
  strcpy(outputChars, spibbleAlphabet);
  numberOfOutputChars = int(strlen(outputChars));
  long long split = 1;
  int width = 0;
  while (split <= 999999) {
    split *= numberOfOutputChars;
    width++;
  }
  reasonableSplit = int(split);
  minWidth = width;
  memset(binaryNumChars, 0, sizeof binaryNumChars);
  createBinaryString64(binaryNumChars, 0, (unsigned long)numberOfOutputChars);
}

void setOutputChars(const char* text) {
  size_t n = strlen(text);
  if (n < 64 || n > 255)
    fatal(1, "Output charset must have 64 to 255 characters; '%s' has %zu.\n", text, n);
  for (size_t i = 0; i < 64; i++) {
    unsigned char c = (unsigned char)text[i];
    if (strchr("+-*=#", c))
      fatal(1, "Output charset '%s' holds the sign character '%c' among its 64 digits.\n",
            text, c);
    if (c < 32)
      fatal(1, "Output charset '%s' holds the control byte %d among its 64 digits.\n", text,
            c);
    if (memchr(text, c, i))
      fatal(1, "Output charset '%s' holds '%c' twice among its 64 digits.\n", text, c);
  }
  memset(outputChars, 0, sizeof outputChars);
  memcpy(outputChars, text, n);
}

void printCodedLong(FILE* f, long long v, int width) {
  char digits[72];
  int n = 0;
  if (v != 0 || width > 0) {
    while (v >= numberOfOutputChars) {
      digits[n++] = outputChars[v % numberOfOutputChars];
      v /= numberOfOutputChars;
    }
    digits[n++] = outputChars[v];
  }
  // A cube writes millions of digits: unlocked writes, as the builder has one thread.
  for (int i = n; i < width; i++) putc_unlocked(outputChars[0], f);
  while (n > 0) putc_unlocked(digits[--n], f);
}

// The base-N digits of an integral magnitude held in a double. Dividing by the base (a power
// of two) is exact, so this agrees digit for digit with the 64-bit printer where that fits,
// and still writes the right digits for sums beyond 64 bits.
static void printCodedMagnitude(FILE* f, double mag) {
  if (mag < 9.0e18) {
    printCodedLong(f, (long long)mag, 1);
    return;
  }
  std::string digits;
  while (mag >= numberOfOutputChars) {
    double q = std::floor(mag / numberOfOutputChars);
    digits += outputChars[int(mag - q * numberOfOutputChars)];
    mag = q;
  }
  digits += outputChars[int(mag)];
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) fputc(*it, f);
}

void printCodedDataValue(FILE* f, double v) {
  // An overflowed sum is as unknown as a missing one, and NaN has no coded form.
  if (v == HUGE_VAL || std::isinf(v) || std::isnan(v)) {
    putc_unlocked('#', f);
    return;
  }
  bool neg = v < 0;
  double mag = std::fabs(v);
  if (mag == std::floor(mag)) {
    putc_unlocked(neg ? '-' : '+', f);
    printCodedMagnitude(f, mag);
    return;
  }
  // Fractional: S = v * M rounded half away from zero; its digits are the high part's
  // followed by the low part padded to minWidth, which is one base-N number.
  double s = std::trunc(mag * double(decimalMultiplier) + 0.5);
  putc_unlocked(neg ? '=' : '*', f);
  printCodedMagnitude(f, s);
}

void printCodedData(FILE* f) {
  const size_t cells = dataNodes.size();
  const int width = dataNodes.width();
  if (nOrder) {
    for (size_t c = 0; c < cells; c++) {
      const double* values = dataNodes.values(c);
      for (int m = 0; m < width; m++) printCodedDataValue(f, values[m]);
    }
    return;
  }
  for (int m = 0; m < recordSize; m++)
    for (size_t c = 0; c < cells; c++)
      printCodedDataValue(f, m < width ? dataNodes.values(c)[m] : HUGE_VAL);
}

void printCodedCoord(FILE* f, const mbitset<128>& key) {
  char groups[23];
  mbitsetValue v = key.value();
  for (int g = 0; g < 22; g++) groups[21 - g] = spibbleAlphabet[int((v >> (6 * g)) & 63)];
  groups[22] = '\0';
  const char* p = groups;
  while (*p == '0') p++;
  fputs(p, f);
}

void printCodedCoords(FILE* f, int) {
  for (size_t c = 0; c < dataNodes.size(); c++) {
    putc_unlocked('+', f);
    printCodedCoord(f, dataNodes.key(c));
  }
}

int nextPowerOfTwo(int n) {
  int bits = 1;
  while (n > 2) {
    n = (n + 1) / 2;
    bits++;
  }
  return bits;
}

void printDataClass(FILE*, int, int) {}
void printCoordClass(FILE*, int) {}

void createBinaryString64(char* buf, unsigned long high, unsigned long low) {
  uint64_t v = (uint64_t(high & 0xFFFFFFFFul) << 32) | (low & 0xFFFFFFFFul);
  for (int i = 0; i < 64; i++) buf[i] = ((v >> (63 - i)) & 1) ? '1' : '0';
}

// The value of 64 binary digits.
static uint64_t binaryValue(const char* buf) {
  uint64_t v = 0;
  for (int i = 0; i < 64; i++) v = (v << 1) | (buf[i] == '1' ? 1 : 0);
  return v;
}

char getOutputChar(char* buf) {
  int v = 0;
  for (int i = 56; i < 64; i++) v = (v << 1) | (buf[i] == '1' ? 1 : 0);
  return outputChars[v];
}

void divideStrings(char* dividend, char* divisor, char* remainder) {
  uint64_t a = binaryValue(dividend), b = binaryValue(divisor);
  if (b == 0) return;
  createBinaryString64(dividend, (unsigned long)((a / b) >> 32), (unsigned long)((a / b) & 0xFFFFFFFFu));
  createBinaryString64(remainder, (unsigned long)((a % b) >> 32), (unsigned long)((a % b) & 0xFFFFFFFFu));
}

void printDoubleLong(FILE* f, unsigned long high, unsigned long low) {
  char value[64], remainder[64];
  createBinaryString64(value, high, low);
  uint64_t base = binaryValue(binaryNumChars);
  std::string digits;
  while (base > 1 && binaryValue(value) >= base) {
    divideStrings(value, binaryNumChars, remainder);
    digits += getOutputChar(remainder);
  }
  digits += getOutputChar(value);
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) fputc(*it, f);
}

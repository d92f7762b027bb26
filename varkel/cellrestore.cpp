// The cell restore of incremental builds: the previous cube's coded coordinates are cut
// into one old leaf per axis and looked up in the rebuilt trees, and its coded values are
// kept, cell by cell, until the new layout can place them.
#include "varkel/cellrestore.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <climits>
#include <cmath>

#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/coded.h"
#include "varkel/cube.h"
#include "varkel/report.h"
#include "varkel/shape.h"

// Cells announced by the coordinate setting.
int oldCellCount = 0;
// The old cells in the order of the coordinate list.
std::vector<OldCoord> oldCoords;
// The old values, cell by cell.
std::vector<double> dataValue;
// Per profile axis (in profile order): the coordinate bits the axis had in the previous
// cube (0 when the cube has no setting for it).
std::vector<int> oldBits;
bool coordsRead = false;   // a coordinate setting was read
bool valuesRead = false;   // a value setting was read
// The digits of the coded values, as the cube's codingchars setting gives them (the
// coordinates always use the spibble digits).
std::string valueDigits = spibbleAlphabet;

namespace {

// Leading decimal digits of text as a number; more than fit an int is fatal 110.
int leadingNumber(const std::string& text, size_t& digits, const char* setting) {
  long long n = 0;
  digits = 0;
  while (digits < text.size() && isdigit((unsigned char)text[digits])) {
    n = n * 10 + (text[digits] - '0');
    if (n > 0x7fffffff)
      fatal(110, "The count of %s in cube '%s' is too large.\n", setting, cubeName.c_str());
    digits++;
  }
  return (int)n;
}

}  // namespace

// A missing old leaf is reported, never merged into another cell.
void reportLostCell(int cell, const char* why, int axis) {
  msg("Cell %d of cube '%s' is dropped: %s on axis %d.\n", cell, cubeName.c_str(), why, axis);
}

void resetCellRestore() {
  oldCellCount = 0;
  oldCoords.clear();
  dataValue.clear();
  oldBits.clear();
  coordsRead = valuesRead = false;
  valueDigits = spibbleAlphabet;
}

void splitCoords(mbitset<128>& coordinate, std::vector<int>& leaves) {
  leaves.assign(oldBits.size(), -1);
  mbitset<128> rest = coordinate;
  for (int a = (int)oldBits.size() - 1; a >= 0; a--) {
    if (oldBits[a] <= 0) continue;
    uint32_t mask = oldBits[a] >= 32 ? 0xffffffffu : ((1u << oldBits[a]) - 1);
    leaves[a] = int(rest.low() & mask & 0x7fffffffu);
    rest = rest >> oldBits[a];
  }
}

mbitset<128> readCodedCoord(const std::string& text, unsigned& position) {
  mbitset<128> coordinate;
  while (position < text.size() && text[position] != '+') {
    unsigned at = position;
    int digit = getSpibble(text, position);
    if (digit < 0)
      fatal(110, "Unexpected character '%c' in codedcoords at position %u\n", text[at], at);
    if ((coordinate >> 122) != mbitset<128>())
      fatal(110, "Coordinate too large in codedcoords at position %u\n", at);
    coordinate = (coordinate << 6) | mbitset<128>(uint32_t(digit));
  }
  assert(position <= text.size());
  return coordinate;
}

void restoreCoords(ParamLine& line) {
  if (coordsRead) fatal(110, "Cube '%s' holds two codedcoords settings.\n", cubeName.c_str());
  coordsRead = true;
  setLeafNumbers();
  int bits = 0;
  for (int a = 0; a < (int)oldBits.size() && a < numberOfAxes; a++) {
    if (oldBits[a] == 0) continue;
    oldBits[a] = nextPowerOfTwo(getRange(axisRootIndex[a]));
    assert(oldBits[a] > 0);
    bits += oldBits[a];
  }
  if (bits > 128)
    fatal(110, "The axes of cube '%s' need %d coordinate bits; at most 128 fit.\n",
          cubeName.c_str(), bits);
  std::string& value = line.value;
  dropTrailingCR(value);
  size_t digits;
  oldCellCount = leadingNumber(value, digits, "codedcoords");
  oldCoords.clear();
  // The count is the cube's word only: every cell takes at least its '+' of the list.
  oldCoords.reserve(std::min(size_t(oldCellCount), value.size() + 1));
  unsigned position = unsigned(digits + 1);
  // A list that ends in '+' ends in the empty coordinate 0, as a cube of one cell at
  // coordinate 0 is written ("1+").
  while (position <= value.size()) {
    if ((int)oldCoords.size() == oldCellCount)
      fatal(110, "codedcoords in cube '%s' holds more than the %d cells it announces.\n",
            cubeName.c_str(), oldCellCount);
    OldCoord cell;
    cell.coordinate = readCodedCoord(value, position);
    std::vector<int> leaves;
    splitCoords(cell.coordinate, leaves);
    cell.leafLabels.assign(leaves.size(), -1);
    if ((cell.coordinate >> bits) != mbitset<128>()) {
      reportLostCell((int)oldCoords.size(), "its coordinate lies outside the cube's layout", 0);
      leaves.assign(leaves.size(), -1);
    }
    for (size_t a = 0; a < leaves.size(); a++) {
      if (leaves[a] < 0) continue;
      auto found = leafToNode[a].find(leaves[a]);
      if (found == leafToNode[a].end())
        reportLostCell((int)oldCoords.size(), "its leaf is not in the profile's tree", (int)a);
      else
        cell.leafLabels[a] = found->second;
      assert(cell.leafLabels[a] >= -1 && cell.leafLabels[a] < nextFree);
    }
    oldCoords.push_back(cell);
    position++;
  }
  if ((int)oldCoords.size() != oldCellCount)
    fatal(110, "codedcoords in cube '%s' announces %d cells but holds %d.\n", cubeName.c_str(),
          oldCellCount, (int)oldCoords.size());
}

void readCodedValue(const std::string& text, unsigned& position, int index) {
  assert(index >= 0 && size_t(index) < dataValue.size());
  if (position >= text.size())
    fatal(110, "Unexpected end of codeddata at position %u\n", position);
  char sign = text[position];
  bool fraction = sign == '*' || sign == '=';
  double factor;
  switch (sign) {
    case '+': case '*': factor = 1; break;
    case '-': case '=': factor = -1; break;
    case '#':
      dataValue[index] = HUGE_VAL;
      position++;
      return;
    default:
      fatal(110, "Unexpected character '%c' in codeddata at position %u\n", sign, position);
  }
  position++;
  // Sums beyond 64 bits are written exactly from a double; they are read back as one.
  unsigned long long whole = 0;
  double big = -1;
  size_t d;
  while (position < text.size() && (d = valueDigits.find(text[position])) != std::string::npos) {
    if (big < 0 && whole > (~0ULL - d) / (unsigned)valueDigits.size()) big = double(whole);
    if (big < 0) {
      whole = whole * valueDigits.size() + d;
    } else {
      big = big * valueDigits.size() + d;
      if (std::isinf(big)) fatal(110, "Value too large in codeddata at position %u\n", position);
    }
    position++;
  }
  double number = big < 0 ? double(whole) : big;
  dataValue[index] = fraction ? factor * number / double(decimalMultiplier) : factor * number;
}

void restoreCodingChars(ParamLine& line) {
  dropTrailingCR(line.value);
  if (line.value.size() != 64)
    fatal(110, "codingchars in cube '%s' must have 64 characters; it has %d.\n",
          cubeName.c_str(), (int)line.value.size());
  // A digit that is also a sign would make the value list ambiguous.
  if (line.value.find_first_of(std::string("+-*=#\0", 6)) != std::string::npos)
    fatal(110, "codingchars in cube '%s' holds a sign character; its values cannot be "
          "read.\n", cubeName.c_str());
  valueDigits = line.value;
}

void restoreCodedData(ParamLine& line) {
  if (valuesRead) fatal(110, "Cube '%s' holds two codeddata settings.\n", cubeName.c_str());
  valuesRead = true;
  std::string& value = line.value;
  dropTrailingCR(value);
  size_t digits = 0;
  while (digits < value.size() && isdigit((unsigned char)value[digits])) digits++;
  std::string places = value.substr(0, digits);
  if (digits > 9 || atoi(places.c_str()) != decimalPoints)
    fatal(110, "decimal points in cube (%s) does not match value in profile (%d)\n",
          places.c_str(), decimalPoints);
  size_t total = size_t(oldCellCount) * size_t(recordSize);
  // Every value takes at least its sign, so a list too short for the count is refused
  // before room is made for it (and no value index can pass an int).
  if (total > value.size() - digits || total > size_t(INT_MAX))
    fatal(110, "Unexpected end of codeddata at position %u\n", unsigned(value.size()));
  dataValue.assign(total, 0.0);
  unsigned position = unsigned(digits);
  for (int m = 0; m < recordSize; m++)
    for (int c = 0; c < oldCellCount; c++) readCodedValue(value, position, c * recordSize + m);
  assert(position <= value.size() && dataValue.size() == total);
  if (position < value.size())
    fatal(110, "codeddata in cube '%s' holds more values than its %d cells of %d measures.\n",
          cubeName.c_str(), oldCellCount, recordSize);
}

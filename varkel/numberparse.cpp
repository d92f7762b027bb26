// The number parser of the cube pass: a measure field's text read as a number, with the
// currency signs, parentheses and thousands separators of money amounts.
#include "varkel/numberparse.h"

#include <cerrno>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "common/util.h"
#include "varkel/cube.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/recordfield.h"
#include "varkel/report.h"
#include "varkel/shape.h"

// Reports a measure field that holds no number, once per column, and counts it.
static double nonNumericField(int f, const char* text) {
  if (f >= 0 && f < maxInputFields && !warning[f]) {
    msg("warning: record %d field '%s' contains non-numeric value '%s'\n", numRecords,
        newDataFieldNames[f], text);
    warning[f] = 1;
  }
  nonNumeric++;
  return HUGE_VAL;
}

// Significant digits that a double always holds exactly.
static const int exactDigits = 15;
// The largest power of ten a double holds exactly.
static const int exactPowerOfTen = 22;

// The value of a copied measure of the usual form, digits with perhaps a sign and a
// fraction, without strtod: at most exactDigits digits and exactPowerOfTen decimals make the
// digits and the power of ten exact doubles, and their quotient is then the correctly
// rounded value strtod gives. False for any other text, which strtod reads.
static bool simpleDecimal(const char* copy, double* out) {
  static int radixIsPoint = -1;  // strtod reads '.' as the decimal point
  if (radixIsPoint < 0) {
    const char* point = localeconv()->decimal_point;
    radixIsPoint = point[0] == '.' && point[1] == '\0';
  }
  static const double powers[exactPowerOfTen + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* p = copy;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  uint64_t digits = 0;
  int count = 0, decimals = 0;
  for (; isdigit((unsigned char)*p); p++, count++) digits = digits * 10 + uint64_t(*p - '0');
  if (count == 0) return false;
  if (*p == '.' && decimalChar == '.' && radixIsPoint) {
    for (p++; isdigit((unsigned char)*p); p++, decimals++)
      digits = digits * 10 + uint64_t(*p - '0');
    if (decimals == 0) return false;
  }
  if (*p != '\0' || count + decimals > exactDigits || decimals > exactPowerOfTen) return false;
  double v = double(digits) / powers[decimals];
  *out = negative ? -v : v;
  return true;
}

double extractAField(int m) {
  int f = recordFieldNums[m];
  if (f < 0) return 1.0;
  const char* text = currentField(f);
  if (*text == '\0') {
    emptyFields++;
    return HUGE_VAL;
  }
  // Plain digits with perhaps a fraction read the same from the field as from its copy,
  // unless the thousands separator could be one of their characters.
  double plain;
  if (isdigit((unsigned char)*text) && commaChar != '.' && !isdigit((unsigned char)commaChar) &&
      simpleDecimal(text, &plain))
    return plain;
  const char* p = text;
  if (*p == '$') p++;
  bool negative = false;
  while (*p && !(isdigit((unsigned char)*p) || *p == '-' || *p == '+' || *p == decimalChar)) {
    if (*p == '(') negative = true;
    p++;
  }
  if (*p == '\0') return nonNumericField(f, text);
  char copy[256];
  int n = 0;
  for (; *p && n < 255; p++) {
    char c = *p;
    if (c == commaChar) continue;
    if (isdigit((unsigned char)c) || c == decimalChar || c == '-' || c == '+' || c == 'E' ||
        c == 'e' || c == 'D' || c == 'd')
      copy[n++] = c;
    else
      break;
  }
  copy[n] = '\0';
  if (n == 0) return HUGE_VAL;
  double v;
  errno = 0;
  if (!simpleDecimal(copy, &v)) v = strtod(copy, nullptr);
  // A value too small to hold is as good as zero; only overflow loses the measure.
  bool underflow = errno == ERANGE && std::fabs(v) <= 1.0;
  if (v == HUGE_VAL || v == -HUGE_VAL || (errno == ERANGE && !underflow))
    fatal(5, "Data value '%s' is too large, in record %d field %d\n", copy, numRecords, f);
  if (v == 0 && !underflow) {
    for (const char* q = copy; *q; q++)
      if (!(isdigit((unsigned char)*q) || *q == decimalChar || *q == ')' ||
            isspace((unsigned char)*q)))
        return nonNumericField(f, text);
  }
  if (negative && v > 0) v = -v;
  return v;
}

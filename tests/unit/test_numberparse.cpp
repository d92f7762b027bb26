// Number parser: the forms a measure field's text takes (plain decimals, signs, money
// signs and parentheses, thousands separators, exponents, blanks, non-numbers), the
// counting measure, the once-per-column warning and the overflow exit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "varkel/cube.h"
#include "varkel/input.h"
#include "varkel/numberparse.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/shape.h"

namespace {

class NumberParse : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(inputFields, 0, sizeof inputFields);
    memset(warning, 0, sizeof warning);
    nonNumeric = emptyFields = 0;
    decimalChar = '.';
    commaChar = ',';
    recordFieldNums = {1};
    strcpy(newDataFieldNames[1], "Amount");
  }
  void TearDown() override {
    decimalChar = '.';
    commaChar = ',';
  }
  double parse(const std::string& text) {
    strcpy(inputFields[1], text.c_str());
    return extractAField(0);
  }
};

TEST_F(NumberParse, FieldFormsTable) {
  const double missing = HUGE_VAL;
  struct Case {
    const char* text;
    char decimal, thousands;
    double want;
    int nonNumeric, empty;
  } cases[] = {
      // Plain decimals and signs.
      {"42", '.', ',', 42, 0, 0},
      {"-3.25", '.', ',', -3.25, 0, 0},
      {"+7", '.', ',', 7, 0, 0},
      {".5", '.', ',', 0.5, 0, 0},
      {"0", '.', ',', 0, 0, 0},
      {"0.000", '.', ',', 0, 0, 0},
      // A zero written with a sign or an exponent is no number the reader trusts.
      {"-0", '.', ',', missing, 1, 0},
      {"0e5", '.', ',', missing, 1, 0},
      // Money: thousands separators, currency signs, parentheses for negatives.
      {"1,234,567.5", '.', ',', 1234567.5, 0, 0},
      {"$1,000", '.', ',', 1000, 0, 0},
      {"(1,000)", '.', ',', -1000, 0, 0},
      {"EUR -12.5", '.', ',', -12.5, 0, 0},
      {"  5", '.', ',', 5, 0, 0},
      // Exponents; D and d are kept in the copy but strtod stops there.
      {"1.5e3", '.', ',', 1500, 0, 0},
      {"2E-2", '.', ',', 0.02, 0, 0},
      {"1d3", '.', ',', 1, 0, 0},
      {"1e-400", '.', ',', 0, 0, 0},
      // More digits than a double holds exactly go through strtod.
      {"12345678901234567", '.', ',', 12345678901234567.0, 0, 0},
      // Text after the number ends it.
      {"12abc", '.', ',', 12, 0, 0},
      {"7 units", '.', ',', 7, 0, 0},
      // A point as the thousands separator is skipped; the comma is kept for strtod,
      // which reads the C locale's point here.
      {"1.234.567", ',', '.', 1234567, 0, 0},
      {"1.234,5", ',', '.', 1234, 0, 0},
      // Blanks and non-numbers.
      {"", '.', ',', missing, 0, 1},
      {"abc", '.', ',', missing, 1, 0},
      {"-", '.', ',', missing, 1, 0},
      {"$", '.', ',', missing, 1, 0},
  };
  for (const Case& c : cases) {
    nonNumeric = emptyFields = 0;
    memset(warning, 0, sizeof warning);
    decimalChar = c.decimal;
    commaChar = c.thousands;
    testing::internal::CaptureStderr();
    double v = parse(c.text);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(v, c.want) << "'" << c.text << "'";
    EXPECT_EQ(nonNumeric, c.nonNumeric) << "'" << c.text << "'";
    EXPECT_EQ(emptyFields, c.empty) << "'" << c.text << "'";
  }
}

// The copy of a field is cut at 255 characters: the digits past the cut are not read.
TEST_F(NumberParse, LongFieldIsReadUpToTheCopysSize) {
  EXPECT_EQ(parse("1" + std::string(300, '0')), 1e254);
  EXPECT_EQ(parse("$" + std::string(254, '0') + "12"), 1);
}

TEST_F(NumberParse, CountingMeasureIsOneWhateverTheField) {
  recordFieldNums = {-1};
  EXPECT_EQ(parse("abc"), 1.0);
  EXPECT_EQ(parse(""), 1.0);
  EXPECT_EQ(nonNumeric + emptyFields, 0);
}

TEST_F(NumberParse, NonNumericIsWarnedOncePerColumnAndCountedEachTime) {
  numRecords = 4;
  testing::internal::CaptureStderr();
  parse("n/a");
  numRecords = 5;
  parse("none");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "warning: record 4 field 'Amount' contains non-numeric value 'n/a'\n");
  EXPECT_EQ(nonNumeric, 2);
}

TEST_F(NumberParse, OverflowEndsTheRunWithCode5) {
  numRecords = 3;
  struct Case {
    const char *text, *message;
  } cases[] = {
      {"1e999", "Error 005: Data value '1e999' is too large, in record 3 field 1\n"},
      {"$-2e400", "Error 005: Data value '-2e400' is too large, in record 3 field 1\n"},
  };
  for (const Case& c : cases)
    EXPECT_EXIT(parse(c.text), testing::ExitedWithCode(5), c.message) << c.text;
}

}  // namespace

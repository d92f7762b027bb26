// Field splitter: the splitter's rules, and the split of a pass's later records.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/util.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/linereader.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/urlfetch.h"

namespace {

std::vector<std::string> split(const std::string& line, char sep) {
  static char rows[maxInputFields][fieldSize];
  for (auto& row : rows) strcpy(row, "stale");
  int n = extractInputFields(rows, line.c_str(), sep);
  std::vector<std::string> fields;
  for (int i = 0; i < n; i++) fields.push_back(rows[i]);
  for (int i = n; i < maxInputFields; i++) EXPECT_EQ(rows[i][0], '\0') << "row " << i;
  return fields;
}

using Fields = std::vector<std::string>;

TEST(ExtractInputFields, SplitterRules) {
  const std::string x300(300, 'x'), x255(255, 'x'), x254(254, 'x');
  struct Case {
    const char* what;
    char sep;
    std::string line;
    Fields want;
  };
  const Case cases[] = {
      {"trailing separator adds no field", '\t', "a\tb\t", {"a", "b"}},
      {"two separators give an empty field", '\t', "a\t\tb", {"a", "", "b"}},
      {"empty line", '\t', "", {}},
      {"blank line", ',', "   ", {}},
      {"leading separator", ',', ",a", {"", "a"}},
      {"only separators", ',', ",,", {"", ""}},
      {"quotes protect separators", ',', "\"x,y\",z", {"x,y", "z"}},
      {"blanks before the quote leave it unquoted", ',', "  \"x,y\",z", {"\"x", "y\"", "z"}},
      {"pair removed only around the whole field", ',', "\"a\"b", {"\"a\"b"}},
      {"empty quoted field", ',', "a,\"\"", {"a", ""}},
      {"blanks trimmed at both ends", ',', "  a  ,  b  ", {"a", "b"}},
      {"blanks inside quotes trimmed after the pair goes", ',', "\" a \",b", {"a", "b"}},
      {"TAB is not a blank", ',', "\ta\t,b", {"\ta\t", "b"}},
      {"blanks then a separator", '\t', "  \t b", {"", "b"}},
      {"blank separator runs count once", ' ', "a   b  c", {"a", "b", "c"}},
      {"carriage return ends the line", ',', "a\rb,c", {"a"}},
      {"line feed ends the line", ',', "a,b\nc", {"a", "b"}},
      {"high bytes are text", ',', "\xE9t\xE9,\xFF", {"\xE9t\xE9", "\xFF"}},
      {"long field cut, later fields read", ',', x300 + ",b", {x255, "b"}},
      {"long last field cut", ',', "a," + x300, {"a", x255}},
      {"long quoted field ends at the next separator", ',', "\"" + x254 + ",yy\",z",
       {"\"" + x254, "yy\"", "z"}},
      {"quotes after a cut field do not quote", ',', x300 + ",\"p,q\"", {x255, "\"p", "q\""}},
      {"a field of exactly 255 is whole, so later quotes quote", ',', x255 + ",\"p,q\"",
       {x255, "p,q"}},
      {"a field of 256 is cut", ',', x255 + "x,\"p,q\"", {x255, "\"p", "q\""}},
      {"a cut field ends at the line's end", ',', x300 + "\r,b", {x255}},
      {"a cut field trims its trailing blanks", ',', x254 + "  ,b", {x254, "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(split(c.line, c.sep), c.want) << c.what;
}

std::string fieldsLine(int count, const char* tail) {
  std::string line;
  for (int i = 0; i < count; i++) line += (i ? "," : "") + std::to_string(i);
  return line + tail;
}

TEST(ExtractInputFields, At513Fields) {
  EXPECT_EQ(split(fieldsLine(513, ""), ',').size(), 513u);
  EXPECT_EQ(split(fieldsLine(513, ","), ',').size(), 513u);
  const char* message = "^Error 007: Exceeding maximum number of 513 input fields\n$";
  EXPECT_EXIT(split(fieldsLine(514, ""), ','), ::testing::ExitedWithCode(7), message);
  EXPECT_EXIT(split(fieldsLine(513, ",,"), ','), ::testing::ExitedWithCode(7), message);
}

// The split of a pass's later records, which clears only the rows the previous record
// filled: every record must leave inputFields as a full split of it leaves a fresh buffer.
char reference[maxInputFields][fieldSize];

TEST(NextRecordFields, EachRecordReadsAsAFullSplitWould) {
  const std::string many = [] {
    std::string s;
    for (int i = 0; i < 40; i++) s += "v" + std::to_string(i) + "\t";
    return s;
  }();
  const std::string records[] = {
      "a\tb\tc",  // the pass's first record, split in full
      "d\te\tf\tg\th", "i", "", "\"q\tq\"\t r \t", "j\t\tk", many, "x\ty",
      "   \t\t", std::string(300, 'z') + "\tw",
  };
  for (auto& row : inputFields) strcpy(row, "stale");
  bool first = true;
  for (const std::string& copy : records) {
    int n = first ? extractInputFields(inputFields, copy.c_str(), '\t')
                  : extractNextRecordFields(copy.c_str(), strcspn(copy.c_str(), "\r\n"), '\t');
    first = false;
    for (auto& row : reference) strcpy(row, "stale");
    ASSERT_EQ(n, extractInputFields(reference, copy.c_str(), '\t')) << copy;
    for (int i = 0; i < maxInputFields; i++)
      ASSERT_STREQ(inputFields[i], reference[i]) << "row " << i << " of " << copy;
  }
}

// The splitting rules read one character at a time, as written: quotes, leading blanks, the
// 255-character cut, an empty last field, the field limit (lines here stay below it).
std::vector<std::string> splitByTheRules(const std::string& text, char sep) {
  std::string line = text.substr(0, text.find_first_of(std::string("\r\n\0", 3)));
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false, cut = false;
  auto store = [&] {
    std::string f = field;
    // A quote at each end goes; a field of one quote is both ends and becomes empty.
    if (!f.empty() && f.front() == '"' && f.back() == '"')
      f = f.size() == 1 ? "" : f.substr(1, f.size() - 2);
    size_t b = f.find_first_not_of(' ');
    f = b == std::string::npos ? "" : f.substr(b, f.find_last_not_of(' ') - b + 1);
    fields.push_back(f);
    field.clear();
  };
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    if (c == '"' && !cut) quoted = field.empty();
    if (field.empty() && c == ' ') {
      while (i < line.size() && line[i] == ' ') i++;
      if (i == line.size()) break;
      c = line[i];
    }
    if (c == sep && !quoted) {
      store();
    } else if (field.size() == 255) {
      while (i + 1 < line.size() && line[i + 1] != sep) i++;
      quoted = false;
      cut = true;
    } else {
      field += c;
    }
  }
  if (!field.empty()) store();
  return fields;
}

// Random lines over the characters that matter to the splitter: every split must give the
// rules' fields, and a split that writes only some rows must give those rows the same.
// Wider: NEXT_RECORD_SEEDS=100000 build/tests/test_fieldsplit --gtest_filter=NextRecordFields.*
TEST(NextRecordFields, SplitsAsTheRulesReadAndWritesTheNeededRowsAlike) {
  const char* wide = getenv("NEXT_RECORD_SEEDS");
  int seeds = wide ? atoi(wide) : 3000;
  static unsigned char need[maxInputFields];
  for (int seed = 1; seed <= seeds; seed++) {
    uint64_t state = uint64_t(seed) * 0x9E3779B97F4A7C15ULL;
    auto next = [&] {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      return unsigned(state >> 33);
    };
    const char seps[] = {'\t', ',', ' ', ';'};
    char sep = seps[next() % 4];
    const std::string alphabet = std::string("ab\"  \t,;\r\n\x80\xff") + sep + sep;
    std::string line;
    int length = int(next() % 120);
    if (next() % 8 == 0) length += 250 + int(next() % 30);  // a field past the cut
    for (int i = 0; i < length; i++) {
      char c = next() % 3 ? 'x' : alphabet[next() % alphabet.size()];
      if (length > 200 && next() % 40 != 0) c = 'y';
      line += c;
    }
    std::vector<std::string> want = splitByTheRules(line, sep);
    int n = extractInputFields(inputFields, line.c_str(), sep);
    ASSERT_EQ(n, int(want.size())) << "seed " << seed;
    for (int i = 0; i < n; i++) ASSERT_EQ(want[i], inputFields[i]) << "seed " << seed << " field " << i;
    for (int i = 0; i < maxInputFields; i++) need[i] = next() % 2;
    setNeededFields(need);
    for (auto& row : inputFields) strcpy(row, "stale");
    int m = extractNextRecordFields(line.c_str(), strcspn(line.c_str(), "\r\n"), sep);
    setNeededFields(nullptr);
    ASSERT_EQ(m, n) << "seed " << seed;
    for (int i = 0; i < n; i++) {
      if (!need[i]) continue;
      ASSERT_EQ(want[i], inputFields[i]) << "seed " << seed << " field " << i;
    }
    extractInputFields(inputFields, "", '\t');  // the next seed starts from empty rows
  }
}

}  // namespace

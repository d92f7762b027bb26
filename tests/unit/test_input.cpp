// Record input: the field splitter and the split of a pass's later records, the line limits
// of files and URL documents, the URL line reader and the field slots of profile field names.
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

// A temporary file holding text, open for reading.
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
// Wider: NEXT_RECORD_SEEDS=100000 build/tests/test_input --gtest_filter=NextRecordFields.*
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

FILE* fileWith(const std::string& text) {
  FILE* f = tmpfile();
  fwrite(text.data(), 1, text.size(), f);
  rewind(f);
  return f;
}

std::vector<std::string> readAll(FILE* f, int dataType) {
  std::vector<char> buffer(inputBufferSize);
  std::vector<std::string> lines;
  while (char* line = getLine(f, buffer.data(), dataType)) lines.push_back(line);
  return lines;
}

TEST(GetLine, CutsAtLineEnds) {
  FILE* f = fileWith("a\tb\r\nc\rd\n\nlast");
  EXPECT_EQ(readAll(f, 0), (Fields{"a\tb", "c", "", "last"}));
  fclose(f);
}

TEST(GetLine, LongestLineFits) {
  const std::string longest(inputBufferSize - 3, 'y');  // with its LF: 64998
  FILE* f = fileWith(longest + "\n" + std::string(inputBufferSize - 2, 'z'));
  auto lines = readAll(f, 1);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], longest);
  EXPECT_EQ(lines[1].size(), (size_t)inputBufferSize - 2);
  fclose(f);
}

TEST(GetLine, LineTooLong) {
  const std::string tooLong(inputBufferSize - 2, 'y');  // with its LF: 64999
  const char* message = "^Error 006: Input line too long! \\(More than 65000 characters!\\)\n$";
  EXPECT_EXIT(readAll(fileWith(tooLong + "\n"), 0), ::testing::ExitedWithCode(6), message);
  EXPECT_EXIT(readAll(fileWith(tooLong + "y"), 0), ::testing::ExitedWithCode(6), message);
  EXPECT_EXIT(
      {
        isCGI = 1;
        readAll(fileWith(tooLong + "\n"), 0);
      },
      ::testing::ExitedWithCode(1), "^$");
}

// Lines are read ahead in large blocks: lines that straddle a block, long lines among
// short ones, CRs and NULs inside lines must all read as a line-at-a-time reader reads them.
TEST(NextLine, ReadsLinesAcrossBlocksAsTheyWereWritten) {
  uint64_t state = 7;
  auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return unsigned(state >> 33);
  };
  std::string text;
  while (text.size() < (size_t(5) << 20)) {
    size_t length = next() % 16 == 0 ? next() % (inputBufferSize - 2) : next() % 200;
    for (size_t i = 0; i < length; i++) {
      unsigned r = next() % 64;
      text += r == 0 ? '\r' : r == 1 ? '\0' : char('a' + r % 26);
    }
    text += '\n';
  }
  text += "no line feed\r at the end";
  Fields want;
  for (size_t at = 0; at < text.size();) {
    size_t lf = text.find('\n', at);
    if (lf == std::string::npos) lf = text.size();
    std::string line = text.substr(at, lf - at);
    want.push_back(line.substr(0, line.find_first_of(std::string("\r\0", 2))));
    at = lf + 1;
  }
  FILE* f = fileWith(text);
  EXPECT_EQ(readAll(f, 0), want);
  fclose(f);
  f = fileWith(text);
  Fields got;
  size_t length;
  while (const char* line = nextLine(f, 0, &length)) {
    ASSERT_EQ(length, strlen(line));
    got.push_back(line);
  }
  EXPECT_EQ(got, want);
  fclose(f);
}

// A stream given up before its end leaves nothing behind for the next one.
TEST(NextLine, ForgottenStreamLeavesNothingBehind) {
  FILE* f = fileWith("one\ntwo\n");
  size_t length;
  EXPECT_STREQ(nextLine(f, 0, &length), "one");
  forgetLines();
  fclose(f);
  f = fileWith("three\n");
  EXPECT_EQ(readAll(f, 0), (Fields{"three"}));
  fclose(f);
}

std::vector<std::string> urlLines(std::string document) {
  HTCallClient(document);
  return readAll(nullptr, 3);
}

TEST(UrlGetLine, DocumentLines) {
  struct Case {
    std::string document;
    Fields want;
  };
  const Case cases[] = {
      {"x\n\n", {"x"}},
      {"x\n\ny", {"x", "", "y"}},
      {"x\ny", {"x", "y"}},
      {"\n", {}},
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {std::string("a\nb\0c\nd", 7), {"a", "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(urlLines(c.document), c.want) << c.document;
}

TEST(UrlGetLine, AlwaysTerminatesAndRefusesLongLines) {
  std::string doc = "abc\n";
  HTCallClient(doc);
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(urlGetLine(buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(urlGetLine(buffer, sizeof buffer), -1);

  EXPECT_EQ(urlLines(std::string(inputBufferSize - 1, 'u'))[0].size(),
            (size_t)inputBufferSize - 1);
  EXPECT_EXIT(urlLines(std::string(inputBufferSize, 'u')), ::testing::ExitedWithCode(6),
              "^Error 006: Input line too long! \\(More than 65000 characters!\\)\n$");
  EXPECT_EXIT(
      {
        std::string tooLong = "12345678";
        HTCallClient(tooLong);
        urlGetLine(buffer, sizeof buffer);
      },
      ::testing::ExitedWithCode(6), "Input line too long");
}

TEST(UrlFetch, FileDocumentAndRefetch) {
  char path[] = "/tmp/urlfetch.XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "one\ntwo\n", 8), 8);
  close(fd);
  std::string url = std::string("file://") + path;
  for (int pass = 0; pass < 2; pass++) {  // every pass fetches anew and reads from the start
    EXPECT_EQ(urlFetch(url.c_str()), 0);
    EXPECT_EQ(readAll(nullptr, 3), (Fields{"one", "two"}));
  }
  unlink(path);
}

TEST(UrlFetch, MissingDocumentIsReportedAtFirstRead) {
  const char* url = "file:///nonexistent/varkel-test";
  EXPECT_EXIT(
      {
        urlFetch(url);
        readAll(nullptr, 3);
      },
      ::testing::ExitedWithCode(256 - 32),
      "^URL not found. Check the data source \"file:///nonexistent/varkel-test\".\n$");
  // An earlier document does not survive a failed fetch.
  EXPECT_EXIT(
      {
        std::string doc = "old\n";
        HTCallClient(doc);
        urlFetch(url);
        readAll(nullptr, 3);
      },
      ::testing::ExitedWithCode(256 - 32), "URL not found");
}

TEST(UrlFetch, ExitsRemoveTemporaryFiles) {
  char page[] = "vrkTESTXX";
  EXPECT_EXIT(
      {
        FILE* f = fopen(page, "w");
        fclose(f);
        registerTempCleanup();
        strcpy(outputTempName, page);
        urlFetch("file:///nonexistent/varkel-test");
        readAll(nullptr, 3);
      },
      ::testing::ExitedWithCode(256 - 32), "URL not found");
  EXPECT_NE(access(page, F_OK), 0);
}

class FieldIndex : public ::testing::Test {
 protected:
  void SetUp() override { memset(dataFieldNames, 0, sizeof dataFieldNames); }
  void TearDown() override { skipFirstLine = 0; }
};

TEST_F(FieldIndex, NumberedWithoutHeader) {
  skipFirstLine = 0;
  struct Case {
    const char* name;
    int want;
  };
  const Case cases[] = {{"f12", 12}, {"f0", 0}, {"f512", 512}, {"x", 0}, {"f", 0}, {"", 0},
                        {"f7abc", 7}};
  for (const auto& c : cases) EXPECT_EQ(getFieldIndex(c.name), c.want) << c.name;
  for (const char* bad : {"f-1", "f513", "f600", "f99999999999999999999"})
    EXPECT_EXIT(getFieldIndex(bad), ::testing::ExitedWithCode(110),
                "^Error 110: Field '.*' names a field number outside 0 to 512\\.\n$")
        << bad;
}

TEST_F(FieldIndex, NamedWithHeader) {
  skipFirstLine = 1;
  EXPECT_EQ(getFieldIndex("b"), 0);
  EXPECT_EQ(getFieldIndex("a"), 1);
  EXPECT_EQ(getFieldIndex("b"), 0);
  EXPECT_EQ(getFieldIndex("  a "), 1);
  EXPECT_STREQ(dataFieldNames[1], "a");
  EXPECT_EQ(getFieldIndex("f9"), 2);  // with a header line, f9 is just a name
}

TEST_F(FieldIndex, At513Names) {
  skipFirstLine = 1;
  for (int i = 0; i < maxInputFields; i++)
    ASSERT_EQ(getFieldIndex(("n" + std::to_string(i)).c_str()), i);
  EXPECT_EQ(getFieldIndex("n512"), 512);
  EXPECT_EXIT(getFieldIndex("one more"), ::testing::ExitedWithCode(110),
              "^Error 110: Too many field names");
}

TEST(IsFieldName, MatchesColumnNames) {
  strcpy(newDataFieldNames[0], "Region");
  strcpy(newDataFieldNames[512], "Last");
  EXPECT_TRUE(isFieldName("Region"));
  EXPECT_TRUE(isFieldName("Last"));
  EXPECT_FALSE(isFieldName("region"));
}

}  // namespace

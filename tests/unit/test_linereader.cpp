// Line reader: the line limits of files, and lines read across blocks.
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

using Fields = std::vector<std::string>;

// A temporary file holding text, open for reading.
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
  size_t length, start = 0;
  while (const char* line = nextLine(f, 0, &length)) {
    ASSERT_EQ(length, strlen(line));
    got.push_back(line);
    // What lies ahead is the text after this line, as much of it as the block holds.
    size_t lf = text.find('\n', start);
    start = lf == std::string::npos ? text.size() : lf + 1;
    size_t ahead;
    const char* bytes = linesAhead(&ahead);
    ASSERT_LE(start + ahead, text.size());
    if (bytes) {
      ASSERT_EQ(memcmp(bytes, text.data() + start, ahead), 0) << got.size();
    } else {
      ASSERT_EQ(ahead, 0u);
    }
  }
  EXPECT_EQ(got, want);
  size_t ahead;
  EXPECT_EQ(linesAhead(&ahead), nullptr);
  fclose(f);
}

// A stream given up before its end leaves nothing behind for the next one.
TEST(NextLine, ForgottenStreamLeavesNothingBehind) {
  FILE* f = fileWith("one\ntwo\n");
  size_t length;
  EXPECT_STREQ(nextLine(f, 0, &length), "one");
  const char* ahead = linesAhead(&length);
  ASSERT_NE(ahead, nullptr);
  EXPECT_EQ(std::string(ahead, length), "two\n");
  forgetLines();
  EXPECT_EQ(linesAhead(&length), nullptr);
  fclose(f);
  f = fileWith("three\n");
  EXPECT_EQ(readAll(f, 0), (Fields{"three"}));
  fclose(f);
}

}  // namespace

// The record reader: what each reading takes as a record, how a failed open is reported,
// and how a command's ending is judged at the close.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "varkel/datasource.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/recordreader.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"

namespace {

std::vector<char> lineBuffer(inputBufferSize);

// A directory of its own holding data.txt with text; the state of a command-line run that
// reads a text file.
class RecordReader : public testing::Test {
 protected:
  std::string dir, data;
  void SetUp() override {
    char templ[] = "/tmp/recordreaderXXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir = templ;
    data = dir + "/data.txt";
    inputBuffer = lineBuffer.data();
    separator = '\t';
    isCGI = 0;
    ofp = nullptr;
    dataType = textData;
    dataFileName = nullptr;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  void write(const std::string& text) {
    FILE* f = fopen(data.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
  // Sets a command source.
  void command(const char* text) {
    dataType = execData;
    dataFileName = strdup(text);
  }
};

// The field count of every record of the open source, and the first field of each.
std::vector<std::string> readAll() {
  std::vector<std::string> out;
  for (int count; (count = nextRecord()) >= 0;)
    out.push_back(std::to_string(count) + ":" + inputFields[0]);
  return out;
}

TEST_F(RecordReader, BuildPassesPassOverNearEmptyLinesTheExtractRoadDoesNot) {
  write("a\tb\n\nxy\r\nxyz\n \n\t\t\nlast");  // "xy\r" is cut to "xy"
  const std::vector<std::string> built = {"2:a", "1:xyz", "1:last"};
  const std::vector<std::string> extracted = {"2:a", "0:", "1:xy", "1:xyz", "0:", "2:",
                                              "1:last"};
  struct Case {
    Reading reading;
    const std::vector<std::string>& records;
  };
  const Case cases[] = {
      {expansionReading, built}, {cubeReading, built}, {extractReading, extracted}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reading);
    openRecordSource(c.reading, data.c_str(), data.c_str(), nullptr);
    ASSERT_NE(ifp, nullptr);
    EXPECT_EQ(readAll(), c.records);
    closeRecordSource(true);
    EXPECT_EQ(ifp, nullptr);
  }
}

TEST_F(RecordReader, EveryRecordStartsFromEmptyRows) {
  write("h1\th2\th3\th4\na\tb\tc\nddd\n\"e\tf\"\tg\n");
  for (int round = 0; round < 2; round++) {  // a second reading starts over
    openRecordSource(cubeReading, data.c_str(), data.c_str(), nullptr);
    ASSERT_NE(readHeaderLine(), nullptr);
    EXPECT_STREQ(inputBuffer, "h1\th2\th3\th4");
    extractInputFields(inputFields, inputBuffer, separator);
    ASSERT_EQ(nextRecord(), 3);
    EXPECT_STREQ(inputFields[2], "c");
    EXPECT_STREQ(inputFields[3], "");  // left by the header
    ASSERT_EQ(nextRecord(), 1);
    EXPECT_STREQ(inputFields[0], "ddd");
    EXPECT_STREQ(inputFields[1], "");
    EXPECT_STREQ(inputFields[2], "");
    ASSERT_EQ(nextRecord(), 2);
    EXPECT_STREQ(inputFields[0], "e\tf");
    EXPECT_EQ(nextRecord(), -1);
    closeRecordSource(true);
  }
}

TEST_F(RecordReader, GivenStreamIsReadInPlaceOfTheName) {
  write("from the stream\n");
  FILE* given = fopen(data.c_str(), "r");
  ASSERT_NE(given, nullptr);
  openRecordSource(expansionReading, (dir + "/missing").c_str(), "stdin", given);
  EXPECT_EQ(ifp, given);
  EXPECT_EQ(readAll(), std::vector<std::string>{"1:from the stream"});
  closeRecordSource(true);  // closes the given stream too
}

TEST_F(RecordReader, HeaderLineOfEmptyDataIsNone) {
  write("");
  openRecordSource(extractReading, data.c_str(), data.c_str(), nullptr);
  EXPECT_EQ(readHeaderLine(), nullptr);
  EXPECT_EQ(nextRecord(), -1);
  closeRecordSource(true);
}

TEST_F(RecordReader, FailedOpensByReading) {
  write("a\n");
  const std::string missing = dir + "/missing.txt";
  struct Case {
    Reading reading;
    DataType type;
    const char* name;  // file name, or the command
    int code;
    std::string message;
  };
  const Case cases[] = {
      {expansionReading, textData, missing.c_str(), 2,
       "^Error 002: Failed to open data file '" + missing + "'\\.\n$"},
      {cubeReading, textData, missing.c_str(), 2,
       "^Error 002: \nFailed to open data file '" + missing + "'\\.\n$"},
      {extractReading, textData, missing.c_str(), 2,
       "^Error 002: \nFailed to open data file '" + missing + "'\\.\n$"},
      // A directory opens but holds no records.
      {expansionReading, textData, dir.c_str(), 2,
       "^Error 002: Failed to open data file '" + dir + "'\\.\n$"},
      // No name at all: the name shown is the one the caller gives.
      {extractReading, textData, nullptr, 2,
       "^Error 002: \nFailed to open data file 'shown'\\.\n$"},
      // Only the extract road refuses an empty command before running it.
      {extractReading, execData, "", 4, "^Error 004: \nFailed to exec command ''\\.\n$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    dataType = c.type;
    dataFileName = c.type == execData ? const_cast<char*>(c.name) : nullptr;
    EXPECT_EXIT(openRecordSource(c.reading, c.type == textData ? c.name : nullptr,
                                 c.name ? c.name : "shown", nullptr),
                ::testing::ExitedWithCode(c.code), c.message);
  }
}

TEST_F(RecordReader, FailedOpenOnThePageOfAWebRequest) {
  // The request's text is escaped on the page, the page is ended, the exit status is 1.
  const std::string page = dir + "/page.html";
  EXPECT_EXIT(
      {
        isCGI = 1;
        ofp = fopen(page.c_str(), "w");
        openRecordSource(extractReading, nullptr, "<b>&x", nullptr);
      },
      ::testing::ExitedWithCode(1), "^$");
  FILE* f = fopen(page.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char text[256] = "";
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  EXPECT_EQ(std::string(text, n), "<p>\nFailed to open data file '&lt;b&gt;&amp;x'.\n</body>\n");
}

TEST_F(RecordReader, BuildPassesRunAnEmptyCommand) {
  command("");
  openRecordSource(expansionReading, nullptr, nullptr, nullptr);
  EXPECT_EQ(readAll(), std::vector<std::string>{});
  closeRecordSource(true);
}

TEST_F(RecordReader, CommandEndingJudgedOnlyWhenReadToTheEnd) {
  command("printf 'a\\tb\\nccc\\n'; exit 3");
  EXPECT_EXIT(
      {
        openRecordSource(cubeReading, nullptr, nullptr, nullptr);
        if (readAll() == std::vector<std::string>{"2:a", "1:ccc"}) closeRecordSource(true);
      },
      ::testing::ExitedWithCode(4),
      "^Error 004: The command 'printf 'a\\\\tb\\\\nccc\\\\n'; exit 3' ended with exit "
      "status 3\\.\n$");
  // Stopped early: the status is not looked at.
  openRecordSource(extractReading, nullptr, nullptr, nullptr);
  ASSERT_EQ(nextRecord(), 2);
  closeRecordSource(false);
  EXPECT_EQ(ifp, nullptr);

  command("printf 'x\\n'");
  openRecordSource(extractReading, nullptr, nullptr, nullptr);
  EXPECT_EQ(readAll(), std::vector<std::string>{"1:x"});
  closeRecordSource(true);
}

}  // namespace

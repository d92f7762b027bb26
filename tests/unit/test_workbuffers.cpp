// The work buffers made at start-up: their sizes and the copies into the shared cut buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "varkel/input.h"
#include "varkel/workbuffers.h"

namespace {

class WorkBuffers : public testing::Test {
 protected:
  void SetUp() override { makeWorkBuffers(); }
};

}  // namespace

TEST_F(WorkBuffers, AreMadeEmptyAndHoldTheirWholeSize) {
  for (char* b : {inputFileName, outputFileName, profileDirectory, newDataFileName,
                  wholeProfileName, lumetraWidth, lumetraHeight, codebase, theCodeBase}) {
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b, "");
    memset(b, 'x', nameBufferSize);  // the sanitizer run sees a buffer made too small
  }
  memset(partPattern, 'x', partPatternSize);
  memset(inputBuffer, 'x', inputBufferSize);
}

TEST_F(WorkBuffers, PartPatternCopiesAreCutToTheBuffer) {
  struct Case {
    std::string text;
    size_t n;
    std::string want;
  };
  const std::string longText(partPatternSize + 40, 'a');
  const Case cases[] = {
      {"north;east", 10, "north;east"},
      {"north;east", 5, "north"},
      {"north", 0, ""},
      {longText, longText.size(), std::string(partPatternSize - 1, 'a')},
      {longText, partPatternSize - 1, std::string(partPatternSize - 1, 'a')},
  };
  for (const Case& c : cases) {
    memset(partPattern, 'z', partPatternSize);
    const char* got = setPartPattern(c.text.c_str(), c.n);
    EXPECT_EQ(got, partPattern);
    EXPECT_EQ(std::string(got), c.want) << c.text.size() << " " << c.n;
  }
}

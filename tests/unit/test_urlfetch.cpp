// URL fetch: the URL line reader and the fetch of documents, their errors and temporary files.
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

std::vector<std::string> readAll(FILE* f, int dataType) {
  std::vector<char> buffer(inputBufferSize);
  std::vector<std::string> lines;
  while (char* line = getLine(f, buffer.data(), dataType)) lines.push_back(line);
  return lines;
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

}  // namespace

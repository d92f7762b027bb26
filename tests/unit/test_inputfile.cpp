// Opening input files: directories are refused, everything else opens as fopen opens it.
#include <gtest/gtest.h>

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/inputfile.h"

namespace {

class InputFile : public testing::Test {
 protected:
  std::string root;
  void SetUp() override {
    char templ[] = "/tmp/inputfileXXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    root = templ;
    FILE* f = fopen((root + "/data.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("a\tb\n", f);
    fclose(f);
    ASSERT_EQ(mkdir((root + "/dir").c_str(), 0755), 0);
    ASSERT_EQ(symlink("dir", (root + "/dirlink").c_str()), 0);
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + root + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
};

TEST_F(InputFile, DirectoriesAreRefusedOtherFilesOpen) {
  struct Case {
    std::string name;
    bool opens;
    int error;      // errno when it does not open
    mode_t kind;    // S_IFMT bits of the status when it opens
  };
  const Case cases[] = {
      {root + "/data.txt", true, 0, S_IFREG},
      {root + "/dir", false, EISDIR, 0},
      {root + "/dir/", false, EISDIR, 0},
      {root + "/dirlink", false, EISDIR, 0},  // a link is judged by what it names
      {root + "/missing", false, ENOENT, 0},
      {root + "/data.txt/x", false, ENOTDIR, 0},
      {"/dev/null", true, 0, S_IFCHR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    struct stat st;
    memset(&st, 0xff, sizeof st);  // whatever the caller had, it is overwritten
    errno = 0;
    FILE* f = openInputFile(c.name.c_str(), "r", &st);
    EXPECT_EQ(f != nullptr, c.opens);
    if (f) {
      EXPECT_EQ(st.st_mode & S_IFMT, c.kind);
      fclose(f);
    } else {
      EXPECT_EQ(errno, c.error);
      EXPECT_EQ(st.st_mode, 0u);
    }
  }
}

TEST_F(InputFile, OpenedFileReadsFromItsStartAndNamesTheSameFile) {
  struct stat st;
  FILE* f = openInputFile((root + "/data.txt").c_str(), "rb", &st);
  ASSERT_NE(f, nullptr);
  char line[16] = "";
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "a\tb\n");
  fclose(f);
  struct stat named;
  ASSERT_EQ(stat((root + "/data.txt").c_str(), &named), 0);
  EXPECT_EQ(st.st_dev, named.st_dev);
  EXPECT_EQ(st.st_ino, named.st_ino);
  EXPECT_EQ(st.st_size, 4);
}

TEST_F(InputFile, StatusIsOptional) {
  FILE* f = openInputFile((root + "/data.txt").c_str(), "r");
  ASSERT_NE(f, nullptr);
  fclose(f);
  errno = 0;
  EXPECT_EQ(openInputFile((root + "/dir").c_str(), "r"), nullptr);
  EXPECT_EQ(errno, EISDIR);
}

}  // namespace

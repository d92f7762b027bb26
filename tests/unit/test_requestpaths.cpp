// The directory rule for files named by web requests: real paths inside the allowed
// directories, after symbolic links and "..", whatever form the name takes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/requestpaths.h"

namespace {

// A tree in a fresh directory, the working directory while a test runs:
//   data/a.txt  data/sub/b.txt  data/up -> ..  data/out -> ../secret.txt
//   data/in -> sub/b.txt  data/dangling -> ../nothere  data2/c.txt  secret.txt
class RequestPaths : public testing::Test {
 protected:
  std::string root, oldDir;
  void SetUp() override {
    char templ[] = "/tmp/requestpathsXXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    char* real = realpath(templ, nullptr);
    root = real;
    free(real);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldDir = cwd;
    ASSERT_EQ(chdir(root.c_str()), 0);
    mkdir("data", 0755);
    mkdir("data/sub", 0755);
    mkdir("data2", 0755);
    for (const char* f : {"data/a.txt", "data/sub/b.txt", "data2/c.txt", "secret.txt",
                          "data/pellack.f", "data/pellack.f.tmp", "data/ErrorLog.txt"})
      close(open(f, O_CREAT | O_WRONLY, 0644));
    ASSERT_EQ(symlink("..", "data/up"), 0);
    ASSERT_EQ(symlink("../secret.txt", "data/out"), 0);
    ASSERT_EQ(symlink("sub/b.txt", "data/in"), 0);
    ASSERT_EQ(symlink("../nothere", "data/dangling"), 0);
    ASSERT_EQ(symlink("pellack.f", "data/posted.txt"), 0);
    unsetenv("VARKEL_CGI_DATA_DIRS");
  }
  void TearDown() override {
    unsetenv("VARKEL_CGI_DATA_DIRS");
    ASSERT_EQ(chdir(oldDir.c_str()), 0);
    std::string cmd = "rm -rf '" + root + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
};

TEST_F(RequestPaths, NamesResolvedBeforeTheyAreJudged) {
  const std::vector<std::string> dirs = {root + "/data"};
  struct Case {
    std::string name;
    std::string real;  // "" when refused
  };
  const Case cases[] = {
      {"data/a.txt", root + "/data/a.txt"},
      {root + "/data/a.txt", root + "/data/a.txt"},
      {"data/sub/../a.txt", root + "/data/a.txt"},
      {"data/sub/b.txt", root + "/data/sub/b.txt"},
      {"data/in", root + "/data/sub/b.txt"},           // a link that stays inside
      {"data/new.txt", root + "/data/new.txt"},        // not there: its directory decides
      {"data", root + "/data"},
      {"data/../secret.txt", ""},
      {root + "/data/../secret.txt", ""},
      {"data/up/secret.txt", ""},                      // a link to the parent
      {"data/out", ""},                                // a link to a file outside
      {"data/dangling", ""},                           // a dangling link leading outside
      {"data2/c.txt", ""},                             // "data" is a prefix of "data2"
      {root + "/data2/c.txt", ""},
      {"secret.txt", ""},
      {"/etc/passwd", ""},
      {"nodir/x.txt", ""},
      {"data/nodir/x.txt", ""},
      {"data/..", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(pathInside(c.name.c_str(), dirs), c.real) << c.name;
}

TEST_F(RequestPaths, InsideComparesWholeDirectoryNames) {
  const std::vector<std::string> dirs = {"/srv/data", "/opt/x"};
  EXPECT_TRUE(realPathInside("/srv/data", dirs));
  EXPECT_TRUE(realPathInside("/srv/data/f", dirs));
  EXPECT_TRUE(realPathInside("/opt/x/y/z", dirs));
  EXPECT_FALSE(realPathInside("/srv/data2/f", dirs));
  EXPECT_FALSE(realPathInside("/srv/dat", dirs));
  EXPECT_FALSE(realPathInside("/srv", dirs));
  EXPECT_FALSE(realPathInside("relative/f", dirs));
  EXPECT_FALSE(realPathInside("", dirs));
  EXPECT_TRUE(realPathInside("/anything", {"/"}));
  EXPECT_FALSE(realPathInside("/srv/data/f", {}));
}

TEST_F(RequestPaths, DirectoriesFromTheServersEnvironment) {
  EXPECT_EQ(requestDataDirs(), std::vector<std::string>{root});  // unset: the working directory
  const std::string list = "data2::" + root + "/data/up/data/sub:nothere:secret.txt";
  setenv("VARKEL_CGI_DATA_DIRS", list.c_str(), 1);
  const std::vector<std::string> want = {root + "/data2", root + "/data/sub"};
  EXPECT_EQ(requestDataDirs(), want);
  setenv("VARKEL_CGI_DATA_DIRS", "", 1);
  EXPECT_TRUE(requestDataDirs().empty());  // set but empty: no directory at all
}

TEST_F(RequestPaths, OpenRefusesWithoutOpening) {
  setenv("VARKEL_CGI_DATA_DIRS", (root + "/data").c_str(), 1);
  struct Case {
    const char* name;
    bool opened, refused;
  };
  const Case cases[] = {
      {"data/a.txt", true, false},
      {"data/in", true, false},
      {"data/none.txt", false, false},  // allowed, but not there
      {"data/out", false, true},
      {"secret.txt", false, true},
      {"data2/c.txt", false, true},
      // pellack's capture file, its copies and its log, in an open directory.
      {"data/pellack.f", false, true},
      {"data/pellack.f.tmp", false, true},
      {"data/pellack.fnew", false, true},  // not there yet: its name decides
      {"data/ErrorLog.txt", false, true},
      {"data/sub/../pellack.f", false, true},
      {"data/posted.txt", false, true},  // a link to the capture file
      {"data/sub", false, false},        // allowed, but a directory holds no data
      {"data/up/data", false, false},
      {"data2", false, true},
  };
  for (const Case& c : cases) {
    bool refused = !c.refused;
    FILE* f = openRequestFile(c.name, &refused);
    EXPECT_EQ(f != nullptr, c.opened) << c.name;
    EXPECT_EQ(refused, c.refused) << c.name;
    if (f) fclose(f);
  }
}

TEST_F(RequestPaths, PellacksFilesByName) {
  struct Case {
    const char* real;
    bool pellacks;
  };
  const Case cases[] = {
      {"/srv/cgi-bin/pellack.f", true},      {"/srv/cgi-bin/pellack.f.tmp", true},
      {"pellack.f", true},                   {"/srv/ErrorLog.txt", true},
      {"/srv/pellack.f/x.txt", false},       {"/srv/my-pellack.f", false},
      {"/srv/pellack.txt", false},           {"/srv/errorlog.txt", false},
      {"/srv/ErrorLog.txt.old", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isPellackFile(c.real), c.pellacks) << c.real;
}

}  // namespace

// The server page pair: its names, the lines it changes, and what stays on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "varkel/axislabel.h"
#include "varkel/coded.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/output.h"
#include "varkel/varkel.h"
#include "varkel/workbuffers.h"

namespace {

std::string readFile(const std::string& name) {
  std::ifstream in(name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }

void writeFile(const std::string& name, const std::string& text) {
  std::ofstream(name) << text;
}

TEST(ServerPageName, SuffixReplacesTheFileNamesExtension) {
  struct Case {
    const char* page;
    const char* server;
    const char* local;
  } cases[] = {
      {"cube.html", "cube-server.html", "cube-local.html"},
      {"cube", "cube-server", "cube-local"},
      {"a.b.htm", "a.b-server.html", "a.b-local.html"},
      {"out/cube.html", "out/cube-server.html", "out/cube-local.html"},
      // A dot in a directory name is no extension of the file.
      {"v1.2/cube", "v1.2/cube-server", "v1.2/cube-local"},
      {".hidden", "-server.html", "-local.html"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(serverPageName(c.page, "server"), c.server) << c.page;
    EXPECT_EQ(serverPageName(c.page, "local"), c.local) << c.page;
  }
}

// A page as the cube page writes it: the cube file's base name and the closing tag.
const char* const builtPage =
    "\n<applet code=\"com.zv.lmt.root.class\" archive=\"lmt.jar\" width=1 height=1>\n"
    "<param name=\"createversion\" value=\"v\">\n"
    "<param name=\"cb4file\" value=\"cube.cb4\">\n"
    "<param name=\"cginame\" value=\"x\">\n"
    "</applet>\n";

class ServerPage : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/server-page.XXXXXX";
    ASSERT_TRUE(mkdtemp(templ));
    dir = templ;
    ASSERT_EQ(getcwd(oldDir, sizeof oldDir), oldDir);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    if (!outputFileName) outputFileName = static_cast<char*>(calloc(256, 1));
    if (!profileDirectory) profileDirectory = static_cast<char*>(calloc(256, 1));
    strcpy(outputFileName, "cube.html");
    strcpy(cb4FileName, "cube.cb4");
    strcpy(profileDirectory, "/srv/cubes/");
    server = strdup("cubes.example");
    port = strdup("7070");
    threshold = 0;
    writeFile("cube.html", builtPage);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(oldDir), 0);
    std::string rm = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(rm.c_str()), 0);
    free(server);
    free(port);
    server = port = nullptr;
    threshold = 0;
  }
  std::string dir;
  char oldDir[4096];
};

const char* const serverCopy =
    "\n<applet code=\"com.zv.lmt.root.class\" archive=\"lmt.jar\" width=1 height=1>\n"
    "<param name=\"createversion\" value=\"v\">\n"
    "<param name=\"cb4file\" value=\"/srv/cubes/cube.cb4\">\n"
    "<param name=\"cginame\" value=\"x\">\n"
    "<param name=\"lumetraservername\" value=\"cubes.example\">\n"
    "<param name=\"lumetraserverport\" value=\"7070\">\n"
    "</applet>\n";

TEST_F(ServerPage, DefaultThresholdLeavesServerCopyAndLocalPage) {
  writeFile("cube-local.html", "stale");
  outputServerApplet();
  EXPECT_EQ(readFile("cube.html"), serverCopy);
  EXPECT_EQ(readFile("cube-local.html"), builtPage);
  EXPECT_FALSE(exists("cube-server.html"));
}

TEST_F(ServerPage, PositiveThresholdLeavesThePageAlone) {
  writeFile("cube-local.html", "stale");
  threshold = 1;
  outputServerApplet();
  EXPECT_EQ(readFile("cube.html"), builtPage);
  EXPECT_FALSE(exists("cube-server.html"));
  EXPECT_FALSE(exists("cube-local.html"));
}

TEST_F(ServerPage, CubeFileWithDirectoryIsNamedAsItIs) {
  struct Case {
    const char* cube;
    const char* want;
  } cases[] = {
      {"data/cube.cb4", "<param name=\"cb4file\" value=\"data/cube.cb4\">"},
      {"c:\\cubes\\cube.cb4", "<param name=\"cb4file\" value=\"c:\\cubes\\cube.cb4\">"},
      {"cube.cb4", "<param name=\"cb4file\" value=\"/srv/cubes/cube.cb4\">"},
  };
  for (const Case& c : cases) {
    writeFile("cube.html", builtPage);
    strcpy(cb4FileName, c.cube);
    outputServerApplet();
    EXPECT_NE(readFile("cube.html").find(c.want), std::string::npos) << c.cube;
  }
}

TEST_F(ServerPage, LongLinesAreCopiedWhole) {
  // A compact tree on the page may be longer than any line buffer; a piece of it that
  // happened to begin with "</applet>" must not get the server params.
  std::string tree = "<param name=\"lumetraaxis0\" value=\"" + std::string(64999 - 34, 'x') +
                     "</applet>" + std::string(70000, 'y') + "\">\n";
  writeFile("cube.html", std::string("<applet>\n") + tree + "</applet>\n");
  outputServerApplet();
  std::string got = readFile("cube.html");
  EXPECT_EQ(got, "<applet>\n" + tree +
                     "<param name=\"lumetraservername\" value=\"cubes.example\">\n"
                     "<param name=\"lumetraserverport\" value=\"7070\">\n</applet>\n");
}

TEST_F(ServerPage, MissingPageIsFatal) {
  unlink("cube.html");
  EXPECT_EXIT(outputServerApplet(), ::testing::ExitedWithCode(2),
              "Couldn't open 'cube.html' for input while making server html.");
}

TEST_F(ServerPage, UnwritableServerPageIsFatalAndKeepsThePage) {
  ASSERT_EQ(mkdir("cube-server.html", 0755), 0);  // a directory cannot be opened for writing
  EXPECT_EXIT(outputServerApplet(), ::testing::ExitedWithCode(2),
              "Couldn't open 'cube-server.html' for output while making html.");
  EXPECT_EQ(readFile("cube.html"), builtPage);
}

// A new label with text (and field), appended to parent's children when parent is given.
int add(int parent, const char* text, int field = -1) {
  int n = getNextFree();
  AxisLabel& l = axisLabels[n];
  l.label = text;
  l.field = field;
  if (parent >= 0) {
    int* link = &axisLabels[parent].child;
    while (*link >= 0) link = &axisLabels[*link].sibling;
    *link = n;
  }
  return n;
}

// The profile pages written into memory with everything on the page (no cube file): two
// axes around an axis without a root, and one measure.
class ProfilePage : public ::testing::Test {
 protected:
  void SetUp() override {
    startUp();
    emitCB4 = 0;
    emitProfile = 1;
    int region = add(-1, "Region");
    add(region, "North");
    add(region, "South");
    int kind = add(-1, "Kind");
    add(kind, "A");
    numberOfAxes = 3;
    axisRootIndex[0] = region;
    axisRootIndex[1] = -1;
    axisRootIndex[2] = kind;
    recordAxisRoot = add(-1, "Measures");
    add(recordAxisRoot, "Amount", 2);
    ofp = open_memstream(&text, &size);
    cb4 = ofp;
  }
  void TearDown() override {
    free(text);
    emitProfile = 0;
    numberOfAxes = 0;
  }
  // What follows the configuration settings; the page stream is finished by then.
  std::string trees() {
    std::string page(text, size);
    std::string::size_type at = page.find("<param name=\"firstfieldnames\"");
    return at == std::string::npos ? page : page.substr(page.find('\n', at) + 1);
  }
  char* text = nullptr;
  size_t size = 0;
};

TEST_F(ProfilePage, ExpandedPageWritesEveryNodeInTreeOrder) {
  outputExpandedProfilePage();
  EXPECT_EQ(ofp, nullptr);
  EXPECT_EQ(trees(),
            "\n<!-- Description of axis hierarchies -->\n"
            "<param name=\"dx0\" value=\"Region\">\n"
            "<param name=\"dx0.0\" value=\"North\">\n"
            "<param name=\"dx0.1\" value=\"South\">\n"
            "<param name=\"dx2\" value=\"Kind\">\n"
            "<param name=\"dx2.0\" value=\"A\">\n"
            "<param name=\"dr0\" value=\"Measures\">\n"
            "<param name=\"dr0.0\" value=\"Amount;field=2\">\n"
            "</applet>\n");
}

TEST_F(ProfilePage, UnexpandedPageRepeatsTheCodingSettingsFirst) {
  decimalPoints = 3;
  skipFirstLine = 1;
  outputUnexpandedProfilePage();
  skipFirstLine = 0;
  decimalPoints = 0;
  EXPECT_EQ(trees(),
            "<param name=\"decimalpoints\" value=\"3\">\n"
            "<param name=\"codingchars\" "
            "value=\"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz,.\">\n"
            "<param name=\"firstfieldnames\" value=\"true\">\n"
            "\n<!-- Description of axis hierarchies -->\n"
            "<param name=\"dx0\" value=\"Region\">\n"
            "<param name=\"dx0.0\" value=\"North\">\n"
            "<param name=\"dx0.1\" value=\"South\">\n"
            "<param name=\"dx2\" value=\"Kind\">\n"
            "<param name=\"dx2.0\" value=\"A\">\n"
            "<param name=\"dr0\" value=\"Measures\">\n"
            "<param name=\"dr0.0\" value=\"Amount;field=2\">\n"
            "</applet>\n");
}

}  // namespace

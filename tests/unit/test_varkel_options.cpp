// The builder's start-up, command line, streams and output files: what each option leaves
// in the run-wide settings, the names of the page and cube file, the temporary files and
// how the finished files replace the old ones.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/changeExtension.h"
#include "common/preferences.h"
#include "common/util.h"
#include "varkel/cgifront.h"
#include "varkel/coded.h"
#include "varkel/cube.h"
#include "varkel/input.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/report.h"
#include "varkel/varkel.h"
#include "varkel/workbuffers.h"

namespace fs = std::filesystem;

namespace {

// Resets what start-up leaves alone (it is set once per process), then starts a run and
// examines args as the arguments after the program name.
void startRun(const std::vector<const char*>& args) {
  verbose = nOrder = cubeOnly = threshold = incrementalBuild = serverMode = 0;
  skipErrors = skipFirstLine = showDups = showFailed = dumpOdbcRows = 0;
  server = port = newDataSource = dataName = nullptr;
  parameters.clear();
  ofp = cb4 = pifp = oclassfp = nullptr;
  startUp();
  std::vector<char*> argv{const_cast<char*>("varkel")};
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  parseOptions(int(argv.size()), argv.data());
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// Names in the working directory that look like the builder's temporary files.
std::vector<std::string> tempFilesIn(const fs::path& dir) {
  std::vector<std::string> found;
  for (auto& e : fs::directory_iterator(dir)) {
    std::string n = e.path().filename().string();
    if (n.size() == 9 && (n.compare(0, 3, "vrk") == 0 || n.compare(0, 3, "cb4") == 0))
      found.push_back(n);
  }
  return found;
}

// Runs each test in a fresh working directory holding an empty profile p.qv4.
class InTempDir : public testing::Test {
 protected:
  void SetUp() override {
    old = fs::current_path();
    char templ[] = "/tmp/varkel-test.XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir = templ;
    fs::current_path(dir);
    writeFile("p.qv4", "");
  }
  void TearDown() override {
    fs::current_path(old);
    fs::remove_all(dir);
  }
  fs::path old, dir;
};

}  // namespace

TEST(ChangeExtension, CutsAtTheLastDotOfTheWholeText) {
  struct Case {
    const char* name;
    const char* ext;
    const char* want;
  };
  const Case cases[] = {
      {"report", ".html", "report.html"},
      {"a.b.c", ".html", "a.b.html"},
      {"sales.qv4", ".cb4", "sales.cb4"},
      {"dir.old/cube", ".cb4", "dir.cb4"},
      {"", ".cb4", ".cb4"},
      {"trailing.", ".html", "trailing.html"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(changeExtension(std::string(c.name), c.ext), c.want) << c.name;
    char buf[64];
    strcpy(buf, c.name);
    EXPECT_STREQ(changeExtension(buf, c.ext), c.want) << c.name;
  }
}

TEST(LocaleSeparators, FollowTheNumericConventions) {
  struct Case {
    const char* thousands;
    const char* point;
    char comma, decimal;
  };
  const Case cases[] = {
      {"", ".", ',', '.'},        // no grouping: a comma
      {",", ".", ',', '.'},
      {".", ",", '.', ','},
      {"\xA0", ",", ' ', ','},    // no-break space groups like a blank
      {"\x01", ".", 0, '.'},      // unprintable: none
      {"\xE2\x80\xAF", ",", 0, ','},
      {".", ".", 0, '.'},         // equal to the decimal point: none
      {",", "", ',', '.'},
      {",", "\xC3\xA9", ',', '.'},  // beyond 7 bits: '.'
      {" ", " ", 0, ' '},
  };
  for (const Case& c : cases) {
    struct lconv conv = {};
    conv.thousands_sep = const_cast<char*>(c.thousands);
    conv.decimal_point = const_cast<char*>(c.point);
    commaChar = 'x';
    decimalChar = 'y';
    setLocaleSeparators(&conv);
    EXPECT_EQ(commaChar, c.comma) << "thousands '" << c.thousands << "'";
    EXPECT_EQ(decimalChar, c.decimal) << "point '" << c.point << "'";
  }
  commaChar = ',';
  decimalChar = '.';
  setLocaleSeparators(nullptr);
  EXPECT_EQ(commaChar, ',');
  EXPECT_EQ(decimalChar, '.');
}

TEST(StartUp, SetsFieldNamesAlphabetAndDefaults) {
  strcpy(outputTempName, "vrkXXXXXX");
  numberOfAxes = 5;
  recordAxisRoot = 9;
  axisRootIndex[maxAxes - 1] = 7;
  strcpy(newDataFieldNames[512], "header");
  matchedRecords = elementsStored = 3;
  highlightField = 4;
  startRun({});
  EXPECT_EQ(highlightField, -1);
  EXPECT_EQ(matchedRecords, 0);
  EXPECT_EQ(elementsStored, 0);
  EXPECT_STREQ(newDataFieldNames[0], "f0");
  EXPECT_STREQ(newDataFieldNames[512], "f512");
  EXPECT_STREQ(outputChars, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz,.");
  EXPECT_EQ(numberOfOutputChars, 64);
  EXPECT_EQ(reasonableSplit, 16777216);
  EXPECT_EQ(minWidth, 4);
  EXPECT_EQ(std::string(binaryNumChars),
            std::string(32, '0') + "00000000000000000000000001000000");
  EXPECT_EQ(emitCB4, 1);
  EXPECT_EQ(emitFormattedData, 1);
  EXPECT_EQ(depthLimit, 16);
  EXPECT_EQ(extractField, -1);
  EXPECT_EQ(decimalPoints, 0);
  EXPECT_EQ(decimalMultiplier, 1);
  EXPECT_EQ(separator, '\t');
  EXPECT_EQ(numberOfAxes, 0);
  EXPECT_EQ(recordAxisRoot, -1);
  EXPECT_EQ(axisRootIndex[0], -1);
  EXPECT_EQ(axisRootIndex[maxAxes - 1], -1);
  EXPECT_STREQ(inputFileName, "");
  EXPECT_STREQ(outputFileName, "");
  EXPECT_STREQ(cb4FileName, "");
  // No exit may remove a file this run did not make.
  EXPECT_STREQ(outputTempName, "");
  EXPECT_STREQ(cb4TempName, "");
}

TEST(StartUp, FrenchLocaleNamesTheEmptyAndNoneLabels) {
  std::string saved = locale;
  locale = "German_Germany.1252";
  startRun({});
  EXPECT_STREQ(blankLabel, "(blank)");
  EXPECT_STREQ(noneLabel, "(none)");
  locale = "French_France.1252";
  startRun({});
  EXPECT_STREQ(blankLabel, "(vide)");
  EXPECT_STREQ(noneLabel, "(aucun)");
  locale = saved;
  blankLabel = "(blank)";
  noneLabel = "(none)";
}

TEST(Options, NameTheProfilePageAndCubeFile) {
  struct Case {
    std::vector<const char*> args;
    const char *profile, *page, *cube;
  };
  const Case cases[] = {
      {{"sales.qv4"}, "sales.qv4", "sales.html", "sales.cb4"},
      {{"-o", "out.txt", "sales.qv4"}, "sales.qv4", "out.html", "out.cb4"},
      {{"sales.qv4", "-o", "out.txt"}, "sales.qv4", "out.txt", "out.cb4"},
      {{"-oout.html"}, "", "out.html", "out.cb4"},
      {{"-o", "out.html"}, "", "out.html", "out.cb4"},
      {{"-o"}, "", "", ""},
      {{"\"q r.qv4\""}, "q r.qv4", "q r.html", "q r.cb4"},
      {{"-o", "\"x.htm\"", "p"}, "p", "x.html", "x.cb4"},
      {{"a.qv4", "b.qv4"}, "a.qv4", "a.html", "a.cb4"},
      {{"-o", "out.txt", "a.qv4", "b.qv4"}, "a.qv4", "out.html", "out.cb4"},
      {{"-o", "stdout"}, "", "stdout", "stdout.cb4"},
      {{"dir.old/cube"}, "dir.old/cube", "dir.html", "dir.cb4"},
      {{"-nosuch"}, "-nosuch", "-nosuch.html", "-nosuch.cb4"},
      {{"-output.html"}, "", "utput.html", "utput.cb4"},
  };
  for (const Case& c : cases) {
    startRun(c.args);
    std::string what = c.args.empty() ? "" : c.args[0];
    EXPECT_STREQ(inputFileName, c.profile) << what;
    EXPECT_STREQ(outputFileName, c.page) << what;
    EXPECT_STREQ(cb4FileName, c.cube) << what;
  }
}

TEST(Options, SetTheirFlags) {
  struct Case {
    std::vector<const char*> args;
    int* flag;
    int want;
  };
  const Case cases[] = {
      {{"-ecube"}, &emitCB4, 0},
      {{"-elumetra"}, &emitFormattedData, 1},
      {{"-ecube", "-ecb4"}, &emitCB4, 1},
      {{"-e", "cube"}, &emitCB4, 0},
      {{"-e", "lumetra"}, &emitCB4, 0},
      {{"-e", "-ecube"}, &emitCB4, 1},  // the kind is consumed, never an option
      {{"-e", "profile"}, &emitProfile, 1},
      {{"-e", "castanet"}, &emitCastanet, 1},
      {{"-e", "classdata"}, &emitClassData, 1},
      {{"-e", "classhierarchy"}, &emitClassHierarchy, 1},
      {{"-eprofile"}, &emitProfile, 1},
      {{"-ecastanet"}, &emitCastanet, 1},
      {{"-eclassdata"}, &emitClassData, 1},
      {{"-eclasshierarchy"}, &emitClassHierarchy, 1},
      {{"-eaccepted"}, &emitAcceptedData, 1},
      {{"-ecubeonly"}, &cubeOnly, 1},
      {{"-inhibitexpand"}, &inhibitProfileExpansion, 1},
      {{"-skipfirstline"}, &skipFirstLine, 1},
      {{"-norder"}, &nOrder, 1},
      {{"-stats"}, &showStats, 1},
      {{"-v"}, &verbose, 1},
      {{"-verbose"}, &verbose, 1},
      {{"-showfailed"}, &showFailed, 1},
      {{"-showdups"}, &showDups, 1},
      {{"-skip"}, &skipErrors, 1},
      {{"-vzero"}, &verboseZero, 1},
      {{"-vmult"}, &verboseMult, 1},
      {{"-incremental"}, &incrementalBuild, 1},
      {{"-dumpodbc"}, &dumpOdbcRows, 1},
      {{"-dumpodbcall"}, &dumpOdbcRows, 2},
      {{"-labels", "5"}, &maxLabels, 5},
      {{"-labels", "5", "-labels", "3"}, &maxLabels, 5},
      {{"-labels", "-2"}, &maxLabels, 0},
      {{"-threshold", "0.5"}, &threshold, 524288},
      {{"-threshold", "2047.5"}, &threshold, 2146959360},
      {{"-server", "h:80"}, &serverMode, 1},
  };
  for (const Case& c : cases) {
    startRun(c.args);
    std::string what;
    for (const char* a : c.args) what += std::string(a) + " ";
    EXPECT_EQ(*c.flag, c.want) << what;
  }
}

TEST(Options, KeepTheirValues) {
  startRun({"-server", "h:80:90", "-datasource", "\"text:x y.txt\"", "-dataname", "sales",
            "-param", "helpurl=a=b", "-param", "noequals"});
  EXPECT_STREQ(server, "h");
  EXPECT_STREQ(port, "80:90");
  EXPECT_STREQ(newDataSource, "text:x y.txt");
  EXPECT_STREQ(dataName, "sales");
  EXPECT_EQ(parameters, (std::vector<std::string>{"helpurl=a=b", "noequals"}));

  const std::string alphabet(
      "zyxwvutsrqponmlkjihgfedcbaZYXWVUTSRQPONMLKJIHGFEDCBA9876543210.,");
  startRun({"-chars", alphabet.c_str()});
  EXPECT_EQ(std::string(outputChars), alphabet);
  EXPECT_EQ(numberOfOutputChars, 64);  // the base never follows the replacement
  std::string prefixed = "-chars" + alphabet + "!";
  startRun({prefixed.c_str()});
  EXPECT_EQ(std::string(outputChars), alphabet + "!");
}

TEST(Options, ParametersSplitAtTheFirstEquals) {
  startRun({"-param", "helpurl=a=b"});
  applyParameters();
  EXPECT_EQ(np_helpurl, "a=b");
  startRun({"-param", "nosuch"});
  EXPECT_EXIT(applyParameters(), testing::ExitedWithCode(1),
              "Error 001: Use name=value for -param argument. \\(Got 'nosuch'\\)");
}

TEST(Msg, GoesToThePageInCgiModeAndToStandardErrorOtherwise) {
  startRun({});
  testing::internal::CaptureStderr();
  msg("plain %d\n", 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "plain 1\n");

  isCGI = 1;
  ofp = tmpfile();
  ASSERT_NE(ofp, nullptr);
  msg("page %s", "text");
  rewind(ofp);
  char buf[32] = {};
  ASSERT_NE(fgets(buf, sizeof buf, ofp), nullptr);
  EXPECT_STREQ(buf, "page text");
  fclose(ofp);
  ofp = nullptr;
  isCGI = 0;
}

TEST_F(InTempDir, PageStreamFollowsTheOutputName) {
  struct Case {
    std::vector<const char*> args;
    bool toStdout, none, temp;
  };
  const Case cases[] = {
      {{"p.qv4", "-o", "-"}, true, false, false},
      {{"p.qv4", "-o", "stdout"}, true, false, false},
      {{"p.qv4", "-ecubeonly"}, false, true, false},
      {{"p.qv4", "-ecubeonly", "-ecube"}, false, false, true},
      {{"p.qv4"}, false, false, true},
  };
  for (const Case& c : cases) {
    startRun(c.args);
    setUpStreams();
    std::string what = c.args.back();
    EXPECT_EQ(ofp == stdout, c.toStdout) << what;
    EXPECT_EQ(ofp == nullptr, c.none) << what;
    EXPECT_EQ(tempFilesIn(".").size(), c.temp ? 1u : 0u) << what;
    EXPECT_FALSE(fs::exists("-") || fs::exists("stdout")) << what;
    EXPECT_EQ(readProfile, 1);
    EXPECT_EQ(std::string(profileDirectory), fs::current_path().string() + "/");
    if (ofp && ofp != stdout) fclose(ofp);
    ofp = nullptr;
    fclose(pifp);
    cleanupTempFiles();
  }
}

TEST_F(InTempDir, TemporaryFilesGetOrdinaryPermissions) {
  for (mode_t mask : {022, 027, 0}) {
    mode_t old = umask(mask);
    startRun({"p.qv4", "-o", "out.html"});
    setUpStreams();
    openCubeStream();
    umask(old);
    for (const char* name : {outputTempName, cb4TempName}) {
      struct stat st;
      ASSERT_EQ(stat(name, &st), 0) << name;
      EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask) << name;
    }
    EXPECT_EQ(std::string(outputTempName, 3), "vrk");
    EXPECT_EQ(std::string(cb4TempName, 3), "cb4");
    fclose(ofp);
    fclose(cb4);
    fclose(pifp);
    ofp = cb4 = nullptr;
    cleanupTempFiles();
  }
  EXPECT_TRUE(tempFilesIn(".").empty());
}

// Sets up a run writing out.html and out.cb4 (or what args name) with new contents.
static void writeNewOutputs(const std::vector<const char*>& args) {
  startRun(args);
  setUpStreams();
  fclose(pifp);
  pifp = nullptr;
  openCubeStream();
  fputs("new page\n", ofp);
  if (cb4 != ofp) fputs("new cube\n", cb4);
}

TEST_F(InTempDir, FinishReplacesTheOldFiles) {
  writeFile("out.html", "old page\n");
  writeFile("out.cb4", "old cube\n");
  writeNewOutputs({"p.qv4", "-o", "out.html"});
  finishOutputFiles();
  EXPECT_EQ(readFile("out.html"), "new page\n");
  EXPECT_EQ(readFile("out.cb4"), "new cube\n");
  EXPECT_TRUE(tempFilesIn(".").empty());
  EXPECT_EQ(ofp, nullptr);
  EXPECT_EQ(cb4, nullptr);
  EXPECT_STREQ(outputTempName, "");
  EXPECT_STREQ(cb4TempName, "");
}

TEST_F(InTempDir, FinishWithTheCubeInThePageLeavesTheCubeFile) {
  writeFile("out.cb4", "old cube\n");
  writeNewOutputs({"p.qv4", "-o", "out.html", "-ecube"});
  finishOutputFiles();
  EXPECT_EQ(readFile("out.html"), "new page\n");
  EXPECT_EQ(readFile("out.cb4"), "old cube\n");
  EXPECT_TRUE(tempFilesIn(".").empty());
}

// The record extract road drops the cube it had opened: the page still replaces the old
// one, the old cube file stays, and no temporary file is left.
TEST_F(InTempDir, DroppedCubeFileLeavesTheOldOne) {
  writeFile("out.html", "old page\n");
  writeFile("out.cb4", "old cube\n");
  writeNewOutputs({"p.qv4", "-o", "out.html"});
  ASSERT_NE(cb4, ofp);
  dropCubeFile();
  EXPECT_EQ(cb4, ofp);
  EXPECT_STREQ(cb4TempName, "");
  finishOutputFiles();
  EXPECT_EQ(readFile("out.html"), "new page\n");
  EXPECT_EQ(readFile("out.cb4"), "old cube\n");
  EXPECT_TRUE(tempFilesIn(".").empty());
}

TEST_F(InTempDir, FinishWithCubeOnlyLeavesThePage) {
  writeFile("out.html", "old page\n");
  startRun({"p.qv4", "-o", "out.html", "-ecubeonly"});
  setUpStreams();
  openCubeStream();
  ASSERT_EQ(ofp, nullptr);
  fputs("new cube\n", cb4);
  finishOutputFiles();
  EXPECT_EQ(readFile("out.html"), "old page\n");
  EXPECT_EQ(readFile("out.cb4"), "new cube\n");
  EXPECT_TRUE(tempFilesIn(".").empty());
}

TEST_F(InTempDir, FailedFinishLeavesTheOldFilesAndNoTemporaries) {
  struct Case {
    const char* what;
    std::function<void()> prepare;
    const char* page;
    const char* cube;
    const char* error;
  };
  const Case cases[] = {
      {"cube name is a directory", [] { fs::create_directory("out.cb4"); }, "out.html", "out.cb4",
       "Error 002: Couldn't move cb4.* to out.cb4: Is a directory"},
      {"page name is a directory", [] { fs::create_directory("dir.html"); }, "dir.html", "dir.cb4",
       "Error 002: Couldn't move vrk.* to dir.html: Is a directory"},
      {"no such directory", [] {}, "nodir/out.html", "nodir/out.cb4",
       "Error 002: Couldn't move vrk.* to nodir/out.html: No such file or directory"},
  };
  for (const Case& c : cases) {
    writeFile("out.html", "old page\n");
    c.prepare();
    EXPECT_EXIT(
        {
          writeNewOutputs({"p.qv4", "-o", c.page});
          finishOutputFiles();
        },
        testing::ExitedWithCode(2), c.error)
        << c.what;
    EXPECT_EQ(readFile("out.html"), "old page\n") << c.what;
    EXPECT_TRUE(tempFilesIn(".").empty()) << c.what;
  }
}

TEST_F(InTempDir, FinishCopiesAcrossFileSystems) {
  struct stat here, shm;
  if (stat(".", &here) != 0 || stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  char templ[] = "/dev/shm/varkel-test.XXXXXX";
  ASSERT_NE(mkdtemp(templ), nullptr);
  fs::path other = templ;
  writeFile(other / "out.html", "old page\n");
  std::string page = (other / "out.html").string();
  writeNewOutputs({"p.qv4", "-o", page.c_str()});
  finishOutputFiles();
  EXPECT_EQ(readFile(other / "out.html"), "new page\n");
  EXPECT_EQ(readFile(other / "out.cb4"), "new cube\n");
  EXPECT_TRUE(tempFilesIn(".").empty());
  EXPECT_TRUE(tempFilesIn(other).empty());
  fs::remove_all(other);
}

TEST_F(InTempDir, EveryWayOutRemovesTheTemporaryFiles) {
  struct Case {
    const char* what;
    std::function<void()> leave;
    int status;  // exit status, or minus the signal
  };
  const Case cases[] = {
      {"jump_exit", [] { jump_exit(3); }, 3},
      {"fatal", [] { fatal(5, "stop\n"); }, 5},
      {"exit", [] { exit(0); }, 0},
      {"SIGTERM", [] { raise(SIGTERM); }, -SIGTERM},
      {"SIGINT", [] { raise(SIGINT); }, -SIGINT},
  };
  for (const Case& c : cases) {
    auto run = [&] {
      writeNewOutputs({"p.qv4", "-o", "out.html"});
      ASSERT_EQ(tempFilesIn(".").size(), 2u);
      c.leave();
    };
    if (c.status >= 0)
      EXPECT_EXIT(run(), testing::ExitedWithCode(c.status), "") << c.what;
    else
      EXPECT_EXIT(run(), testing::KilledBySignal(-c.status), "") << c.what;
    EXPECT_TRUE(tempFilesIn(".").empty()) << c.what;
    EXPECT_FALSE(fs::exists("out.html")) << c.what;
  }
}

// fatal, from any module, removes the files the two temporary names hold, wherever they lie.
TEST_F(InTempDir, FatalRemovesBothNamedTemporaryFiles) {
  fs::create_directory("elsewhere");
  std::string page = (dir / "elsewhere/vrk123456").string();
  std::string cube = (dir / "elsewhere/cb4123456").string();
  for (const std::string& f : {page, cube}) writeFile(f, "");
  EXPECT_EXIT(
      {
        registerTempCleanup();
        snprintf(outputTempName, sizeof outputTempName, "%s", page.c_str());
        snprintf(cb4TempName, sizeof cb4TempName, "%s", cube.c_str());
        fatal(110, "gone\n");
      },
      testing::ExitedWithCode(110), "");
  EXPECT_FALSE(fs::exists(page));
  EXPECT_FALSE(fs::exists(cube));
}

TEST_F(InTempDir, CubeFileThatCannotBeMadeIsError2) {
  EXPECT_EXIT(
      {
        startRun({"p.qv4", "-o", "out.html", "-ecubeonly"});
        setUpStreams();
        // A working directory that is gone takes no new file, even for root.
        fs::create_directory("gone");
        fs::current_path("gone");
        fs::remove(dir / "gone");
        openCubeStream();
      },
      testing::ExitedWithCode(2), "Error 002: Couldn't open cb4XXXXXX as CB4 output file.");
  EXPECT_TRUE(tempFilesIn(".").empty());
}

TEST_F(InTempDir, PageThatCouldNotBeWrittenDoesNotReplaceTheOldOne) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  writeFile("out.html", "old page\n");
  EXPECT_EXIT(
      {
        writeNewOutputs({"p.qv4", "-o", "out.html"});
        // Stand in for a full disk under the page's temporary file.
        fclose(ofp);
        ofp = fopen("/dev/full", "w");
        fputs("new page\n", ofp);
        finishOutputFiles();
      },
      testing::ExitedWithCode(2), "Error 002: Couldn't write out.html: No space left on device");
  EXPECT_EQ(readFile("out.html"), "old page\n");
  EXPECT_TRUE(tempFilesIn(".").empty());
}

TEST_F(InTempDir, PageAndCubeFileMayNotShareAName) {
  writeFile("out.cb4", "old cube\n");
  EXPECT_EXIT(writeNewOutputs({"p.qv4", "-o", "out.cb4"}), testing::ExitedWithCode(1),
              "Error 001: The page and the cube file cannot both be named out.cb4.");
  EXPECT_EQ(readFile("out.cb4"), "old cube\n");
  EXPECT_TRUE(tempFilesIn(".").empty());
  // Without a page file the cube alone takes the name.
  startRun({"p.qv4", "-o", "out.cb4", "-ecubeonly"});
  setUpStreams();
  openCubeStream();
  fputs("new cube\n", cb4);
  finishOutputFiles();
  EXPECT_EQ(readFile("out.cb4"), "new cube\n");
}

TEST(RunCaught, EndsWhatTheDriverThrowsWithItsError) {
  struct Case {
    const char* what;
    int (*driver)(int, char**);
    int status;
    const char* error;
  };
  const Case cases[] = {
      {"result", [](int argc, char**) { return argc + 6; }, 7, ""},
      {"bad_alloc", [](int, char**) -> int { throw std::bad_alloc(); }, 100,
       "^Error 100: Out of memory.\n$"},
      {"standard", [](int, char**) -> int { throw std::runtime_error("boom"); }, 1,
       "^Error 001: Caught standard exception: boom\n$"},
      {"other", [](int, char**) -> int { throw 42; }, 1, "^Error 001: Caught unknown exception.\n$"},
  };
  for (const Case& c : cases)
    EXPECT_EXIT(exit(runCaught(c.driver, 1, nullptr)), testing::ExitedWithCode(c.status), c.error)
        << c.what;
}

// The builder's driver: start-up defaults, the command line, the profile stream and the
// order of a run's phases.
#include "varkel/varkel.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/changeExtension.h"
#include "common/preferences.h"
#include "common/textutil.h"
#include "common/util.h"
#include "varkel/cgifront.h"
#include "varkel/coded.h"
#include "varkel/cube.h"
#include "varkel/datasource.h"
#include "varkel/extract.h"
#include "varkel/input.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/output.h"
#include "varkel/pipeline.h"
#include "varkel/report.h"
#include "varkel/urlfetch.h"
#include "varkel/workbuffers.h"

// The profile stream; null until set up.
FILE* pifp = nullptr;

// The banner texts.
const char* const programVersion = "varkel 2.1";
const char* const buildNumber = "build 101";
const char* const buildDate = "Dec 10 2026";

// Longest working directory kept in profileDirectory.
static const size_t maxDirectoryLength = 127;

// 1 once an output name came with -o (either form); -incremental needs one.
static int outputNameGiven = 0;

void dumpURL(const char* url) {
  if (urlFetch(url) != 0) fatal(2, "Unable to open url '%s'\n", url);
  std::vector<char> line(65536 + 1, '\0');
  if (urlGetLine(line.data(), 65536) < 0) fatal(2, "Unable to open url '%s'\n", url);
  do {
    puts(line.data());
  } while (urlGetLine(line.data(), 65536) >= 0);
  exit(0);
}

void setLocaleSeparators(const struct lconv* conv) {
  if (!conv) return;
  unsigned char group = conv->thousands_sep ? (unsigned char)conv->thousands_sep[0] : 0;
  if (group == 0xA0) group = ' ';  // a no-break space groups like a blank
  else if (group == 0) group = ',';
  else if (!isprint(group)) group = 0;
  unsigned char point = conv->decimal_point ? (unsigned char)conv->decimal_point[0] : 0;
  commaChar = (char)group;
  decimalChar = (point >= 1 && point <= 127) ? (char)point : '.';
  if (commaChar == decimalChar) commaChar = 0;
}

void startUp() {
  // Until this run makes a temporary file the names stay empty, so that no exit removes a
  // file of someone else's that happens to carry the template's name.
  forgetTempNames();

  setLocaleSeparators(localeconv());

  maxLabels = 0;
  makeWorkBuffers();

  if (locale.compare(0, 6, "French") == 0) {
    blankLabel = "(vide)";
    noneLabel = "(aucun)";
  }

  for (int i = 0; i < maxAxes; i++) axisRootIndex[i] = -1;
  for (int i = 0; i < maxInputFields; i++)
    snprintf(newDataFieldNames[i], fieldSize, "f%d", i);

  depthLimit = 16;
  setSeparator('\t');
  noQuery = 0;
  recordAxisRoot = -1;
  highlightField = -1;
  numberOfAxes = 0;
  isCGI = 0;
  verboseZero = 0;
  verboseMult = 0;
  cb4FileName[0] = '\0';
  outputNameGiven = 0;
  extractField = -1;
  decimalMultiplier = 1;
  showStats = 0;
  decimalPoints = 0;
  emitFormattedData = 1;
  emitProfile = 0;
  expandProfile = 0;
  inhibitProfileExpansion = 0;
  readProfile = 0;
  emitAcceptedData = 0;
  emitCastanet = 0;
  emitCB4 = 1;
  emitClassData = 0;
  emitClassHierarchy = 0;
  // The value alphabet, its base, reasonableSplit/minWidth and binaryNumChars.
  initCodedNumbers();

  registerTempCleanup();
  fatalMessageHook = endOpenLine;
  // pclose must see how a command source ended, also when the caller ignored SIGCHLD.
  signal(SIGCHLD, SIG_DFL);

  elementsStored = 0;
  matchedRecords = 0;
  profileBuffer = nullptr;
}

// name less one pair of surrounding double quotes, in place.
static void stripQuotes(char* name) {
  size_t n = strlen(name);
  if (n >= 2 && name[0] == '"' && name[n - 1] == '"') {
    memmove(name, name + 1, n - 2);
    name[n - 2] = '\0';
  }
}

// Copies text into a 256-byte name buffer; a longer text is refused.
static void setName(char* buffer, const char* text, const char* what) {
  if (strlen(text) > maxNameLength)
    fatal(1, "%s '%s' is longer than %zu characters.\n", what, text, maxNameLength);
  strcpy(buffer, text);
}

// outputFileName with its extension changed to ext, refused when that no longer fits.
static void setOutputExtension(const char* ext) {
  std::string name = changeExtension(std::string(outputFileName), ext);
  setName(outputFileName, name.c_str(), "Output filename");
}

static void setCubeFileName() {
  std::string name = changeExtension(std::string(outputFileName), ".cb4");
  strcpy(cb4FileName, name.c_str());  // at most 255 + 4 characters
}

// -o in either form.
static void outputName(const char* text) {
  char name[1024];
  if (strlen(text) >= sizeof name)
    fatal(1, "Output filename '%s' is longer than %zu characters.\n", text, maxNameLength);
  strcpy(name, text);
  stripQuotes(name);
  setName(outputFileName, name, "Output filename");
  setCubeFileName();
  outputNameGiven = 1;
  if (verbose) msg("Output filename is %s.\n", outputFileName);
}

// -chars in either form.
static void outputCharset(const char* text) {
  setOutputChars(text);
  if (verbose) msg("Output charset is %s.\n", outputChars);
}

// A positional argument: the first names the profile; each re-applies the extensions.
static void profileName(const char* text) {
  if (inputFileName[0] == '\0') {
    setName(inputFileName, text, "Profile filename");
    if (verbose) msg("Profile filename is %s.\n", inputFileName);
  }
  stripQuotes(inputFileName);
  if (outputFileName[0] == '\0') strcpy(outputFileName, inputFileName);
  setOutputExtension(".html");
  setCubeFileName();
}

static char* copyOf(const char* text, int line) {
  return _newStr(text, "varkel", line);
}

[[noreturn]] static void usage(const char* program) {
  msg("Usage: %s [<input file>] [-o <output file>]\n", program);
  msg("\t-ecube to output in HTML pagecube only\n");
  msg("\t-ecubeonly only update .cb4 file.  Does not change .html file\n");
  msg("\t-server host:port to build a cube for client/server mode\n");
  msg("\t-showfailed to display information about unmatched records\n");
  msg("\t-skip to skip incomplete records and invalid dates\n");
  msg("\t-showdups to show which dimensions match a record more than once\n");
  msg("\t-v for more verbose output\n");
  msg("\t-stats for statistics about the cube\n");
  msg("Check the administrators guide for more arguments and details.\n");
  jump_exit(1);
}

static void requestLumetra() {
  emitFormattedData = 1;
  emitCB4 = 0;
}

// -e KIND; every kind it knows is announced whether or not -v was given.
static void outputKind(const char* kind) {
  if (strcmp(kind, "profile") == 0) {
    emitProfile = 1;
    msg("Output requested is: profile.\n");
  } else if (strcmp(kind, "lumetra") == 0 || strcmp(kind, "cube") == 0) {
    requestLumetra();
    msg("Output requested is: lumetra.\n");
  } else if (strcmp(kind, "castanet") == 0) {
    emitCastanet = 1;
    msg("Output requested is: castanet.\n");
  } else if (strcmp(kind, "classdata") == 0) {
    emitClassData = 1;
    msg("Output request is: class file containing data.\n");
  } else if (strcmp(kind, "classhierarchy") == 0) {
    emitClassHierarchy = 1;
    msg("Output requested is: class file containing heirarchy.\n");
  }
}

static void thresholdOption(const char* text) {
  double mb = atof(text);
  if (!(mb > 0)) fatal(1, "Unable to understand argument to -threshold '%s'\n", text);
  double bytes = mb * 1024.0 * 1024.0;
  if (!(bytes < 2147483648.0))
    fatal(1, "Threshold '%s' is too large: it must be below 2048 MB.\n", text);
  threshold = (int)bytes;
  msg("Set the threshold for server cubes to %d bytes.\n", threshold);
}

static void serverOption(const char* text) {
  const char* colon = strchr(text, ':');
  if (!colon) fatal(1, "No port in -server '%s'\n", text);
  // The viewer would be sent to a server it cannot reach.
  if (colon == text) fatal(1, "No host in -server '%s'\n", text);
  if (colon[1] == '\0') fatal(1, "No port in -server '%s'\n", text);
  std::string host(text, colon - text);
  server = copyOf(host.c_str(), __LINE__);
  port = copyOf(colon + 1, __LINE__);
  serverMode = 1;
}

static void directoryOption(const char* text) {
  char* dir = copyOf(text, __LINE__);
  stripQuotes(dir);
  if (chdir(dir) != 0) fatal(2, "Change directory to '%s' failed: %s\n", text, strerror(errno));
  free(dir);
}

void parseOptions(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    // A value-taking option consumes the next argument, which is then never an option.
    auto take = [&]() { i++; return value; };

    if (strcmp(a, "-o") == 0) {
      if (value) outputName(take());
    } else if (strncmp(a, "-o", 2) == 0) {
      outputName(a + 2);
    } else if (strcmp(a, "-vzero") == 0) {
      verboseZero = 1;
      msg("Zero-match records will be reported.\n");
    } else if (strcmp(a, "-chars") == 0) {
      if (value) outputCharset(take());
    } else if (strcmp(a, "-labels") == 0) {
      if (value) {
        int n = atoi(take());
        if (n > maxLabels) maxLabels = n;
        if (verbose) msg("Starting label space is %d\n", maxLabels);
      }
    } else if (strncmp(a, "-chars", 6) == 0) {
      outputCharset(a + 6);
    } else if (strcmp(a, "-vmult") == 0) {
      verboseMult = 1;
      msg("Multiple-match records will be reported.\n");
    } else if (strcmp(a, "-inhibitexpand") == 0) {
      inhibitProfileExpansion = 1;
      msg("Profile expansion will be inhibited.\n");
    } else if (strcmp(a, "-skipfirstline") == 0) {
      skipFirstLine = 1;
      if (verbose) msg("Output request is: skip first line.\n");
    } else if (strcmp(a, "-eprofile") == 0) {
      emitProfile = 1;
      if (verbose) msg("Output requested is: profile.\n");
    } else if (strcmp(a, "-ecastanet") == 0) {
      emitCastanet = 1;
      if (verbose) msg("Output requested is: castanet.\n");
    } else if (strcmp(a, "-elumetra") == 0 || strcmp(a, "-ecube") == 0) {
      requestLumetra();
      if (verbose) msg("Output requested is: lumetra.\n");
    } else if (strcmp(a, "-eclassdata") == 0) {
      emitClassData = 1;
      if (verbose) msg("Output request is: class file containing data.\n");
    } else if (strcmp(a, "-ecb4") == 0) {
      emitCB4 = 1;
      if (verbose) msg("Output request is: CB4.\n");
    } else if (strcmp(a, "-ecubeonly") == 0) {
      cubeOnly = 1;
    } else if (strcmp(a, "-eclasshierarchy") == 0) {
      emitClassHierarchy = 1;
      if (verbose) msg("Output request is: class file containing hierarchy.\n");
    } else if (strcmp(a, "-eaccepted") == 0) {
      emitAcceptedData = 1;
      if (verbose) msg("Printing accepted data.\n");
    } else if (strcmp(a, "-norder") == 0) {
      nOrder = 1;
    } else if (strcmp(a, "-stats") == 0) {
      showStats = 1;
    } else if (strcmp(a, "-v") == 0 || strcmp(a, "-verbose") == 0) {
      verbose = 1;
    } else if (strcmp(a, "-showfailed") == 0) {
      showFailed = 1;
    } else if (strcmp(a, "-showdups") == 0) {
      showDups = 1;
    } else if (strcmp(a, "-skip") == 0) {
      skipErrors = 1;
    } else if (strcmp(a, "-e") == 0) {
      if (value) outputKind(take());
    } else if (strcmp(a, "-datasource") == 0) {
      if (!value) fatal(1, "Missing data source for -datasource argument.\n");
      take();
      newDataSource = copyOf(value, __LINE__);
      stripQuotes(newDataSource);
      if (verbose) msg("Using data source '%s'\n", value);
      setupDataSource(newDataSource);
    } else if (strcmp(a, "-dataname") == 0) {
      if (!value) fatal(1, "Missing data source for -dataname argument.\n");
      dataName = copyOf(take(), __LINE__);
    } else if (strcmp(a, "-param") == 0) {
      if (!value) fatal(1, "Missing value for -param argument.\n");
      parameters.push_back(take());
    } else if (strcmp(a, "-threshold") == 0) {
      if (!value) fatal(1, "Missing value for -threshold argument.\n");
      thresholdOption(take());
    } else if (strcmp(a, "-incremental") == 0) {
      incrementalBuild = 1;
    } else if (strcmp(a, "-dumpodbc") == 0 || strcmp(a, "-dumpodbcall") == 0) {
#ifdef HAVE_ODBC
      dumpOdbcRows = strcmp(a, "-dumpodbc") == 0 ? 1 : 2;
#endif
    } else if (strcmp(a, "-dumpurl") == 0) {
      if (!value) fatal(1, "-dumpurl requires an URL argument.\n");
      dumpURL(take());
    } else if (strcmp(a, "-server") == 0) {
      if (!value) fatal(1, "Missing hostname:port for -server.\n");
      serverOption(take());
    } else if (strcmp(a, "-dir") == 0) {
      if (!value) fatal(1, "Missing directory for -dir argument.\n");
      directoryOption(take());
    } else if (strcmp(a, "-help") == 0 || strcmp(a, "help") == 0 || strcmp(a, "-?") == 0 ||
               strcmp(a, "/?") == 0) {
      usage(argv[0]);
    } else {
      profileName(a);
    }
  }
}

void setUpStreams() {
  if (verbose) {
    msg("Locale string: '%s'\n", locale.c_str());
    msg("Decimal separator is '%c'\n", decimalChar);
    msg("Number group separator is '%c'\n", commaChar);
  }
  if (incrementalBuild && !outputNameGiven)
    fatal(1, "-incremental requires a -o output file name.\n");

  if (inputFileName[0] != '\0') {
    pifp = fopen(inputFileName, "r");
    if (!pifp) fatal(2, "Couldn't open %s as input file.\n", inputFileName);
  } else {
    msg("Reading standard input.\n");
    msg("Use \"varkel -help\" for usage information.\n\n");
    pifp = stdin;
  }

  openOutputStreams();

  char cwd[maxDirectoryLength + 1];
  if (!getcwd(cwd, sizeof cwd)) {
    if (errno == ERANGE)
      fatal(1, "The working directory is longer than %zu characters.\n", maxDirectoryLength);
    fatal(2, "Couldn't read the working directory: %s\n", strerror(errno));
  }
  snprintf(profileDirectory, 256, "%s/", cwd);

  // The profile before a byte of it is read; its data file once the profile names it.
  refuseOutputsOverInputs();
  readProfile = 1;
}

void applyParameters() {
  for (const std::string& p : parameters) {
    std::string::size_type eq = p.find('=');
    if (eq == std::string::npos) fatal(1, "Use name=value for -param argument. (Got '%s')\n", p.c_str());
    std::string name = p.substr(0, eq);
    setStringParameter(name.c_str(), p.c_str() + eq + 1);
  }
}

int Main(int argc, char** argv) {
  startUp();
  if (getenv("REQUEST_METHOD")) {
    cgiFrontEnd();
  } else {
    msg("%s (%s %s)\n", programVersion, buildNumber, buildDate);
    parseOptions(argc, argv);
    setUpStreams();
  }
  buildPipeline();
  outputPhases();
  if (emitAcceptedData) outputAcceptedData();
  return 0;
}

// The build pipeline: the middle of the builder's run. It reads the compiled profile, makes
// sure there is a measures axis, then reads the data source up to twice: the expansion pass
// grows the dimension trees, and after the trees are pruned, sorted, trimmed and given
// their share of the 128-bit coordinate, the cube pass classifies every record into the
// cube. Each pass opens the source anew.
#include "varkel/pipeline.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/preferences.h"
#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/cellstage.h"
#include "varkel/cgifront.h"
#include "varkel/coded.h"
#include "varkel/cube.h"
#include "varkel/cubelock.h"
#include "varkel/datasource.h"
#include "varkel/grow.h"
#include "varkel/fieldsplit.h"
#include "varkel/input.h"
#include "varkel/linereader.h"
#include "varkel/lookahead.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/odbc.h"
#include "varkel/odbcdump.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/recordkey.h"
#include "varkel/recordreader.h"
#include "varkel/reparse.h"
#include "varkel/report.h"
#include "varkel/shape.h"
#include "varkel/urlfetch.h"
#include "varkel/varkel.h"
#include "varkel/workbuffers.h"

int numRecords = 0;
int axisRange[32];
int axisBits[32];
int numberOfBits = 0;

// The compiled-profile text of the run and its allocated size.
char* profileBuffer = nullptr;
int profileBufferSize = 0;

// Shown by -stats; always 0 here.
int rebuildCount = 0;

// Records counted in the current pass, for the progress marks.
static int progressCount = 0;

// Standard input has been read to its end (by the profile or a pass) and closed.
static bool stdinUsed = false;

// The two passes differ only in a few texts and in what they do with a record.
enum Pass { expansion, cube };


static bool isStdinSource() {
  return dataFileName && dataType == textData && strcmp(dataFileName, "stdin") == 0;
}

// Appends each piece of the profile stream to profileBuffer, which grows by a line
// buffer's size per piece so that the whole text is kept however long its lines are.
static void readProfileText() {
  free(profileBuffer);
  profileBufferSize = 1;
  profileBuffer = static_cast<char*>(calloc(1, 1));
  if (!profileBuffer) fatal(100, "Out of memory.\n");
  size_t used = 0;
  while (fgets(inputBuffer, inputBufferSize, pifp)) {
    size_t n = strlen(inputBuffer);
    char* grown = static_cast<char*>(realloc(profileBuffer, profileBufferSize + inputBufferSize));
    if (!grown) fatal(100, "Out of memory.\n");
    profileBuffer = grown;
    profileBufferSize += inputBufferSize;
    memcpy(profileBuffer + used, inputBuffer, n + 1);
    used += n;
  }
}

void ensureMeasuresAxis() {
  // Label 0 is the first axis root, so only a positive index names a measures root.
  if (recordAxisRoot <= 0) {
    if (verbose) msg("Creating single record node (none specified).\n");
    int n = getNextFree();
    AxisLabel& l = axisLabels[n];
    l.label = "Count";
    l.setFunction(nullptr);
    l.child = -1;
    l.field = -2;  // counts 1 per record
    l.setFormat(new std::string("D0N0"));
    l.sibling = -1;
    recordAxisRoot = n;
  }
  if (axisLabels[recordAxisRoot].child == -1) {
    if (verbose) msg("Expanding single record node to two levels.\n");
    int old = recordAxisRoot;
    int n = getNextFree();
    AxisLabel& l = axisLabels[n];
    l.label = "Measures";
    l.setFunction(nullptr);
    l.child = old;
    l.field = -1;
    l.sibling = axisLabels[old].sibling;
    recordAxisRoot = n;
  }
}

void resolveDataFileName() {
  if (!dataFileName || dataFileName[0] == '\0') return;
  std::string name = dataFileName;
  if (name != "stdin" && name[0] != '/') name = std::string(profileDirectory) + name;
  if (name.size() > maxNameLength) {
    // Only a text file is opened by this name; for other kinds it is never read.
    if (dataType == textData)
      fatal(1, "Data file name '%s' is longer than %zu characters.\n", name.c_str(),
            maxNameLength);
    name.clear();
  }
  strcpy(newDataFileName, name.c_str());
}

bool expansionPassRuns() { return expandProfile == 1 && inhibitProfileExpansion == 0; }

bool cubePassRuns() {
  return emitFormattedData == 1 && !(expandProfile && inhibitProfileExpansion);
}

// Standard input can be read once: refuse a run that would read it twice before anything
// of it is read, rather than build a cube from nothing.
static void checkStandardInput(bool profileFromStdin) {
  if (!isStdinSource()) return;
  if (profileFromStdin)
    fatal(1, "Standard input cannot hold both the profile and the data.\n");
  if (expansionPassRuns() && cubePassRuns())
    fatal(1, "Standard input cannot be the data of both passes; give the data as a file.\n");
}

void readProfilePhase() {
  if (verbose) msg("Reading profile...\n");
  bool profileFromStdin = false;
  if (!isCGI && pifp) {
    profileFromStdin = pifp == stdin;
    readProfileText();
  }
  if (profileBuffer) readNewProfile(profileBuffer);
  applyParameters();
  if (numberOfAxes < 1) fatal(3, "Fewer than one data dimension.\n");
  ensureMeasuresAxis();
  if (pifp) {
    fclose(pifp);
    pifp = nullptr;
    if (profileFromStdin) stdinUsed = true;
  }
  resolveDataFileName();
  checkStandardInput(profileFromStdin);
  if (verbose) msg("Profile read.\n");
}

// Opens the data source for pass.
static void openSource(Pass pass) {
  if (!dataFileName) fatal(106, "No data source specified.\n");
  FILE* input = nullptr;
  if (dataType == textData) {
    if (pass == cube) resolveDataFileName();
    if (dataFileName[0] == '\0' || newDataFileName[0] == '\0')
      fatal(2, "No data file name given.\n");
    if (strcmp(newDataFileName, "stdin") == 0) {
      if (stdinUsed) fatal(1, "Standard input has already been read; give the data as a file.\n");
      input = stdin;
    }
  }
  openRecordSource(pass == cube ? cubeReading : expansionReading, newDataFileName,
                   newDataFileName, input);
}

// Closes the source after its pass; standard input, once closed, cannot serve again.
static void closeSource() {
  if (ifp == stdin) stdinUsed = true;
  closeRecordSource(true);
}

// Maps the profile's field slots to the data's columns, now that newDataFieldNames holds
// them.
static void mapAllFields() {
  std::for_each(axisLabels.begin(), axisLabels.end(), MapField());
  // Without an expansion pass the cube pass took the measures' fields before the header
  // named the columns: take them again, or every measure would read the wrong column.
  if (!recordFieldNums.empty()) {
    recordFieldCtr = 0;
    getFieldIndices(recordAxisRoot);
  }
}

// Takes the first line as the data's column names.
static void mapHeaderLine() {
  if (!readHeaderLine()) return;
  extractInputFields(inputFields, inputBuffer, separator);
  memcpy(newDataFieldNames, inputFields, sizeof newDataFieldNames);
  mapAllFields();
}

// One progress step for a counted record.
static void countProgress() {
  progressCount++;
  if (progressCount % 1000 != 0 || isCGI) return;
  if (verbose)
    msg("Processed %d lines.\r", progressCount);
  else
    msg(".");
}

static bool quietProgress() { return !verbose && !isCGI; }

// Grows every axis for the current record.
static void growRecord() {
  for (int a = 0; a < numberOfAxes; a++) {
    if (axisRootIndex[a] == -1) continue;
    if (keyedGrowthSettled(a)) continue;
    unsigned long stamp = growthStamp();
    nodeStack.push_back(axisRootIndex[a]);
    while (!nodeStack.empty()) {
      int n = nodeStack.back();
      nodeStack.pop_back();
      insertNode(n);
    }
    keyedGrowthWalked(a, stamp);
  }
}

static void handleRecord(Pass pass) {
  numRecords++;
  countProgress();
  if (pass == expansion)
    growRecord();
  else
    matchRecord();
}

// Reads every record of the open source, hands each to the pass and closes the source.
static void readRecords(Pass pass) {
  if (dataType == odbcData) {
    // The first fetch brought the column names: the fields can be mapped to them.
    while (nextRecord() >= 0) {
      if (numRecords == 0 && fieldsMapped == 0) mapAllFields();
      handleRecord(pass);
    }
  } else {
    // A header line never becomes a record; it names the columns when nothing has yet.
    if (skipFirstLine == 1) {
      if (fieldsMapped == 0)
        mapHeaderLine();
      else
        readHeaderLine();
    }
    startLookahead();
    while (nextRecord() >= 0) {
      lookAhead();
      handleRecord(pass);
    }
  }
  if (quietProgress()) msg("\n");
  closeSource();
}

void pruneAxes() {
  int kept = 0;
  for (int a = 0; a < numberOfAxes; a++) {
    int root = axisRootIndex[a];
    if (root != -1 && axisLabels[root].child == -1) {
      msg("Dimension \"%s\" ignored because it has no children.\n",
          axisLabels[root].label.c_str());
      continue;
    }
    axisRootIndex[kept++] = root;
  }
  for (int a = kept; a < maxAxes; a++) axisRootIndex[a] = -1;
  numberOfAxes = kept;
  if (numberOfAxes == 0) fatal(3, "No data dimensions.  Cannot build a cube.\n");
}

void expansionPass() {
  if (verbose) msg("Expanding profile.\n");
  openSource(expansion);
  numRecords = 0;
  matchedRecords = 0;
  progressCount = 0;
  if (quietProgress()) msg("Expanding profile: ");
  beginKeyedPass(true);
  readRecords(expansion);
  endKeyedPass();

  pruneAxes();
  for (int a = 0; a < numberOfAxes; a++) doSorting(axisRootIndex[a], -1, -1);
  for (int a = 0; a < numberOfAxes; a++) {
    for (int n = axisRootIndex[a]; n != -1; n = axisLabels[n].sibling)
      trimDepth(axisLabels[n].child, depthLimit - 1);
  }
}

void layOutCoordinates() {
  numberOfBits = 0;
  for (int a = 0; a < numberOfAxes; a++) {
    axisRange[a] = getRange(axisRootIndex[a]);
    axisBits[a] = nextPowerOfTwo(axisRange[a]);
    numberOfBits += axisBits[a];
  }
  bool tooWide = numberOfBits > maxCoordinateBits;
  if (tooWide) {
    msg("The dimension requirements of %d bits exceeds the number available in this version.\n",
        numberOfBits);
    msg("The current maximum is %d.\n", maxCoordinateBits);
    msg("Either reduce the number of dimensions or reduce the range of one dimension.\n");
  }
  if (tooWide || (verbose && !isCGI)) {
    for (int a = 0; a < numberOfAxes; a++)
      msg("Dimension %d range is: %d (%d bits)\n", a, axisRange[a], axisBits[a]);
  }
  if (tooWide)
    fatal(110, "Number of bits required (%d) exceed limit of %d.\n", numberOfBits,
          maxCoordinateBits);
  setLeafNumbers();
  if (incrementalBuild) restoreData();
}

void cubePass() {
  if (verbose) msg("Producing cube.\n");
  openSource(cube);
  recordSize = getRecordRange(recordAxisRoot);
  if (recordSize == 0) recordSize = 1;
  if (verbose) {
    msg("Record size: %d.\n", recordSize);
    msg("Labels used: %d.\n", nextFree - 1);
  }
  recordFieldNums.resize(recordSize, -1);
  theRecord.resize(recordSize, 0.0);
  recordFieldCtr = 0;
  getFieldIndices(recordAxisRoot);
  memset(warning, 0, sizeof warning);
  numRecords = 0;
  matchedRecords = 0;
  progressCount = 0;
  if (quietProgress()) msg("Processing: ");
  beginCellStaging();
  beginKeyedPass(false);
  readRecords(cube);
  endKeyedPass();
  endCellStaging();
  if (verbose) msg("\n");
  if (showStats == 1) msg("Rebuild count is: %d\n", rebuildCount);
}

void buildPipeline() {
#ifdef HAVE_ODBC
  if (dumpOdbcRows) dumpODBC(dumpOdbcRows == 2);
#endif
  if (readProfile == 1) readProfilePhase();
  refuseOutputsOverInputs();

  if (incrementalBuild) {
    if (!newDataSource) fatal(1, "Cannot do -incremental without -datasource.\n");
    // Held until the run ends, so no other increment reads this cube before ours is in place.
    lockPreviousCube(inputFileName);
    reparse(inputFileName);
    setupDataSource(newDataSource);
    resolveDataFileName();
  }
  openCubeStream();

  if (expansionPassRuns()) expansionPass();
  layOutCoordinates();
  if (cubePassRuns()) cubePass();
}

// The output phases: what the run writes once the cube is built. Each page is written in a
// fixed order that the viewer applets and the cube re-reader rely on, then the page and
// cube file replace their previous versions in one step, and with -server the page is
// split into the client/server pair.
#include "varkel/output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/textutil.h"
#include "common/util.h"
#include "varkel/coded.h"
#include "varkel/cube.h"
#include "varkel/grow.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/pipeline.h"
#include "varkel/report.h"
#include "varkel/settings.h"
#include "varkel/trees.h"
#include "varkel/workbuffers.h"

// Size of the buffers the pair's names were made in; their texts must stay below it.
static const size_t pageNameBufferSize = 1024;

static void toPage(const char* text) {
  if (ofp) fputs(text, ofp);
}

// The value alphabet as the viewer decodes it: its first numberOfOutputChars characters.
static void writeCodingChars(FILE* f) {
  outputValue(f, std::string(outputChars, strnlen(outputChars, numberOfOutputChars)));
}

static void writeClassHead() {
  if (!oclassfp) return;
  fputs("import java.applet.Applet;\n", oclassfp);
  fputs("public class lumetradata extends Applet {\n", oclassfp);
}

static void writeCompactTrees() {
  if (!emitCB4) toPage("\n<!-- Description of data hierarchy -->\n");
  totalNodeCount = 0;
  for (int i = 0; i < numberOfAxes; i++) outputCompactTree(axisRootIndex[i], "x", i);
  outputCompactTree(recordAxisRoot, "y", 0);
}

static void writeCodedData(int cells) {
  if (emitCB4) {
    if (!cb4) return;
    fprintf(cb4, "codedcoords=%d", cells);
    printCodedCoords(cb4, 0);
    fputc('\n', cb4);
    fprintf(cb4, nOrder ? "ncodeddata=%d" : "codeddata=%d", decimalPoints);
    printCodedData(cb4);
    fputc('\n', cb4);
  } else if (ofp) {
    fprintf(ofp, "<param name=\"codedcoords\" value=\"%d", cells);
    printCodedCoords(ofp, 0);
    fputs("\">\n", ofp);
    fprintf(ofp, nOrder ? "<param name=\"ncodeddata\" value=\"%d" : "<param name=\"codeddata\" value=\"%d",
            decimalPoints);
    // The digits are those of -chars, which may be page markup.
    PageValue values(ofp);
    printCodedData(values.out());
    values.finish();
    fputs("\">\n", ofp);
  }
}

// The data of the class file; the page and cube file get none.
static void writeClassData(int cells) {
  if (!oclassfp) return;
  fprintf(oclassfp, "public static long lumetracoords[] = {%d\n", cells);
  printCoordClass(oclassfp, cells);
  fputs("};\n", oclassfp);
  fprintf(oclassfp, "public static double lumetradata[] = {%d\n", decimalPoints);
  printDataClass(oclassfp, cells, decimalPoints);
  fputs("};\n", oclassfp);
}

void outputCubePage() {
  const bool classOutput = emitClassData || emitClassHierarchy;
  const int cells = (int)dataNodes.size();

  outputApplet(ofp);
  if (classOutput) writeClassHead();
  if (emitClassHierarchy)
    totalNodeCount = 0;
  else
    writeCompactTrees();
  outputParam("totalnodecount", std::to_string(totalNodeCount).c_str(), false);

  if (emitCB4) {
    if (cb4) {
      fputs("codingchars=", cb4);
      writeCodingChars(cb4);
      fputc('\n', cb4);
    }
  } else if (ofp) {
    fputs("<param name=\"codingchars\" value=\"", ofp);
    writeCodingChars(ofp);
    fputs("\">\n", ofp);
    fputs("\n<!-- Lumetra data compression parameters -->\n", ofp);
  }
  outputParam("compression", std::to_string(cells).c_str(), false);

  if (emitClassData)
    writeClassData(cells);
  else if (emitCastanet)
    msg("Castanet output format not yet supported.");
  else
    writeCodedData(cells);

  toPage("</applet>\n");
  if (classOutput) {
    toPage("<p>\n<applet codebase=\".\" code=\"lumetradata.class\" archive=\"lumetradata.jar\" "
           "width=2 height=2>\n");
    toPage("</applet>\n");
    if (oclassfp) {
      fputs("}\n", oclassfp);
      fclose(oclassfp);
      oclassfp = nullptr;
    }
  }

  msg("Input %d records, matched %d, stored %d.\n", numRecords, matchedRecords, elementsStored);
  if (nonNumeric != 0) msg("Warning: found %d non-numeric fields.\n", nonNumeric);
  if (emptyFields > 0) msg("Warning: found %d empty fields.\n", emptyFields);
  finishOutputFiles(!emitCB4);
}

void outputExpandedProfilePage() {
  if (verbose) msg("Emitting expanded profile.\n");
  outputApplet(ofp);
  toPage("\n<!-- Description of axis hierarchies -->\n");
  for (int i = 0; i < numberOfAxes; i++) walkTree(axisRootIndex[i], "dx", i, outputTree);
  walkTree(recordAxisRoot, "dr", 0, outputTree);
  toPage("</applet>\n");
  finishOutputFiles();
}

void outputUnexpandedProfilePage() {
  if (verbose) msg("Emitting unexpanded profile.\n");
  outputApplet(ofp);
  if (ofp) {
    fprintf(ofp, "<param name=\"decimalpoints\" value=\"%d\">\n", decimalPoints);
    fputs("<param name=\"codingchars\" value=\"", ofp);
    writeCodingChars(ofp);
    fputs("\">\n", ofp);
    fprintf(ofp, "<param name=\"firstfieldnames\" value=\"%s\">\n",
            skipFirstLine ? "true" : "false");
  }
  toPage("\n<!-- Description of axis hierarchies -->\n");
  for (int i = 0; i < numberOfAxes; i++)
    walkTree(axisRootIndex[i], "dx", i, outputUnexpandedTree);
  walkTree(recordAxisRoot, "dr", 0, outputTree);
  toPage("</applet>\n");
  finishOutputFiles();
}

std::string serverPageName(const char* name, const char* kind) {
  std::string base = name;
  // Only a '.' of the file's own name starts its extension: one in a directory name
  // would put the pair in another directory.
  std::string::size_type slash = base.rfind('/');
  std::string::size_type dot = base.rfind('.');
  if (dot != std::string::npos && slash != std::string::npos && dot < slash)
    dot = std::string::npos;
  std::string result = dot == std::string::npos ? base + "-" + kind
                                                : base.substr(0, dot) + "-" + kind + ".html";
  if (result.size() >= pageNameBufferSize)
    fatal(1, "Output filename '%s' is too long to make the server pages.\n", name);
  return result;
}

void outputServerApplet() {
  std::string serverName = serverPageName(outputFileName, "server");
  std::string localName = serverPageName(outputFileName, "local");

  FILE* in = fopen(outputFileName, "r");
  if (!in) fatal(2, "Couldn't open '%s' for input while making server html.\n", outputFileName);
  FILE* out = fopen(serverName.c_str(), "w");
  if (!out) {
    fclose(in);
    fatal(2, "Couldn't open '%s' for output while making html.\n", serverName.c_str());
  }

  // Whole lines, however long: a compact tree on the page can exceed any line buffer.
  char* line = nullptr;
  size_t capacity = 0;
  while (getline(&line, &capacity, in) != -1) {
    if (strncmp(line, "</applet>", 9) == 0) {
      if (server)
        fprintf(out, "<param name=\"lumetraservername\" value=\"%s\">\n",
                htmlEscape(server).c_str());
      if (port)
        fprintf(out, "<param name=\"lumetraserverport\" value=\"%s\">\n",
                htmlEscape(port).c_str());
      fputs(line, out);
    } else if (strncmp(line, "<param name=\"cb4file\"", 21) == 0) {
      std::string path = cb4FileName;
      if (!strchr(cb4FileName, '/') && !strchr(cb4FileName, '\\'))
        path = std::string(profileDirectory) + cb4FileName;
      fprintf(out, "<param name=\"cb4file\" value=\"%s\">\n", htmlEscape(path.c_str()).c_str());
    } else {
      fputs(line, out);
    }
  }
  free(line);
  fclose(in);
  // A server page cut short by a full disk must not take the page's place.
  bool failed = fflush(out) != 0 || ferror(out);
  if (fclose(out) != 0) failed = true;
  if (failed) {
    remove(serverName.c_str());
    fatal(2, "Couldn't write '%s' while making html.\n", serverName.c_str());
  }
  remove(localName.c_str());

  if (threshold <= 0) {
    if (rename(outputFileName, localName.c_str()) != 0)
      fatal(2, "Couldn't rename '%s' to '%s' while making html.\n", outputFileName,
            localName.c_str());
    if (rename(serverName.c_str(), outputFileName) != 0)
      fatal(2, "Couldn't rename '%s' to '%s' while making html.\n", serverName.c_str(),
            outputFileName);
  } else {
    remove(serverName.c_str());
  }
}

// Where the page of the run goes, for the server page step.
enum PageKind { noPage, pageOnStdout, pageFile };

// The pair is made from a page this run wrote to a file; a page on standard output, or
// none at all, leaves nothing to derive it from, and the user is told so.
static void serverPageStep(PageKind page) {
  if (!server) return;
  if (page == pageFile)
    outputServerApplet();
  else if (page == pageOnStdout)
    msg("No server page pair is made: the page goes to standard output.\n");
  else
    msg("No server page pair is made: this run writes no page file.\n");
}

void outputPhases() {
  PageKind page = !ofp ? noPage : ofp == stdout ? pageOnStdout : pageFile;
  if (cubePassRuns()) {
    outputCubePage();
    serverPageStep(cubeOnly && emitCB4 ? noPage : page);
  } else if (emitProfile && !inhibitProfileExpansion) {
    outputExpandedProfilePage();
    serverPageStep(page);
  } else if (emitProfile && inhibitProfileExpansion) {
    outputUnexpandedProfilePage();
    serverPageStep(page);
  } else {
    return;  // the record extract road, or nothing
  }
  // Exactly one output per run: the record extract road that follows does not run.
  emitAcceptedData = 0;
}

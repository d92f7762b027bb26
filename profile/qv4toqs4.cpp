// qv4toqs4: prints a compiled profile (".qv4") back as a profile script (".qs4") that the
// profile compiler reads again.
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/stat.h>

#include "common/changeExtension.h"
#include "common/inputfile.h"
#include "common/util.h"
#include "profile/outputfile.h"
#include "profile/unparse.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    printf("Usage: %s file.qv4 [output.qs4]\n", "qv4toqs4");
    return 0;
  }
  string inName = trimQuotes(argv[1], '"');
  string outName = argc > 2 ? string(trimQuotes(argv[2], '"')) : changeExtension(inName, ".qs4");

  struct stat inStat;
  FILE* in = openInputFile(inName.c_str(), "rb", &inStat);
  bool inKnown = inStat.st_mode != 0;
  if (in == nullptr) {
    fprintf(stderr, "Error %d: could not open %s for input.\n", 2, inName.c_str());
    return 1;
  }
  FILE* out = stdout;
  if (outName != "stdout" && outName != "-") {
    // Opening the input itself for output would empty it before it is read.
    struct stat outStat;
    if (inKnown && stat(outName.c_str(), &outStat) == 0 &&
        inStat.st_dev == outStat.st_dev && inStat.st_ino == outStat.st_ino) {
      fprintf(stderr, "Error %d: could not open %s for output: it is the input file.\n", 2,
              outName.c_str());
      return 1;
    }
    // Written aside and moved into place when whole: a failed run leaves the previous
    // script as it was.
    out = openOutputFile(outName.c_str(), "qs4");
    if (out == nullptr) {
      fprintf(stderr, "Error %d: could not open %s for output.\n", 2, outName.c_str());
      return 1;
    }
  }

  char when[256] = "";
  time_t now = time(nullptr);
  struct tm* local = localtime(&now);
  if (local != nullptr) strftime(when, sizeof when, "%c", local);
  fprintf(out, "<!-- Generated from %s on %s -->\n", inName.c_str(), when);
  fputs("<!--Varkel\n\n", out);
  int status = parse(in, out);
  fputs("\nVarkel-->\n", out);
  // A script that could not be written whole must not pass for a good one.
  if (out == stdout ? fflush(out) != 0 || ferror(out) : !finishOutputFile()) {
    fprintf(stderr, "Error %d: could not write %s.\n", 2, outName.c_str());
    return 1;
  }
  return status;
}

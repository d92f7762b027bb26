// tarnwick, the profile compiler: reads a text profile (or a page holding one) and writes
// the compiled profile that the builder reads.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "common/changeExtension.h"
#include "common/inputfile.h"
#include "common/preferences.h"
#include "common/util.h"
#include "profile/compiler.h"
#include "profile/lexer.h"
#include "profile/node.h"
#include "profile/outputfile.h"
#include "profile/writer.h"

static int exitValue = 0;  // the status parse_profile returns; errors exit on the spot

void error(const char* format, ...) {
  char message[8192];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  yyerror(message);
}

void do_exit(int status) { exit(status); }

void init_params() {
  cur_axis = -1;
  currentDepth = 0;
  measure = 0;
  measureLabel.clear();
}

int parse_profile(FILE* in, FILE* out) {
  verticalColour = {158, 207, 178};
  horizontalColour = {158, 158, 207};
  dataColour = {90, 150, 255};
  reset_state(in);
  qv4File = out;
  reset_node_variables();
  exitValue = 0;
  init_params();
  resetWriter();
  yyparse();
  fflush(out);
  return exitValue;
}

int main(int argc, char** argv) {
  Tarnwick = 1;
  if (argc < 2) {
    printf("tarnwick profile compiler 4.11\n\n");
    printf("Usage: \n\ttarnwick file1.qv [file1.qv4]\n");
    do_exit(0);
  }
  std::string input = trimQuotes(argv[1], '"');
  std::string output =
      argc > 2 ? std::string(trimQuotes(argv[2], '"')) : changeExtension(input, ".qv4");

  struct stat inStat;
  FILE* in = openInputFile(input.c_str(), "r", &inStat);
  bool inKnown = inStat.st_mode != 0;
  if (in == nullptr) {
    fprintf(stderr, "\nError: could not open %s for input.\n\n", input.c_str());
    do_exit(1);
  }
  FILE* out = stdout;
  if (output != "stdout" && output != "-") {
    // Opening the profile itself for output would empty it before it is read.
    struct stat outStat;
    if (inKnown && stat(output.c_str(), &outStat) == 0 &&
        inStat.st_dev == outStat.st_dev && inStat.st_ino == outStat.st_ino) {
      fprintf(stderr, "\nError: could not open %s for output: it is the input file.\n\n",
              output.c_str());
      do_exit(1);
    }
    // Written aside and moved into place after a complete parse: a failed compilation
    // leaves the previous compiled profile whole.
    out = openOutputFile(output.c_str(), "qv4");
    if (out == nullptr) {
      fprintf(stderr, "\nError: could not open %s for output.\n\n", output.c_str());
      do_exit(1);
    }
  }
  int status = parse_profile(in, out);
  // A full disk must not pass for a complete compiled profile.
  if (out == stdout ? fflush(out) != 0 || ferror(out) : !finishOutputFile()) {
    fprintf(stderr, "\nError: could not write %s.\n\n",
            out == stdout ? "standard output" : output.c_str());
    do_exit(1);
  }
  do_exit(status);
}

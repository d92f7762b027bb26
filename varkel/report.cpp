// Reporting: msg, the builder's exits, and the catching of what a run throws.
#include "varkel/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "common/messagetext.h"
#include "common/util.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"

// Standard error holds a line that no line feed has ended yet: a progress line ("Processing:
// ..." or "Processed %d lines.\r"). An error then starts on a new line.
static bool stderrLineOpen = false;

void msg(const char* format, ...) {
  // In CGI mode the page is the answer; before the page stream exists that is stdout.
  FILE* to = isCGI ? (ofp ? ofp : stdout) : stderr;
  va_list ap;
  va_start(ap, format);
  // A request's names and values reach the answer as text, never as markup.
  std::string text = formatMessage(isCGI ? htmlArguments : keepArguments, format, ap);
  va_end(ap);
  fwrite(text.data(), 1, text.size(), to);
  if (to == stderr && !text.empty()) stderrLineOpen = text.back() != '\n';
}

void endOpenLine() {
  if (stderrLineOpen) fputc('\n', stderr);
  stderrLineOpen = false;
}

void jump_exit(int status) {
  exit(status);
}

int runCaught(int (*driver)(int, char**), int argc, char** argv) {
  try {
    return driver(argc, argv);
  } catch (const std::bad_alloc&) {
    fatal(100, "Out of memory.\n");
  } catch (const std::exception& e) {
    fatal(1, "Caught standard exception: %s\n", e.what());
  } catch (...) {
    fatal(1, "Caught unknown exception.\n");
  }
}

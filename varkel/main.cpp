// Entry point of the cube builder: the process locale, then the driver inside catch-alls for
// what the standard library throws.
#include <clocale>
#include <exception>
#include <new>

#include "common/util.h"
#include "varkel/varkel.h"

int main(int argc, char** argv) {
  // A locale the system cannot name leaves the process in "C".
  const char* name = setlocale(LC_ALL, "");
  locale = name ? name : "C";
  try {
    return Main(argc, argv);
  } catch (const std::bad_alloc&) {
    fatal(100, "Out of memory.\n");
  } catch (const std::exception& e) {
    fatal(1, "Caught standard exception: %s\n", e.what());
  } catch (...) {
    fatal(1, "Caught unknown exception.\n");
  }
}

// Entry point of the cube builder: the process locale, then the driver inside catch-alls for
// what the standard library throws.
#include <clocale>

#include "varkel/hugeheap.h"
#include "varkel/options.h"
#include "varkel/report.h"
#include "varkel/varkel.h"

int main(int argc, char** argv) {
  startHugeHeap();
  // A locale the system cannot name leaves the process in "C".
  const char* name = setlocale(LC_ALL, "");
  locale = name ? name : "C";
  return runCaught(Main, argc, argv);
}

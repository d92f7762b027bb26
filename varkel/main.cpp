// Entry point of the cube builder.
#include <cstdio>
int main(int argc, char** argv) {
  (void)argc;
  fprintf(stderr, "Usage: %s [<input file>] [-o <output file>]\n", argv[0]);
  return 1;
}

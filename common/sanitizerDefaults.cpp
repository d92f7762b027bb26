// Defaults for the sanitizer build. The builder keeps its model until the process ends by
// design, so leak reports would only restate that; every program carries these defaults
// because tests run the programs in a bare environment.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

// The shared harness of the fuzz targets. The code under test ends a run through fatal()
// and exit(); the targets are linked with -Wl,--wrap=exit so that such an end returns to
// the target while fuzzCall runs it, and stays a real exit at any other time (the files
// such a run left open are closed). The harness also gives every target a private working
// directory, puts the builder's model back to its start-up state between inputs, and looks
// for leaks in the runs that end without exit.
#ifndef FUZZ_HARNESS_H
#define FUZZ_HARNESS_H

#include <cstddef>
#include <cstdint>
#include <string>

// Runs body(arg). Returns -1 when body returned, else the status the code under test passed
// to exit. Calls do not nest.
int fuzzCall(void (*body)(void*), void* arg);

// The same for a callable without arguments.
template <class F>
int fuzzRun(F& f) {
  return fuzzCall([](void* p) { (*static_cast<F*>(p))(); }, &f);
}

// Runs an input with leak detection for complete runs only: prepare() then body with leak
// tracking off; when body returned (rather than exit, which leaves its allocations behind
// as the end of a process would), prepare() and body once more with tracking on, and a run
// that left more allocations than it freed is searched for leaks: a leak aborts with its
// report. Returns the status as fuzzCall does.
void fuzzLeaksOff();
void fuzzLeaksOn();
void fuzzCountAllocations(bool on);
void fuzzCheckLeaks();
template <class P, class F>
int fuzzLeakChecked(P& prepare, F& body) {
  prepare();
  fuzzLeaksOff();
  int status = fuzzRun(body);
  fuzzLeaksOn();
  if (status != -1) return status;
  prepare();
  fuzzCountAllocations(true);
  status = fuzzRun(body);
  fuzzCountAllocations(false);
  if (status == -1) fuzzCheckLeaks();
  return status;
}

// Makes a fresh directory (under TMPDIR, else /tmp) the working directory, once per
// process; the files a target writes for its input live there.
void fuzzWorkDir();

// Replaces the file name in the working directory with the bytes data[0..size).
void fuzzWriteFile(const char* name, const uint8_t* data, size_t size);

// The input cut at its first line feed: the text before it goes to head, the rest to tail.
// Without a line feed, head is the whole input and tail empty.
void fuzzSplit(const uint8_t* data, size_t size, std::string& head, std::string& tail);

// Keeps the parameter tables as they are now, once per process; fuzzResetTables puts them
// back so.
void fuzzSaveTables();
void fuzzResetTables();

// Start-up of the builder's modules (work buffers, default tables), once per process.
void fuzzStartBuilder();

// Puts the builder's model back as after fuzzStartBuilder: no labels, axes, dates, field
// names or cube, and the parameter tables with their defaults. The labels, their match
// trees and category indexes and the date tables of the previous input are released.
void fuzzResetModel();

#endif

// The allocation functions ask for huge pages for what the heap grows by and for large
// blocks mapped apart from it, once startHugeHeap has run.
#include "varkel/hugeheap.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

// The VmFlags line of the mapping that holds address, or "" when none does.
std::string flagsOfMapping(const void* address) {
  std::ifstream maps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  uintptr_t at = (uintptr_t)address;
  while (std::getline(maps, line)) {
    unsigned long from, to;
    char dash;
    std::istringstream head(line);
    if (line.find("VmFlags:") == 0) {
      if (inside) return line;
    } else if (head >> std::hex >> from >> dash >> to && dash == '-') {
      inside = at >= from && at < to;
    }
  }
  return "";
}

// Under AddressSanitizer its own allocator serves every block, past the advice.
bool adviceCanBeSeen() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#else
  return access("/sys/kernel/mm/transparent_hugepage", F_OK) == 0;
#endif
}

TEST(HugeHeap, GrownHeapAndLargeMappedBlocksAskForHugePages) {
  if (!adviceCanBeSeen()) GTEST_SKIP() << "no huge pages here, or blocks not ours";
  startHugeHeap();
  // Small blocks until the heap has grown past where it stood; the one after lies in the
  // new part (the one that made it grow may begin before it).
  void* start = sbrk(0);
  for (int i = 0; i < 200000 && (void*)sbrk(0) == start; i++) ASSERT_NE(malloc(64), nullptr);
  ASSERT_NE(sbrk(0), start);
  char* last = (char*)malloc(64);
  ASSERT_NE(last, nullptr);
  ASSERT_GE((void*)last, start);
  EXPECT_NE(flagsOfMapping(last).find(" hg"), std::string::npos) << flagsOfMapping(last);
  // A block far past the size the heap serves is a mapping of its own.
  size_t size = size_t(256) << 20;
  char* big = (char*)malloc(size);
  ASSERT_NE(big, nullptr);
  char* middle = big + size / 2;
  EXPECT_NE(flagsOfMapping(middle).find(" hg"), std::string::npos) << flagsOfMapping(middle);
  memset(middle, 1, 4096);
  free(big);
}

TEST(HugeHeap, NothingIsAskedBeforeTheStart) {
  if (!adviceCanBeSeen()) GTEST_SKIP() << "no huge pages here, or blocks not ours";
  size_t size = size_t(256) << 20;
  char* big = (char*)malloc(size);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(flagsOfMapping(big + size / 2).find(" hg"), std::string::npos);
  free(big);
}

}  // namespace

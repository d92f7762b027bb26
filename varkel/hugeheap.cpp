// Huge pages for the heap and for large mapped blocks (see hugeheap.h).
#include "varkel/hugeheap.h"

#include <malloc.h>
#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>

static const uintptr_t smallPage = 4096;
static const uintptr_t hugePage = uintptr_t(2) << 20;
// Room the heap takes beyond each allocation that grows it: many huge pages a step, so
// that a step is asked for before anything in it is touched.
static const int heapStep = 64 << 20;

static std::atomic<bool> started(false);
// Where the heap began when the advice started, and its end when last advised.
static uintptr_t heapStart = 0;
static std::atomic<uintptr_t> advisedEnd(0);

void startHugeHeap() {
  mallopt(M_TOP_PAD, heapStep);
  heapStart = ((uintptr_t)sbrk(0) + smallPage - 1) & ~(smallPage - 1);
  advisedEnd.store(heapStart);
  started.store(true);
}

void adviseHugePages(void* block, size_t size) {
  if (!started.load(std::memory_order_relaxed)) return;
  uintptr_t end = (uintptr_t)sbrk(0);
  uintptr_t done = advisedEnd.load(std::memory_order_relaxed);
  if (end != done) {
    // Grown: advise the new part. Shrunk: what grows again is advised again.
    if (end > done) madvise((void*)(done & ~(smallPage - 1)), end - (done & ~(smallPage - 1)),
                            MADV_HUGEPAGE);
    advisedEnd.store(end, std::memory_order_relaxed);
  }
  uintptr_t at = (uintptr_t)block;
  if (!block || size < 2 * hugePage || (at >= heapStart && at < end)) return;
  // A block of its own mapping: the whole huge pages inside it.
  uintptr_t from = (at + hugePage - 1) & ~(hugePage - 1);
  uintptr_t to = (at + size) & ~(hugePage - 1);
  if (to > from) madvise((void*)from, to - from, MADV_HUGEPAGE);
}

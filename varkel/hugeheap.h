// Huge pages for the builder's memory. A build touches hundreds of megabytes once and then
// reaches into them at random (labels, category indexes, cells): with 4 KiB pages nearly
// every new page costs a fault and many steps a miss of the processor's address cache, and
// 2 MiB pages cut both several hundred times. The kernel gives them to memory that asks
// (transparent huge pages set to "madvise" or "always"); where it has none, asking does
// nothing and the run is as before.
#ifndef VARKEL_HUGEHEAP_H
#define VARKEL_HUGEHEAP_H

#include <stddef.h>

// From here on the heap grows in large steps, and what the allocation functions add to it
// asks for huge pages. Called once, at the start of the program.
void startHugeHeap();

// Called by the allocation functions with each block they return (null allowed): asks for
// huge pages for what the heap grew by since the last call, and for the inside of a large
// block mapped apart from the heap, before either is first touched.
void adviseHugePages(void* block, size_t size);

#endif

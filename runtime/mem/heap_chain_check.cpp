// Heap blocks: the walk over the whole chain that checks every block and adds up the totals.
#include <stdio.h>
#include <stdlib.h>

#include "runtime/mem/clump.h"
#include "runtime/mem/mem_block.h"
#include "runtime/xar/xar.h"

namespace {

[[noreturn]] void stop_on_broken_chain() {
  fflush(stdout);
  abort();
}

void* next_of_damaged(const void* ptr) {
  MemBlockHeader* h = mem_header_of(ptr);
  if (!mem_block_readable(h)) return nullptr;
  return mem_user_of(mem_tail_of(h)->next);
}

}  // namespace

int checkmem_chain(void) {
  int areas = 0;
  int application = 0;
  int overhead_total = 0;
  void* previous = nullptr;
  for (void* p = first_memory_area(); p;) {
    void* next = nullptr;
    int size = 0, overhead = 0, loop_index = 0, xarray = 0;
    if (!getmem_block_info(p, nullptr, &next, &size, &overhead, &loop_index, &xarray)) {
      printf(" Invalid block found\n");
      print_memory_block(p, 1);
      if (previous) print_memory_block(previous, 1);
      if (void* after = next_of_damaged(p)) print_memory_block(after, 1);
      stop_on_broken_chain();
    }
    if (xarray && !xar_heap_block_ok(p, size)) {
      printf("Found a memory block containing invalid expandable array.\n");
      print_memory_block(p, 1);
      stop_on_broken_chain();
    }
    application += size;
    overhead_total += overhead;
    ++areas;
    previous = p;
    p = next;
  }
  int clump_useful = 0, clump_overhead = 0;
  checkmem_chain_clump(&clump_useful, &clump_overhead);
  application -= clump_overhead;
  overhead_total += clump_overhead;
  printf(" The chain of %d areas checks OK. \n", areas);
  printf("              Total application size %d \n", application);
  printf("              Total system size %d \n", application + overhead_total);
  return 0;
}

// The test programs of tests/clumps run the memory, xarray and text tests again with automatic
// clumps on, where every request of up to 2048 bytes is a clump object and not a heap block.
#pragma once
#include <gtest/gtest.h>

#include "runtime/mem/clump.h"

// A test of heap blocks as such (their layout, links, checks, counts or reports) skips itself
// there: the blocks it examines are not heap blocks in that run.
#define SKIP_WITH_AUTOMATIC_CLUMPS(what)                                                 \
  do {                                                                                   \
    if (auto_clumps_on()) {                                                              \
      GTEST_SKIP() << "automatic clumps serve the small requests this test examines as " \
                      "heap blocks: " what;                                              \
    }                                                                                    \
  } while (0)

#include "runtime/mem/clump_store.h"
#include "runtime/mem/mem.h"

namespace testsupport {

// Heap blocks and clump objects in use, each counted once: a clump's own block counts as the
// objects it holds.
inline int live_allocations() {
  int n = 0;
  getmem_counters(&n, nullptr, nullptr, nullptr);
  for (int id = 0; id < kel::clump::entry_count; ++id)
    for (Clump* c = kel::clump::entries[id].first; c; c = c->next) n += c->in_use - 1;
  return n;
}

// 0 for a heap block or a clump object in use with undamaged surroundings (a damaged clump stops
// in its check), else the code of check_memory_block.
inline int allocation_intact(const void* p) {
  if (clump_object_size(p) < 0) return check_memory_block(p);
  checkmem_chain_clump(nullptr, nullptr);
  return 0;
}

}  // namespace testsupport

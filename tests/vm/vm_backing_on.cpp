// Turns vm backing on before anything allocates, so that the test program linked with it runs
// every heap block through the main vm segment.
#include <stdlib.h>

#include "runtime/mem/mem.h"
#include "runtime/mem/vm.h"

namespace {

constexpr int kSegmentSize = 320 + 16 * (1 << 23);  // 128 MiB of units

__attribute__((constructor(101))) void vm_backing_on() {
  void* segment = malloc(kSegmentSize + 16);
  if (!segment) abort();
  segment = (void*)(((uintptr_t)segment + 15) & ~(uintptr_t)15);
  vm_format_segment(segment, kSegmentSize);
  vm_set_main_segment(segment, 0);
  vm_set_mode(1);
  init_memory_locks();
}

}  // namespace

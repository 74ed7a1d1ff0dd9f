// Drives one vm segment with a byte-coded run of allocations, frees and resizes of random sizes.
// After every step the segment's blocks, free lists and counters must agree (vm_check_segment),
// every live block must keep the bytes written into it, and no two live blocks may overlap; at
// the end, freeing everything must give back the free blocks of the fresh format.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/mem/vm.h"

namespace {

constexpr int kUnits = 16384 + 1024 + 37;  // an odd count: the format cuts several blocks
constexpr int kSize = 320 + 16 * kUnits;
constexpr int kLive = 256;

struct Live {
  uint8_t* p;
  int usable;
  uint8_t fill;
};

uint8_t* segment;
uint8_t* pristine;

void require(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "fuzz_vm_segment: %s\n", what);
    abort();
  }
}

bool filled(const uint8_t* p, int n, uint8_t v) {
  for (int i = 0; i < n; ++i)
    if (p[i] != v) return false;
  return true;
}

// The segment check proves that the blocks tile the units; a live pointer that starts an
// allocated block of its usable size therefore overlaps no other. The bytes of one block a step
// are compared, and every block's when it is freed or resized.
void check(const Live* live, int n, int sample) {
  require(vm_check_segment(segment) == 0, "segment check");
  for (int i = 0; i < n; ++i) {
    const vm_block_header* h = (const vm_block_header*)(live[i].p - 16);
    require(h->magic == VM_MAGIC_USED && vm_block_size(live[i].p) == live[i].usable,
            "live block header");
    require(live[i].p >= segment + 336 && live[i].p + live[i].usable <= segment + kSize,
            "block outside");
  }
  if (n > 0)
    require(filled(live[sample % n].p, live[sample % n].usable, live[sample % n].fill),
            "block overwritten");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  segment = (uint8_t*)aligned_alloc(16, kSize + 16);
  pristine = (uint8_t*)malloc(kSize);
  vm_format_segment(segment, kSize);
  vm_set_main_segment(segment, 0);
  memcpy(pristine, segment, kSize);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  memcpy(segment, pristine, kSize);  // the fresh format, at the same address
  Live live[kLive];
  int n = 0;
  uint8_t fill = 1;
  for (size_t at = 0; at + 3 <= size; at += 3) {
    const uint8_t op = data[at];
    const int arg = data[at + 1] << 8 | data[at + 2];
    // Sizes up to 1023 bytes, or up to 64 KiB shifted right by 0 to 7.
    const int request = (op & 0x80) ? arg >> (op >> 4 & 7) : arg & 0x3FF;
    if ((op & 3) != 0 && n > 0) {
      const int k = arg % n;
      require(filled(live[k].p, live[k].usable, live[k].fill), "block overwritten");
      if ((op & 3) == 1) {
        vmFree(segment, live[k].p);
        live[k] = live[--n];
      } else {
        uint8_t* moved = (uint8_t*)vm_realloc(live[k].p, request);
        if (moved) {
          const int kept = request < live[k].usable ? request : live[k].usable;
          require(filled(moved, kept, live[k].fill), "resize lost bytes");
          live[k].p = moved;
          live[k].usable = vm_block_size(moved);
          memset(moved, live[k].fill, live[k].usable);
        }
      }
    } else if (n < kLive) {
      uint8_t* p = (uint8_t*)vm_alloc(segment, request);
      if (p) {
        require(vm_block_size(p) >= request && filled(p, vm_block_size(p), 0), "fresh block");
        live[n] = {p, vm_block_size(p), fill++};
        if (!fill) fill = 1;
        memset(p, live[n].fill, live[n].usable);
        ++n;
      }
    }
    check(live, n, arg);
  }
  while (n > 0) vmFree(segment, live[--n].p);
  require(vm_check_segment(segment) == 0, "segment check after freeing all");
  const vm_segment* now = (const vm_segment*)segment;
  const vm_segment* fresh = (const vm_segment*)pristine;
  require(memcmp(now->free_head, fresh->free_head, sizeof now->free_head) == 0 &&
              now->bytes_free == fresh->bytes_free && now->blocks_free == fresh->blocks_free,
          "freeing everything did not coalesce back to the fresh format");
  return 0;
}

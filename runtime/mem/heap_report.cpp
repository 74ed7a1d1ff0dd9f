// Heap blocks: the dump of one block and the chain's summary line.
#include <stdio.h>

#include "runtime/mem/clump.h"
#include "runtime/mem/mem_block.h"
#include "runtime/mem/pseg.h"

int print_memory_block(const void* ptr, int verbose) {
  if (ptr && pseg_contains(ptr)) return pseg_dump(ptr) ? 1 : 0;
  if (ptr && clump_object_size(ptr) >= 0) return 0;
  int code = check_memory_block(ptr);
  if (!verbose) return code;

  static const char indent[] = "               ";
  MemBlockHeader* h = mem_header_of(ptr);
  // Fields of a damaged block are shown only where they can be read; the rest as 0.
  const bool header_ok = mem_header_readable(h);
  const bool tail_ok = header_ok && mem_block_readable(h);
  const MemBlockTail* t = tail_ok ? mem_tail_of(h) : nullptr;

  printf(" Memory block : User pointer - %lu ", (unsigned long)(uintptr_t)ptr);
  printf(code ? "          LOOKS BAD \n" : "          looks good \n");
  printf(" %s Header starts at     %lu \n", indent, (unsigned long)(uintptr_t)h);
  printf(" %s Number of user bytes %u \n", indent, header_ok ? (unsigned)h->size : 0u);
  printf(" %s Tail starts at       %lu \n", indent, (unsigned long)(uintptr_t)t);
  printf(" %s Previous memory area %lu \n", indent,
         header_ok ? (unsigned long)(uintptr_t)h->prev : 0ul);
  printf(" %s Next memory area     %lu \n", indent, t ? (unsigned long)(uintptr_t)t->next : 0ul);
  printf(" %s Memory loop index    %d \n", indent,
         t ? (int)(t->loop_word & MEM_LOOP_INDEX_MASK) : 0);
  printf(" %s Xarray usage flag    %d \n", indent, t && (t->loop_word & MEM_XARRAY_BIT) ? 1 : 0);

  if (t) {
    const unsigned char* user = (const unsigned char*)ptr;
    for (uint32_t i = (uint32_t)h->size; i < mem_round8((uint32_t)h->size); ++i)
      if (user[i] != 0) code = 1;
  }
  return code;
}

void print_memory_summary(void) {
  printf("%d blocks;  Size: %d; Overhead: %d; Peak system size: %d.\n", mem_manager.block_count,
         mem_manager.user_bytes, mem_manager.system_bytes - mem_manager.user_bytes,
         mem_manager.peak_system_bytes);
}

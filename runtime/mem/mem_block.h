// Heap block layout and the memory manager's state, shared by the memory manager's own files.
#pragma once
#include <stdint.h>
#include "runtime/mem/mem.h"
#include "runtime/mem/mem_lock.h"

static_assert(sizeof(void*) == 4, "the block header and tail hold 4-byte pointers");

struct MemBlockHeader {
  int32_t size;          // the size the caller asked for, not rounded
  MemBlockHeader* prev;  // header of the previous block in the chain, null for the first
};
struct MemBlockTail {
  MemBlockHeader* next;  // header of the next block in the chain, null for the last
  uint32_t loop_word;    // bits 0-30 memory loop index, bit 31 xarray usage flag
};
static_assert(sizeof(MemBlockHeader) == 8 && sizeof(MemBlockTail) == 8, "8-byte header and tail");

// One global record; the field order is part of the layout the debugging tools rely on.
struct MemManagerState {
  MemBlockHeader* first_area;
  MemBlockHeader* last_area;
  uint32_t alloc_ordinal;  // 31-bit count of allocations and resizes, kept by memdebug_alloc
  int memdebug_mode;       // 0 off, 1 recording, 2 replaying the unreleased-memory file
  int always_move;         // every resize moves the block
  int keep_released;       // released blocks are kept, filled, instead of freed
  int block_count;
  int user_bytes;
  int system_bytes;
  int peak_system_bytes;
  int vm_backing;  // blocks come from the main vm segment instead of the standard library
};

extern MemManagerState mem_manager;
extern kel_lock mem_manager_lock;

constexpr uint32_t mem_round8(uint32_t n) { return (n + 7u) & ~7u; }
constexpr int mem_system_size(int32_t size) {
  return (int)(mem_round8((uint32_t)size) + MEM_BLOCK_OVERHEAD);
}

inline MemBlockHeader* mem_header_of(const void* user) {
  return (MemBlockHeader*)((char*)user - sizeof(MemBlockHeader));
}
inline void* mem_user_of(MemBlockHeader* h) {
  return h ? (char*)h + sizeof(MemBlockHeader) : nullptr;
}
inline MemBlockTail* mem_tail_of(MemBlockHeader* h) {
  return (MemBlockTail*)((char*)h + sizeof(MemBlockHeader) + mem_round8((uint32_t)h->size));
}

// Loop index (bits 0-30) of a sound heap block; -1 when the block fails its check.
int heap_block_loop_index(const void* user);
// Stores `index` in bits 0-30 of a sound heap block's loop word; 0 when the block fails its check.
int heap_block_set_loop_index(void* user, int index);
// Gives a block (header address) back to the backing allocator, as the kept-block list needs.
void mem_backing_release(void* block);
// 1 when a header at `h` lies within memory the backing allocator has handed out.
int mem_header_readable(const MemBlockHeader* h);
// 1 when the header and the tail of the block at `h` lies within memory the backing allocator has
// handed out, so that it can be read; checks of damaged blocks use it before following a pointer.
int mem_block_readable(const MemBlockHeader* h);

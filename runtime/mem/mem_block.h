// Heap block layout and the memory manager's state, shared by the memory manager's own files.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
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

// The live large blocks: an open-addressed table of header addresses with their system sizes.
struct MemLargeBlocks {
  uintptr_t* address;  // kEmpty (0), kRemoved (1) or a header; null exactly when capacity is 0
  uint32_t* size;      // the system size of each entry that holds a header
  uint32_t capacity;   // 0 or a power of two
  uint32_t filled;  // = the entries that are not empty (live and removed); 2 * filled <= capacity
};

// The heap's whole state, one global record. Its first eleven fields are the memory manager
// state in the order the debugging tools rely on; the rest is the heap's own bookkeeping: the
// backing allocator and where blocks lie. The invariants are written beside the fields;
// heap_state_check tests them all. "The chain" is the blocks reached from first_area by their
// next links; each of them passes the block check, so the chain ends at last_area. "Small"
// and "large" blocks are those of system size below and from kMemLargeBlock.
struct MemManagerState {
  MemBlockHeader* first_area;  // the chain's first block; null exactly when last_area is null
  MemBlockHeader* last_area;   // the chain's last block
  uint32_t alloc_ordinal;      // 31-bit count of allocations and resizes, kept by memdebug_alloc
  int memdebug_mode;           // 0 off, 1 recording, 2 replaying the unreleased-memory file
  int always_move;             // 0 or 1: every resize moves the block
  int keep_released;           // 0 or 1: released blocks are kept, filled, instead of freed
  int block_count;             // = the blocks on the chain + forgotten_blocks
  int user_bytes;              // = the sum of their user sizes + forgotten_user_bytes
  int system_bytes;            // = the sum of their system sizes + forgotten_system_bytes
  int peak_system_bytes;       // >= system_bytes: the highest they have been
  int vm_backing;  // blocks come from the main vm segment instead of the standard library

  // The counters when forget_memory_chain last dropped the chain: its blocks stay counted.
  int forgotten_blocks, forgotten_user_bytes, forgotten_system_bytes;

  // The backing allocator while vm_backing is off: never null (mem_set_backing sets all three).
  void* (*backing_allocate)(size_t) = malloc;
  void* (*backing_reallocate)(void*, size_t) = realloc;
  void (*backing_free)(void*) = free;
  int backing_budget =
      -1;  // successful requests left before the test hook fails them; -1 unlimited

  // Where blocks lie, so that a check follows a header's links only into readable memory.
  // Small blocks stay mapped: every small block on the chain lies within the span of
  // span_extent bytes from span_low (UINTPTR_MAX while nothing is recorded, span_extent 0).
  uintptr_t span_low = UINTPTR_MAX;
  uintptr_t span_extent;
  MemLargeBlocks large;  // every large block on the chain has an entry with its system size
  // Headers of recently released large blocks: slot i holds 0 or a header whose bits 12-17
  // are i, never one of a block on the chain.
  uintptr_t released_large[64];
};
// A block of this system size or more is a large block.
constexpr uint32_t kMemLargeBlock = 64 * 1024;

extern MemManagerState mem_manager;
extern kel_lock mem_manager_lock;

constexpr uint32_t mem_round8(uint32_t n) { return (n + 7u) & ~7u; }
constexpr int mem_system_size(int32_t size) {
  return (int)(mem_round8((uint32_t)size) + MEM_BLOCK_OVERHEAD);
}

// The header of the block at user pointer `user`; plain integer arithmetic, so that any pointer
// a caller hands in can be checked.
inline MemBlockHeader* mem_header_of(const void* user) {
  return (MemBlockHeader*)((uintptr_t)user - sizeof(MemBlockHeader));
}
inline void* mem_user_of(MemBlockHeader* h) {
  return h ? (char*)h + sizeof(MemBlockHeader) : nullptr;
}
inline MemBlockTail* mem_tail_of(MemBlockHeader* h) {
  return (MemBlockTail*)((char*)h + sizeof(MemBlockHeader) + mem_round8((uint32_t)h->size));
}

// Null when the heap's state holds every invariant written beside MemManagerState; otherwise
// the first broken invariant, in words. Reads only memory the heap knows to
// be readable, so a damaged chain is reported rather than followed.
const char* heap_state_check(void);
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

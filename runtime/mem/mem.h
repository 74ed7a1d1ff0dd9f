// Heap blocks: the runtime's allocation interface.
//
// Every block carries an 8-byte header (user size, previous area) and an 8-byte tail (next area,
// loop word) around round8(size) user bytes; all live blocks form one doubly linked chain in
// allocation order. Blocks come back zero-filled; released memory is filled with 0xFF.
// Small sizes may be served from clumps, and protected-segment pointers go to their own store;
// all of them are released with rlsmem and resized with relocmem.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C

enum {
  MEM_FILL_BYTE = 0xFF,     // written over released blocks and over the old copy of a moved block
  MEM_BLOCK_OVERHEAD = 16,  // header and tail bytes of a heap block
  MEM_LOOP_NONE = 0x7FFFFFFF,        // loop index of a block that no memory loop has numbered
  MEM_LOOP_INDEX_MASK = 0x7FFFFFFF,  // bits 0-30 of the loop word
};
#define MEM_XARRAY_BIT 0x80000000u /* bit 31 of the loop word: the block holds an xarray */

// Results of check_memory_block, in the order the check tries them.
enum {
  MEM_BLOCK_NULL = -1,     // the pointer is null
  MEM_BLOCK_OK = 0,        // the block is sound
  MEM_BLOCK_BAD_PREV = 1,  // previous area null although not the first area, or the other way round
  MEM_BLOCK_BAD_NEXT = 2,  // next area null although not the last area, or the other way round
  MEM_BLOCK_PREV_LINK = 3,  // the previous block's next area is not this header
  MEM_BLOCK_NEXT_LINK = 4,  // the next block's previous area is not this header
};

// Start-up of a program that uses the runtime: locks, then the memory settings, then after_init().
// Allocation works without it. Returns 0.
int init_memory_manager(void (*after_init)(void));
// Copies the vm mode (refused, with a message, while heap blocks are live), creates the
// memory-manager, vm and clump locks and the per-thread trap storage. Exits the process with status
// 1 when a lock cannot be created. Returns 1.
int init_memory_locks(void);

// A zero-filled block of `size` bytes; null for size 0. Exhaustion raises the memory break.
void* getmem(int size);
void* getmem_xar(int size, int xarray_flag);
// As getmem, but never from a clump, and null instead of the memory break on exhaustion.
void* getmem_or_null(int size);
// Resizes the block at `ptr` (which may move); new bytes are zero. A null `ptr` allocates.
void* relocmem(void* ptr, int size);
void* relocmem_xar(void* ptr, int size, int xarray_flag);
// The worker behind every heap allocation (old null) and resize.
void* manage_memory(int size, void* old, int may_fail, int xarray_flag);
// Releases a heap block, clump object or protected segment; null is ignored. Always 0.
int rlsmem(void* ptr);

// One of the MEM_BLOCK_ codes for the heap block at user pointer `ptr`.
int check_memory_block(const void* ptr);
// User size of a block or clump object; 0 for null; -1 (reported) for anything else.
int debug_getmem_size(const void* ptr);
// 1 and the block's neighbours (user pointers), user size, overhead, loop index and xarray flag,
// or 0 when `ptr` is neither a clump object nor a sound heap block. Every out-pointer may be null.
int getmem_block_info(const void* ptr, void** prev, void** next, int* size, int* overhead,
                      int* loop_index, int* xarray_flag);
// User pointer of the first block of the chain, or null.
void* first_memory_area(void);
// Drops the chain's anchors without touching any block (a child starting on a shared vm file).
void forget_memory_chain(void);
// Dumps one block to standard output when `verbose`; returns its check code (0 when sound).
int print_memory_block(const void* ptr, int verbose);
// Walks and checks the whole chain and prints its totals; stops the process on a broken block.
int checkmem_chain(void);
void getmem_counters(int* count, int* user_bytes, int* system_bytes, int* peak);
void print_memory_summary(void);

// Relocation always moves the block while set (the memory settings set it at start-up).
int mem_set_always_move(int on);
int mem_always_move(void);

// Test hooks for the backing allocator. After `n` more successful backing requests, every
// request fails until mem_backing_fail_after(-1) (the default, never failing).
void mem_backing_fail_after(int n);
// Replaces the standard library's malloc/realloc/free as backing; all null restores them.
// Only switch while the chain holds no block taken from the other allocator.
void mem_set_backing(void* (*allocate)(size_t), void* (*reallocate)(void*, size_t),
                     void (*release)(void*));

KEL_END_C

// Vm buddy allocator: blocks of 16 x 2^order bytes (orders 0 to 27) over the 16-byte units of
// vm segments. A segment starts with a 320-byte self-describing header; every link inside it is
// a unit index, so a segment stays valid when mapped at another address. When the segments are
// full and the first one allows it, blocks come from ordinary process memory ("real memory").
//
// Users: the heap's vm backing (the main segment, while vm mode is on) and the shared channels.
#pragma once
#include <stdint.h>
#include "platform/kel_base.h"

KEL_BEGIN_C

enum {
  VM_SEGMENT_HEADER = 320,  // bytes before unit 0
  VM_UNIT = 16,             // bytes per unit, and of a block header
  VM_ORDERS = 28,           // orders 0..27
  VM_ROOT_SLOTS = 32,
  VM_MIN_SEGMENT = 336,  // header and one unit
  VM_MACHINE_CODE = 29,
  VM_SYSTEM_CODE = 4,
  VM_VERSION_TAG_SIZE = 16,
  VM_STATE_FORMATTED = 1,  // segment state: formatted or attached
  VM_STATE_FELL_BACK = 2,  // segment state: an allocation fell back to real memory
  VM_FLAG_FALLBACK = 2,    // segment flags: fall back to real memory when full
  VM_FLAG_ATTACHED = 4,    // segment flags: attached from an existing file
  VM_MAGIC_FREE = 0xDEAD,
  VM_MAGIC_USED = 0xFACE,
  VM_MAGIC_REAL = 0xFADE,
  VM_BIT_FREE = 1,  // block bits: on a free list
  VM_BIT_REAL = 8,  // block bits: real-memory block
};
#define VM_NO_UNIT ((int32_t)0xF0000000) /* end of a free list */
// Largest request a segment block can take (an order-27 block less its header).
#define VM_MAX_REQUEST (16u * (1u << 27) - 16u)

// The segment header, 320 bytes at the start of every segment.
typedef struct vm_segment {
  void* self;                      // the segment's own address when formatted
  int32_t state;                   // VM_STATE_ bits
  uint32_t size;                   // bytes, header included
  int32_t flags;                   // VM_FLAG_ bits; 0 = freed blocks follow their segment index
  int32_t machine;                 // VM_MACHINE_CODE
  int32_t system;                  // VM_SYSTEM_CODE
  struct vm_segment* next;         // further segment of the same vm, searched by vm_alloc
  struct vm_segment* next_global;  // all formatted or attached segments, newest first
  uint32_t bytes_free;             // sizes of the blocks on free lists
  int32_t reserved36;
  uint32_t bytes_allocated;  // sizes of the blocks taken off the free lists
  int32_t blocks_allocated;  // live vm_alloc blocks
  int32_t reserved48;
  int32_t blocks_free;        // blocks on free lists
  uint32_t unit_count;        // (size - 320) / 16
  int32_t order_count;        // highest order present at format time + 1
  void* root[VM_ROOT_SLOTS];  // values the vm's users keep; zeroed at format
  char version_tag[VM_VERSION_TAG_SIZE];
  int32_t free_head[VM_ORDERS];  // unit index of the first free block per order, or VM_NO_UNIT
} vm_segment;

// The 16-byte header at the first unit of every block; the user pointer is header + 16.
typedef struct vm_block_header {
  uint16_t magic;         // VM_MAGIC_FREE, VM_MAGIC_USED or VM_MAGIC_REAL
  uint16_t reserved;      // 0
  uint8_t bits;           // VM_BIT_FREE, VM_BIT_REAL
  uint8_t segment_index;  // segments vm_alloc passed before the owning one
  int16_t order;          // negative for the header of a block absorbed by a merge
  int32_t next;           // free: next free unit; allocated: -1; real memory: the size asked
  int32_t prev;           // free: previous free unit; allocated: the size asked
} vm_block_header;

// The runtime's 16-byte version tag, stored in every segment formatted by this build.
const char* kel_version_tag(void);

// Formats `size` bytes at `segment` as an empty segment and puts it on the list of all segments.
// A size below 336 is a fatal memory problem.
void vm_format_segment(void* segment, int size);
// Adopts an existing segment (a vm file mapped again) after checking its header; a segment of
// another build is formatted afresh.
void vm_attach_segment(void* segment, int size);
// Takes a segment off the list of all segments (before its memory is released); it stops being
// the main segment if it was. Unknown segments are ignored.
void vm_forget_segment(void* segment);

// A zeroed block of `size` bytes from `segment` or the segments chained after it; real memory
// when they are full and the first segment allows it; else null.
void* vm_alloc(void* segment, int size);
// Returns a block to its segment, or frees a real-memory block. Null is ignored.
void vmFree(void* segment, void* ptr);
// Usable bytes of a block: the size asked for a real-memory block, else 16 x 2^order - 16.
int vm_block_size(void* ptr);
// 1 unless the block is real memory.
int vm_is_vm_block(void* ptr);
// Resizes a block of the main segment: kept when usable >= size and usable <= 2 x size, otherwise
// moved (null, with the old block intact, when no new block can be had).
void* vm_realloc(void* ptr, int size);

// The segment vm backing allocates from; a non-zero allow_fallback lets it fall back to real
// memory.
void vm_set_main_segment(void* segment, int allow_fallback);
void* vm_main_segment(void);
// Address of root slot i (0..31) of the main segment, or null.
void** vm_root_slot(int i);

// Called with the free bytes of all segments when they change by a granule (total / 100).
typedef void (*vm_usage_callback_fn)(unsigned free_bytes);
// Called once, with the first segment, at the first fallback to real memory.
typedef void (*vm_overflow_callback_fn)(void* segment);
// Sets the usage callback (null clears it); returns the total bytes of all segments.
unsigned vm_set_usage_callback(vm_usage_callback_fn fn);
void vm_set_overflow_callback(vm_overflow_callback_fn fn);
// Recomputes the totals and prints the allocated and free bytes and blocks to standard error.
void vm_print_usage(void);

// A zeroed real-memory block with its 16-byte header; stops the process when malloc fails.
void* kelmm_alloc_realmem(int size);
// The fatal check failure: prints the check number and the usage, then crash().
void vm_memory_problem(int line);

// Walks every block of `segment` and every free list and compares them with the counters:
// 0 when all agree, otherwise the number of the first check that failed. Prints nothing.
int vm_check_segment(const void* segment);

// vm mode: read once by the heap at start-up (init_memory_locks); set it before that.
void vm_set_mode(int on);
int vm_mode(void);
// Creates the vm lock; 0 on failure.
int vm_create_lock(void);
void vm_lock_take(void);
void vm_lock_release(void);

KEL_END_C

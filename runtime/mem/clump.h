// Clumps: pools of fixed-size objects cut from one large heap block, and the memory settings.
//
// A clump is one heap block of CLUMP_SIZE bytes: a 24-byte clump header followed by equal slots.
// Each slot is an 8-byte slot header (own offset, next free offset, marker, loop index) and the
// object. The marker, 16 bits at object - 4, tells rlsmem, relocmem and debug_getmem_size a clump
// object from a heap block. Registered clumps serve clump_getmem(id); automatic clumps, when
// "AUTO_CLUMPS_ON" is "TRUE", serve every getmem of up to 2048 bytes.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
typedef struct mem_loop_record mem_loop_record;

enum {
  CLUMP_REGISTRY_SIZE = 500,
  CLUMP_NAME_SIZE = 32,
  CLUMP_HEADER_SIZE = 24,      // clump header bytes before slot 0
  CLUMP_SLOT_HEADER_SIZE = 8,  // slot header bytes before each object
  CLUMP_DEFAULT_SIZE = 65536,
  CLUMP_AUTO_MAX = 2048,  // largest size served by an automatic clump
  CLUMP_KIND_AUTO = -7,
  CLUMP_KIND_REGISTERED = -8,
  CLUMP_KIND_RETIRED = -9,
  CLUMP_MARK_FREE = 12349,    // 0x303D
  CLUMP_MARK_USED = 12345,    // 0x3039
  CLUMP_MARK_XARRAY = 12347,  // 0x303B, in use as xarray storage
};

// ---- the calls the heap makes ----

// Reads the memory settings from the environment at start-up. Returns 1.
int read_memory_settings(void);
// Creates the clump lock; exits the process with status 1 when it cannot. Returns 1.
int init_clump_lock(void);
// Id of the automatic clump that serves `size`, or -1.
int find_auto_clump(int size);
// A zero-filled object of clump `id`, or null.
void* clump_getmem_xar(int id, int xarray_flag);
// 1 if `ptr` was a clump object and has been released (or, refused with a report, lies inside a
// live clump without being an object), 0 if it is not a clump object.
int rlsmem_clump(void* ptr);
// The object moved to a new home of `size` bytes, or null if `ptr` is not a clump object (refused
// with a report when it lies inside a live clump without being an object in use).
void* relocmem_clump(void* ptr, int size);
// 1 if `ptr` lies inside the block of a live clump, else 0.
int clump_holds(const void* ptr);
// Object size for a clump object in use, else -1.
int clump_object_size(const void* ptr);
// 1 for a clump object in use with what getmem_block_info reports for it; every out-pointer may be
// null.
int clump_object_info(const void* ptr, void** prev, void** next, int* size, int* overhead,
                      int* loop_index, int* xarray_flag);
// Checks every clump; useful and overhead bytes of all clumps. Returns 1.
int checkmem_chain_clump(int* useful, int* overhead);

// ---- the clump store's own interface ----

// A new entry of kind -8 for objects of `object_size` bytes: its id, or -1 when the registry is
// full or the size leaves no room for two objects in a clump.
int register_clump(const char* name, int object_size);
void* clump_getmem(int id);
// Id of the clump holding the object in use at `ptr`, or -1.
int clump_object_id(const void* ptr);
// Releases every clump of entry `id` at once; 1, or 0 for an id that is not in use.
int free_clump(int id);
// free_clump, then the entry is retired and may be reused. 1, or 0 as free_clump.
int unregister_clump(int id);
// The memory-loop records, one per entry, and the number of entries in use.
void clump_loop_records(mem_loop_record** records, int* count);
// The statistics table on standard output; returns the number of entries.
int print_clump_table(void);
void print_memory_settings(void);

// Current settings, for reports and tests.
int clump_size_setting(void);
int clump_mode_off(void);
int auto_clumps_on(void);
// Objects per clump of entry `id`, or -1.
int clump_objects_per_clump(int id);
KEL_END_C

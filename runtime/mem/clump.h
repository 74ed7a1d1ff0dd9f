// Clumps: pools of fixed-size objects cut from one large heap block, and the memory settings.
// These are the calls the heap makes into the clump store.
#pragma once
#include "runtime/kel_base.h"

KEL_BEGIN_C
// Reads the memory settings from the environment at start-up. Returns 1.
int read_memory_settings(void);
// Creates the clump lock; exits the process with status 1 when it cannot. Returns 1.
int init_clump_lock(void);
// Id of the automatic clump that serves `size`, or -1.
int find_auto_clump(int size);
// A zero-filled object of clump `id`, or null.
void* clump_getmem_xar(int id, int xarray_flag);
// 1 if `ptr` was a clump object and has been released, 0 if it is not a clump object.
int rlsmem_clump(void* ptr);
// The object moved to a new home of `size` bytes, or null if `ptr` is not a clump object.
void* relocmem_clump(void* ptr, int size);
// Object size for a clump object in use, else -1.
int clump_object_size(const void* ptr);
// 1 for a clump object in use with what getmem_block_info reports for it; every out-pointer may be null.
int clump_object_info(const void* ptr, void** prev, void** next, int* size, int* overhead,
                      int* loop_index, int* xarray_flag);
// Checks every clump; useful and overhead bytes of all clumps. Returns 1.
int checkmem_chain_clump(int* useful, int* overhead);
KEL_END_C

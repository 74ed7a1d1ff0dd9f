// Memory debugging: the memory-loop records and the hooks the allocation paths call.
#pragma once
#include "runtime/kel_base.h"

KEL_BEGIN_C
typedef struct mem_loop_record mem_loop_record;

// One record for the heap and one per clump registry entry. The allocation and release paths
// call the loop hooks only while `active` is non-zero.
struct mem_loop_record {
    int active;
    int count;                  // allocations counted in the current pass
    int previous_count;         // allocations counted in the previous pass
    void* recorded;             // pointers of the first pass, or null
    void (*set_index)(mem_loop_record* record, void* ptr);
    int (*get_index)(void* ptr);
    int (*get_size)(mem_loop_record* record, void* ptr);
};

// The heap's record; its callbacks work on heap blocks.
extern mem_loop_record heap_loop_record;

void debug_memory_loop_alloc(mem_loop_record* record, void* ptr);
void debug_memory_loop_release(mem_loop_record* record, void* ptr);
// Drops what the record remembers of objects that are gone at once (free_clump).
void debug_memory_loop_forget_all(mem_loop_record* record);
// Numbers a heap allocation or resize while the memdebug mode is above 0.
void memdebug_alloc(void* ptr);
// Keeps a released block (header address, system size) for the overwrite check.
void keep_released_block(void* block, int size);
KEL_END_C

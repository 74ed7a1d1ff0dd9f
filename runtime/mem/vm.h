// Vm buddy allocator: the calls the heap makes when its backing memory comes from the main vm segment.
#pragma once
#include "runtime/kel_base.h"

KEL_BEGIN_C
// The vm mode flag, copied by the heap at start-up: non-zero = blocks come from the main segment.
int vm_mode(void);
// Creates the vm lock; 0 on failure.
int vm_create_lock(void);
void vm_lock_take(void);
void vm_lock_release(void);
// The segment that vm backing allocates from.
void* vm_main_segment(void);
void* vm_alloc(void* segment, int size);
void* vm_realloc(void* ptr, int size);
void vmFree(void* segment, void* ptr);
KEL_END_C

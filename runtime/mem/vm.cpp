// The vm allocator as the heap sees it while vm mode is off (it never allocates from a segment
// then); the vm allocator fills these in.
#include "runtime/mem/vm.h"

int vm_mode(void) { return 0; }
int vm_create_lock(void) { return 1; }
void vm_lock_take(void) {}
void vm_lock_release(void) {}
void* vm_main_segment(void) { return nullptr; }
void* vm_alloc(void*, int) { return nullptr; }
void* vm_realloc(void*, int) { return nullptr; }
void vmFree(void*, void*) {}

// The memory-debugging hooks, which the heap calls only while a tool is switched on; nothing
// switches one on until the debugging tools exist, which fill these in.
#include "runtime/mem/memdebug.h"

void debug_memory_loop_alloc(mem_loop_record*, void*) {}
void debug_memory_loop_release(mem_loop_record*, void*) {}
void memdebug_alloc(void*) {}
void keep_released_block(void*, int) {}
void debug_memory_loop_forget_all(mem_loop_record*) {}

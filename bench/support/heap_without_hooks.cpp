// A second copy of the heap, with its own chain and every public name prefixed, compiled without
// the memory-debugging hooks: the peer against which the hooks' cost while off is timed.
#define KEL_MEM_DEBUG_HOOKS       0
#define mem_manager               nohooks_mem_manager
#define mem_manager_lock          nohooks_mem_manager_lock
#define heap_loop_record          nohooks_heap_loop_record
#define mem_backing_release       nohooks_mem_backing_release
#define mem_backing_fail_after    nohooks_mem_backing_fail_after
#define mem_set_backing           nohooks_mem_set_backing
#define mem_header_readable       nohooks_mem_header_readable
#define mem_block_readable        nohooks_mem_block_readable
#define heap_state_check          nohooks_heap_state_check
#define manage_memory             nohooks_manage_memory
#define getmem_xar                nohooks_getmem_xar
#define getmem                    nohooks_getmem
#define getmem_or_null            nohooks_getmem_or_null
#define relocmem_xar              nohooks_relocmem_xar
#define relocmem                  nohooks_relocmem
#define rlsmem                    nohooks_rlsmem
#define check_memory_block        nohooks_check_memory_block
#define heap_block_loop_index     nohooks_heap_block_loop_index
#define heap_block_set_loop_index nohooks_heap_block_set_loop_index
#define debug_getmem_size         nohooks_debug_getmem_size
#define getmem_block_info         nohooks_getmem_block_info
#define first_memory_area         nohooks_first_memory_area
#define forget_memory_chain       nohooks_forget_memory_chain
#define getmem_counters           nohooks_getmem_counters
#define mem_set_always_move       nohooks_mem_set_always_move
#define mem_always_move           nohooks_mem_always_move
#include "runtime/mem/heap.cpp"

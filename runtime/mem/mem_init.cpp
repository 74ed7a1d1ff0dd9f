// Start-up of the memory manager: its locks and settings. Nothing in the module calls it;
// allocation works without it, with every setting at its start value.
#include <stdio.h>

#include "runtime/diag/trap.h"
#include "runtime/mem/clump.h"
#include "runtime/mem/mem_block.h"
#include "runtime/mem/vm.h"

int init_memory_locks(void) {
  // A block must go back to the allocator it came from, so the backing changes only while the
  // chain holds no block.
  const int backing = vm_mode() ? 1 : 0;
  if (backing != mem_manager.vm_backing && mem_manager.first_area) {
    printf("init_memory_locks: heap blocks are live; vm backing stays %s.\n",
           mem_manager.vm_backing ? "on" : "off");
    fflush(stdout);
  } else {
    mem_manager.vm_backing = backing;
  }
  if (!kel_lock_create(&mem_manager_lock)) {
    printf("Unable to initialize memory manager locks.  Exiting.\n");
    fflush(stdout);
    ozt_exit(1);
  }
  if (!vm_create_lock() && mem_manager.vm_backing) {
    printf("Unable to initialize vm locks.  Exiting.\n");
    fflush(stdout);
    ozt_exit(1);
  }
  init_clump_lock();
  init_trap_tls();
  return 1;
}

int init_memory_manager(void (*after_init)(void)) {
  init_memory_locks();
  read_memory_settings();
  if (after_init) after_init();
  return 0;
}

// The empty lock layer of the single-threaded runtime.
#include "runtime/mem/mem_lock.h"

static int lock_creation_fails = 0;

int kel_lock_create(kel_lock* lock) {
  if (lock_creation_fails || !lock) return 0;
  lock->created = 1;
  return 1;
}

void kel_lock_fail_creation(int fail) { lock_creation_fails = fail; }

// The linkable forms of the header's inline calls.
void(kel_lock_take)(kel_lock* lock) { kel_lock_take_inline(lock); }
void(kel_lock_release)(kel_lock* lock) { kel_lock_release_inline(lock); }

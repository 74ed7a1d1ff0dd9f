// The runtime's lock layer. The runtime runs on one thread, so creating a lock always succeeds
// and taking or releasing one does nothing; the calls stay where a threaded build needs them.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
typedef struct kel_lock {
  int created;
} kel_lock;

// 1 when the lock was created, 0 on failure.
int kel_lock_create(kel_lock* lock);
// Taking and releasing are inline for callers of this header (macros below) and also
// linkable functions.
void kel_lock_take(kel_lock* lock);
void kel_lock_release(kel_lock* lock);
static inline void kel_lock_take_inline(kel_lock* lock) { (void)lock; }
static inline void kel_lock_release_inline(kel_lock* lock) { (void)lock; }
#define kel_lock_take(lock)    kel_lock_take_inline(lock)
#define kel_lock_release(lock) kel_lock_release_inline(lock)
// Test hook: while set, every kel_lock_create fails.
void kel_lock_fail_creation(int fail);
KEL_END_C

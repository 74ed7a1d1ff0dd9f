// The runtime's lock layer. The runtime runs on one thread, so creating a lock always succeeds
// and taking or releasing one does nothing; the calls stay where a threaded build needs them.
#pragma once
#include "runtime/kel_base.h"

KEL_BEGIN_C
typedef struct kel_lock { int created; } kel_lock;

// 1 when the lock was created, 0 on failure.
int kel_lock_create(kel_lock* lock);
static inline void kel_lock_take(kel_lock*) {}
static inline void kel_lock_release(kel_lock*) {}
// Test hook: while set, every kel_lock_create fails.
void kel_lock_fail_creation(int fail);
KEL_END_C

#ifdef __cplusplus
// Holds a lock for a scope; release() ends the hold early (before a non-local jump, for one).
class KelLockGuard {
public:
    explicit KelLockGuard(kel_lock& lock) : lock_(&lock) { kel_lock_take(lock_); }
    ~KelLockGuard() { release(); }
    void release() {
        if (lock_) kel_lock_release(lock_);
        lock_ = nullptr;
    }
    KelLockGuard(const KelLockGuard&) = delete;
    KelLockGuard& operator=(const KelLockGuard&) = delete;

private:
    kel_lock* lock_;
};
#endif

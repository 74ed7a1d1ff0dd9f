// Out-of-memory runs: an operation under a class-2 trap with the backing allocator failing at the
// 1st, 2nd, ... request, until it completes without a jump.
#pragma once
#include <setjmp.h>

#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"

namespace testsupport {

// Runs `op()` with the backing failing after n successful requests, for n = 0, 1, ...; after each
// run `after(jumped)` is called with the backing restored. Returns the number of runs that ended
// in the memory break (the last run is the one that completed).
// The trap layer's own storage, made on its first use, taken before a test counts blocks.
inline void oom_warm_up() {
    jmp_buf buffer;
    if (setjmp(buffer) == 0) {
        trap_push(buffer, TRAP_CLASS_SERIOUS_ERROR);
        trap_pop();
    }
}

// One run of `op()` with the backing failing after n successful requests: true when it ended in
// the memory break.
template <class Op>
bool oom_run_once(Op& op, int n) {
    static jmp_buf resume;
    if (setjmp(resume) == 0) {
        trap_push(resume, TRAP_CLASS_SERIOUS_ERROR);
        mem_backing_fail_after(n);
        op();
        mem_backing_fail_after(-1);
        trap_pop();
        return false;
    }
    mem_backing_fail_after(-1);
    trap_pop();
    return true;
}

// Runs `op()` with the backing failing after n successful requests, for n = 0, 1, ...; after each
// run `after(jumped)` is called with the backing restored. Returns the number of runs that ended
// in the memory break (the last run is the one that completed).
template <class Op, class After>
int oom_try_each(Op op, After after, int limit = 10000) {
    for (int n = 0; n < limit; ++n) {
        const bool jumped = oom_run_once(op, n);
        after(jumped);
        if (!jumped) return n;
    }
    return limit;
}

}  // namespace testsupport

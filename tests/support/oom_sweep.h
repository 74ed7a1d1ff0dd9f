// The out-of-memory sweep: proof that a runtime operation leaves nothing broken and nothing lost
// when memory runs out at any of its allocations.
#pragma once
#include <functional>
#include <source_location>
#include <string>

namespace testsupport {

struct OomSweepResult {
  int recoveries = 0;      // runs that ran out of memory and came back through the trap
  bool completed = false;  // the last run finished without running out
  std::string failure;     // empty, or what the first broken recovery left behind
};

// Runs `op` under a class-2 trap with the backing allocator failing from its 1st request on,
// then from its 2nd, 3rd, ... until `op` completes without running out (at most `limit`
// runs). After each recovery it checks that the heap holds its invariants (heap_state_check),
// that the block count and user bytes equal those before the run, that the print engine's next two
// results are distinct and right, and then calls `after_recovery`, which checks the operation's own
// data (arrays unchanged and valid) and may add failures with ADD_FAILURE/EXPECT_*.
//
// `op` is left by a longjmp when memory runs out: it must hold only trivially destructible
// objects (capture what it needs by reference).
// `same_bytes` false lets the user bytes grow, never the block count: for an operation that
// grows two arrays in turn, the first may keep the room it gained when the second cannot grow.
OomSweepResult oom_sweep(const std::function<void()>& op,
                         const std::function<void()>& after_recovery = {}, int limit = 10000,
                         bool same_bytes = true);

// For an operation that builds process-wide caches on its first call (the language set-up, the
// print engine's buffers, code page tables): what a cache keeps after a recovery is owned, not
// lost, so the block totals cannot be compared run by run. Instead, two new processes start
// from scratch: one runs `op` once, the other sweeps it and then runs it to completion; both
// must end with the same number of blocks more than they started with (a cache's size may
// differ with the history of its growth, its count may not). The chain and the print
// engine are still checked after every recovery. Adds failures to the running test, traced to
// the caller's line.
void oom_sweep_first_call(const std::function<void()>& op,
                          std::source_location where = std::source_location::current());

}  // namespace testsupport

// Sweeps `op` and expects at least one recovery, a completed last run and no broken recovery.
#define EXPECT_OOM_SAFE(op, after_recovery)                                                        \
  do {                                                                                             \
    const ::testsupport::OomSweepResult kel_sweep_ = ::testsupport::oom_sweep(op, after_recovery); \
    EXPECT_TRUE(kel_sweep_.completed) << "the operation never completed";                          \
    EXPECT_GT(kel_sweep_.recoveries, 0) << "the operation never allocated";                        \
    EXPECT_EQ(kel_sweep_.failure, "");                                                             \
  } while (0)

#include "io_sweep.h"

#include "platform/pfile.h"
#include "runtime/mem/mem.h"

namespace testsupport {

namespace {

int block_count() {
  int count = 0, user = 0, system = 0, peak = 0;
  getmem_counters(&count, &user, &system, &peak);
  return count;
}

// One run with the (n+1)-th call failing (n < 0: none): "" when it was survived.
std::string run(const IoSweep& sweep, int n, int error, bool once) {
  if (sweep.prepare) sweep.prepare();
  const int handles = platform_io_open_handles(), blocks = block_count();
  if (once)
    platform_io_fail_once(n, error);
  else
    platform_io_fail_after(n, error);
  const bool told = sweep.op();
  platform_io_fail_after(-1, 0);
  std::string fault;
  if (!told) fault = "the failure was not reported";
  if (platform_io_open_handles() != handles)
    fault += (fault.empty() ? "" : "; ") + std::string("handles ") + std::to_string(handles) +
             " -> " + std::to_string(platform_io_open_handles());
  if (block_count() != blocks)
    fault += (fault.empty() ? "" : "; ") + std::string("blocks ") + std::to_string(blocks) +
             " -> " + std::to_string(block_count());
  if (sweep.check) {
    const std::string files = sweep.check();
    if (!files.empty()) fault += (fault.empty() ? "" : "; ") + files;
  }
  return fault;
}

}  // namespace

IoSweepResult io_sweep(const IoSweep& sweep, int error) {
  IoSweepResult result;
  if (sweep.prepare) sweep.prepare();
  platform_io_fail_after(-1, 0);
  if (sweep.op()) return result.failure = "the operation fails without an injected failure", result;
  result.calls = platform_io_calls();
  for (int n = 0; n < result.calls; ++n) {
    for (bool once : {false, true}) {
      const std::string fault = run(sweep, n, error, once);
      ++result.injected;
      if (!fault.empty() && result.failure.empty())
        result.failure = std::string(once ? "only call " : "call ") + std::to_string(n + 1) +
                         " of " + std::to_string(result.calls) + " failing: " + fault;
    }
  }
  return result;
}

}  // namespace testsupport

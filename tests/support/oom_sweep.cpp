#include "oom_sweep.h"

#include <setjmp.h>
#include <string.h>

#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf.h"

namespace testsupport {

namespace {

struct Totals {
  int count = 0, user = 0;
};
Totals totals() {
  Totals t;
  int system = 0, peak = 0;
  getmem_counters(&t.count, &t.user, &system, &peak);
  return t;
}

// Walks the chain by its links and checks every block: the text of the first fault, or "".
std::string chain_fault() {
  int blocks = 0;
  for (void* p = first_memory_area(); p; ++blocks) {
    const int code = check_memory_block(p);
    if (code != MEM_BLOCK_OK) return "block " + std::to_string(blocks) + " fails its check with " + std::to_string(code);
    void* next = nullptr;
    if (!getmem_block_info(p, nullptr, &next, nullptr, nullptr, nullptr, nullptr)) return "block unreadable";
    p = next;
  }
  return "";
}

// One run with the backing failing after `k` successful requests: 1 when it completed.
// Kept out of line so that setjmp's frame holds nothing the jump could skip.
int run_once(const std::function<void()>* op, int k) {
  jmp_buf resume;
  if (setjmp(resume) == 0) {
    trap_push(resume, TRAP_CLASS_SERIOUS_ERROR);
    mem_backing_fail_after(k);
    (*op)();
    mem_backing_fail_after(-1);
    trap_pop();
    return 1;
  }
  mem_backing_fail_after(-1);
  trap_pop();
  return 0;
}

}  // namespace

OomSweepResult oom_sweep(const std::function<void()>& op, const std::function<void()>& after_recovery, int limit) {
  OomSweepResult result;
  for (int k = 0; k < limit; ++k) {
    const Totals before = totals();
    if (run_once(&op, k)) {
      result.completed = true;
      return result;
    }
    ++result.recoveries;
    std::string fault = chain_fault();
    const Totals after = totals();
    if (fault.empty() && (after.count != before.count || after.user != before.user))
      fault = "blocks " + std::to_string(before.count) + " -> " + std::to_string(after.count) + ", bytes " +
              std::to_string(before.user) + " -> " + std::to_string(after.user);
    if (fault.empty()) {
      const char* first = kel_sprintf(nullptr, "<%d|%s>", 12, "ab");
      const char* second = kel_sprintf(nullptr, "%s-%d", first, 3);
      if (first == second || strcmp(first, "<12|ab>") != 0 || strcmp(second, "<12|ab>-3") != 0)
        fault = std::string("print engine after recovery: \"") + first + "\", \"" + second + "\"";
    }
    if (!fault.empty() && result.failure.empty()) result.failure = "failing at request " + std::to_string(k + 1) + ": " + fault;
    if (after_recovery) after_recovery();
  }
  return result;
}

}  // namespace testsupport

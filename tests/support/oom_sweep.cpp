#include "oom_sweep.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "child_output.h"

#include <setjmp.h>
#include <string.h>

#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/mem/mem_block.h"
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

// The heap's own check of its invariants (the chain, the counters, the records of where blocks
// lie): the text of the first broken one, or "".
std::string heap_fault() {
  const char* broken = heap_state_check();
  return broken ? std::string("heap state: ") + broken : "";
}

// The print engine's next two results must be distinct and right: the second takes the first
// as its argument.
std::string print_engine_fault() {
  const char* first = kel_sprintf(nullptr, "<%d|%s>", 12, "ab");
  const char* second = kel_sprintf(nullptr, "%s-%d", first, 3);
  if (first && second && first != second && strcmp(first, "<12|ab>") == 0 &&
      strcmp(second, "<12|ab>-3") == 0)
    return "";
  return std::string("print engine after recovery: \"") + (first ? first : "(null)") + "\", \"" +
         (second ? second : "(null)") + "\"";
}

// The trap layer makes its own records on its first push.
void prepare_traps() {
  jmp_buf unused;
  trap_push(unused, TRAP_CLASS_SERIOUS_ERROR);
  trap_pop();
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

namespace {
// `totals`: 2 the block count and bytes must stay, 1 the count must stay, 0 neither.
OomSweepResult sweep(const std::function<void()>& op, const std::function<void()>& after_recovery,
                     int limit, int totals_kept) {
  OomSweepResult result;
  prepare_traps();
  for (int k = 0; k < limit; ++k) {
    const Totals before = totals();
    if (run_once(&op, k)) {
      result.completed = true;
      return result;
    }
    ++result.recoveries;
    std::string fault = heap_fault();
    const Totals after = totals();
    if (fault.empty() && totals_kept > 0 &&
        (after.count != before.count || (totals_kept > 1 && after.user != before.user)))
      fault = "blocks " + std::to_string(before.count) + " -> " + std::to_string(after.count) +
              ", bytes " + std::to_string(before.user) + " -> " + std::to_string(after.user);
    if (fault.empty()) fault = print_engine_fault();
    if (!fault.empty() && result.failure.empty())
      result.failure = "failing at request " + std::to_string(k + 1) + ": " + fault;
    if (after_recovery) after_recovery();
  }
  return result;
}

// Runs `body` in a new process started from scratch and returns what it printed.
std::string in_new_process(const char* tag, const std::function<void()>& body) {
  return run_child(body, exits(0), {.start = ChildStart::Fresh, .tag = tag});
}

// The growth of the block count over `run`, as one line. Bytes are not compared: a cache grown
// by a run that later ran out of memory may end larger than one grown in a single run.
std::string growth_line(const std::function<void()>& run) {
  const Totals start = totals();
  run();
  const Totals end = totals();
  return "growth " + std::to_string(end.count - start.count) + " blocks\n";
}

// The last line that starts with "growth ", or "".
std::string growth_of(const std::string& output) {
  const size_t at = output.rfind("growth ");
  return at == std::string::npos ? "" : output.substr(at);
}
}  // namespace

OomSweepResult oom_sweep(const std::function<void()>& op,
                         const std::function<void()>& after_recovery, int limit, bool same_bytes) {
  return sweep(op, after_recovery, limit, same_bytes ? 2 : 1);
}

void oom_sweep_first_call(const std::function<void()>& op, const std::source_location where) {
  const ::testing::ScopedTrace caller(where.file_name(), static_cast<int>(where.line()),
                                      "out-of-memory sweep of a first call");
  // Both processes end with the trap records and the print engine made, as a sweep does.
  const std::string once = in_new_process("once", [&] {
    prepare_traps();
    const std::string line = growth_line([&] {
      op();
      print_engine_fault();
    });
    fputs(line.c_str(), stdout);
  });
  const std::string swept = in_new_process("swept", [&] {
    prepare_traps();
    OomSweepResult result;
    const std::string line = growth_line([&] {
      // Stops at the first run that completes: the operation has then run to the end once.
      result = sweep(op, {}, 10000, 0);
    });
    EXPECT_TRUE(result.completed) << "the operation never completed";
    EXPECT_GT(result.recoveries, 0) << "the operation never allocated";
    EXPECT_EQ(result.failure, "");
    fputs(line.c_str(), stdout);
  });
  EXPECT_NE(growth_of(once), "") << once;
  EXPECT_EQ(growth_of(swept), growth_of(once)) << "blocks kept by a swept run, then by a plain run";
}

}  // namespace testsupport

// Runs a check in a process of its own, so that process-wide state (the binding record, the
// stubs' bound addresses, the diagnostics' first-report decisions) starts from its load values.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child_output.h"
#include "runtime/diag/diag.h"

namespace fresh_process {

// Collects failed checks of a child process and ends it: exit code 0 when all held, else 1
// with the failures on the standard error, where the parent's EXPECT_EXIT shows them.
class Checks {
 public:
  void that(bool condition, const std::string& what) {
    if (!condition) failures_.push_back(what);
  }
  template <class A, class B>
  void equal(const A& actual, const B& expected, const std::string& what) {
    if (!(actual == expected)) failures_.push_back(what);
  }
  [[noreturn]] void finish() const {
    size_t shown = 0;
    for (const std::string& f : failures_)
      if (shown++ < 40) std::fprintf(stderr, "FAILED: %s\n", f.c_str());
    if (failures_.size() > 40) std::fprintf(stderr, "... %zu failures in all\n", failures_.size());
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(failures_.empty() ? 0 : 1);
  }

 private:
  std::vector<std::string> failures_;
};

// One serious-error report caught through the diagnostics' callback.
struct Report {
  std::string where;
  std::string message;
};
inline std::vector<Report> reports;

inline int record_report(const char* where, const char* message) {
  reports.push_back({where ? where : "", message ? message : ""});
  return 0;  // carry on
}

// Switches serious-error reporting on so that every report reaches record_report and returns.
inline void catch_reports() {
  serious_error_reporting_set(1);
  host_dialog_mode_set(0);
  order_debug_level_set(-1);
  serious_error_callback_set(record_report);
}

}  // namespace fresh_process

namespace fresh_process {
// Runs `body` (which ends with Checks::finish()) in a new process started from scratch.
template <class Body>
void run(Body body) {
  testsupport::run_child(body, ::testing::ExitedWithCode(0),
                         {.start = testsupport::ChildStart::Fresh});
}
}  // namespace fresh_process

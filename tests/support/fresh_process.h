// Checks in a process of its own, where process-wide state (the binding record, the stubs' bound
// addresses, the diagnostics' first-report decisions) starts from its load values, and the
// serious-error reports caught there.
#pragma once
#include <source_location>
#include <string>
#include <vector>

#include "child_output.h"
#include "runtime/diag/diag.h"

namespace fresh_process {

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

// Runs `body` in a new run of this program; its checks count for the running test.
template <class Body>
void in_own_process(Body&& body, std::source_location where = std::source_location::current()) {
  testsupport::run_child(body, testsupport::exits(0), {.start = testsupport::ChildStart::Fresh},
                         where);
}

}  // namespace fresh_process

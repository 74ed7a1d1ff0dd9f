// Serious-error reports caught in the test process, so that a test started in a process of its
// own can check which reports a call made.
#pragma once
#include <string>
#include <vector>

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

}  // namespace fresh_process

// Helpers for the file and version tests: writing whole files and the runtime's reports, caught
// in a log file instead of stopping the process.
#pragma once
#include <fstream>
#include <string>

#include "child_output.h"
#include "runtime/diag/diag.h"

namespace filetest {

inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline bool exists(const std::string& path) { return std::ifstream(path).good(); }

// While alive, fatal reports and notes are written to a log in the current folder and never stop.
class Reports {
 public:
  Reports() {
    debug_setup(1);
    previous_ = fatal_hook_set([](const char*) { return 0; });
    message_log_file_set(kLog);
  }
  ~Reports() {
    message_log_file_set(nullptr);
    fatal_hook_set(previous_);
    debug_setup(0);
  }
  // Everything reported so far; the log starts anew.
  std::string take() {
    std::string text = testsupport::read_file(kLog);
    write_bytes(kLog, "");
    return text;
  }

 private:
  static constexpr const char* kLog = "reports.log";
  fatal_hook_fn previous_;
};

}  // namespace filetest

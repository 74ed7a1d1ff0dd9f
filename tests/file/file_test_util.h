// Helpers for the file and version tests: whole-file bytes and the runtime's reports, caught
// in a log file instead of stopping the process.
#pragma once
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/diag/diag.h"

namespace filetest {

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
    std::string text = read_bytes(kLog);
    write_bytes(kLog, "");
    return text;
  }

 private:
  static constexpr const char* kLog = "reports.log";
  fatal_hook_fn previous_;
};

}  // namespace filetest

#include "temp_dir.h"

#include "child_output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define KEL_GETPID _getpid
#else
#include <unistd.h>
#define KEL_GETPID getpid
#endif

namespace fs = std::filesystem;

namespace testsupport {

namespace {
fs::path make_unique_dir() {
  static std::atomic<unsigned> serial{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    fs::path p =
        fs::temp_directory_path() / ("kel_test_" + std::to_string(KEL_GETPID()) + "_" +
                                     std::to_string(stamp) + "_" + std::to_string(serial++));
    std::error_code ec;
    if (fs::create_directory(p, ec)) return p;
    if (ec) throw fs::filesystem_error("cannot make a temporary folder", p, ec);
  }
}
}  // namespace

const fs::path& start_dir() {
  // Children started by death tests run in the parent's test folder; they inherit the start
  // folder through the environment.
  static const fs::path dir = [] {
    const char* inherited = std::getenv("KEL_TEST_START_DIR");
    if (inherited && *inherited) return fs::path(inherited);
    fs::path here = fs::current_path();
    set_env("KEL_TEST_START_DIR", here.string().c_str());
    return here;
  }();
  return dir;
}

TempDir::TempDir(bool enter) : path_(make_unique_dir()), owner_(KEL_GETPID()) {
  if (enter) {
    previous_ = fs::current_path();
    fs::current_path(path_);
  }
}

TempDir::~TempDir() {
  if (KEL_GETPID() != owner_) return;
  std::error_code ec;
  if (!previous_.empty()) fs::current_path(previous_, ec);
  fs::remove_all(path_, ec);
}

}  // namespace testsupport

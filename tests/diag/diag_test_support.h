// Helpers for the diagnostics tests: children started from scratch whose standard output is
// kept in a file, and environment changes that work on both platforms.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace diagtest {

// Path of the scratch file that receives the standard output of the current test's child.
std::string child_output_path();
// Sends this process's standard output to `path` (first thing in a child).
void send_stdout_to(const std::string& path);
// The whole text of `path`; "" when it does not exist.
std::string read_text(const std::string& path);
// Sets or removes an environment variable of this process.
void set_env(const char* name, const char* value);
void unset_env(const char* name);

// Runs `body` in a new process of this program started from scratch, with its standard
// output in a file; `ends` checks how it ended. Returns what the child printed.
template <class Body, class Predicate>
std::string run_child(Body body, Predicate ends) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = child_output_path();
  std::remove(path.c_str());
  EXPECT_EXIT(
      {
        send_stdout_to(path);
        body();
        std::fflush(stdout);
        std::exit(0);
      },
      ends, "");
  return read_text(path);
}

inline auto exits_with(int code) { return ::testing::ExitedWithCode(code); }

}  // namespace diagtest

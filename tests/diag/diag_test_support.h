// Helpers for the diagnostics tests: children started from scratch whose standard output is
// kept in a file, and environment changes that work on both platforms.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "child_output.h"

namespace diagtest {

using testsupport::read_text;
using testsupport::send_stdout_to;
using testsupport::set_env;
using testsupport::unset_env;

// Runs `body` in a new process of this program started from scratch, with its standard
// output in a file; `ends` checks how it ended. Returns what the child printed.
template <class Body, class Predicate>
std::string run_child(Body body, Predicate ends) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = testsupport::child_output_path();
  std::remove(path.c_str());
  EXPECT_EXIT(
      {
        send_stdout_to(path);
        body();
        std::fflush(stdout);
        std::exit(0);
      },
      ends, "");
  std::string text = read_text(path);
  std::remove(path.c_str());
  return text;
}

inline auto exits_with(int code) { return ::testing::ExitedWithCode(code); }

}  // namespace diagtest

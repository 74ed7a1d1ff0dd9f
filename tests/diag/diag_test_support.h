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
using testsupport::set_env;
using testsupport::unset_env;

// Runs `body` in a new process of this program started from scratch; `ends` checks how it
// ended. Returns what the child printed.
template <class Body, class Predicate>
std::string run_child(Body body, Predicate ends) {
  return testsupport::run_child(body, ends, {.start = testsupport::ChildStart::Fresh});
}

inline auto exits_with(int code) { return ::testing::ExitedWithCode(code); }

}  // namespace diagtest

// Helpers for the heap tests: an arena backing allocator whose released memory stays readable,
// and children whose standard output is kept in a file.
#pragma once
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "child_output.h"
#include "runtime/mem/mem.h"

namespace memtest {

void send_stdout_to(const std::string& path);  // (being replaced by run_child)

// Serves backing requests from a fixed arena and never reuses memory, so a released block can
// still be read (its fill checked, a second release examined) without touching freed memory.
class ArenaBacking : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// Path of a scratch file for the output of the child named `name`.
std::string output_path(const char* name);
// The whole text of `path`, CRLF read as LF; the file is removed.
std::string read_text(const std::string& path);

// True for any end other than a normal exit with status 0.
inline bool ended_badly(int status) { return !::testing::ExitedWithCode(0)(status); }

}  // namespace memtest

// Runs `statement` in a child with standard output in file `path`; the child must end badly.
#define MEM_EXPECT_STOP(statement, path) \
  EXPECT_EXIT(                           \
      {                                  \
        memtest::send_stdout_to(path);   \
        statement;                       \
        fflush(stdout);                  \
        exit(0);                         \
      },                                 \
      memtest::ended_badly, "")

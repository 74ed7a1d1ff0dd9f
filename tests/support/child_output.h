// Child processes of the tests: the one way to run a check in a process of its own and read
// back what it printed; reading files; and the environment changes such children make.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace testsupport {

// A file in the temporary folder named after the running test, the folder the test program
// started in (so that runs from several build folders do not meet) and `tag`; a death-test
// child that runs the test anew computes the same name.
std::string child_output_path(const char* tag = "");

// Sends this process's standard output to `path` from here on.
void send_stdout_to(const std::string& path);

// The file's bytes as they stand; "" when the file does not exist.
std::string read_file(const std::string& path);
// The file's text with CRLF line ends read as LF (text-mode output on Windows); "" when the
// file does not exist.
std::string read_text(const std::string& path);

// How a child process starts: as a copy of this process (its state as it stands), or as a new
// run of the test program that runs the current test from its start (first-call behaviour).
enum class ChildStart { Copy, Fresh };

// Runs `body` in a child process with its standard output in a file; `ends` checks how the
// child ended (an exit-status predicate, as EXPECT_EXIT takes; the child exits 0 when `body`
// returns). Returns what the child printed, CRLF read as LF. Failures the child writes to the
// standard error show in the failure message.
template <class Body, class Ends>
std::string run_child(Body body, Ends ends, ChildStart start = ChildStart::Copy,
                      const char* tag = "") {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  if (start == ChildStart::Fresh) GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = child_output_path(tag);
  std::remove(path.c_str());
  EXPECT_EXIT(
      {
        send_stdout_to(path);
        body();
        std::fflush(stdout);
        std::_Exit(0);
      },
      ends, "");
  GTEST_FLAG_SET(death_test_style, style);
  std::string text = read_text(path);
  std::remove(path.c_str());
  return text;
}

void set_env(const char* name, const char* value);
void unset_env(const char* name);

}  // namespace testsupport

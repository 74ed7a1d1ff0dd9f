// Child processes of the tests: the one way to run a check in a process of its own and read
// back what it printed; reading files; and the environment changes such children make.
//
// Every GoogleTest check that fails inside the child (EXPECT_* or ASSERT_*, on any thread) fails
// the running test in the parent with the child's file, line and message; the child's end is
// checked against what the caller expects, unless an ASSERT_* ended the child's body early.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <source_location>
#include <string>

namespace testsupport {

// A file in the running test's own folder named after `tag`; a child started anew computes the
// same name.
std::string child_output_path(const char* tag = "");

// The file's bytes as they stand; "" when the file does not exist.
std::string read_file(const std::string& path);
// The file's text with CRLF line ends read as LF (text-mode output on Windows); "" when the
// file does not exist.
std::string read_text(const std::string& path);

// How a child process starts: as a copy of this process (its state as it stands), or as a new
// run of the test program that runs the current test from its start (first-call behaviour). On
// Windows every child is a new run.
//
// A new run skips the children the test starts before its own, which then return "" and
// report nothing: between two children, check with EXPECT_*, since an ASSERT_* failing on such
// an empty result would end the test before its child runs (an unexpected end of the child).
enum class ChildStart { Copy, Fresh };

struct ChildOptions {
  ChildStart start = ChildStart::Copy;
  const char* tag = "";        // tells apart the files of children started by one test
  std::string* err = nullptr;  // receives what the child wrote to the standard error
};

// How a child must end: a predicate on its exit status, as EXPECT_EXIT takes.
using ChildEnd = std::function<bool(int)>;
ChildEnd exits(int code);  // exit status `code`; a body that returns exits with 0
ChildEnd stops();          // the runtime's fatal stop: "Serious internal error" ends with 2
ChildEnd ends_badly();     // any end but exit status 0 (a stop, a signal, an abort)
#ifndef _WIN32
ChildEnd killed_by(int signal_number);
#endif

namespace child_detail {
struct Files {
  std::string out, err, failures;
};
Files prepare(const char* tag);
void enter(const Files& files);
[[noreturn]] void leave();
std::string finish(const Files& files, bool ran, int status, const ChildEnd& ends, std::string* err,
                   const std::source_location& where);
}  // namespace child_detail

// Runs `body` in a child process with its standard output and error in files, and returns
// what it printed to the standard output, CRLF read as LF.
template <class Body>
std::string run_child(Body&& body, const ChildEnd& ends, const ChildOptions& options = {},
                      const std::source_location where = std::source_location::current()) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  if (options.start == ChildStart::Fresh) GTEST_FLAG_SET(death_test_style, "threadsafe");
  const child_detail::Files files = child_detail::prepare(options.tag);
  // Called in the parent only, and only when the child ran here: a test run anew skips the
  // children that come before its own.
  bool ran = false;
  int status = 0;
  auto record_end = [&](int s) {
    ran = true;
    status = s;
    return true;
  };
  EXPECT_EXIT(
      {
        child_detail::enter(files);
        body();
        child_detail::leave();
      },
      record_end, "");
  GTEST_FLAG_SET(death_test_style, style);
  return child_detail::finish(files, ran, status, ends, options.err, where);
}

void set_env(const char* name, const char* value);
void unset_env(const char* name);

}  // namespace testsupport

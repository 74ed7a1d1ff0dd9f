// The child-process helper: a check that fails in a child fails the parent's test, where it was
// made; an end other than the expected one fails it too; what the child printed comes back.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "child_output.h"

namespace {

using ::testing::TestPartResult;
using testsupport::ChildStart;
using testsupport::exits;
using testsupport::run_child;
using testsupport::stops;

TEST(Child, FailedChecksInTheChildFailTheParent) {
  EXPECT_NONFATAL_FAILURE(run_child([] { EXPECT_EQ(1 + 1, 3); }, exits(0)),
                          "in a child process: Expected equality");
  EXPECT_FATAL_FAILURE(run_child([] { ASSERT_TRUE(false) << "assert"; }, exits(0)), "assert");
  EXPECT_NONFATAL_FAILURE(
      run_child([] { EXPECT_TRUE(false) << "anew"; }, exits(0), {.start = ChildStart::Fresh}),
      "anew");
  EXPECT_NONFATAL_FAILURE(run_child([] { std::exit(3); }, exits(0)), "ended with exit status 3");
}

// Where each failure lands: the child's file and line for its own checks, the caller's line for
// an unexpected end; an ASSERT_* that leaves the body early is not also blamed for the end.
TEST(Child, FailuresCarryTheirPlaceKindAndMessage) {
  struct Case {
    const char* what;
    std::function<void()> body;
    testsupport::ChildEnd ends;
    std::vector<TestPartResult::Type> kinds;
    std::string message;
  };
  const int line = __LINE__;
  const std::vector<Case> cases = {
      {"check",
       [] { EXPECT_EQ(2, 3) << "two"; },
       exits(0),
       {TestPartResult::kNonFatalFailure},
       "two"},
      {"assert, then no stop",
       [] { ASSERT_EQ(2, 3) << "left early"; },
       stops(),
       {TestPartResult::kFatalFailure},
       "left early"},
      {"check on another thread",
       [] { std::thread([] { ADD_FAILURE() << "thread"; }).join(); },
       exits(0),
       {TestPartResult::kNonFatalFailure},
       "thread"},
      {"check, then a stop",
       [] {
         EXPECT_TRUE(false) << "before the stop";
         std::exit(2);
       },
       stops(),
       {TestPartResult::kNonFatalFailure},
       "before the stop"},
      {"unexpected end",
       [] {
         std::fputs("said on the way out", stderr);
         std::exit(5);
       },
       exits(0),
       {TestPartResult::kNonFatalFailure},
       "said on the way out"},
  };
  for (const Case& c : cases) {
    ::testing::TestPartResultArray results;
    {
      ::testing::ScopedFakeTestPartResultReporter catcher(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      run_child(c.body, c.ends);
    }
    // Not ASSERT_*: a child started anew runs this test from its start, and skips the children
    // before its own, whose results it then sees empty.
    EXPECT_EQ(results.size(), static_cast<int>(c.kinds.size())) << c.what;
    for (int i = 0; i < results.size() && i < static_cast<int>(c.kinds.size()); ++i) {
      const TestPartResult& r = results.GetTestPartResult(i);
      EXPECT_EQ(r.type(), c.kinds[i]) << c.what;
      EXPECT_STREQ(r.file_name(), __FILE__) << c.what;
      EXPECT_GT(r.line_number(), line) << c.what;
      EXPECT_NE(std::string(r.message()).find(c.message), std::string::npos)
          << c.what << ": " << r.message();
    }
  }
}

TEST(Child, ReturnsWhatTheChildPrinted) {
  std::string err;
  const std::string out = run_child(
      [] {
        std::printf("one\ntwo\n");
        std::fprintf(stderr, "three\n");
        std::exit(2);
      },
      stops(), {.err = &err});
  EXPECT_EQ(out, "one\ntwo\n");
  EXPECT_EQ(err, "three\n");
}

}  // namespace

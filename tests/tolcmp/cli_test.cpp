// The tolcmp command's options, usage errors and exit statuses, and the comparisons under
// exhausted memory.
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "cli.h"
#include "oom_sweep.h"
#include "tolcmp_fixture.h"

namespace {

using ::testing::HasSubstr;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome tolcmp(std::vector<std::string> args) {
  args.insert(args.begin(), "tolcmp");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  CaptureStdout();
  CaptureStderr();
  const int status = tolcmp_main((int)argv.size(), argv.data());
  return Outcome{status, GetCapturedStdout(), GetCapturedStderr()};
}

using Command = ToleranceTest;

TEST_F(Command, OptionsAndExitStatus) {
  write("a.txt", "<< ABS_EPS = 1.0e-3\n1.0 2.0\nx y\n");
  write("b.txt", "1.0005 2.0\n\n! note\nx y\n");
  write("c.txt", "x y\n1.0 2.0\n");
  EXPECT_EQ(tolcmp({"--rel", "1e-3", "a.txt", "b.txt"}).status, 0);
  EXPECT_EQ(tolcmp({"a.txt", "b.txt"}).status, 1);  // the default relative tolerance is 1e-5
  const Outcome differ = tolcmp({"--abs", "0.0", "b.txt", "c.txt"});
  EXPECT_EQ(differ.status, 1);
  EXPECT_THAT(differ.out, HasSubstr("File_1 is: b.txt"));
  EXPECT_THAT(report(), HasSubstr("Line: 1    Differ: 1.0005   x"));
  EXPECT_EQ(tolcmp({"--unordered", "--rel", "0.01", "--abs", "1e-3", "b.txt", "c.txt"}).status, 0);
  EXPECT_EQ(tolcmp({"--loose", "c.txt", "c.txt"}).status, 0);
  write("d.txt", "x  y\n1.0 2.0\n");
  EXPECT_EQ(tolcmp({"c.txt", "d.txt"}).status, 0);
  EXPECT_EQ(tolcmp({"--blanks", "c.txt", "d.txt"}).status, 1);
  EXPECT_EQ(tolcmp({"--layout", "c.txt", "d.txt"}).status,
            1);  // line 1 has no values and other text
  // --quiet and --report
  std::filesystem::remove("dbgfile.dat");
  const Outcome quiet = tolcmp({"--quiet", "--report", "diff.log", "--blanks", "c.txt", "d.txt"});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out, "");
  EXPECT_THAT(testsupport::read_text("diff.log"), HasSubstr("Differ:  1 blanks     2 blanks "));
  EXPECT_FALSE(std::filesystem::exists("dbgfile.dat"));
  // --help names the rule of a zero absolute tolerance.
  const Outcome help = tolcmp({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("--abs 0 asks for identical number texts"));
}

TEST_F(Command, UsageErrorsAreStatusTwo) {
  write("a.txt", "1\n");
  write("b.txt", "2\n");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{}, "FILE1 is required"},
      {{"--frobnicate", "a.txt", "a.txt"}, "frobnicate"},
      {{"--abs", "-1", "a.txt", "a.txt"}, "tolerance must be a finite number >= 0: -1"},
      {{"--rel", "nan", "a.txt", "a.txt"}, "tolerance must be"},
      {{"--layout", "--rel", "1e-3", "a.txt", "a.txt"}, "excludes"},
      {{"--layout", "--unordered", "a.txt", "a.txt"}, "excludes"},
      {{"a.txt", "missing.txt"}, "cannot read missing.txt"},
      {{"a.txt", "a.txt", "a.txt"}, "a.txt"},
      {{"--report", "no_folder/report.dat", "a.txt", "b.txt"},
       "the report no_folder/report.dat could not be written whole"},
  };
  for (const Case& c : cases) {
    const Outcome run = tolcmp(c.args);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_THAT(run.err, HasSubstr(c.message));
  }
}

// Every allocation of a comparison failing in turn: the memory chain is as before and the files
// and the report stream are closed again (a file still open cannot be removed on Windows).
TEST_F(Command, OutOfMemoryLeavesNothingBehind) {
  const std::string pad(5000, 'x');
  write("a.txt", "<< ABS_EPS 1.0e-3\n" + pad + " 1.0\n2.0 3.0\n" + pad + " 4\n");
  write("b.txt", pad + " 1.0001\n2.0 3.5\n" + pad + " 4\n");
  const auto closed = [] {
    std::error_code error;
    std::filesystem::remove("dbgfile.dat", error);
    EXPECT_FALSE(error) << error.message();
  };
  CaptureStdout();
  EXPECT_OOM_SAFE([] { tolerance_compare_files("a.txt", "b.txt", 1, 0, 1e-6, 1e-3); }, closed);
  EXPECT_OOM_SAFE([] { tolerance_compare_unordered("a.txt", "b.txt", 0, 1, 1e-6, 1e-3); }, closed);
  EXPECT_OOM_SAFE([] { tolerance_compare_layout("a.txt", "b.txt"); }, closed);
  GetCapturedStdout();
  EXPECT_EQ(tolerance_compare_files("a.txt", "b.txt", 1, 0, 1e-6, 1e-3), 1);
}

}  // namespace

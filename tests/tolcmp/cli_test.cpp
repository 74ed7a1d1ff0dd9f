// The tolcmp command's options, what it prints, usage errors and exit statuses, the inputs it
// reads once (pipes, the standard input, files beyond 2 GiB), and the comparisons under
// exhausted memory.
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "cli.h"
#include "kel_version.h"
#include "oom_sweep.h"
#include "runtime/tolcmp/tolcmp_internal.h"
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
  EXPECT_EQ(tolcmp({"--abs", "0.0", "b.txt", "c.txt"}).status, 1);
  EXPECT_EQ(tolcmp({"-a", "1e-3", "-r", "1e-3", "a.txt", "b.txt"}).status, 0);
  EXPECT_EQ(tolcmp({"--unordered", "--rel", "0.01", "--abs", "1e-3", "b.txt", "c.txt"}).status, 0);
  EXPECT_EQ(tolcmp({"--loose", "c.txt", "c.txt"}).status, 0);
  // Fields: left out, and their own tolerances over the line's.
  write("f.txt", "x 1.0 2.0 3.0\n");
  write("g.txt", "x 1.4 2.0 9.0\n");
  EXPECT_EQ(tolcmp({"--skip-fields", "4", "-a", "0.5:2", "-r", "1:2", "f.txt", "g.txt"}).status, 0);
  EXPECT_EQ(tolcmp({"--skip-fields", "4", "-a", "0.5:3-", "-r", "1:3-", "f.txt", "g.txt"}).status,
            1);
  EXPECT_EQ(tolcmp({"--fields", "1,3", "f.txt", "g.txt"}).status, 0);
  write("d.txt", "x  y\n1.0 2.0\n");
  EXPECT_EQ(tolcmp({"c.txt", "d.txt"}).status, 0);
  EXPECT_EQ(tolcmp({"--blanks", "c.txt", "d.txt"}).status, 1);
  EXPECT_EQ(tolcmp({"--layout", "c.txt", "d.txt"}).status,
            1);  // line 1 has no values and other text
  // The report file only when asked, emptied first, as the library writes it.
  EXPECT_FALSE(std::filesystem::exists("dbgfile.dat"));
  EXPECT_EQ(tolerance_compare_files("c.txt", "d.txt", 1, 0, 1e-6, 1e-5), 1);
  const std::string library_report = report();
  for (int run = 0; run < 2; ++run) {
    const Outcome quiet = tolcmp({"--quiet", "--report", "diff.log", "--blanks", "c.txt", "d.txt"});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.out, "");
  }
  EXPECT_THAT(library_report, HasSubstr("Differ:  1 blanks     2 blanks "));
  EXPECT_EQ(testsupport::read_text("diff.log"), library_report);
  // --help warns of the skipped markup lines; --version.
  const Outcome help = tolcmp({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("<value>1.0</value> against <value>2.0</value>"));
  EXPECT_EQ(tolcmp({"--version"}).out, "tolcmp " KEL_VERSION "\n");
}

// Every differing field with each file's own line numbers, lines of one file only, the summary;
// JSON lines, brief, colour and equal files.
TEST_F(Command, DifferencesOnTheScreen) {
  write("a.txt", "! run 1\n<< ABS_EPS = 1.0e-3\n1.0 2.0 3\n\nx y\n1  2\n");
  write("b.txt", "1.0005 2.5 4\nx\n! c\n1 2\n5\n");
  EXPECT_EQ(tolcmp({"--blanks", "a.txt", "b.txt"}).out,
            "line 3/1 field 1: 1.0 vs 1.0005  abs 0.0005  rel 0.00049975\n"
            "line 3/1 field 2: 2.0 vs 2.5  abs 0.5  rel 0.2\n"
            "line 3/1 field 3: 3 vs 4  abs 1  rel 0.25\n"
            "line 5/2 field 2: y vs (nothing)\n"
            "line 6/4 field 2: 2 blanks vs 1 blanks before the field\n"
            "line -/5: 5 (only in b.txt)\n"
            "tolcmp: a.txt and b.txt differ: 6 differences on 4 lines; largest absolute 1 "
            "(line 3/1 field 3), largest relative 0.25 (line 3/1 field 3)\n"
            "tolcmp: a.txt has 3 lines to compare, b.txt has 4\n");
  const Outcome json = tolcmp({"--json", "a.txt", "b.txt"});
  EXPECT_THAT(json.out,
              HasSubstr("{\"kind\":\"field\",\"line1\":3,\"line2\":1,\"field\":2,\"text1\":"
                        "\"2.0\",\"text2\":\"2.5\",\"value1\":2,\"value2\":2.5,\"abs\":0.5,"
                        "\"rel\":0.2}\n"));
  EXPECT_THAT(json.out, testing::EndsWith(
                            "{\"kind\":\"only\",\"line1\":null,\"line2\":5,\"field\":0,\"text1\":"
                            "\"\",\"text2\":\"5\"}\n{\"kind\":\"summary\",\"file1\":\"a.txt\","
                            "\"file2\":\"b.txt\",\"same\":false,\"differences\":5,\"lines\":3,"
                            "\"lines1\":3,\"lines2\":4,\"max_abs\":{\"value\":1,\"line1\":3,"
                            "\"line2\":1,\"field\":3},\"max_rel\":{\"value\":0.25,\"line1\":3,"
                            "\"line2\":1,\"field\":3}}\n"));
  EXPECT_EQ(tolcmp({"--brief", "a.txt", "b.txt"}).out, "tolcmp: a.txt and b.txt differ\n");
  EXPECT_THAT(tolcmp({"--color", "always", "a.txt", "b.txt"}).out,
              HasSubstr("\033[36mline 5/2 field 2:\033[m \033[31my\033[m vs \033[32m(nothing)"));
  const Outcome same = tolcmp({"--color", "always", "a.txt", "a.txt"});
  EXPECT_EQ(same.status, 0);
  EXPECT_EQ(same.out, "tolcmp: a.txt and a.txt are the same within the tolerances\n");
  EXPECT_FALSE(std::filesystem::exists("dbgfile.dat"));
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
       "cannot write the report no_folder/report.dat"},
      {{"--report", "./a.txt", "a.txt", "b.txt"}, "would overwrite the input a.txt"},
      {{"-", "-"}, "only one of the files can be the standard input"},
      {{"--brief", "--json", "a.txt", "b.txt"}, "excludes"},
      {{"--color", "sometimes", "a.txt", "b.txt"}, "sometimes not in {auto,always,never}"},
      {{"a.txt", "."}, "cannot read ."},
      {{"--blanks", "--unordered", "a.txt", "b.txt"}, "excludes"},
      {{"--fields", "2-1", "a.txt", "b.txt"}, "fields are N, N-M or N-"},
      {{"--skip-fields", "1,", "a.txt", "b.txt"}, "fields are N, N-M or N-"},
      {{"-a", "1e-3:x", "a.txt", "b.txt"}, "tolerance must be"},
      {{"--layout", "--fields", "1", "a.txt", "b.txt"}, "excludes"},
      {{"--report", "a.txt", "b.txt", "-"}, "would overwrite the input (standard input)"},
  };
  ASSERT_TRUE(std::freopen("a.txt", "rb", stdin));  // the standard input is a.txt
  for (const Case& c : cases) {
    const Outcome run = tolcmp(c.args);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_THAT(run.err, HasSubstr(c.message));
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);)
      EXPECT_THAT(line, testing::StartsWith("tolcmp: "));
  }
  EXPECT_EQ(testsupport::read_text("a.txt"), "1\n");
}

// The faults of earlier versions, each with the case that shows it.
TEST_F(Command, EarlierFaults) {
  // A bound in double: 2.9 - -0.1 rounds to 3; a tolerance read without rounding twice.
  write("a.txt", "-0.1\n");
  write("b.txt", "2.9\n");
  write("c.txt", "0.0\n");
  write("d.txt", "1.0\n");
  EXPECT_EQ(tolcmp({"-a", "3", "-r", "0", "a.txt", "b.txt"}).status, 1);
  EXPECT_EQ(
      tolcmp({"-a", "1.000000000000000111022302462515655", "-r", "0", "c.txt", "d.txt"}).status, 0);
  // JSON: UTF-8 as it is, other bytes as their Latin-1 characters, integers beyond 2^53 exactly.
  write("a.txt", "temp\u00e9rature \xe9t\xc3 9007199254740993\n");
  write("b.txt", "temperature x 9007199254740992\n");
  const std::string json = tolcmp({"--json", "a.txt", "b.txt"}).out;
  EXPECT_THAT(json, HasSubstr("\"text1\":\"temp\u00e9rature\""));
  EXPECT_THAT(json, HasSubstr("\"text1\":\"\\u00e9t\\u00c3\""));
  EXPECT_THAT(json,
              HasSubstr("\"value1\":9007199254740993,\"value2\":9007199254740992,\"abs\":1,"));
  EXPECT_THAT(tolcmp({"a.txt", "b.txt"}).out, HasSubstr("abs 1  rel 1.11022e-16"));
  // A line over the limit says so, not what errno held before.
  write("b.txt", "1\n");
  write("long.txt", std::string(3 << 20, '7') + "\n");
  const int limit = tolcmp::reader_line_limit(1 << 20);
  const Outcome long_line = tolcmp({"long.txt", "b.txt"});
  tolcmp::reader_line_limit(limit);
  EXPECT_EQ(long_line.status, 2);
  EXPECT_THAT(long_line.err, HasSubstr("cannot read long.txt: a line is longer than 1 GiB"));
#ifndef _WIN32
  // The report is opened after the inputs: a pipe that carries the report's old text reads it
  // whole.
  write("r.txt", "1\n");
  ASSERT_EQ(mkfifo("pipe", 0600), 0);
  std::thread writer([] { write("pipe", testsupport::read_file("r.txt")); });
  EXPECT_EQ(tolcmp({"--report", "r.txt", "pipe", "b.txt"}).status, 0);
  writer.join();
  EXPECT_EQ(testsupport::read_file("r.txt"), "");
#endif
}

// The copy of the standard input is gone however the run ends, killed while it copies included.
TEST_F(Command, CopyOfTheStandardInputNeverStays) {
  write("a.txt", "1\n");
  std::filesystem::create_directory("tmp");
  const std::string folder = std::filesystem::absolute("tmp").string();
  // Whether some file of `folder` is held open by the child (Linux), or lies there (Windows).
  bool holding = false;
#ifndef _WIN32
  int in[2];
  ASSERT_EQ(pipe(in), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(in[0], 0);
    setenv("TMPDIR", folder.c_str(), 1);
    execl(TOLCMP_COMMAND, "tolcmp", "a.txt", "-", (char*)nullptr);
    _exit(127);
  }
  close(in[0]);
  ASSERT_EQ(::write(in[1], "1\n", 2), 2);  // the pipe stays open: the run is copying
  const std::string fds = "/proc/" + std::to_string(child) + "/fd";
  for (int i = 0; i < 1000 && !holding; ++i, usleep(10000)) {
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator(fds, error))
      holding = holding || std::filesystem::read_symlink(fd, error).string().rfind(folder, 0) == 0;
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(in[1]);
#else
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end, write_end;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inherit, 0));
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = read_end;
  start.hStdOutput = start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  char tmp[MAX_PATH] = "";
  const bool had_tmp = GetEnvironmentVariableA("TMP", tmp, sizeof tmp) > 0;
  SetEnvironmentVariableA("TMP", folder.c_str());  // the child's, and back at once
  std::string command = std::string("\"") + TOLCMP_COMMAND + "\" a.txt -";
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &start, &process);
  SetEnvironmentVariableA("TMP", had_tmp ? tmp : nullptr);
  ASSERT_TRUE(started);
  DWORD wrote = 0;
  WriteFile(write_end, "1\n", 2, &wrote, nullptr);  // the pipe stays open: the run is copying
  for (int i = 0; i < 1000 && !holding; ++i, Sleep(10)) holding = !std::filesystem::is_empty("tmp");
  TerminateProcess(process.hProcess, 9);
  WaitForSingleObject(process.hProcess, INFINITE);
  for (HANDLE h : {process.hProcess, process.hThread, read_end, write_end}) CloseHandle(h);
#endif
  EXPECT_TRUE(holding);
  EXPECT_TRUE(std::filesystem::is_empty("tmp"));
}

// Each input is read once: the standard input, a named pipe (the unordered comparison too), and
// a file of more than 2 GiB, which a 32-bit program reads with large-file support only.
TEST_F(Command, InputsReadOnce) {
  write("a.txt", "1.0 2.0\n");
  write("b.txt", "9.0 2.0\n");
  const std::string out = testsupport::run_child(
      [] {
        ASSERT_TRUE(std::freopen("b.txt", "rb", stdin));
        char* argv[] = {(char*)"tolcmp", (char*)"a.txt", (char*)"-", nullptr};
        std::exit(tolcmp_main(3, argv));
      },
      testsupport::exits(1));
  EXPECT_THAT(out, HasSubstr("line 1/1 field 1: 1.0 vs 9.0"));
#ifndef _WIN32
  ASSERT_EQ(mkfifo("pipe", 0600), 0);
  for (const char* order : {"--abs=1e-6", "--unordered"}) {
    std::thread writer([] { write("pipe", "9.0 2.0\n"); });
    EXPECT_EQ(tolcmp({order, "a.txt", "pipe"}).status, 1) << order;
    writer.join();
  }
#endif
  // 2049 lines of NUL bytes, the file mostly holes, then one of numbers.
  FILE* big = std::fopen("big.txt", "wb");
  ASSERT_TRUE(big);
  for (int64_t mib = 1; mib <= 2049; ++mib) {
#ifdef _WIN32
    ASSERT_EQ(_fseeki64(big, (mib << 20) - 1, SEEK_SET), 0);
#else
    ASSERT_EQ(fseeko(big, (off_t)(mib << 20) - 1, SEEK_SET), 0);
#endif
    std::fputc('\n', big);
  }
  std::fputs("9.0 2.0\n", big);
  ASSERT_EQ(std::fclose(big), 0);
  const Outcome run = tolcmp({"--brief", "big.txt", "b.txt"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out, "tolcmp: big.txt and b.txt differ\n");
  std::filesystem::remove("big.txt");
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

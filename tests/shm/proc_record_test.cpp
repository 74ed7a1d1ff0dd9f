#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "../file/file_test_util.h"
#include "child_output.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/program.h"
#include "runtime/shm/shm.h"

namespace fs = std::filesystem;

namespace {

// Starts the command tests' probe program with `arguments`; its process id.
int start_probe(const std::string& arguments) {
  char self[1024];
  EXPECT_GT(platform_program_path(self, sizeof self), 0u);
  fs::path probe = fs::path(self).parent_path().parent_path() / "sys" / "sys_probe";
#ifdef _WIN32
  probe += ".exe";
#endif
  uint32_t pid = 0;
  EXPECT_NE(0, platform_process_run((probe.string() + " " + arguments).c_str(), 0, nullptr, nullptr,
                                    &pid));
  return (int)pid;
}

int after_a_while(void* code) {
  platform_sleep_ms(100);
  return *static_cast<int*>(code);
}
int exits_early(void*) { thread_exit(5); }
int sleeps_long(void*) {
  platform_sleep_ms(20000);
  return 1;
}

// Sleeps long, after saying it has started: a thread ended from outside must not be in the
// middle of its start-up (the C library's heap lock, say) when it is ended.
std::atomic<int> sleeper_started{0};
int says_started_then_sleeps(void*) {
  sleeper_started = 1;
  platform_sleep_ms(20000);
  return 1;
}

TEST(ProcessRecords, WaitForTheFirstToEnd) {
  const int pid = start_probe("sleep=30000");
  proc_record* process = proc_record_open(pid);
  ASSERT_NE(nullptr, process);
  EXPECT_EQ(pid, proc_record_pid(process));
  EXPECT_EQ(1, process_exists(pid));
  int seven = 7;
  proc_record* thread = thread_start(2, after_a_while, &seven);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(2, thread->kind);
  EXPECT_EQ(1, proc_record_is_running(thread));

  proc_record* both[] = {process, thread};
  int code = 0;
  EXPECT_EQ(1, kel_wait_for_subproc(2, both, &code));
  EXPECT_EQ(7, code);
  EXPECT_EQ(0, proc_record_is_running(thread));
  EXPECT_EQ(1, proc_record_is_running(process));

  // Terminated, the process ends with the terminating code.
  EXPECT_EQ(1, proc_record_terminate(process));
  EXPECT_EQ(0, kel_wait_for_subproc(1, both, &code));
#ifdef _WIN32
  EXPECT_EQ(-1, code);
#else
  EXPECT_EQ(128 + 9, code);
#endif
  proc_record_close(&process);
  EXPECT_EQ(nullptr, process);
  // The system may take a moment to let go of an ended process.
  for (int i = 0; i < 300 && process_exists(pid); i++) platform_sleep_ms(10);
  EXPECT_EQ(0, process_exists(pid));
  proc_record_close(&thread);
  proc_record_close(&thread);  // a null record is ignored

  // A child's own exit code, and a thread ended by thread_exit.
  proc_record* child = proc_record_open(start_probe("sleep=50 exit=3"));
  ASSERT_NE(nullptr, child);
  proc_record* early = thread_start(2, exits_early, nullptr);
  proc_record* pair[] = {child, early};
  code = 0;
  const int first = kel_wait_for_subproc(2, pair, &code);
  EXPECT_EQ(first == 0 ? 3 : 5, code);
  pair[first] = pair[1 - first];
  EXPECT_EQ(0, kel_wait_for_subproc(1, pair, &code));
  EXPECT_EQ(first == 0 ? 5 : 3, code);
  proc_record_close(&child);
  proc_record_close(&early);
}

TEST(ProcessRecords, TerminateAThread) {
  sleeper_started = 0;
  proc_record* thread = thread_start(2, says_started_then_sleeps, nullptr);
  ASSERT_NE(nullptr, thread);
  for (int i = 0; i < 5000 && !sleeper_started; ++i) platform_sleep_ms(1);
  ASSERT_EQ(1, sleeper_started.load());
  const int64_t start = platform_steady_ms();
  EXPECT_EQ(1, proc_record_terminate(thread));
  int code = 0;
  EXPECT_EQ(0, kel_wait_for_subproc(1, &thread, &code));
  EXPECT_EQ(-1, code);
  EXPECT_LT(platform_steady_ms() - start, 5000);
  proc_record_close(&thread);
}

TEST(ProcessRecords, RefusalsAndTheCurrentProcess) {
  // A new process is not started this way: the fatal stop.
  const std::string said =
      testsupport::run_child([] { thread_start(1, sleeps_long, nullptr); }, testsupport::stops());
  EXPECT_EQ("Serious internal error; cannot continue.\n", said);
  filetest::Reports reports;
  EXPECT_EQ(current_pid(), proc_record_pid(nullptr));
  EXPECT_EQ(1, process_exists(current_pid()));
  EXPECT_EQ(0, proc_record_terminate(nullptr));
  // Too many records or none: refused without waiting.
  std::vector<proc_record*> many(1001, nullptr);
  for (const auto& [count, complaint] : {std::pair{1001, "too many processes."},
                                         std::pair{0, "WaitForMultipleObjects () failed."}}) {
    int code = 12;
    EXPECT_EQ(-1, kel_wait_for_subproc(count, many.data(), &code)) << count;
    EXPECT_EQ(12, code);
    EXPECT_NE(std::string::npos, reports.take().find(complaint)) << count;
  }
}

}  // namespace

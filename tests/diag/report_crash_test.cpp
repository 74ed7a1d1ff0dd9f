// Banner reports, the log file, crash and the exit function with its handlers.
#include <gtest/gtest.h>

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "child_output.h"
#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/text/kel_printf.h"

namespace {

using testsupport::exits;
using testsupport::read_text;
using testsupport::run_child;
using testsupport::stops;

// The first report fixes the decisions for the process: every child starts anew.
const testsupport::ChildOptions kFresh{.start = testsupport::ChildStart::Fresh};

int keep_going(const char* name) {
  std::printf("fatal hook(%s)\n", name);
  return std::string(name) == "stop";
}

void return_from_signal(int signal_number) { std::printf("signal %d\n", signal_number); }

TEST(ReportMessage, BannersByLevelAndFatalStop) {
  const std::string out = run_child(
      [] {
        std::signal(11, return_from_signal);
        debug_setup(1);  // message output, stop_on_fatal and raise_on_crash
        fatal_hook_set(keep_going);
        report_info("mod", "x=%d", 5);
        report_error_level("mod", 'B', "bad %s", "input");
        report_fatal("keep", "kept");
        report_fatal("stop", nullptr);
        std::printf("after\n");
      },
      exits(0), kFresh);
  EXPECT_EQ(out,
            "\n*** INFO MESSAGE from mod : ***\n\tx=5\n"
            "\n*** B-LEVEL ERROR in mod : ***\n\tbad input\n"
            "fatal hook(keep)\n"
            "\n*** FATAL ERROR in keep : ***\n\tkept\n"
            "fatal hook(stop)\n"
            "\n*** FATAL ERROR in stop : ***\n\t\n"
            "signal 11\n"
            "after\n");
}

// A print result may be the next call's argument, a report included.
TEST(ReportMessage, ArgumentMayBeTheLastPrintResult) {
  const std::string out = run_child(
      [] {
        debug_setup(1);
        const char* last = kel_sprintf(nullptr, "value %d", 42);
        report_error_level("mod", 'C', "%s|%s", last, "x");
        std::printf("%s\n", last);
      },
      exits(0), kFresh);
  EXPECT_EQ(out, "\n*** C-LEVEL ERROR in mod : ***\n\tvalue 42|x\nvalue 42\n");
}

TEST(ReportMessage, FatalWithoutOutputOrStopIsSilent) {
  const std::string out = run_child(
      [] {
        fatal_hook_set(keep_going);
        report_fatal("stop", "m");
        std::printf("returned\n");
      },
      exits(0), kFresh);
  EXPECT_EQ(out, "returned\n");
}

TEST(ReportMessage, LogFileIsWrittenAnewThenAppendedAndMessagesAreCut) {
  const std::string log = "diag_report_log.txt";  // in the test's own folder
  {
    std::FILE* old = std::fopen(log.c_str(), "w");
    std::fputs("left from before\n", old);
    std::fclose(old);
  }
  const std::string out = run_child(
      [&] {
        debug_setup(1);
        message_log_file_set(log.c_str());
        report_info("one", "first");
        report_info("two", "%s", std::string(1500, 'y').c_str());
        message_log_file_set(nullptr);
        report_info("three", "to stdout");
      },
      exits(0), kFresh);
  EXPECT_EQ(out, "\n*** INFO MESSAGE from three : ***\n\tto stdout\n");
  EXPECT_EQ(read_text(log),
            "\n*** INFO MESSAGE from one : ***\n\tfirst\n"
            "\n*** INFO MESSAGE from two : ***\n\t" +
                std::string(999, 'y') + "\n");
}

void handler_a(int code) { std::printf("handler A %d\n", code); }
void handler_b(int code) { std::printf("handler B %d\n", code); }
void handler_c(int code) { std::printf("handler C %d\n", code); }

int exit_plus_40(int code) {
  std::printf("exit function %d\n", code);
  std::fflush(stdout);
  std::exit(code + 40);
}
int exit_returns(int code) {
  std::printf("exit function %d returns\n", code);
  return 0;
}

TEST(Crash, RunsTheHandlersAndTheExitFunctionWithTwo) {
  std::string out = run_child(
      [] {
        exit_handler_add(handler_a);
        exit_handler_add(handler_b);
        set_ozt_exit_func(exit_plus_40);
        crash();
      },
      exits(42), kFresh);
  EXPECT_EQ(out,
            "Serious internal error; cannot continue.\n"
            "handler B 2\nhandler A 2\nexit function 2\n");

  out = run_child([] { crash(); }, stops(), kFresh);
  EXPECT_EQ(out, "Serious internal error; cannot continue.\n");

  // An exit function that returns does not bring the fatal stop back to its caller.
  out = run_child(
      [] {
        set_ozt_exit_func(exit_returns);
        crash();
        std::printf("came back\n");
      },
      stops(), kFresh);
  EXPECT_EQ(out, "Serious internal error; cannot continue.\nexit function 2 returns\n");
}

bool ended_by_the_noncontinuable_exception(int status) {
#ifdef _WIN32
  return ::testing::ExitedWithCode(static_cast<int>(0xC0000025u))(status);
#else
  return ::testing::KilledBySignal(SIGABRT)(status);
#endif
}

#ifdef _WIN32
// Ends the process with the exception at once, starting no debugger that would hold the child's
// files open after its end.
LONG WINAPI end_at_once(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }
#endif

TEST(Crash, AllowCrashEndsAbnormallyWithoutTheHandlers) {
  const std::string out = run_child(
      [] {
#ifdef _WIN32
        SetUnhandledExceptionFilter(end_at_once);
#endif
        testsupport::set_env("ALLOW_CRASH", "1");
        exit_handler_add(handler_a);
        set_ozt_exit_func(exit_plus_40);
        debug_setup(1);  // raise_on_crash too: the allowed crash comes first
        crash();
      },
      ended_by_the_noncontinuable_exception, kFresh);
  EXPECT_EQ(out, "Allowing crash: crash()\n");  // neither the handlers nor the exit function
}

TEST(Crash, RaiseOnCrashRaisesSignalElevenAndReturnsWhenItsHandlerDoes) {
  const std::string out = run_child(
      [] {
        std::signal(11, return_from_signal);
        exit_handler_add(handler_a);
        debug_setup(1);
        std::printf("crash %d\n", crash());
      },
      exits(0), kFresh);
  EXPECT_EQ(out, "signal 11\ncrash 0\n");
}

TEST(Crash, MisuseStopAndMemoryBreak) {
  std::string out = run_child([] { misuse_stop("XAR_FREE", "invalid array"); }, stops(), kFresh);
  EXPECT_EQ(out, "XAR_FREE:  invalid array\nSerious internal error; cannot continue.\n");

  out = run_child(
      [] {
        static jmp_buf resume;
        if (setjmp(resume) == 0) {
          trap_push(resume, TRAP_CLASS_SERIOUS_ERROR);
          memory_break("XAR_ALLOC", "out of memory");
        } else {
          std::printf("recovered\n");
        }
      },
      exits(0), kFresh);
  EXPECT_EQ(out, "XAR_ALLOC:  out of memory\nrecovered\n");
}

TEST(ExitHandlers, RunOnceNewestFirstAndRemoveTheFirstMatch) {
  const std::string out = run_child(
      [] {
        exit_handler_add(handler_a);
        exit_handler_add(handler_b);
        exit_handler_add(handler_a);
        std::printf("remove %d %d\n", exit_handler_remove(handler_a),
                    exit_handler_remove(handler_c));
        std::printf("ran %d\n", exit_handlers_run(2));
        std::printf("again %d\n", exit_handlers_run(2));
      },
      exits(0), kFresh);
  EXPECT_EQ(out, "remove 1 0\nhandler B 2\nhandler A 2\nran 2\nagain 0\n");
}

int times_ten(int code) { return code * 10; }
int times_hundred(int code) { return code * 100; }

TEST(ExitFunction, StandardExitByDefaultAndReplacementReportedInDebugMode) {
  run_child([] { ozt_exit(1); }, exits(1), kFresh);

  const std::string out = run_child(
      [] {
        set_ozt_exit_func(times_ten);
        std::printf("%d\n", ozt_exit(3));
        set_ozt_exit_func(times_hundred);  // silent: not in debug mode
        debug_setup(1);
        set_ozt_exit_func(times_ten);
        std::printf("%d\n", ozt_exit(4));
        order_debug_level_set(0);
        set_ozt_exit_func(nullptr);  // back to the standard exit, silently
        ozt_exit(5);
      },
      exits(5), kFresh);
  EXPECT_EQ(out,
            "30\n"
            "\n*** INFO MESSAGE from set_ozt_exit_func : ***\n\tozt_exit_func already set!\n"
            "40\n");
}

}  // namespace

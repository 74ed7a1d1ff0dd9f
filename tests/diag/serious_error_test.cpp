// dbg_err_crash under its switches, the notes and error_break. The first report fixes the
// decisions for the process, so every case runs in a child of its own.
#include <gtest/gtest.h>

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <string>

#include "child_output.h"
#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"

namespace {

using testsupport::exits;
using testsupport::run_child;
using testsupport::stops;

// The first report fixes the decisions for the process: every child starts anew.
const testsupport::ChildOptions kFresh{.start = testsupport::ChildStart::Fresh};

enum class Callback { None, Continue, Stop };
enum class Outcome { Silent, Continues, Stops };

struct Switches {
  const char* name;
  bool reporting;
  int level;
  int dialog_mode;
  bool show_dialog_env;
  Callback callback;
  Outcome outcome;
  bool callback_asked;
};

int callback_continue(const char* where, const char* message) {
  std::printf("asked(%s|%s)\n", where, message);
  return 0;
}
int callback_stop(const char* where, const char* message) {
  std::printf("asked(%s|%s)\n", where, message);
  return 1;
}

constexpr Switches kSwitches[] = {
    {"Off", false, -1, 0, true, Callback::Stop, Outcome::Silent, false},
    {"LevelZero", true, 0, 0, false, Callback::None, Outcome::Continues, false},
    {"LevelZeroIgnoresCallback", true, 0, 1, true, Callback::Stop, Outcome::Continues, false},
    {"DialogWithoutCallback", true, -1, 0, false, Callback::None, Outcome::Stops, false},
    {"DialogCallbackContinues", true, -1, 0, false, Callback::Continue, Outcome::Continues, true},
    {"DialogCallbackStops", true, -1, 0, false, Callback::Stop, Outcome::Stops, true},
    {"HostModeNoEnvNoDialog", true, -1, 1, false, Callback::Continue, Outcome::Stops, false},
    {"HostModeEnvDialog", true, -1, 1, true, Callback::Continue, Outcome::Continues, true},
    {"HostModeEnvCallbackStops", true, -1, 1, true, Callback::Stop, Outcome::Stops, true},
    {"Level9029HostModeNoDialog", true, 9029, 1, true, Callback::Continue, Outcome::Stops, false},
    {"LevelMinus151HostModeNoDialog", true, -151, 1, true, Callback::Continue, Outcome::Stops,
     false},
    {"Level9029OtherModeDialog", true, 9029, 0, false, Callback::Continue, Outcome::Continues,
     true},
    {"LevelMinus151NoCallback", true, -151, 0, true, Callback::None, Outcome::Stops, false},
    {"Level9029HostModeNoCallback", true, 9029, 1, false, Callback::None, Outcome::Stops, false},
};

class DbgErrCrashSwitches : public ::testing::TestWithParam<Switches> {};

TEST_P(DbgErrCrashSwitches, DecideToContinueOrStop) {
  const Switches s = GetParam();
  const std::string out = run_child(
      [&] {
        serious_error_reporting_set(s.reporting);
        order_debug_level_set(s.level);
        host_dialog_mode_set(s.dialog_mode);
        if (s.show_dialog_env)
          testsupport::set_env("DBG_ERR_SHOW_DIALOG", "1");
        else
          testsupport::unset_env("DBG_ERR_SHOW_DIALOG");
        if (s.callback == Callback::Continue) serious_error_callback_set(callback_continue);
        if (s.callback == Callback::Stop) serious_error_callback_set(callback_stop);
        int result =
            dbg_err_crash("KelThingGet_v", "couldn't find pointer to %s-side function", "Mirax");
        std::printf("returned %d\n", result);
      },
      s.outcome == Outcome::Stops ? stops() : exits(0), kFresh);

  if (s.outcome == Outcome::Silent) {
    EXPECT_EQ(out, "returned 0\n");
    return;
  }
  std::string expected = "KelThingGet_v:  couldn't find pointer to Mirax-side function\n";
  if (s.callback_asked)
    expected += "asked(KelThingGet_v|couldn't find pointer to Mirax-side function)\n";
  if (s.outcome == Outcome::Continues)
    expected += "dbg_err_crash() -- continuing from serious error (ORDER_DEBUG).\nreturned 1\n";
  else
    expected +=
        "dbg_err_crash() -- crashing out in ORDER_DEBUG ONLY.\n"
        "Serious internal error; cannot continue.\n";
  EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(Combinations, DbgErrCrashSwitches, ::testing::ValuesIn(kSwitches),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DbgErrCrash, DecisionsAreKeptFromTheFirstReport) {
  // Level 0 at the first report: later levels do not make it stop.
  std::string out = run_child(
      [] {
        serious_error_reporting_set(1);
        dbg_err_crash("first", nullptr);
        order_debug_level_set(-1);
        std::printf("second %d\n", dbg_err_crash("second", "m"));
      },
      exits(0), kFresh);
  EXPECT_EQ(out,
            "first:  \n"
            "dbg_err_crash() -- continuing from serious error (ORDER_DEBUG).\n"
            "second:  m\n"
            "dbg_err_crash() -- continuing from serious error (ORDER_DEBUG).\n"
            "second 1\n");

  // The show-dialog decision made with host_dialog_mode 0 holds after the mode becomes 1.
  out = run_child(
      [] {
        serious_error_reporting_set(1);
        order_debug_level_set(-1);
        serious_error_callback_set(callback_continue);
        dbg_err_crash("first", "a");
        host_dialog_mode_set(1);
        testsupport::unset_env("DBG_ERR_SHOW_DIALOG");
        std::printf("second %d\n", dbg_err_crash("second", "b"));
      },
      exits(0), kFresh);
  EXPECT_EQ(out,
            "first:  a\nasked(first|a)\n"
            "dbg_err_crash() -- continuing from serious error (ORDER_DEBUG).\n"
            "second:  b\nasked(second|b)\n"
            "dbg_err_crash() -- continuing from serious error (ORDER_DEBUG).\n"
            "second 1\n");
}

std::string narrow(const kel_wchar* wide) {
  std::string text;
  for (; *wide; ++wide) text += static_cast<char>(*wide);
  return text;
}

void print_wide_hook(const kel_wchar* text, char level, const intptr_t words[9]) {
  std::printf("wide[%c,%d]: %s\n", level, static_cast<int>(words[0]), narrow(text).c_str());
}

void print_keyed_hook(const char* key, const intptr_t words[10]) {
  std::printf("keyed[%s]: %s\n", key, words[0] ? reinterpret_cast<const char*>(words[0]) : "-");
}

void return_from_signal(int signal_number) { std::printf("signal %d\n", signal_number); }

TEST(DbgErrCrash, HooksReceiveTheStopTextCutTo255Characters) {
  const std::string out = run_child(
      [] {
        serious_error_reporting_set(1);
        order_debug_level_set(7);
        wide_message_hook_set(print_wide_hook);
        const std::string long_message(400, 'x');
        dbg_err_crash("where", "%s", long_message.c_str());
      },
      stops(), kFresh);
  const std::string cut = "where  :" + std::string(255 - 8, 'x');
  EXPECT_EQ(out, "where:  " + std::string(400, 'x') + "\n" + "wide[E,0]: " + cut + "\n" +
                     "wide[E,0]: dbg_err_crash() -- crashing out in ORDER_DEBUG ONLY.\n"
                     "dbg_err_crash() -- crashing out in ORDER_DEBUG ONLY.\n"
                     "Serious internal error; cannot continue.\n");
}

TEST(DbgErrCrash, ContinuingPassesTheDummyKeyAndAStopThatComesBackReturnsOne) {
  std::string out = run_child(
      [] {
        serious_error_reporting_set(1);
        keyed_message_hook_set(print_keyed_hook);
        std::printf("returned %d\n", dbg_err_crash(nullptr, "not printed %d", 1));
      },
      exits(0), kFresh);
  EXPECT_EQ(out,
            "dbg_err_crash() -- continuing from serious error (ORDER_DEBUG).\n"
            "keyed[dummy message]: dbg_err_crash() - continuing from serious error (ORDER_DEBUG).\n"
            "returned 1\n");

  // raise_on_crash (from debug_setup) with a signal handler that returns: crash comes back.
  out = run_child(
      [] {
        std::signal(11, return_from_signal);
        serious_error_reporting_set(1);
        debug_setup(1);
        std::printf("returned %d\n", dbg_err_crash(nullptr, nullptr));
      },
      exits(0), kFresh);
  EXPECT_EQ(out,
            "dbg_err_crash() -- crashing out in ORDER_DEBUG ONLY.\n"
            "signal 11\n"
            "returned 1\n");
}

TEST(Notes, PrintOnlyWhenSwitchedOn) {
  const std::string out = run_child(
      [] {
        std::printf("off %d %d\n", order_debug_note("n", "a"), info_note("i", "b"));
        serious_error_reporting_set(1);
        std::printf("level 0: %d %d\n", order_debug_note("n", "a"), info_note("i", "b"));
        order_debug_level_set(3);
        std::printf("%d\n", order_debug_note("note", "value %d", 42));
        std::printf("%d\n", order_debug_note("note", nullptr));
        std::printf("%d\n", order_debug_note(nullptr, "unseen"));
        std::printf("%d\n", info_note("info", "count %d", 5));
        std::printf("%d\n", info_note(nullptr, "bare"));
        std::printf("%d\n", info_note("info", nullptr));
        serious_error_reporting_set(0);
        std::printf("%d %d\n", order_debug_note("n", "a"), info_note("i", "still"));
      },
      exits(0), kFresh);
  EXPECT_EQ(out,
            "off 0 0\n"
            "level 0: 1 0\n"
            "note:  value 42 (ORDER_DEBUG)\n1\n"
            "note:   (ORDER_DEBUG)\n1\n"
            "1\n"
            "info:  count 5 (INFO MESSAGE)\n1\n"
            "bare\n1\n"
            "info:   (INFO MESSAGE)\n1\n"
            "i:  still (INFO MESSAGE)\n0 1\n");
}

TEST(Notes, StartValuesKeepEveryReportSilent) {
  const std::string out = run_child(
      [] {
        int results = dbg_err_crash("a", "b") * 1000 + order_debug_note("a", "b") * 100 +
                      info_note("a", "b") * 10 + order_debug_level_is(0);
        report_fatal("fatal", "not shown");
        report_info("info", "not shown");
        std::printf("%d\n", results);
      },
      exits(0), kFresh);
  EXPECT_EQ(out, "1\n");
}

TEST(DebugLevel, SetterReturnsThePreviousLevelAndSpecialLevelsAreKnown) {
  const int start = order_debug_level_set(9129);
  EXPECT_TRUE(order_debug_level_is(9129));
  EXPECT_TRUE(order_debug_level_is_special());
  for (int level : {9029, 9229, 9329}) {
    order_debug_level_set(level);
    EXPECT_TRUE(order_debug_level_is_special()) << level;
  }
  for (int level : {0, -1, 9028, 9429, 98765}) {
    order_debug_level_set(level);
    EXPECT_FALSE(order_debug_level_is_special()) << level;
  }
  EXPECT_EQ(order_debug_level_set(start), 98765);
  EXPECT_EQ(order_debug_level_get(), start);
}

TEST(ErrorBreak, ReportsTheMessageAsTextAndFiresClassTwo) {
  const std::string out = run_child(
      [] {
        serious_error_reporting_set(1);
        keyed_message_hook_set(print_keyed_hook);
        static jmp_buf resume;
        if (setjmp(resume) == 0) {
          trap_push(resume, TRAP_CLASS_SERIOUS_ERROR);
          error_break("100% sure");
          std::printf("not taken\n");
        } else {
          std::printf("resumed, pop %d\n", trap_pop());
        }
      },
      exits(0), kFresh);
  EXPECT_EQ(out,
            "keyed[100% sure]: -\n"
            "error_break:  100% sure\n"
            "dbg_err_crash() -- continuing from serious error (ORDER_DEBUG).\n"
            "keyed[dummy message]: dbg_err_crash() - continuing from serious error (ORDER_DEBUG).\n"
            "resumed, pop 1\n");
}

void f0() {}
void f1() {}
void f2() {}
void f3() {}
void f4() {}

TEST(FuncTab, MisplacedEntryIsReportedOnceAndFoundBySearch) {
  const std::string out = run_child(
      [] {
        serious_error_reporting_set(1);
        const functab_entry table[] = {{0, f0}, {1, f1}, {2, f2}, {4, f4}, {3, f3}, {-1, nullptr}};
        std::printf("3 %d\n", get_func_from_functab(table, 3) == f3);
        std::printf("1 %d\n", get_func_from_functab(table, 1) == f1);
        // Keys past the end or below zero are searched, never indexed.
        std::printf("9 %d\n", get_func_from_functab(table, 9) == nullptr);
        std::printf("-3 %d\n", get_func_from_functab(table, -3) == nullptr);
      },
      exits(0), kFresh);
  const std::string report =
      "get_func_from_functab:  functable[key].key != key:  fix the fucntable.\n"
      "dbg_err_crash() -- continuing from serious error (ORDER_DEBUG).\n";
  EXPECT_EQ(out, report + "3 1\n1 1\n" + report + "9 1\n" + report + "-3 1\n");
}

TEST(FuncTab, SearchOnlyLookupStopsAtTheNullFunction) {
  const functab_entry table[] = {{5, f0}, {6, f1}, {5, f2}, {7, nullptr}, {7, f3}};
  EXPECT_EQ(find_func_in_functab(table, 5), f0);
  EXPECT_EQ(find_func_in_functab(table, 6), f1);
  EXPECT_EQ(find_func_in_functab(table, 7), nullptr);
  EXPECT_EQ(find_func_in_functab(nullptr, 5), nullptr);
  EXPECT_EQ(get_func_from_functab(nullptr, 0), nullptr);
  const functab_entry in_place[] = {{0, f0}, {1, f1}, {-1, nullptr}};
  EXPECT_EQ(get_func_from_functab(in_place, 1), f1);
}

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "child_output.h"
#include "platform/program.h"
#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/sys/exec.h"
#include "temp_dir.h"

#ifndef _WIN32
#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace {

// The test program beside this one.
std::string probe_path() {
  char self[1024];
  EXPECT_GT(platform_program_path(self, sizeof self), 0u);
#ifdef _WIN32
  return (fs::path(self).parent_path() / "sys_probe.exe").string();
#else
  return (fs::path(self).parent_path() / "sys_probe").string();
#endif
}

int pre_calls = 0, post_calls = 0;
void count_pre() { ++pre_calls; }
int count_post() { return ++post_calls; }

struct Hooks {
  Hooks() {
    pre_calls = post_calls = 0;
    kel_set_pre_exec_hook(count_pre);
    kel_set_post_exec_hook(count_post);
  }
  ~Hooks() {
    kel_set_pre_exec_hook(nullptr);
    kel_set_post_exec_hook(nullptr);
  }
};

// Waits up to a minute for a file to hold `lines` lines; its text.
std::string wait_for_lines(const std::string& path, int lines) {
  for (int i = 0; i < 6000; i++) {
    std::string text = testsupport::read_text(path);
    if (std::count(text.begin(), text.end(), '\n') >= lines) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return testsupport::read_text(path);
}

TEST(Exec, ExitCodesThroughEachEntryWithHooks) {
  Hooks hooks;
  const std::string probe = probe_path();
  EXPECT_EQ(3, kel_exec_command(1, "exit %d", 3));
  int status = 7;
  EXPECT_EQ(0, kel_system_call(&status, 0, "exit 3"));
  EXPECT_EQ(3, status);
  EXPECT_EQ(5, Dcl_com((probe + " exit=5 a").c_str()));
  EXPECT_EQ(3, pre_calls);
  EXPECT_EQ(3, post_calls);

  int code = -5;
  kel_exec_options options = {1, 1, 0, 0, &code};
  EXPECT_NE(0, kel_exec_command_opts(&options, "%s exit=%d b", probe.c_str(), 9));
  EXPECT_EQ(9, code);
  EXPECT_EQ(0, options.shell);  // no interpreter when waiting
  EXPECT_NE(0, kel_exec_command_new(1, "%s exit=4 c", probe.c_str()));
  EXPECT_EQ("|exit=5|a|\n|exit=9|b|\n|exit=4|c|\n",
            testsupport::read_text("probe.txt"));  // all waited for
  EXPECT_EQ(5, pre_calls);
  EXPECT_EQ(5, post_calls);

  // Refusals: nothing runs, no hook is called.
  EXPECT_EQ(-1, kel_exec_command(1, "%*d", 3, 4));
  status = 0;
  EXPECT_EQ(100, kel_system_call(&status, 1, "%*d", 3, 4));
  EXPECT_EQ(-1, status);
  EXPECT_EQ(-1, kel_exec_command_new(0, "%*d", 3, 4));
  EXPECT_EQ(0, kel_exec_background_shell("%*d", 3, 4));
  EXPECT_EQ(5, pre_calls);
}

// kel_system_call takes 2046 characters and refuses 2047; the other entries take 511.
TEST(Exec, LineLimits) {
  Hooks hooks;
  std::string line = "exit 2" + std::string(2040, ' ');
  int status = 0;
  EXPECT_EQ(0, kel_system_call(&status, 1, "%s", line.c_str()));
  EXPECT_EQ(2, status);
  line += ' ';
  EXPECT_EQ(100, kel_system_call(&status, 1, "%s", line.c_str()));
  EXPECT_EQ(-1, status);
  std::string short_line = "exit 6" + std::string(505, ' ');
  EXPECT_EQ(6, kel_exec_command(0, "%s", short_line.c_str()));
  EXPECT_EQ(-1, kel_exec_command(0, "%s ", short_line.c_str()));
  EXPECT_EQ(-1, kel_exec_command_new(1, "%s ", short_line.c_str()));
  EXPECT_EQ(2, pre_calls);
}

// A program in folders whose names hold blanks and what a shell would expand: found word by
// word and quoted for the command interpreter.
TEST(Exec, QuotesAProgramPathWithBlanks) {
  const char* folders = "my `touch made` it's/sub $HOME";
  fs::create_directories(folders);
  const fs::path copy = fs::absolute(folders) / fs::path(probe_path()).filename();
  fs::copy_file(probe_path(), copy);
  const std::string program = copy.string();
#ifdef _WIN32
  const std::string quoted_program = "\"" + program + "\"";
#else  // sh expands $ and ` between double quotes, nothing between single ones
  std::string quoted_program = "'" + program + "'";
  quoted_program.replace(quoted_program.find("it's"), 4, "it'\\''s");
#endif
  const std::string line = program + " one  two";
  int found = -1;
  char* quoted = executable_quote(line.c_str(), &found);
  EXPECT_EQ(quoted_program + " one  two", std::string(quoted));
  EXPECT_EQ(1, found);
  rlsmem(quoted);
  quoted = executable_quote(program.c_str(), &found);
  EXPECT_EQ(quoted_program, std::string(quoted));
  rlsmem(quoted);
  quoted = executable_quote("no such program here", &found);
  EXPECT_STREQ("no such program here", quoted);
  EXPECT_EQ(0, found);
  rlsmem(quoted);
  quoted = executable_quote("\"a b\" c", &found);
  EXPECT_STREQ("\"a b\" c", quoted);
  EXPECT_EQ(1, found);
  rlsmem(quoted);
  quoted = path_quote("a\"b c");
  EXPECT_STREQ("a\"b c", quoted);
  rlsmem(quoted);
  EXPECT_FALSE(is_program_file("my dir"));

  int status = 0;
  EXPECT_EQ(0, kel_system_call(&status, 1, "%s exit=4 one", program.c_str()));
  EXPECT_EQ(4, status);
  int code = -1;
  kel_exec_options direct = {1, 0, 0, 0, &code};
  EXPECT_NE(0, kel_exec_command_opts(&direct, "%s exit=5 two", program.c_str()));
  EXPECT_EQ(5, code);
  EXPECT_EQ("|exit=4|one|\n|exit=5|two|\n", testsupport::read_text("probe.txt"));
  EXPECT_FALSE(fs::exists("made"));
}

// Background starts return before the program ends: each probe waits for a gate that opens
// only after the last start has returned. The direct start runs in TMP.
TEST(Exec, BackgroundStartsDoNotWait) {
  Hooks hooks;
  const std::string probe = probe_path();
  testsupport::TempDir tmp;
  testsupport::set_env("TMP", tmp.path().string().c_str());
  const std::string gate = fs::absolute("gate").string();
  testsupport::set_env("KEL_PROBE_GATE", gate.c_str());
  EXPECT_NE(0, kel_exec_background_shell("%s gate shell", probe.c_str()));
  EXPECT_NE(0, kel_start_background_process("%s gate direct", probe.c_str()));
  EXPECT_NE(0, kel_exec_command(2, "%s gate mode2", probe.c_str()));
  EXPECT_NE(0, kel_exec_command_new(0, "%s gate new", probe.c_str()));
  int status = 5;
  EXPECT_EQ(0, kel_system_call(&status, 2, "%s gate call", probe.c_str()));
  EXPECT_EQ(0, status);
  EXPECT_EQ(3, pre_calls);                             // the two background entries run no hooks
  EXPECT_EQ("", testsupport::read_text("probe.txt"));  // a start that waited let the gate time out
  std::ofstream(gate).put('\n');
  std::string here = wait_for_lines("probe.txt", 4);
  for (const char* word : {"|gate|shell|\n", "|gate|mode2|\n", "|gate|new|\n", "|gate|call|\n"})
    EXPECT_NE(std::string::npos, here.find(word)) << here;
  EXPECT_EQ("|gate|direct|\n", wait_for_lines(tmp.file("probe.txt"), 1));
  testsupport::unset_env("KEL_PROBE_GATE");
  testsupport::unset_env("TMP");
}

// Direct starts pass the words of the line, split as the C runtime splits a command line
// (blanks and tabs apart, double quotes group, backslashes escape only a quote): nothing in
// them is run, expanded or redirected, waited for or not.
TEST(Exec, DirectStartsPassHostileWordsAsTheyAre) {
  const std::pair<const char*, const char*> rows[] = {
      {"$(touch made1)", "|$(touch|made1)"},
      {"\"$(touch made2) $HOME\"", "|$(touch made2) $HOME"},
      {"`touch made3`", "|`touch|made3`"},
      {"a;touch made4", "|a;touch|made4"},
      {"* >made5 'one two'", "|*|>made5|'one|two'"},
      {"\"a  b\" \\\"q\\\" a\\\\b \"c\\\\\"", "|a  b|\"q\"|a\\\\b|c\\"},
      {"\"\" x\t y", "||x|y"},
  };
  std::string line = probe_path(), words;
  for (const auto& [text, said] : rows) line += std::string(" ") + text, words += said;
  testsupport::unset_env("TMP");  // the background start runs here too
  int code = -1;
  kel_exec_options options = {1, 0, 0, 0, &code};
  EXPECT_NE(0, kel_exec_command_opts(&options, "%s", line.c_str()));
  EXPECT_EQ(0, code);
  EXPECT_NE(0, kel_start_background_process("%s", line.c_str()));
  EXPECT_EQ(words + "|\n" + words + "|\n", wait_for_lines("probe.txt", 2));
  for (const auto& entry : fs::directory_iterator("."))
    EXPECT_NE(0u, entry.path().filename().string().rfind("made", 0)) << entry.path();
}

#ifndef _WIN32
// Starts not waited for leave the caller no child, ended or running, to wait for, and tell
// whether the program started, also where the caller's children are reaped for it (SIGCHLD
// ignored).
TEST(Exec, StartsNotWaitedForLeaveNoChild) {
  const std::string probe = probe_path();
  for (bool ignored : {false, true}) {
    testsupport::run_child(
        [&] {
          if (ignored) signal(SIGCHLD, SIG_IGN);
          for (int shell : {0, 1, 0, 1}) {
            kel_exec_options options = {0, shell, 0, 0, nullptr};
            EXPECT_NE(0, kel_exec_command_opts(&options, "%s n", probe.c_str()));
          }
          kel_exec_options direct = {0, 0, 0, 0, nullptr};
          EXPECT_EQ(0, kel_exec_command_opts(&direct, "no_such_program_anywhere"));
          EXPECT_EQ("|n|\n|n|\n|n|\n|n|\n", wait_for_lines("probe.txt", 4));
          EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
          EXPECT_EQ(ECHILD, errno);
          fs::remove("probe.txt");
        },
        testsupport::exits(0), {.tag = ignored ? "ignored" : "default"});
  }
}
#endif

TEST(Exec, SpawnSplitsAtEveryBlank) {
  std::string line = probe_path() + "  opt";
  EXPECT_EQ(0, kel_spawn_for_version_check(line.data()));
  EXPECT_EQ("||opt|\n", testsupport::read_text("probe.txt"));
  line = probe_path() + " exit=3";
  EXPECT_EQ(0, kel_spawn_for_version_check(line.data()));  // a failing program still gives 0
  char missing[] = "no_such_program_anywhere -v";
  EXPECT_EQ(-1, kel_spawn_for_version_check(missing));
}

TEST(Exec, DclComTrace) {
  std::string said = testsupport::run_child(
      [] {
        order_debug_level_set(98765);
        Dcl_com("exit 0");
        order_debug_level_set(0);
        Dcl_com("exit 0");
      },
      testsupport::exits(0));
  EXPECT_EQ("Dcl_com:  exit 0\n", said);
}

}  // namespace

// A test host: loads the built module as the CAD host does, hands over a recording host
// function table and checks the hand-shake from the outside.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "fresh_process.h"
#include "binding/host_records.h"
#include "platform/dynload.h"
#include "recording_host.h"

using namespace recording_host;
using fresh_process::Checks;

namespace {

constexpr uint32_t kOwnVersion = 211999430;

struct Module {
  KelInitializeFn* initialize = nullptr;
  KelTerminateFn* terminate = nullptr;
};

Module load(Checks& check) {
  platform_library* library = platform_library_open(KEL_TEST_MODULE_PATH);
  check.that(library != nullptr,
             std::string("cannot load " KEL_TEST_MODULE_PATH ": ") + platform_library_error());
  if (!library) check.finish();
  Module m;
  m.initialize =
      reinterpret_cast<KelInitializeFn*>(platform_library_symbol(library, "user_initialize_plus"));
  m.terminate =
      reinterpret_cast<KelTerminateFn*>(platform_library_symbol(library, "user_terminate_plus"));
  check.that(m.initialize && m.terminate, "entry points not exported");
  if (!m.initialize || !m.terminate) check.finish();
  return m;
}

std::vector<const Call*> calls_of(const char* name) {
  size_t row = row_of(name);
  std::vector<const Call*> found;
  for (const Call& c : calls)
    if (c.row == row) found.push_back(&c);
  return found;
}

// The directory a host function received as its last word.
std::string last_word_text(const Call* call) {
  return call && !call->words.empty() ? reinterpret_cast<const char*>(uintptr_t(call->words.back()))
                                      : "";
}

void make_tree(const std::string& root, std::initializer_list<const char*> languages) {
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root + "/text");
  for (const char* language : languages)
    std::filesystem::create_directories(root + "/text/" + language);
}

// Accepted hand-shake with `root` and `language`; the menus directory the application
// registered its menu file in.
std::string registered_menus_directory(const char* root, int32_t language) {
  Checks check;
  Module m = load(check);
  Table table;
  HandShake hs;
  hs.text_root = root;
  hs.language = language;
  check.equal(hs.with(table).run(m.initialize), 0, "hand-shake");
  auto registered = calls_of("KelMenuFileRegister");
  return registered.size() == 1 ? last_word_text(registered[0]) : "(no single menu registration)";
}

}  // namespace

TEST(ModuleHandShake, AcceptedHostRunsTheApplicationWithTheChosenDirectories) {
  fresh_process::run([] {
    Checks check;
    make_tree("mh_accept", {"usascii"});
    Module m = load(check);
    Table table;
    kel_wchar message[64] = {};
    HandShake hs;
    hs.text_root = "mh_accept";
    hs.message = message;
    check.equal(hs.with(table).run(m.initialize), 0, "result");
    check.that(message[0] == 0, "message written on success");

    auto version = calls_of("keldev_pass_version_info");
    check.that(version.size() == 1 && version[0]->handle == HandShake::kHandle &&
                   version[0]->words == std::vector<uint32_t>{kOwnVersion},
               "own version passed to the host");
    auto menus = calls_of("KelMenuFileRegister");
    check.that(
        menus.size() == 1 && menus[0]->handle == HandShake::kHandle && menus[0]->words.size() == 4,
        "menu file registered");
    check.equal(last_word_text(menus.empty() ? nullptr : menus[0]),
                std::string("mh_accept\\text\\usascii\\menus"), "menus directory reaches the host");

    // Press the button: the command's first message goes out with the text directory.
    auto button = calls_of("KelMenubuttonActionSet");
    check.that(button.size() == 1 && button[0]->words.size() == 5, "button bound");
    if (button.size() == 1 && button[0]->words.size() == 5) {
      auto action = reinterpret_cast<KelButtonActionFn>(uintptr_t(button[0]->words[2]));
      action(nullptr, 0);
      auto shown = calls_of("KelMessageDisplay");
      check.that(!shown.empty() && shown[0]->words.size() == 13,
                 "message shown with 12 words and the directory");
      check.equal(last_word_text(shown.empty() ? nullptr : shown[0]),
                  std::string("mh_accept\\text\\usascii"), "text directory reaches the host");
    }
    check.equal(m.terminate(), 12, "termination gives the application's result");
    check.finish();
  });
}

TEST(ModuleHandShake, OlderHostsAreRefusedWithTheRequiredVersion) {
  fresh_process::run([] {
    Checks check;
    Module m = load(check);
    Table table;
    for (auto [release, build] :
         {std::pair{"21", "1999429"}, std::pair{"20", "11999429"}, std::pair{"17.1", "2002100"},
          std::pair{"G-03", "2002100"}, std::pair{"05", "2002100"}}) {
      kel_wchar message[64] = {};
      HandShake hs;
      hs.release = release;
      hs.build = build;
      hs.message = message;
      check.equal(hs.with(table).run(m.initialize), KEL_VERSION_MISMATCH,
                  std::string(release) + ": result");
      check.that(std::u16string(message) == u"4400t|1999430", std::string(release) + ": message");
    }
    check.that(calls.empty(), "a refused module called the host");
    check.finish();
  });
}

TEST(ModuleHandShake, NewerReleaseWithBuildZeroIsAccepted) {
  fresh_process::run([] {
    Checks check;
    Module m = load(check);
    Table table;
    HandShake hs;
    hs.release = "22";
    hs.build = "0";
    check.equal(hs.with(table).run(m.initialize), 0, "result");
    check.equal(calls_of("KelMenuFileRegister").size(), size_t(1), "application initialised");
    check.finish();
  });
}

TEST(ModuleHandShake, HostRefusingTheVersionGetsGeneralErrorAndNoApplication) {
  fresh_process::run([] {
    Checks check;
    Module m = load(check);
    Table table;
    results[row_of("keldev_pass_version_info")] = 0;
    HandShake hs;
    check.equal(hs.with(table).run(m.initialize), KEL_TK_GENERAL_ERROR, "result");
    check.equal(calls_of("keldev_pass_version_info").size(), size_t(1), "asked");
    check.that(calls_of("KelMenuFileRegister").empty(), "application initialised");
    check.finish();
  });
}

TEST(ModuleHandShake, MissingVersionFunctionCountsAsAccepted) {
  fresh_process::run([] {
    Checks check;
    Module m = load(check);
    std::vector<size_t> others;
    for (size_t row = 0; row < row_count; ++row)
      if (row != row_of("keldev_pass_version_info")) others.push_back(row);
    Table table(others);
    HandShake hs;
    check.equal(hs.with(table).run(m.initialize), 0, "result");
    check.equal(calls_of("KelMenuFileRegister").size(), size_t(1), "application initialised");
    check.finish();
  });
}

TEST(ModuleHandShake, MenusDirectoryFallsBackToUsasciiThenToTheTextRoot) {
  make_tree("mh_both", {"usascii", "japanese"});
  make_tree("mh_us", {"usascii"});
  make_tree("mh_none", {});
  fresh_process::run([] {
    Checks check;
    check.equal(registered_menus_directory("mh_both", 1),
                std::string("mh_both\\text\\japanese\\menus"), "japanese");
    check.finish();
  });
  fresh_process::run([] {
    Checks check;
    check.equal(registered_menus_directory("mh_us", 1), std::string("mh_us\\text\\usascii\\menus"),
                "usascii");
    check.finish();
  });
  fresh_process::run([] {
    Checks check;
    check.equal(registered_menus_directory("mh_none", 1), std::string("mh_none\\text\\menus"),
                "text root");
    check.finish();
  });
}

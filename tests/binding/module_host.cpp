// A test host: loads the built module as the CAD host does, hands over a recording host
// function table and checks the hand-shake from the outside.
#include <gtest/gtest.h>

#include <filesystem>
#include <source_location>
#include <string>

#include "fresh_process.h"
#include "binding/host_records.h"
#include "platform/dynload.h"
#include "recording_host.h"

using namespace recording_host;
using fresh_process::in_own_process;

namespace {

constexpr uint32_t kOwnVersion = 211999430;

struct Module {
  KelInitializeFn* initialize = nullptr;
  KelTerminateFn* terminate = nullptr;
};

// Loads the built module into `m`; a fatal failure when it cannot be had.
void load(Module& m) {
  platform_library* library = platform_library_open(KEL_TEST_MODULE_PATH);
  ASSERT_NE(library, nullptr) << "cannot load " KEL_TEST_MODULE_PATH ": "
                              << platform_library_error();
  m.initialize =
      reinterpret_cast<KelInitializeFn*>(platform_library_symbol(library, "user_initialize_plus"));
  m.terminate =
      reinterpret_cast<KelTerminateFn*>(platform_library_symbol(library, "user_terminate_plus"));
  ASSERT_TRUE(m.initialize && m.terminate) << "entry points not exported";
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

// In a new run of this program, an accepted hand-shake with `root` and `language`: the menus
// directory the application registered its menu file in is `expected`.
void expect_registered_menus_directory(
    const char* root, int32_t language, const char* expected,
    std::source_location where = std::source_location::current()) {
  in_own_process(
      [&] {
        Module m;
        ASSERT_NO_FATAL_FAILURE(load(m));
        Table table;
        HandShake hs;
        hs.text_root = root;
        hs.language = language;
        EXPECT_EQ(hs.with(table).run(m.initialize), 0) << "hand-shake";
        auto registered = calls_of("KelMenuFileRegister");
        ASSERT_EQ(registered.size(), 1u) << "menu registrations";
        EXPECT_EQ(last_word_text(registered[0]), expected);
      },
      where);
}

}  // namespace

TEST(ModuleHandShake, AcceptedHostRunsTheApplicationWithTheChosenDirectories) {
  in_own_process([] {
    make_tree("mh_accept", {"usascii"});
    Module m;
    ASSERT_NO_FATAL_FAILURE(load(m));
    Table table;
    kel_wchar message[64] = {};
    HandShake hs;
    hs.text_root = "mh_accept";
    hs.message = message;
    EXPECT_EQ(hs.with(table).run(m.initialize), 0) << "result";
    EXPECT_EQ(message[0], 0) << "message written on success";

    auto version = calls_of("keldev_pass_version_info");
    ASSERT_EQ(version.size(), 1u) << "own version passed to the host";
    EXPECT_EQ(version[0]->handle, HandShake::kHandle);
    EXPECT_EQ(version[0]->words, std::vector<uint32_t>{kOwnVersion});
    auto menus = calls_of("KelMenuFileRegister");
    ASSERT_EQ(menus.size(), 1u) << "menu file registered";
    EXPECT_EQ(menus[0]->handle, HandShake::kHandle);
    EXPECT_EQ(menus[0]->words.size(), 4u);
    EXPECT_EQ(last_word_text(menus[0]), "mh_accept\\text\\usascii\\menus")
        << "menus directory reaches the host";

    // Press the button: the command's first message goes out with the text directory.
    auto button = calls_of("KelMenubuttonActionSet");
    ASSERT_EQ(button.size(), 1u) << "button bound";
    ASSERT_EQ(button[0]->words.size(), 5u) << "button bound";
    auto action = reinterpret_cast<KelButtonActionFn>(uintptr_t(button[0]->words[2]));
    action(nullptr, 0);
    auto shown = calls_of("KelMessageDisplay");
    ASSERT_FALSE(shown.empty()) << "message shown";
    EXPECT_EQ(shown[0]->words.size(), 13u) << "message shown with 12 words and the directory";
    EXPECT_EQ(last_word_text(shown[0]), "mh_accept\\text\\usascii")
        << "text directory reaches the host";
    EXPECT_EQ(m.terminate(), 12) << "termination gives the application's result";
  });
}

TEST(ModuleHandShake, OlderHostsAreRefusedWithTheRequiredVersion) {
  in_own_process([] {
    Module m;
    ASSERT_NO_FATAL_FAILURE(load(m));
    Table table;
    for (auto [release, build] :
         {std::pair{"21", "1999429"}, std::pair{"20", "11999429"}, std::pair{"17.1", "2002100"},
          std::pair{"G-03", "2002100"}, std::pair{"05", "2002100"}}) {
      kel_wchar message[64] = {};
      HandShake hs;
      hs.release = release;
      hs.build = build;
      hs.message = message;
      EXPECT_EQ(hs.with(table).run(m.initialize), KEL_VERSION_MISMATCH) << release;
      EXPECT_EQ(std::u16string(message), u"4400t|1999430") << release;
    }
    EXPECT_TRUE(calls.empty()) << "a refused module called the host";
  });
}

TEST(ModuleHandShake, NewerReleaseWithBuildZeroIsAccepted) {
  in_own_process([] {
    Module m;
    ASSERT_NO_FATAL_FAILURE(load(m));
    Table table;
    HandShake hs;
    hs.release = "22";
    hs.build = "0";
    EXPECT_EQ(hs.with(table).run(m.initialize), 0) << "result";
    EXPECT_EQ(calls_of("KelMenuFileRegister").size(), 1u) << "application initialised";
  });
}

TEST(ModuleHandShake, HostRefusingTheVersionGetsGeneralErrorAndNoApplication) {
  in_own_process([] {
    Module m;
    ASSERT_NO_FATAL_FAILURE(load(m));
    Table table;
    results[row_of("keldev_pass_version_info")] = 0;
    HandShake hs;
    EXPECT_EQ(hs.with(table).run(m.initialize), KEL_TK_GENERAL_ERROR) << "result";
    EXPECT_EQ(calls_of("keldev_pass_version_info").size(), 1u) << "asked";
    EXPECT_TRUE(calls_of("KelMenuFileRegister").empty()) << "application initialised";
  });
}

TEST(ModuleHandShake, MissingVersionFunctionCountsAsAccepted) {
  in_own_process([] {
    Module m;
    ASSERT_NO_FATAL_FAILURE(load(m));
    std::vector<size_t> others;
    for (size_t row = 0; row < row_count; ++row)
      if (row != row_of("keldev_pass_version_info")) others.push_back(row);
    Table table(others);
    HandShake hs;
    EXPECT_EQ(hs.with(table).run(m.initialize), 0) << "result";
    EXPECT_EQ(calls_of("KelMenuFileRegister").size(), 1u) << "application initialised";
  });
}

TEST(ModuleHandShake, MenusDirectoryFallsBackToUsasciiThenToTheTextRoot) {
  make_tree("mh_both", {"usascii", "japanese"});
  make_tree("mh_us", {"usascii"});
  make_tree("mh_none", {});
  expect_registered_menus_directory("mh_both", 1, "mh_both\\text\\japanese\\menus");
  expect_registered_menus_directory("mh_us", 1, "mh_us\\text\\usascii\\menus");
  expect_registered_menus_directory("mh_none", 1, "mh_none\\text\\menus");
}

// The session language: what its names choose, the set-up from the environment (each in a process
// of its own, since the first call decides), the locale switches and the file checks.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <source_location>
#include <string>

#include "platform/locale.h"
#include "runtime/diag/diag.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"
#include "child_output.h"

namespace {

// Sets (value non-null) or removes an environment variable; the assignment stays valid for the
// process.
void env(const char* name, const char* value) {
  if (!value) {
    platform_env_remove(name);
    return;
  }
  std::string* assignment = new std::string(std::string(name) + "=" + value);
  platform_env_put(assignment->data());
}

// A clean environment for the set-up: none of its variables set.
void clean_env() {
  for (const char* name :
       {"KEL_LANG", "LANG", "LC_ALL", "CUSTOM_LOCALE_IS_MULTIBYTE", "CUSTOM_LOCALE_TEXT_DIR"})
    env(name, nullptr);
}

const testsupport::ChildOptions kFresh{.start = testsupport::ChildStart::Fresh};

// Runs `body` in a new run of this program: the first call decides the session language.
void in_own_process(const std::function<void()>& body,
                    const std::source_location where = std::source_location::current()) {
  testsupport::run_child(body, testsupport::exits(0), kFresh, where);
}

std::string captured_stdout(int (*action)()) {
  ::testing::internal::CaptureStdout();
  action();
  return ::testing::internal::GetCapturedStdout();
}

// A language's name, by any of its names and in any case, decides the code page text converts
// with, and whether the session is a custom one, which alone takes a text folder of its own.
TEST(LanguageTable, NamesChooseTheCodePageAndTheTextFolder) {
  struct Row {
    const char* name;
    const char16_t* wide;  // a character of the language
    const char* bytes;     // its 8-bit form in the language's code page
    bool custom;
  };
  const Row rows[] = {
      {"C", u"\u00e9", "\xe9", false},
      {"usascii", u"\u00e9", "\xe9", false},
      {"French", u"\u00e9", "\xe9", false},
      {"german", u"\u00fc", "\xfc", false},
      {"ru", u"\u0416", "\xc6", false},
      {"RUSSIAN", u"\u0416", "\xc6", false},
      {"japanese", u"\u3042", "\xa4\xa2", false},
      {"Korean", u"\ud55c", "\xc7\xd1", false},
      {"cht", u"\u4e2d", "\xa4\xa4", false},
      {"Chinese-Traditional", u"\u4e2d", "\xa4\xa4", false},
      {"chinese_cn", u"\u4e2d", "\xd6\xd0", false},
      {"chs", u"\u4e2d", "\xd6\xd0", false},
      {"rus", u"\u00e9", "\xe9", true},
      {"korea", u"\u00e9", "\xe9", true},
      {" japanese", u"\u00e9", "\xe9", true},
  };
  in_own_process([&] {
    clean_env();
    env("CUSTOM_LOCALE_TEXT_DIR", "own_text");
    for (const Row& row : rows) {
      env("KEL_LANG", row.name);
      lang_setup();
      char text[8] = {};
      EXPECT_STREQ(wstostr(text, row.wide), row.bytes) << row.name;
      kel_wchar back[8] = {};
      EXPECT_EQ(std::u16string(strtows(back, row.bytes)), row.wide) << row.name;
      char dir[32] = "";
      EXPECT_EQ(custom_locale_text_dir(dir), row.custom ? 1 : 0) << row.name;
    }
  });
}

TEST(LanguageSetup, KelLangWinsAndBecomesLang) {
  in_own_process([] {
    clean_env();
    env("KEL_LANG", "japanese");
    env("LANG", "french");
    EXPECT_EQ(lang_code_get(), LANG_CODE_JAPANESE);
    EXPECT_STREQ(getenv("LANG"), "japanese");
    EXPECT_EQ(euc_flag_get(), 1);
    EXPECT_STREQ(platform_locale_current(1), "C");
    EXPECT_STREQ(lang_env_get(), "japanese");
  });
}

// The character-type category follows the language (the numeric one stays "C"): multibyte
// languages get multibyte characters, the others their own letters above 0x7F. On Linux each name
// gets the character set of the table's entry, not that of the C library's alias of the same
// name ("russian" is KOI8-R there): a letter of the language, in its code page, reads as itself.
TEST(LanguageSetup, CharacterTypeFollowsTheLanguage) {
  struct Row {
    const char* name;
    const char* letter;  // a letter in the language's code page
    wchar_t character;
  };
  const Row rows[] = {{"japanese", "\xa4\xa2", L'\u3042'},
                      {"korean", "\xc7\xd1", L'\ud55c'},
                      {"chinese_tw", "\xa4\xa4", L'\u4e2d'},
                      {"cht", "\xa4\xa4", L'\u4e2d'},
                      {"chinese-traditional", "\xa4\xa4", L'\u4e2d'},
                      {"chinese_cn", "\xd6\xd0", L'\u4e2d'},
                      {"chs", "\xd6\xd0", L'\u4e2d'},
                      {"chinese-simplified", "\xd6\xd0", L'\u4e2d'},
                      {"russian", "\xc0", L'\u0410'},
                      {"ru", "\xc0", L'\u0410'},
                      {"french", "\xe9", L'\u00e9'},
                      {"german", "\xfc", L'\u00fc'},
                      {"italian", "\xe0", L'\u00e0'},
                      {"spanish", "\xf1", L'\u00f1'}};
  for (const Row& row : rows) {
    in_own_process([&] {
      clean_env();
      env("KEL_LANG", row.name);
      EXPECT_EQ(lang_code_get(), lang_code_from_name(row.name)) << row.name;
      const int length = static_cast<int>(strlen(row.letter));
      if (length == 1)
        EXPECT_TRUE(isalpha(static_cast<unsigned char>(row.letter[0]))) << row.name;
      else
        EXPECT_GE(MB_CUR_MAX, 2u) << row.name;
#ifndef _WIN32
      wchar_t read = 0;
      EXPECT_TRUE(mbtowc(&read, row.letter, length) == length && read == row.character)
          << row.name << " in " << platform_locale_current(0);
#endif
      EXPECT_STREQ(platform_locale_current(1), "C") << row.name;
    });
  }
  in_own_process([] {  // and US ASCII stays plain
    clean_env();
    env("KEL_LANG", "usascii");
    EXPECT_EQ(lang_code_get(), LANG_CODE_USASCII);
    EXPECT_FALSE(isalpha(0xE9));
    EXPECT_EQ(MB_CUR_MAX, 1u);
  });
}

// A custom multibyte locale converts through its own double-byte code page.
TEST(LanguageSetup, CustomMultibyteLocaleConvertsThroughItsCodePage) {
#ifdef _WIN32
  static const char* const locale = ".936";
#else
  static const char* const locale = "zh_CN.GBK";
#endif
  const std::string out = testsupport::run_child(
      [] {
        clean_env();
        env("KEL_LANG", locale);
        env("CUSTOM_LOCALE_IS_MULTIBYTE", "TRUE");
        EXPECT_EQ(lang_code_get(), LANG_CODE_CUSTOM_MB);
        if (platform_locale_double_byte_code_page() == 0) {
          std::printf("no such locale");
          return;
        }
        kel_wchar wide[8] = {};
        EXPECT_EQ(std::u16string(strtows(wide,
                                         "\xd6\xd0"
                                         "A")),
                  u"\u4e2dA");
        char text[8] = {};
        EXPECT_STREQ(wstostr(text, wide),
                     "\xd6\xd0"
                     "A");
      },
      testsupport::exits(0), kFresh);
  if (out == "no such locale") GTEST_SKIP() << "the platform has no " << locale << " locale";
}

TEST(LanguageSetup, LangIsReadIgnoringCase) {
  in_own_process([] {
    clean_env();
    env("LANG", "JAPANESE");
    EXPECT_EQ(lang_code_get(), LANG_CODE_JAPANESE);
    EXPECT_EQ(lang_setup(), LANG_CODE_JAPANESE);
  });
  in_own_process([] {
    clean_env();
    env("LANG", "ru");
    EXPECT_EQ(lang_code_get(), LANG_CODE_RUSSIAN);
    EXPECT_STREQ(lang_name_from_code(lang_code_get()), "russian");
    EXPECT_EQ(euc_flag_get(), 0);
  });
}

TEST(LanguageSetup, UnknownNamesGiveACustomLanguage) {
  in_own_process([] {
    clean_env();
    env("LANG", " japanese");
    EXPECT_EQ(lang_code_get(), LANG_CODE_CUSTOM_SB);
    EXPECT_EQ(lang_setup(), -1);
    char dir[32] = "unchanged";
    EXPECT_EQ(custom_locale_text_dir(dir), 0);
    EXPECT_STREQ(dir, "unchanged");
    env("CUSTOM_LOCALE_TEXT_DIR", "mytext");
    EXPECT_EQ(custom_locale_text_dir(dir), 1);
    EXPECT_STREQ(dir, "mytext");
    env("CUSTOM_LOCALE_TEXT_DIR", std::string(32, 'd').c_str());
    EXPECT_EQ(custom_locale_text_dir(dir), 0);
    EXPECT_STREQ(dir, "mytext");
    EXPECT_STREQ(platform_locale_current(1), "C");
  });
  in_own_process([] {
    clean_env();
    env("LANG", "xx_YY");
    env("CUSTOM_LOCALE_IS_MULTIBYTE", "TRUE");
    EXPECT_EQ(lang_code_get(), LANG_CODE_CUSTOM_MB);
    // Read once: a later change does not count.
    env("CUSTOM_LOCALE_IS_MULTIBYTE", "false");
    EXPECT_EQ(custom_locale_code(), LANG_CODE_CUSTOM_MB);
  });
  in_own_process([] {
    clean_env();
    env("LANG", "xx_YY");
    env("CUSTOM_LOCALE_IS_MULTIBYTE", (std::string(28, ' ') + "TRUE").c_str());
    EXPECT_EQ(lang_code_get(), LANG_CODE_CUSTOM_SB);
  });
}

TEST(LanguageSetup, BlankKelLangIsReportedAndLangDecides) {
  in_own_process([] {
    clean_env();
    env("KEL_LANG", "   ");
    env("LANG", "german");
    ::testing::internal::CaptureStdout();
    const int code = lang_code_get();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "WANRNING: KEL_LANG=    is an invalid setting.\n");
    EXPECT_EQ(code, LANG_CODE_GERMAN);
    EXPECT_STREQ(getenv("LANG"), "german");
  });
}

TEST(LanguageSetup, BlankLangGivesTheCLocaleSilently) {
  in_own_process([] {
    clean_env();
    env("LANG", " ");
    EXPECT_EQ(captured_stdout(lang_setup), "");
    EXPECT_EQ(lang_setup(), -2);
    EXPECT_EQ(lang_code_get(), LANG_CODE_USASCII);
    EXPECT_STREQ(platform_locale_current(0), "C");
  });
}

TEST(LanguageSetup, NoVariableGivesTheDefaultAndWarnsOnlyWhenDebugging) {
  in_own_process([] {
    clean_env();
    EXPECT_EQ(captured_stdout(lang_code_get), "");
    EXPECT_EQ(lang_code_get(), LANG_CODE_USASCII);
    order_debug_level_set(1);
    EXPECT_EQ(captured_stdout(lang_setup),
              "\nWARNING: LANG environment is not set. Using default (USASCII).\n");
    order_debug_level_set(0);
  });
}

TEST(LanguageSetup, LongKelLangValuesAreCopiedWhole) {
  in_own_process([] {
    clean_env();
    const std::string value = "xx_" + std::string(5000, 'y');
    env("KEL_LANG", value.c_str());
    EXPECT_EQ(lang_code_get(), LANG_CODE_CUSTOM_SB);
    EXPECT_STREQ(getenv("LANG"), value.c_str());
    // The set-up again replaces the assignment.
    env("KEL_LANG", "korean");
    EXPECT_EQ(lang_setup(), LANG_CODE_KOREAN);
    EXPECT_STREQ(getenv("LANG"), "korean");
  });
}

TEST(LanguageSetup, ForcedCLocaleStaysForEveryKnownName) {
  in_own_process([] {
    clean_env();
    env("LANG", "german");
    EXPECT_EQ(lang_code_get(), LANG_CODE_GERMAN);
    EXPECT_EQ(lang_force_c(), 0);
    EXPECT_EQ(lang_code_get(), LANG_CODE_USASCII);
    for (const char* name : {"LANG", "LC_ALL", "KEL_LANG"}) EXPECT_STREQ(getenv(name), "C") << name;
    env("KEL_LANG", "german");
    EXPECT_EQ(lang_setup(), LANG_CODE_GERMAN);
    EXPECT_EQ(lang_code_get(), LANG_CODE_USASCII);
    EXPECT_STREQ(platform_locale_current(0), "C");
    // A name not in the table still gives a custom language.
    env("KEL_LANG", "xx_YY");
    EXPECT_EQ(lang_setup(), -1);
    EXPECT_EQ(lang_code_get(), LANG_CODE_CUSTOM_SB);
  });
}

TEST(LanguageSetup, DefaultPutsTheDefaultLanguageIntoTheEnvironment) {
  in_own_process([] {
    clean_env();
    env("LANG", "korean");
    EXPECT_EQ(lang_code_get(), LANG_CODE_KOREAN);
    EXPECT_EQ(lang_set_default(), 0);
    EXPECT_EQ(lang_code_get(), LANG_CODE_USASCII);
    EXPECT_STREQ(getenv("LANG"), "usascii");
  });
}

class LocaleSwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    lang_code_set(LANG_CODE_USASCII);
    file_lang_set(-1);
    keep_session_lang_set(1);
  }
  void TearDown() override { lang_locale_reset(); }
  // Whether the platform has a locale for a language name at all.
  static bool available(const char* name) {
    bool ok = platform_locale_set_all(name) != 0;
    platform_locale_set_all("C");
    return ok;
  }
};

TEST_F(LocaleSwitch, SwitchesOnlyMultibyteLanguagesItHasLocalesFor) {
  EXPECT_EQ(lang_locale_switch(LANG_CODE_CUSTOM_MB), 1);
  EXPECT_EQ(lang_code_get(), 0);
  EXPECT_EQ(lang_locale_switch(LANG_CODE_GERMAN), 0);
  EXPECT_EQ(lang_locale_switch(LANG_CODE_CUSTOM_SB), 0);
  const struct {
    int code;
    const char* name;
  } multibyte[] = {{1, "japanese"}, {8, "korean"}, {9, "cht"}, {10, "chs"}};
  for (const auto& m : multibyte) {
    bool has = available(m.name);
    lang_locale_reset();
    EXPECT_EQ(lang_locale_switch(m.code), has ? 1 : 0) << m.name;
    EXPECT_EQ(lang_code_get(), has ? m.code : 0) << m.name;
    if (has) {
      EXPECT_STREQ(platform_locale_current(1), "C");
      EXPECT_EQ(euc_flag_get(), m.code == 1);
    }
  }
  lang_locale_reset();
  EXPECT_EQ(lang_code_get(), 0);
  EXPECT_STREQ(platform_locale_current(0), "C");
}

TEST_F(LocaleSwitch, LoadCheck) {
  lang_code_set(LANG_CODE_JAPANESE);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(lang_file_load_check(LANG_CODE_FRENCH), 0);
  EXPECT_EQ(
      ::testing::internal::GetCapturedStdout(),
      "Warning:: Loading a non-english file into another non-english session\nThe data integrity is not "
      "guranteed\n");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(lang_file_load_check(LANG_CODE_JAPANESE), 0);
  EXPECT_EQ(lang_file_load_check(42), 0);  // unknown: taken as the session's
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

  lang_code_set(LANG_CODE_USASCII);
  EXPECT_EQ(lang_file_load_check(LANG_CODE_GERMAN), 0);
  EXPECT_EQ(lang_code_get(), 0);
  bool has = available("korean");
  EXPECT_EQ(lang_file_load_check(LANG_CODE_KOREAN), has ? 1 : 0);
  EXPECT_EQ(lang_code_get(), has ? LANG_CODE_KOREAN : 0);
}

TEST_F(LocaleSwitch, SaveCheck) {
  lang_code_set(LANG_CODE_JAPANESE);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(lang_file_save_check(LANG_CODE_FRENCH), 0);
  EXPECT_EQ(
      ::testing::internal::GetCapturedStdout(),
      "Warning:: A non-english file is saved under a non-english session\nData integrity is not guaranteed\n");
  EXPECT_EQ(file_lang_get(), LANG_CODE_JAPANESE);

  keep_session_lang_set(0);
  ::testing::internal::CaptureStdout();
  lang_file_save_check(LANG_CODE_FRENCH);
  EXPECT_EQ(file_lang_get(), LANG_CODE_FRENCH);
  lang_file_save_check(LANG_CODE_USASCII);
  EXPECT_EQ(file_lang_get(), LANG_CODE_JAPANESE);
  lang_file_save_check(42);
  EXPECT_EQ(file_lang_get(), LANG_CODE_JAPANESE);
  ::testing::internal::GetCapturedStdout();

  lang_code_set(LANG_CODE_USASCII);
  EXPECT_EQ(lang_file_save_check(LANG_CODE_GERMAN), 0);
  EXPECT_EQ(file_lang_get(), LANG_CODE_GERMAN);
  bool has = available("chs");
  EXPECT_EQ(lang_file_save_check(LANG_CODE_CHINESE_CN), has ? 1 : 0);
  EXPECT_EQ(file_lang_get(), LANG_CODE_CHINESE_CN);
  EXPECT_EQ(file_lang_set(-1), LANG_CODE_CHINESE_CN);
  EXPECT_EQ(keep_session_lang_set(1), 0);
  EXPECT_EQ(keep_session_lang_get(), 1);
}

}  // namespace

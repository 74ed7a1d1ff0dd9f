// The session language: table look-ups, the set-up from the environment (each in a process of its
// own, since the first call decides), the locale switches and the file checks.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/locale.h"
#include "runtime/diag/diag.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"
#include "tests/text/own_process.h"

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

bool equals(const char* a, const char* b) { return a && b && strcmp(a, b) == 0; }

std::string captured_stdout(int (*action)()) {
  ::testing::internal::CaptureStdout();
  action();
  return ::testing::internal::GetCapturedStdout();
}

TEST(LanguageTable, NamesAndCodes) {
  EXPECT_STREQ(lang_name_from_code(0), "usascii");
  EXPECT_STREQ(lang_name_from_code(6), "usascii");
  EXPECT_STREQ(lang_name_from_code(11), "usascii");
  EXPECT_STREQ(lang_name_from_code(4), "russian");
  EXPECT_STREQ(lang_name_from_code(9), "chinese_tw");
  EXPECT_STREQ(lang_name_from_code(10), "chinese_cn");
  EXPECT_STREQ(lang_name_from_code(12), "");
  EXPECT_STREQ(lang_name_from_code(-1), "");
  EXPECT_EQ(lang_code_from_name(nullptr), -1);
  EXPECT_EQ(lang_code_from_name(""), -2);
  EXPECT_EQ(lang_code_from_name(" \t\x80\xff"), -2);
  EXPECT_EQ(lang_code_from_name("JAPANESE"), 1);
  EXPECT_EQ(lang_code_from_name(" japanese"), -1);
  EXPECT_EQ(lang_code_from_name("c"), 0);
  EXPECT_EQ(lang_code_from_name("Chinese-Simplified"), 10);
  EXPECT_EQ(lang_code_from_name("cht"), 9);
  EXPECT_EQ(lang_code_from_name("ru"), 4);
  EXPECT_EQ(lang_code_from_name("rus"), -1);
  EXPECT_EQ(lang_code_from_name("korea"), -1);
  for (int code = -1; code <= 12; ++code) {
    EXPECT_EQ(lang_code_known(code), code >= 0 && code <= 11) << code;
    EXPECT_EQ(lang_is_multibyte(code),
              code == 1 || code == 6 || code == 8 || code == 9 || code == 10)
        << code;
    EXPECT_EQ(lang_is_custom(code), code == 6 || code == 11) << code;
  }
}

TEST(LanguageSetup, KelLangWinsAndBecomesLang) {
  IN_OWN_PROCESS({
    clean_env();
    env("KEL_LANG", "japanese");
    env("LANG", "french");
    CHILD_CHECK(lang_code_get() == 1);
    CHILD_CHECK(equals(getenv("LANG"), "japanese"));
    CHILD_CHECK(euc_flag_get() == 1);
    CHILD_CHECK(equals(platform_locale_current(1), "C"));
    CHILD_CHECK(equals(lang_env_get(), "japanese"));
  });
}

// The character-type category follows the language (the numeric one stays "C"): multibyte
// languages get multibyte characters, the others their own letters above 0x7F.
TEST(LanguageSetup, CharacterTypeFollowsTheLanguage) {
  struct Row {
    const char* name;
    int letter;  // a letter of the language's single-byte code page, or 0 for a multibyte language
  };
  const Row rows[] = {{"japanese", 0},   {"korean", 0},     {"chinese_tw", 0},
                      {"chinese_cn", 0}, {"russian", 0xC0}, {"french", 0xE9},
                      {"german", 0xFC},  {"italian", 0xE0}, {"spanish", 0xF1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    IN_OWN_PROCESS({
      clean_env();
      env("KEL_LANG", row.name);
      CHILD_CHECK(lang_code_get() == lang_code_from_name(row.name));
      CHILD_CHECK(row.letter ? isalpha(row.letter) != 0 : MB_CUR_MAX >= 2);
      CHILD_CHECK(equals(platform_locale_current(1), "C"));
    });
  }
  IN_OWN_PROCESS({  // and US ASCII stays plain
    clean_env();
    env("KEL_LANG", "usascii");
    CHILD_CHECK(lang_code_get() == 0);
    CHILD_CHECK(!isalpha(0xE9) && MB_CUR_MAX == 1);
  });
}

// A custom multibyte locale converts through its own double-byte code page.
TEST(LanguageSetup, CustomMultibyteLocaleConvertsThroughItsCodePage) {
#ifdef _WIN32
  const char* locale = ".936";
#else
  const char* locale = "zh_CN.GBK";
#endif
  IN_OWN_PROCESS({
    clean_env();
    env("KEL_LANG", locale);
    env("CUSTOM_LOCALE_IS_MULTIBYTE", "TRUE");
    CHILD_CHECK(lang_code_get() == LANG_CODE_CUSTOM_MB);
    if (platform_locale_double_byte_code_page() == 0)
      std::_Exit(0);  // the platform has no such locale
    kel_wchar wide[8] = {};
    strtows(wide,
            "\xd6\xd0"
            "A");
    CHILD_CHECK(wide[0] == 0x4E2D && wide[1] == u'A' && wide[2] == 0);
    char text[8] = {};
    wstostr(text, wide);
    CHILD_CHECK(equals(text,
                       "\xd6\xd0"
                       "A"));
  });
}

TEST(LanguageSetup, LangIsReadIgnoringCase) {
  IN_OWN_PROCESS({
    clean_env();
    env("LANG", "JAPANESE");
    CHILD_CHECK(lang_code_get() == 1);
    CHILD_CHECK(lang_setup() == 1);
  });
  IN_OWN_PROCESS({
    clean_env();
    env("LANG", "ru");
    CHILD_CHECK(lang_code_get() == 4);
    CHILD_CHECK(equals(lang_name_from_code(lang_code_get()), "russian"));
    CHILD_CHECK(euc_flag_get() == 0);
  });
}

TEST(LanguageSetup, UnknownNamesGiveACustomLanguage) {
  IN_OWN_PROCESS({
    clean_env();
    env("LANG", " japanese");
    CHILD_CHECK(lang_code_get() == 11);
    CHILD_CHECK(lang_setup() == -1);
    char dir[32] = "unchanged";
    CHILD_CHECK(custom_locale_text_dir(dir) == 0 && equals(dir, "unchanged"));
    env("CUSTOM_LOCALE_TEXT_DIR", "mytext");
    CHILD_CHECK(custom_locale_text_dir(dir) == 1 && equals(dir, "mytext"));
    env("CUSTOM_LOCALE_TEXT_DIR", std::string(32, 'd').c_str());
    CHILD_CHECK(custom_locale_text_dir(dir) == 0 && equals(dir, "mytext"));
    CHILD_CHECK(equals(platform_locale_current(1), "C"));
  });
  IN_OWN_PROCESS({
    clean_env();
    env("LANG", "xx_YY");
    env("CUSTOM_LOCALE_IS_MULTIBYTE", "TRUE");
    CHILD_CHECK(lang_code_get() == 6);
    // Read once: a later change does not count.
    env("CUSTOM_LOCALE_IS_MULTIBYTE", "false");
    CHILD_CHECK(custom_locale_code() == 6);
  });
  IN_OWN_PROCESS({
    clean_env();
    env("LANG", "xx_YY");
    env("CUSTOM_LOCALE_IS_MULTIBYTE", (std::string(28, ' ') + "TRUE").c_str());
    CHILD_CHECK(lang_code_get() == 11);
  });
}

TEST(LanguageSetup, BlankKelLangIsReportedAndLangDecides) {
  IN_OWN_PROCESS({
    clean_env();
    env("KEL_LANG", "   ");
    env("LANG", "german");
    ::testing::internal::CaptureStdout();
    int code = lang_code_get();
    std::string printed = ::testing::internal::GetCapturedStdout();
    CHILD_CHECK(code == 3);
    CHILD_CHECK(printed == "WANRNING: KEL_LANG=    is an invalid setting.\n");
    CHILD_CHECK(equals(getenv("LANG"), "german"));
  });
}

TEST(LanguageSetup, BlankLangGivesTheCLocaleSilently) {
  IN_OWN_PROCESS({
    clean_env();
    env("LANG", " ");
    ::testing::internal::CaptureStdout();
    int result = lang_setup();
    std::string printed = ::testing::internal::GetCapturedStdout();
    CHILD_CHECK(result == -2);
    CHILD_CHECK(lang_code_get() == 0);
    CHILD_CHECK(printed.empty());
    CHILD_CHECK(equals(platform_locale_current(0), "C"));
  });
}

TEST(LanguageSetup, NoVariableGivesTheDefaultAndWarnsOnlyWhenDebugging) {
  IN_OWN_PROCESS({
    clean_env();
    std::string printed = captured_stdout(lang_code_get);
    CHILD_CHECK(lang_code_get() == 0);
    CHILD_CHECK(printed.empty());
    order_debug_level_set(1);
    printed = captured_stdout(lang_setup);
    order_debug_level_set(0);
    CHILD_CHECK(printed == "\nWARNING: LANG environment is not set. Using default (USASCII).\n");
  });
}

TEST(LanguageSetup, LongKelLangValuesAreCopiedWhole) {
  IN_OWN_PROCESS({
    clean_env();
    std::string value = "xx_" + std::string(5000, 'y');
    env("KEL_LANG", value.c_str());
    CHILD_CHECK(lang_code_get() == 11);
    CHILD_CHECK(equals(getenv("LANG"), value.c_str()));
    // The set-up again replaces the assignment.
    env("KEL_LANG", "korean");
    CHILD_CHECK(lang_setup() == 8 && equals(getenv("LANG"), "korean"));
  });
}

TEST(LanguageSetup, ForcedCLocaleStaysForEveryKnownName) {
  IN_OWN_PROCESS({
    clean_env();
    env("LANG", "german");
    CHILD_CHECK(lang_code_get() == 3);
    CHILD_CHECK(lang_force_c() == 0);
    CHILD_CHECK(lang_code_get() == 0);
    CHILD_CHECK(equals(getenv("LANG"), "C") && equals(getenv("LC_ALL"), "C") &&
                equals(getenv("KEL_LANG"), "C"));
    env("KEL_LANG", "german");
    CHILD_CHECK(lang_setup() == 3);
    CHILD_CHECK(lang_code_get() == 0);
    CHILD_CHECK(equals(platform_locale_current(0), "C"));
    // A name not in the table still gives a custom language.
    env("KEL_LANG", "xx_YY");
    CHILD_CHECK(lang_setup() == -1 && lang_code_get() == 11);
  });
}

TEST(LanguageSetup, DefaultPutsTheDefaultLanguageIntoTheEnvironment) {
  IN_OWN_PROCESS({
    clean_env();
    env("LANG", "korean");
    CHILD_CHECK(lang_code_get() == 8);
    CHILD_CHECK(lang_set_default() == 0);
    CHILD_CHECK(lang_code_get() == 0 && equals(getenv("LANG"), "usascii"));
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

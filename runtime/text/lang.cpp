// The session language: the language table, the set-up from the environment and the process locale.
#include "runtime/text/lang.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <array>

#include "platform/ascii.h"
#include "platform/locale.h"
#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/mbconv.h"

namespace {

struct LanguageRow {
  char name[64];
  int code;
};

// Name look-ups take the first matching row, so the order decides which name a code yields.
constexpr std::array<LanguageRow, 18> kLanguageTable = {{
    {"usascii", 0},
    {"C", 0},
    {"japanese", 1},
    {"french", 2},
    {"german", 3},
    {"russian", 4},
    {"ru", 4},
    {"italian", 5},
    {"spanish", 7},
    {"usascii", 6},  // a second number for usascii, beside 0: kept as the system has always had it
    {"korean", 8},
    {"chinese_tw", 9},
    {"chinese_cn", 10},
    {"usascii", 11},
    {"cht", 9},
    {"chinese-traditional", 9},
    {"chs", 10},
    {"chinese-simplified", 10},
}};

int current_code = LANG_CODE_UNKNOWN;
int determined = 0;
int pinned_locale = 0;
const char* kel_lang_value = nullptr;
char* lang_assignment = nullptr;     // "LANG=<KEL_LANG value>", in the environment
char* default_assignment = nullptr;  // "LANG=<default language>", in the environment
int custom_multibyte = 0;
int custom_multibyte_read = 0;
int file_language = -1;
int keep_session_language = 1;

// Formats "LANG=<value>" into a fresh block sized for it and puts it into the environment; the
// block it replaces is released once the environment no longer refers to it.
void put_lang_assignment(char*& slot, const char* value) {
  trap_block held;  // formatting may run out of memory: a jump then releases the new block
  auto* assignment = static_cast<char*>(trap_block_get(&held, static_cast<int>(strlen(value)) + 6));
  kel_sprintf(assignment, "LANG=%s", value);
  trap_block_keep(&held);
  platform_env_put(assignment);
  if (slot) rlsmem(slot);
  slot = assignment;
}

void set_locale(const char* name) { platform_locale_set_all(name); }

}  // namespace

int lang_code_get(void) {
  if (!determined) lang_setup();
  return current_code;
}

int lang_code_set(int code) {
  int previous = current_code;
  determined = 1;
  current_code = code;
  euc_flag_set(code == LANG_CODE_JAPANESE);
  return previous;
}

int lang_code_from_name(const char* name) {
  if (!name) return -1;
  const char* p = name;
  while (*p && static_cast<signed char>(*p) <= 32) ++p;
  if (!*p) return -2;
  for (const auto& row : kLanguageTable)
    if (ascii_equal_ignoring_case(name, row.name)) return row.code;
  return -1;
}

const char* lang_name_from_code(int code) {
  for (const auto& row : kLanguageTable)
    if (row.code == code) return row.name;
  return "";
}

int lang_code_known(int code) { return lang_name_from_code(code)[0] != 0; }

// Language 6 (a usascii number) counts as multibyte and custom: kept as the system has always
// answered.
int lang_is_multibyte(int code) {
  return code == 1 || code == 6 || code == 8 || code == 9 || code == 10;
}

int lang_is_custom(int code) { return code == 6 || code == 11; }

const char* lang_env_get(void) {
  const char* value = getenv("KEL_LANG");
  kel_lang_value = value;
  if (value) {
    if (lang_code_from_name(value) == -2) {
      // "WANRNING" is kept as the system has always written it: callers and logs match the text.
      message_print("WANRNING: KEL_LANG=%s is an invalid setting.\n", value);
      value = nullptr;
      kel_lang_value = nullptr;
    } else {
      put_lang_assignment(lang_assignment, value);
      // Changing the environment may move it: read the value again.
      value = getenv("KEL_LANG");
      kel_lang_value = value;
    }
  }
  if (!value) value = getenv("LANG");
  return value;
}

int lang_setup(void) {
  int result = 0;
  lang_code_set(LANG_CODE_USASCII);
  char default_name[64];
  const char* name = lang_name_from_code(LANG_CODE_USASCII);
  size_t i = 0;
  for (; name[i] && i + 1 < sizeof default_name; ++i) default_name[i] = ascii_upper(name[i]);
  default_name[i] = 0;

  const char* value = lang_env_get();
  if (!value) {
    if (order_debug_level_get())
      message_print("\nWARNING: LANG environment is not set. Using default (%s).\n", default_name);
  } else {
    result = lang_code_from_name(value);
    if (result == -1) {
      set_locale(value);
      lang_code_set(custom_locale_code());
    } else if (result == -2 || pinned_locale) {
      set_locale("C");
      lang_code_set(LANG_CODE_USASCII);
    } else {
      lang_code_set(result);
      set_locale(value);
    }
  }
  platform_locale_numeric_c();
  return result;
}

int custom_locale_code(void) {
  if (!custom_multibyte_read) {
    custom_multibyte_read = 1;
    const char* value = getenv("CUSTOM_LOCALE_IS_MULTIBYTE");
    if (value) {
      size_t n = strlen(value);
      if (n >= 1 && n <= 31) {
        char lowered[32];
        for (size_t i = 0; i <= n; ++i) lowered[i] = ascii_lower(value[i]);
        if (strcmp(lowered, "true") == 0) custom_multibyte = 1;
      }
    }
  }
  return custom_multibyte ? LANG_CODE_CUSTOM_MB : LANG_CODE_CUSTOM_SB;
}

int custom_locale_text_dir(char* out) {
  if (!lang_is_custom(current_code)) return 0;
  const char* value = getenv("CUSTOM_LOCALE_TEXT_DIR");
  if (!value) return 0;
  size_t n = strlen(value);
  if (n < 1 || n > 31) return 0;
  memcpy(out, value, n + 1);
  return 1;
}

int lang_set_default(void) {
  put_lang_assignment(default_assignment, lang_name_from_code(LANG_CODE_USASCII));
  return lang_setup();
}

int lang_force_c(void) {
  static char lang_c[] = "LANG=C";
  static char lc_all_c[] = "LC_ALL=C";
  static char kel_lang_c[] = "KEL_LANG=C";
  platform_env_put(lang_c);
  platform_env_put(lc_all_c);
  platform_env_put(kel_lang_c);
  set_locale("C");
  lang_code_set(LANG_CODE_USASCII);
  pinned_locale = 0;
  int result = lang_setup();
  pinned_locale = 1;
  return result;
}

int lang_locale_switch(int code) {
  const char* locale = nullptr;
  switch (code) {
    case LANG_CODE_JAPANESE: locale = "japanese"; break;
    case LANG_CODE_KOREAN: locale = "korean"; break;
    case LANG_CODE_CHINESE_TW: locale = "cht"; break;
    case LANG_CODE_CHINESE_CN: locale = "chs"; break;
    case LANG_CODE_CUSTOM_MB: break;
    default: return 0;
  }
  if (locale) {
    if (!platform_locale_set_all(locale)) return 0;
    lang_code_set(code);
  }
  platform_locale_numeric_c();
  return 1;
}

void lang_locale_reset(void) {
  set_locale("C");
  lang_code_set(LANG_CODE_USASCII);
}

int lang_file_load_check(int file_code) {
  const int session = lang_code_get();
  if (!lang_code_known(file_code)) file_code = session;
  if (file_code == session) return 0;
  if (session != LANG_CODE_USASCII) {
    // "Warning::" and "guranteed" are kept as the system has always written it.
    fputs(
        "Warning:: Loading a non-english file into another non-english session\nThe data integrity is not guranteed\n",
        stdout);
    return 0;
  }
  if (lang_is_multibyte(file_code)) {
    int r = lang_locale_switch(file_code);
    if (r == 0) lang_locale_reset();
    return r;
  }
  return 0;
}

int lang_file_save_check(int file_code) {
  const int session = lang_code_get();
  int c = lang_code_known(file_code) ? file_code : session;
  int r = 0;
  if (c != session) {
    if (session != LANG_CODE_USASCII) {
      fputs(
          "Warning:: A non-english file is saved under a non-english session\nData integrity is not guaranteed\n",
          stdout);
    } else if (lang_is_multibyte(c)) {
      r = lang_locale_switch(c);
      if (r == 0) lang_locale_reset();
    }
    if (session != LANG_CODE_USASCII && (file_code == 0 || keep_session_language)) c = session;
  }
  file_language = c;
  return r;
}

int file_lang_set(int code) {
  int previous = file_language;
  file_language = code;
  return previous;
}

int file_lang_get(void) { return file_language; }

int keep_session_lang_set(int value) {
  int previous = keep_session_language;
  keep_session_language = value;
  return previous;
}

int keep_session_lang_get(void) { return keep_session_language; }

// The session language and the process locale.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// Language codes; -1 until the language has been determined.
enum {
  LANG_CODE_UNKNOWN = -1,
  LANG_CODE_USASCII = 0,
  LANG_CODE_JAPANESE = 1,
  LANG_CODE_FRENCH = 2,
  LANG_CODE_GERMAN = 3,
  LANG_CODE_RUSSIAN = 4,
  LANG_CODE_ITALIAN = 5,
  LANG_CODE_CUSTOM_MB = 6,
  LANG_CODE_SPANISH = 7,
  LANG_CODE_KOREAN = 8,
  LANG_CODE_CHINESE_TW = 9,
  LANG_CODE_CHINESE_CN = 10,
  LANG_CODE_CUSTOM_SB = 11
};

// The session language; runs lang_setup on the first call.
int lang_code_get(void);
// Stores `code` as the session language (and the EUC flag as code == 1); returns the previous code.
int lang_code_set(int code);
// Chooses the language from KEL_LANG / LANG and sets the process locale (numeric category "C").
// Returns the table look-up of the value used (a code, -1 or -2), or 0 when no variable is set.
int lang_setup(void);
// The variable value the set-up uses (KEL_LANG, else LANG), or null.
const char* lang_env_get(void);

// A code from a language name: -1 for null or unknown, -2 for a blank name.
int lang_code_from_name(const char* name);
// The name of the first language-table row with that code; "" when there is none.
const char* lang_name_from_code(int code);
// 1 when some language-table row has that code.
int lang_code_known(int code);
int lang_is_multibyte(int code);
int lang_is_custom(int code);

// 6 when CUSTOM_LOCALE_IS_MULTIBYTE is "true" (any case), else 11.
int custom_locale_code(void);
// For a custom session: CUSTOM_LOCALE_TEXT_DIR copied into `out` (at least 32 bytes) and 1; else 0.
int custom_locale_text_dir(char* out);

int lang_set_default(void);
int lang_force_c(void);
// 1 when the process locale now matches `code`.
int lang_locale_switch(int code);
void lang_locale_reset(void);

// Checks before text written under `file_code` is loaded / saved; the result of a locale switch,
// else 0.
int lang_file_load_check(int file_code);
int lang_file_save_check(int file_code);

// The language recorded for the file being saved (-1 at load); the setter returns the previous
// value.
int file_lang_set(int code);
int file_lang_get(void);
// Whether a save under a non-english session keeps the session's language (1 at load).
int keep_session_lang_set(int value);
int keep_session_lang_get(void);
KEL_END_C

#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>

#include "platform/ascii.h"

namespace {

struct LocaleAlias {
  const char* names[3];
  const char* candidates[5];
};

// Installed locales tried, in order, for the language names the runtime uses.
constexpr LocaleAlias kAliases[] = {
    {{"japanese"}, {"ja_JP.eucJP", "ja_JP.EUC-JP", "ja_JP.ujis", "ja_JP.UTF-8", "ja_JP.utf8"}},
    {{"korean"}, {"ko_KR.eucKR", "ko_KR.EUC-KR", "ko_KR.UTF-8", "ko_KR.utf8"}},
    {{"cht", "chinese_tw", "chinese-traditional"},
     {"zh_TW.Big5", "zh_TW.BIG5", "zh_TW.UTF-8", "zh_TW.utf8"}},
    {{"chs", "chinese_cn", "chinese-simplified"},
     {"zh_CN.GBK", "zh_CN.GB2312", "zh_CN.UTF-8", "zh_CN.utf8"}},
    {{"french"}, {"fr_FR.ISO-8859-1", "fr_FR", "fr_FR.UTF-8", "fr_FR.utf8"}},
    {{"german"}, {"de_DE.ISO-8859-1", "de_DE", "de_DE.UTF-8", "de_DE.utf8"}},
    {{"italian"}, {"it_IT.ISO-8859-1", "it_IT", "it_IT.UTF-8", "it_IT.utf8"}},
    {{"spanish"}, {"es_ES.ISO-8859-1", "es_ES", "es_ES.UTF-8", "es_ES.utf8"}},
    {{"russian", "ru"}, {"ru_RU.CP1251", "ru_RU", "ru_RU.UTF-8", "ru_RU.utf8"}},
};

bool names_language(const LocaleAlias& alias, const char* name) {
  for (const char* n : alias.names)
    if (n && ascii_equal_ignoring_case(n, name)) return true;
  return false;
}

}  // namespace

int platform_locale_set_all(const char* name) {
  if (!name) return 0;
  // A language of the table gets the table's locale first: the C library may know the same name
  // as an alias of a locale in another character set ("russian" as KOI8-R, not CP1251).
  for (const auto& alias : kAliases) {
    if (!names_language(alias, name)) continue;
    for (const char* candidate : alias.candidates) {
      if (!candidate) break;
      if (setlocale(LC_ALL, candidate)) return 1;
    }
  }
  return setlocale(LC_ALL, name) ? 1 : 0;
}

void platform_locale_numeric_c(void) { setlocale(LC_NUMERIC, "C"); }

const char* platform_locale_current(int which) {
  const char* name = setlocale(which == 1 ? LC_NUMERIC : LC_CTYPE, nullptr);
  return name ? name : "";
}

int platform_locale_double_byte_code_page(void) {
  // Character set names as the C library spells them, compared without case, '-' or '_'.
  struct Charset {
    const char* name;
    int code_page;
  };
  static constexpr Charset kCharsets[] = {
      {"SHIFTJIS", 932}, {"SJIS", 932},  {"CP932", 932}, {"WINDOWS31J", 932}, {"GBK", 936},
      {"GB2312", 936},   {"EUCCN", 936}, {"CP936", 936}, {"EUCKR", 949},      {"CP949", 949},
      {"UHC", 949},      {"BIG5", 950},  {"CP950", 950}, {"BIG5HKSCS", 950},
  };
  char key[32];
  int k = 0;
  for (const char* c = nl_langinfo(CODESET); c && *c && k < 31; ++c)
    if (*c != '-' && *c != '_') key[k++] = *c;
  key[k] = 0;
  for (const Charset& charset : kCharsets)
    if (ascii_equal_ignoring_case(charset.name, key)) return charset.code_page;
  return 0;
}

int platform_env_put(char* assignment) { return assignment && putenv(assignment) == 0; }

int platform_env_remove(const char* name) { return name && unsetenv(name) == 0; }

// Tests on wide characters and wide numbers.
#include <wctype.h>

#include "runtime/text/mbconv.h"

namespace {

bool is_space(kel_wchar wc) { return iswspace(static_cast<wint_t>(wc)) != 0; }
bool is_digit(kel_wchar wc) { return iswdigit(static_cast<wint_t>(wc)) != 0; }
bool is_sign(kel_wchar wc) { return wide_char_is(wc, '-') || wide_char_is(wc, '+'); }

const kel_wchar* skip_spaces(const kel_wchar* p) {
  while (*p && is_space(*p)) ++p;
  return p;
}

}  // namespace

int wide_char_is(kel_wchar wc, char ascii) {
  char text[4];
  return kel_wctomb(text, wc) == 1 && text[0] == ascii;
}

int wide_is_integer(const kel_wchar* wide) {
  if (!wide) return 0;
  const kel_wchar* p = skip_spaces(wide);
  if (is_sign(*p)) ++p;
  if (!is_digit(*p)) return 0;
  while (is_digit(*p)) ++p;
  return *skip_spaces(p) == 0;
}

int wide_is_real(const kel_wchar* wide) {
  if (!wide) return 0;
  const kel_wchar* p = skip_spaces(wide);
  if (is_sign(*p)) ++p;
  if (!is_digit(*p) && !wide_char_is(*p, '.')) return 0;
  while (is_digit(*p)) ++p;
  if (wide_char_is(*p, '.')) {
    ++p;
    if (!is_digit(*p)) return 0;
    while (is_digit(*p)) ++p;
  }
  int exponent = 0, collected = 0;
  if (wide_char_is(*p, 'e') || wide_char_is(*p, 'E')) {
    ++p;
    if (is_sign(*p)) ++p;
    if (!is_digit(*p)) return 0;
    for (; is_digit(*p); ++p)
      if (collected < 3) exponent = exponent * 10 + (*p - u'0'), ++collected;
  }
  if (*skip_spaces(p) != 0) return 0;
  return collected > 0 && exponent > 38 ? 0 : 1;
}

int is_korean_wide_space(unsigned int wc, int code) { return code == 8 && (wc & 0xFFFF) == 0xA1A1; }

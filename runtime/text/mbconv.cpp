// Character and string conversion between wide text and 8-bit text in the session's regime.
#include "runtime/text/mbconv.h"

#include "platform/codepage.h"
#include "runtime/text/codepage_table.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv_internal.h"

using kel::text::CodePage;
using kel::text::kNoChar;

namespace {

int euc_flag = 0;
int cached_code = -1;

int cached_language() {
  if (cached_code == -1) cached_code = lang_code_get();
  return cached_code;
}

}  // namespace

namespace kel::text {

const CodePage& session_code_page(int code) { return code_page(code_page_of_language(code)); }

bool is_single_byte_language(int code) {
  return !lang_is_multibyte(code) && code != LANG_CODE_JAPANESE;
}

void report_failure(const char* routine, int error) {
  message_print("%s:Error - %d\n", routine, error);
}

int no_translation() { return platform_codepage_no_translation_error(); }

// JIS X 0208 in EUC form through Shift-JIS, worked out once per pair: 94 x 94 characters, and the
// first EUC pair of each character.
kel_wchar euc_pairs[94 * 94];
uint16_t euc_forms[65536];
const CodePage* euc_pairs_page = nullptr;

void build_euc_pairs(const CodePage& t) {
  if (euc_pairs_page == &t) return;
  for (uint16_t& form : euc_forms) form = 0;
  for (unsigned r = 0; r < 94; ++r) {
    for (unsigned c = 0; c < 94; ++c) {
      unsigned char s1 = static_cast<unsigned char>(0x21 + r),
                    s2 = static_cast<unsigned char>(0x21 + c);
      jis_to_sjis(&s1, &s2);
      const kel_wchar wc = t.pair(s1, s2);
      euc_pairs[r * 94 + c] = wc;
      if (wc != kNoChar && euc_forms[wc] == 0)
        euc_forms[wc] = static_cast<uint16_t>((0xA1 + r) << 8 | (0xA1 + c));
    }
  }
  euc_pairs_page = &t;
}

kel_wchar euc_pair(const CodePage& t, unsigned char b1, unsigned char b2) {
  build_euc_pairs(t);
  return euc_pairs[(b1 - 0xA1) * 94 + (b2 - 0xA1)];
}

int to_euc(kel_wchar wc, bool japanese, unsigned char* out, int* error) {
  const CodePage& t = session_code_page(japanese ? LANG_CODE_JAPANESE : lang_code_get());
  if (t.error) {
    *error = t.error;
    return 0;
  }
  int n = t.encode(wc, out);
  if (!japanese) {
    if (n == 0) out[n++] = kDefaultByte;
    return n;
  }
  if (n == 1 && out[0] >= 0xA1 && out[0] <= 0xDF) {
    out[1] = out[0];
    out[0] = 0x8E;
    return 2;
  }
  if (n == 2) {
    // The pair's JIS X 0208 form, when it has one that reads back as the same character. The
    // extensions behind lead bytes 0xFA to 0xFC lie outside the JIS plane: such a character takes
    // its other Shift-JIS form inside the plane, when the code page has one.
    unsigned char e1 = out[0], e2 = out[1];
    sjis_to_jis(&e1, &e2);
    e1 |= 0x80;
    e2 |= 0x80;
    const bool in_plane = e1 >= 0xA1 && e1 <= 0xFE && e2 >= 0xA1 && e2 <= 0xFE;
    if (!in_plane || euc_pair(t, e1, e2) != wc) {
      build_euc_pairs(t);
      const uint16_t form = euc_forms[wc];
      e1 = static_cast<unsigned char>(form >> 8);
      e2 = static_cast<unsigned char>(form);
      n = form ? 2 : 0;
    }
    out[0] = e1;
    out[1] = e2;
  }
  if (n == 0) {
    // Characters Shift-JIS lacks may still be JIS X 0212 characters, written behind 0x8F.
    if (uint16_t x = wide_to_jis_x_0212(wc)) {
      out[0] = 0x8F;
      out[1] = static_cast<unsigned char>(x >> 8);
      out[2] = static_cast<unsigned char>(x);
      return 3;
    }
    out[0] = kDefaultByte;
    return 1;
  }
  return n;
}

int text_char_length(int code, const char* p) {
  const unsigned char c = static_cast<unsigned char>(*p);
  int n = 1;
  if (code == LANG_CODE_JAPANESE)
    n = c < 0x80 ? 1 : c == 0x8F ? 3 : 2;
  else if (!is_single_byte_language(code))
    n = session_code_page(code).lead[c] ? 2 : 1;
  for (int i = 1; i < n; ++i)
    if (p[i] == 0) return i;
  return n;
}

kel_wchar from_euc(const CodePage& t, const unsigned char* bytes, int len) {
  if (len == 1) return t.single[bytes[0]];
  if (len == 3) return bytes[0] == 0x8F ? jis_x_0212_to_wide(bytes[1], bytes[2]) : kNoChar;
  const unsigned char b1 = bytes[0], b2 = bytes[1];
  if (b1 == 0x8E) return b2 >= 0xA1 && b2 <= 0xDF ? t.single[b2] : t.pair(b1, b2);
  if (b1 > 0xA0 && b1 != 0xFF && b2 > 0xA0 && b2 != 0xFF) return euc_pair(t, b1, b2);
  return t.pair(b1, b2);
}

}  // namespace kel::text

using namespace kel::text;

namespace {

// The line a failed wstostr prints: kel_wctomb's for single-byte text, else the platform error's
// name.
void report_wstostr_failure(bool single_byte, int error) {
  if (single_byte) {
    report_failure("kel_wctomb", error);
    return;
  }
  switch (platform_codepage_error_class(error)) {
    case PLATFORM_CP_INVALID_PARAMETER: message_print("wstostr:ERROR_INVALID_PARAMETER\n"); break;
    case PLATFORM_CP_INSUFFICIENT_BUFFER:
      message_print("wstostr:ERROR_INSUFFICIENT_BUFFER\n");
      break;
    case PLATFORM_CP_INVALID_FLAGS: message_print("wstostr:ERROR_INVALID_FLAGS\n"); break;
    case PLATFORM_CP_NO_TRANSLATION: message_print("wstostr:ERROR_NO_UNICODE_TRANSLATION\n"); break;
    default: report_failure("wstostr", error); break;
  }
}

}  // namespace

int euc_flag_set(int value) {
  int previous = euc_flag;
  euc_flag = value;
  return previous;
}

int euc_flag_get(void) { return euc_flag; }

int kel_wctomb(char* out, kel_wchar wc) {
  if (euc_flag) return euc_code_to_bytes(out, wc);
  const CodePage& t = session_code_page(lang_code_get());
  if (t.error) {
    message_print("kel_wctomb:Error - %d\n", t.error);
    return -1;
  }
  auto* bytes = reinterpret_cast<unsigned char*>(out);
  return t.encode_or_default(wc, bytes);
}

int kel_mbtowc(kel_wchar* out, const char* text, int len) {
  if (!text) return -1;
  auto* bytes = reinterpret_cast<const unsigned char*>(text);
  if (!out) return bytes[0] < 0x80 ? 1 : bytes[0] == 0x8F ? 3 : 2;
  const int code = lang_code_get();
  if (code == LANG_CODE_JAPANESE) {
    int used = euc_bytes_to_code(out, text, len);
    return used > 0 ? used : -1;
  }
  const CodePage& t = session_code_page(code);
  kel_wchar wc = t.error            ? kNoChar
                 : t.lead[bytes[0]] ? t.pair(bytes[0], bytes[1])
                                    : t.single[bytes[0]];
  if (wc == kNoChar) {
    message_print("kel_mbtowc:Error - %d\n", t.error ? t.error : no_translation());
    return -1;
  }
  *out = wc;
  return t.lead[bytes[0]] ? 2 : 1;
}

kel_wchar unicode_to_wchar(kel_wchar wc) {
  const int code = lang_code_get();
  if (code == LANG_CODE_JAPANESE) {
    unsigned char bytes[4];
    int error = 0;
    int n = to_euc(wc, true, bytes, &error);
    if (n == 0) {
      report_failure("unicode_to_wchar", error);
      return 0;
    }
    // A single byte (not a half-width katakana, which became a pair) is its own process code.
    if (n == 1) return bytes[0];
    kel_wchar process = 0;
    return euc_bytes_to_code(&process, reinterpret_cast<const char*>(bytes), n) > 0 ? process : 0;
  }
  if (lang_is_multibyte(code)) {
    kel_wchar packed = wc;
    unicode_to_dbcs_code(&packed, wc);
    return packed;
  }
  return wc;
}

int unicode_to_dbcs_code(kel_wchar* out, kel_wchar wc) {
  *out = wc;
  const int code = cached_language();
  if (!lang_is_multibyte(code)) return 1;
  char text[4] = {};
  int n = kel_wctomb(text, wc);
  if (n < 0) return -1;
  auto b = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(text[i])); };
  if (b(0) < 0x80 || n == 1)
    *out = static_cast<kel_wchar>(b(0));
  else if (code != LANG_CODE_JAPANESE)
    *out = static_cast<kel_wchar>(b(0) << 8 | b(1));
  else if (b(0) == 0x8E)
    *out = static_cast<kel_wchar>(b(1));
  else if (b(0) == 0x8F)
    *out = static_cast<kel_wchar>(b(1) << 8 | (b(2) & 0x7F));
  else
    *out = static_cast<kel_wchar>(b(0) << 8 | b(1));
  return 1;
}

int wc16towc32(kel_wchar* code_inout) {
  const int code = cached_language();
  if (!lang_is_multibyte(code)) return 1;
  char text[4] = {};
  const kel_wchar c = *code_inout;
  if (code == LANG_CODE_JAPANESE) {
    euc_code_to_bytes(text, c);
  } else if (c < 0x100) {
    // A double-byte page's packed code holds its bytes as they stand.
    text[0] = static_cast<char>(c);
  } else {
    text[0] = static_cast<char>(c >> 8);
    text[1] = static_cast<char>(c & 0xFF);
  }
  kel_wchar wide[4] = {};
  strtows(wide, text);
  *code_inout = wide[0];
  return 1;
}

int wide_char_text_len(kel_wchar wc) {
  char text[4];
  return kel_wctomb(text, wc);
}

char* wstostr(char* text_out, const kel_wchar* wide_in) {
  if (!text_out || !wide_in) {
    message_print("WSTOSTR :  Illegal NULL pointer !!!");
    return text_out;
  }
  const int code = lang_code_get();
  if (code == LANG_CODE_JAPANESE) return unicode_str_to_euc_str(text_out, wide_in);
  const bool single_byte = is_single_byte_language(code);
  if (single_byte && euc_flag) {
    // Under the EUC flag kel_wctomb takes the units as process codes.
    char* text = text_out;
    for (int n; *wide_in && (n = kel_wctomb(text, *wide_in)) > 0; ++wide_in) text += n;
    *text = 0;
    return text_out;
  }
  const CodePage& t = session_code_page(code);
  auto* out = reinterpret_cast<unsigned char*>(text_out);
  if (t.error) {
    report_wstostr_failure(single_byte, t.error);
    *out = 0;
    return text_out;
  }
  // Single-byte text character by character, double-byte text in one pass: the same table walk.
  for (; *wide_in; ++wide_in) out += t.encode_or_default(*wide_in, out);
  *out = 0;
  return text_out;
}

kel_wchar* strtows(kel_wchar* wide_out, const char* text_in) {
  if (!wide_out || !text_in) {
    message_print("STRTOWS :  Illegal NULL pointer !!!");
    return wide_out;
  }
  const int code = lang_code_get();
  if (code == LANG_CODE_JAPANESE) return euc_str_to_unicode_str(wide_out, text_in);
  const CodePage& t = session_code_page(code);
  auto* in = reinterpret_cast<const unsigned char*>(text_in);
  kel_wchar* out = wide_out;
  if (t.error) {
    message_print("%s:Error - %d\n", is_single_byte_language(code) ? "kel_mbtowc" : "strtows",
                  t.error);
    *out = 0;
    return wide_out;
  }
  if (is_single_byte_language(code)) {
    // Every byte of a single-byte page stands for one character.
    while (*in) *out++ = t.single[*in++];
    *out = 0;
    return wide_out;
  }
  // Bytes with no character become the default character '?'.
  while (*in) {
    kel_wchar wc;
    if (t.lead[*in] && in[1]) {
      wc = t.pair(in[0], in[1]);
      in += 2;
    } else {
      wc = t.lead[*in] ? kNoChar : t.single[*in];
      ++in;
    }
    *out++ = wc == kNoChar ? u'?' : wc;
  }
  *out = 0;
  return wide_out;
}

char* unicode_str_to_euc_str(char* text_out, const kel_wchar* wide_in) {
  const bool japanese = lang_code_get() == LANG_CODE_JAPANESE;
  auto* out = reinterpret_cast<unsigned char*>(text_out);
  for (; *wide_in; ++wide_in) {
    int error = 0;
    int n = to_euc(*wide_in, japanese, out, &error);
    if (n == 0) report_failure("unicode_str_to_euc_str", error);
    out += n;
  }
  *out = 0;
  return text_out;
}

kel_wchar* euc_str_to_unicode_str(kel_wchar* wide_out, const char* text_in) {
  const int code = lang_code_get();
  const CodePage& t = session_code_page(code);
  auto* in = reinterpret_cast<const unsigned char*>(text_in);
  // The next byte; at the terminator 0xFF, without moving on. A byte 0xFF also ends the text.
  auto next = [&]() -> unsigned char { return *in ? *in++ : 0xFF; };
  kel_wchar* out = wide_out;
  if (code == LANG_CODE_JAPANESE) {
    for (unsigned char b; (b = next()) != 0xFF;) {
      if (t.error) {
        // No character can be had: each one stores 0.
        *out++ = 0;
        if (b > 0xA0 || b == 0x8E) next();
        continue;
      }
      if (b < 0x80) {
        *out++ = t.single[b];
        continue;
      }
      if (b > 0xA0 && *in > 0xA0 && *in != 0xFF) {
        // The common case: a JIS X 0208 pair.
        kel_wchar wc = euc_pair(t, b, *in++);
        *out++ = wc == kNoChar ? 0 : wc;
        continue;
      }
      unsigned char bytes[3] = {b, 0, 0};
      int len = 1;
      if (b > 0xA0 || b == 0x8E) {
        bytes[1] = next();
        len = 2;
      } else if (b == 0x8F && in[0] > 0xA0 && in[0] != 0xFF && in[1] > 0xA0 && in[1] != 0xFF) {
        // JIS X 0212 behind 0x8F (both bytes checked before any is taken).
        bytes[1] = next();
        bytes[2] = next();
        len = 3;
      }
      kel_wchar wc = from_euc(t, bytes, len);
      *out++ = wc == kNoChar ? 0 : wc;
    }
    *out = 0;
    return wide_out;
  }
  for (unsigned char b; (b = next()) != 0xFF;) {
    kel_wchar wc = kNoChar;
    if (!t.error) wc = t.lead[b] ? t.pair(b, next()) : t.single[b];
    if (wc == kNoChar) {
      report_failure("euc_str_to_unicode_str", t.error ? t.error : no_translation());
      *out = 0;
      return EUC_STR_CONVERSION_FAILED;
    }
    *out++ = wc;
  }
  *out = 0;
  return wide_out;
}

char* unicode_str_to_multibyte_str(char* text_out, const kel_wchar* wide_in) {
  const CodePage& t = session_code_page(lang_code_get());
  auto* out = reinterpret_cast<unsigned char*>(text_out);
  for (; *wide_in; ++wide_in) {
    if (t.error) {
      report_failure("unicode_str_to_multibyte_str", t.error);
      continue;
    }
    out += t.encode_or_default(*wide_in, out);
  }
  *out = 0;
  return text_out;
}

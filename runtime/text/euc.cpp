// EUC process codes, the JIS X 0208 / Shift-JIS arithmetic and the hexadecimal JIS forms.
#include <stdio.h>

#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"

int euc_code_to_bytes(char* out, kel_wchar code) {
  const bool high = code & 0x8000, low = code & 0x80;
  if (!high && !low) {
    out[0] = static_cast<char>(code & 0x7F);
    return 1;
  }
  if (!high) {
    out[0] = static_cast<char>(0x8E);
    out[1] = static_cast<char>(code & 0xFF);
    return 2;
  }
  if (low) {
    out[0] = static_cast<char>(code >> 8);
    out[1] = static_cast<char>(code & 0xFF);
    return 2;
  }
  out[0] = static_cast<char>(0x8F);
  out[1] = static_cast<char>(code >> 8);
  out[2] = static_cast<char>((code & 0xFF) | 0x80);
  return 3;
}

int euc_bytes_to_code(kel_wchar* out, const char* bytes, int len) {
  if (!out || !bytes || len < 1) return 0;
  auto at = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])); };
  const unsigned b0 = at(0);
  if (b0 < 0x80) {
    *out = static_cast<kel_wchar>(b0);
    return 1;
  }
  if (b0 == 0x8E) {
    if (len < 2) return 0;
    if (at(1) == 0) {
      *out = 0x8E;
      return 1;
    }
    *out = static_cast<kel_wchar>(at(1) | 0x80);
    return 2;
  }
  if (b0 == 0x8F) {
    if (len < 3) return 0;
    // A terminator right behind the prefix ends the character there, so nothing past it is read.
    if (at(1) == 0) {
      *out = 0x8F;
      return 1;
    }
    if (at(2) == 0) {
      *out = static_cast<kel_wchar>(at(1));
      return 2;
    }
    *out = static_cast<kel_wchar>(((at(1) | 0x80) << 8) | (at(2) & 0x7F));
    return 3;
  }
  if (len < 2) return 0;
  if (at(1) == 0) {
    *out = static_cast<kel_wchar>(b0);
    return 1;
  }
  *out = static_cast<kel_wchar>(((b0 << 8) | at(1)) | 0x8080);
  return 2;
}

void jis_to_sjis(unsigned char* b1, unsigned char* b2) {
  const int j1 = *b1, j2 = *b2;
  if (j1 == 0) return;
  *b1 = static_cast<unsigned char>(((j1 + 1) >> 1) + (j1 < 95 ? 0x70 : 0xB0));
  *b2 = static_cast<unsigned char>(j2 + ((j1 & 1) == 0 ? 0x7E : (j2 < 0x60 ? 0x1F : 0x20)));
}

void sjis_to_jis(unsigned char* b1, unsigned char* b2) {
  const int s1 = *b1, s2 = *b2;
  if (s1 == 0) return;
  *b1 = static_cast<unsigned char>(2 * s1 - (s1 < 0xA0 ? 0xE0 : 0x160) - (s2 < 0x9F ? 1 : 0));
  *b2 = static_cast<unsigned char>(s2 - (s2 > 0x9E ? 0x7E : (s2 >= 0x80 ? 0x20 : 0x1F)));
}

kel_wchar jis_code_to_euc(kel_wchar code) {
  return code >= 256 ? static_cast<kel_wchar>(code | 0x8080) : code;
}

kel_wchar euc_code_to_jis(kel_wchar code) {
  return code >= 256 ? static_cast<kel_wchar>(code & 0x7F7F) : code;
}

int jis_hex_to_wide(kel_wchar* out, const char* text) {
  *out = 0;
  unsigned hi = 0, lo = 0;
  if (lang_code_get() != LANG_CODE_JAPANESE || !text || sscanf(text, "%2x%2x", &hi, &lo) != 2)
    return 0;
  unsigned code = 0;
  if (hi > 0) {
    code = (hi + 128) << 8;
    lo += 128;
  }
  if (lo > 0) code |= lo & 0xFF;
  *out = static_cast<kel_wchar>(code);
  wc16towc32(out);
  return 1;
}

int wide_to_jis_hex(char* text_out, const kel_wchar* wide) {
  if (lang_code_get() != LANG_CODE_JAPANESE || !wide) {
    snprintf(text_out, 5, "0000");
    return 0;
  }
  const kel_wchar c = unicode_to_wchar(wide[0]);
  unsigned hi = c >> 8, lo = c & 0xFF;
  if (hi > 128) {
    hi -= 128;
    lo = (lo - 128) & 0xFF;
  }
  // Each part as two lower-case hexadecimal digits ("00", "0x" or "xx").
  static const char digits[] = "0123456789abcdef";
  auto part = [](char* at, unsigned v) {
    at[0] = digits[(v >> 4) & 15];
    at[1] = digits[v & 15];
  };
  part(text_out, hi);
  part(text_out + 2, lo);
  text_out[4] = 0;
  return 1;
}

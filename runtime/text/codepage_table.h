// Per-code-page conversion tables, built once from the platform's conversion and then used
// character by character: every conversion gives the same bytes on every platform.
#pragma once
#include <stdint.h>
#include "platform/kel_base.h"

namespace kel::text {

// Marks a byte (or pair) with no character.
inline constexpr kel_wchar kNoChar = 0xFFFF;
// The byte written for a character that a code page cannot represent.
inline constexpr unsigned char kDefaultByte = '?';

struct CodePage {
  int cp = 0;
  int error = 0;  // non-zero: the platform cannot convert with this code page (its error number)
  bool lead[256] = {};
  kel_wchar single[256] = {};
  kel_wchar* pairs = nullptr;   // (lead - 0x80) * 256 + trail
  uint16_t* reverse = nullptr;  // per unit: a byte (1..0xFF), a pair (lead << 8 | trail), or 0

  // One unit to bytes: 1 or 2 written, 0 when the code page has no form for it.
  int encode(kel_wchar wc, unsigned char* out) const {
    if (wc == 0) {
      out[0] = 0;
      return 1;
    }
    uint16_t v = reverse[wc];
    if (v == 0) return 0;
    if (v < 0x100) {
      out[0] = static_cast<unsigned char>(v);
      return 1;
    }
    out[0] = static_cast<unsigned char>(v >> 8);
    out[1] = static_cast<unsigned char>(v);
    return 2;
  }
  // One unit to bytes, the default byte for a unit the code page has no form for: 1 or 2 written.
  int encode_or_default(kel_wchar wc, unsigned char* out) const {
    if (int n = encode(wc, out)) return n;
    out[0] = kDefaultByte;
    return 1;
  }
  // The character of a lead byte and its trail, or kNoChar.
  kel_wchar pair(unsigned char b1, unsigned char b2) const {
    return pairs && b1 >= 0x80 ? pairs[(b1 - 0x80) * 256 + b2] : kNoChar;
  }
};

// The table of a code page (see platform/codepage.h); built on first use.
const CodePage& code_page(int cp);
// The code page a session language converts with.
int code_page_of_language(int lang_code);

// JIS X 0212 through EUC: the pair behind 0x8F (bit 7 set on both) and its character.
kel_wchar jis_x_0212_to_wide(unsigned char b1, unsigned char b2);
// The EUC pair behind 0x8F (lead << 8 | trail) of a character that has no Shift-JIS form, or 0.
uint16_t wide_to_jis_x_0212(kel_wchar wc);

}  // namespace kel::text

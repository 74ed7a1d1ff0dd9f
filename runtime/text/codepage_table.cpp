#include "runtime/text/codepage_table.h"

#include <array>

#include "platform/codepage.h"
#include "platform/locale.h"

namespace kel::text {
namespace {

constexpr std::array<int, 6> kCodePages = {KEL_CP_SHIFT_JIS, KEL_CP_SIMPLIFIED_CHINESE,
                                           KEL_CP_KOREAN,    KEL_CP_TRADITIONAL_CHINESE,
                                           KEL_CP_CYRILLIC,  KEL_CP_WESTERN};
constexpr int kDoubleByte = 4;  // the first four are double-byte

std::array<CodePage, kCodePages.size()> tables;
std::array<bool, kCodePages.size()> built;
// Static storage keeps the tables out of the heap: they live as long as the module.
kel_wchar pair_storage[kDoubleByte][128 * 256];
uint16_t reverse_storage[kCodePages.size()][65536];

bool is_surrogate(unsigned u) { return u >= 0xD800 && u <= 0xDFFF; }
// User-defined characters differ between platforms and between machines: they are left out.
bool is_private_use(unsigned u) { return u >= 0xE000 && u <= 0xF8FF; }

kel_wchar decode(int cp, const unsigned char* bytes, int len) {
  kel_wchar out[2];
  int n = platform_codepage_to_wide(cp, reinterpret_cast<const char*>(bytes), len, out, 2);
  return n == 1 && !is_private_use(out[0]) ? out[0] : kNoChar;
}

// Where a double-byte page has two byte forms of one character, the form the system conversion
// writes (some platform libraries write the other one).
struct PreferredForm {
  int cp;
  kel_wchar wc;
  uint16_t bytes;
};
constexpr PreferredForm kPreferredForms[] = {
    {KEL_CP_TRADITIONAL_CHINESE, 0x2550, 0xF9F9},
    {KEL_CP_TRADITIONAL_CHINESE, 0x255E, 0xF9E9},
    {KEL_CP_TRADITIONAL_CHINESE, 0x2561, 0xF9EB},
    {KEL_CP_TRADITIONAL_CHINESE, 0x256A, 0xF9EA},
};

void build(CodePage& t, int index) {
  const int cp = kCodePages[index];
  t.cp = cp;
  t.reverse = reverse_storage[index];
  for (unsigned b = 0; b < 256; ++b) {
    unsigned char byte = static_cast<unsigned char>(b);
    t.single[b] = b == 0 ? 0 : decode(cp, &byte, 1);
  }
  if (t.single[0x41] != u'A') {
    // The platform cannot convert with this code page at all.
    t.error = platform_codepage_error();
    if (t.error == 0) t.error = platform_codepage_no_translation_error();
    return;
  }
  if (index < kDoubleByte) {
    t.pairs = pair_storage[index];
    for (unsigned b1 = 0x80; b1 < 256; ++b1) {
      kel_wchar* row = t.pairs + (b1 - 0x80) * 256;
      row[0] = kNoChar;
      if (t.single[b1] != kNoChar) {
        for (unsigned b2 = 1; b2 < 256; ++b2) row[b2] = kNoChar;
        continue;
      }
      for (unsigned b2 = 1; b2 < 256; ++b2) {
        unsigned char two[2] = {static_cast<unsigned char>(b1), static_cast<unsigned char>(b2)};
        row[b2] = decode(cp, two, 2);
        if (row[b2] != kNoChar) t.lead[b1] = true;
      }
    }
    // A byte 0x80 that the code page leaves undefined stands for U+0080, as the system conversion
    // has it.
    if (t.single[0x80] == kNoChar && !t.lead[0x80]) t.single[0x80] = 0x80;
    // The reverse direction asks the platform for every unit, so that its own choice among
    // several byte forms of one character is kept; a form is kept only when it reads back as
    // the same character (no look-alike substitutes).
    for (unsigned u = 1; u < 65536; ++u) {
      if (is_surrogate(u) || is_private_use(u)) continue;
      kel_wchar wc = static_cast<kel_wchar>(u);
      unsigned char out[4];
      int n = platform_codepage_from_wide(cp, &wc, 1, reinterpret_cast<char*>(out), 4);
      if (n == 1 && out[0] != 0 && !t.lead[out[0]] && t.single[out[0]] == wc)
        t.reverse[u] = out[0];
      else if (n == 2 && t.pair(out[0], out[1]) == wc)
        t.reverse[u] = static_cast<uint16_t>(out[0] << 8 | out[1]);
    }
    if (t.reverse[0x80] == 0 && t.single[0x80] == 0x80) t.reverse[0x80] = 0x80;
    for (const PreferredForm& f : kPreferredForms)
      if (f.cp == cp && t.pair(static_cast<unsigned char>(f.bytes >> 8),
                               static_cast<unsigned char>(f.bytes)) == f.wc)
        t.reverse[f.wc] = f.bytes;
  } else {
    // Single-byte pages: a byte the code page leaves undefined stands for the control character of
    // the same value, in both directions, as the system conversion does.
    for (unsigned b = 1; b < 256; ++b)
      if (t.single[b] == kNoChar) t.single[b] = static_cast<kel_wchar>(b);
    for (unsigned b = 1; b < 256; ++b)
      if (t.reverse[t.single[b]] == 0) t.reverse[t.single[b]] = static_cast<uint16_t>(b);
  }
}

// JIS X 0212: 94 x 94 characters behind 0x8F, and their reverse for characters Shift-JIS lacks.
kel_wchar x0212_forward[94 * 94];
uint16_t x0212_reverse[65536];
bool x0212_built = false;

void build_x0212() {
  x0212_built = true;
  const CodePage& sjis = code_page(KEL_CP_SHIFT_JIS);
  for (unsigned r = 0; r < 94; ++r) {
    for (unsigned c = 0; c < 94; ++c) {
      unsigned char three[3] = {0x8F, static_cast<unsigned char>(0xA1 + r),
                                static_cast<unsigned char>(0xA1 + c)};
      kel_wchar wc = decode(KEL_CP_EUC_JP, three, 3);
      // The one JIS X 0212 character platform libraries read differently: the system conversion's
      // tilde.
      if (three[1] == 0xA2 && three[2] == 0xB7) wc = u'~';
      x0212_forward[r * 94 + c] = wc;
      if (wc == kNoChar || is_surrogate(wc) || x0212_reverse[wc] != 0) continue;
      unsigned char sj[2];
      if (sjis.error == 0 && sjis.encode(wc, sj) != 0) continue;
      // Keep the character only when the platform writes it back to the same three bytes.
      unsigned char back[4];
      int n = platform_codepage_from_wide(KEL_CP_EUC_JP, &wc, 1, reinterpret_cast<char*>(back), 4);
      if (n == 3 && back[0] == 0x8F && back[1] == three[1] && back[2] == three[2])
        x0212_reverse[wc] = static_cast<uint16_t>(three[1] << 8 | three[2]);
    }
  }
}

}  // namespace

const CodePage& code_page(int cp) {
  std::size_t index = 0;
  while (index + 1 < kCodePages.size() && kCodePages[index] != cp) ++index;
  if (kCodePages[index] != cp) index = kCodePages.size() - 1;
  if (!built[index]) {
    built[index] = true;
    build(tables[index], static_cast<int>(index));
  }
  return tables[index];
}

int code_page_of_language(int lang_code) {
  switch (lang_code) {
    case 1: return KEL_CP_SHIFT_JIS;
    case 4: return KEL_CP_CYRILLIC;
    case 8: return KEL_CP_KOREAN;
    case 9: return KEL_CP_TRADITIONAL_CHINESE;
    case 10: return KEL_CP_SIMPLIFIED_CHINESE;
    case 6: {  // a custom multibyte locale: the double-byte code page its text is in
      const int cp = platform_locale_double_byte_code_page();
      return cp ? cp : KEL_CP_WESTERN;
    }
    default: return KEL_CP_WESTERN;
  }
}

kel_wchar jis_x_0212_to_wide(unsigned char b1, unsigned char b2) {
  if (!x0212_built) build_x0212();
  if (b1 < 0xA1 || b1 > 0xFE || b2 < 0xA1 || b2 > 0xFE) return kNoChar;
  return x0212_forward[(b1 - 0xA1) * 94 + (b2 - 0xA1)];
}

uint16_t wide_to_jis_x_0212(kel_wchar wc) {
  if (!x0212_built) build_x0212();
  return x0212_reverse[wc];
}

}  // namespace kel::text

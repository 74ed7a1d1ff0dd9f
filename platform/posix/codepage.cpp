#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <array>
#include <cstring>

namespace {

int last_error = 0;

const char* iconv_name(int cp) {
  switch (cp) {
    case KEL_CP_SHIFT_JIS: return "CP932";
    case KEL_CP_SIMPLIFIED_CHINESE: return "CP936";
    case KEL_CP_KOREAN: return "CP949";
    case KEL_CP_TRADITIONAL_CHINESE: return "CP950";
    case KEL_CP_CYRILLIC: return "CP1251";
    case KEL_CP_WESTERN: return "CP1252";
    case KEL_CP_EUC_JP: return "EUC-JP";
    default: return nullptr;
  }
}

// One converter per code page and direction, opened on first use and kept for the process.
struct Converter {
  int cp = 0;
  iconv_t to_wide = (iconv_t)-1;
  iconv_t from_wide = (iconv_t)-1;
};
std::array<Converter, 8> converters;

iconv_t converter(int cp, bool to_wide) {
  const char* name = iconv_name(cp);
  if (!name) {
    last_error = EINVAL;
    return (iconv_t)-1;
  }
  for (auto& c : converters) {
    if (c.cp == 0) {
      c.cp = cp;
      c.to_wide = iconv_open("UTF-16LE", name);
      c.from_wide = iconv_open(name, "UTF-16LE");
    }
    if (c.cp == cp) {
      iconv_t h = to_wide ? c.to_wide : c.from_wide;
      if (h == (iconv_t)-1)
        last_error = EINVAL;
      else
        iconv(h, nullptr, nullptr, nullptr, nullptr);
      return h;
    }
  }
  last_error = EINVAL;
  return (iconv_t)-1;
}

// Runs the whole input through; the byte count written, or -1 with last_error set.
int run(iconv_t h, const char* in, size_t in_len, char* out, size_t out_len) {
  char* src = const_cast<char*>(in);
  char* dst = out;
  if (iconv(h, &src, &in_len, &dst, &out_len) == (size_t)-1 || in_len != 0) {
    last_error = in_len != 0 && errno == 0 ? EILSEQ : errno;
    return -1;
  }
  if (iconv(h, nullptr, nullptr, &dst, &out_len) == (size_t)-1) {
    last_error = errno;
    return -1;
  }
  return static_cast<int>(dst - out);
}

}  // namespace

int platform_codepage_to_wide(int cp, const char* bytes, int len, kel_wchar* out, int out_max) {
  iconv_t h = converter(cp, true);
  if (h == (iconv_t)-1 || len <= 0 || out_max <= 0) return 0;
  int n = run(h, bytes, static_cast<size_t>(len), reinterpret_cast<char*>(out),
              static_cast<size_t>(out_max) * sizeof(kel_wchar));
  return n <= 0 ? 0 : n / 2;
}

int platform_codepage_from_wide(int cp, const kel_wchar* wide, int len, char* out, int out_max) {
  iconv_t h = converter(cp, false);
  if (h == (iconv_t)-1 || len <= 0 || out_max <= 0) return 0;
  int n = run(h, reinterpret_cast<const char*>(wide), static_cast<size_t>(len) * sizeof(kel_wchar),
              out, static_cast<size_t>(out_max));
  return n <= 0 ? 0 : n;
}

int platform_codepage_error(void) { return last_error; }

int platform_codepage_no_translation_error(void) { return EILSEQ; }

int platform_codepage_error_class(int error) {
  switch (error) {
    case E2BIG: return PLATFORM_CP_INSUFFICIENT_BUFFER;
    case EILSEQ: return PLATFORM_CP_NO_TRANSLATION;
    default: return PLATFORM_CP_OTHER_ERROR;
  }
}

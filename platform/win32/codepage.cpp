#include "platform/codepage.h"

#include <windows.h>

// Code page 20932 holds a JIS X 0212 character as its EUC pair with bit 7 of the second byte
// cleared, without the 0x8F prefix; these routines take and give the three EUC bytes instead.

namespace {
int last_error = 0;
}

int platform_codepage_to_wide(int cp, const char* bytes, int len, kel_wchar* out, int out_max) {
  char packed[64];
  if (cp == KEL_CP_EUC_JP && len > static_cast<int>(sizeof packed)) {
    // EUC text is converted a few characters at a time only.
    last_error = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  if (cp == KEL_CP_EUC_JP && len > 0) {
    int n = 0;
    for (int i = 0; i < len;) {
      auto b = static_cast<unsigned char>(bytes[i]);
      if (b == 0x8F && i + 2 < len && (static_cast<unsigned char>(bytes[i + 2]) & 0x80)) {
        packed[n++] = bytes[i + 1];
        packed[n++] = static_cast<char>(bytes[i + 2] & 0x7F);
        i += 3;
      } else if (b == 0x8F) {
        last_error = ERROR_NO_UNICODE_TRANSLATION;
        return 0;
      } else {
        packed[n++] = bytes[i++];
      }
    }
    bytes = packed;
    len = n;
  }
  int n = MultiByteToWideChar(static_cast<UINT>(cp), MB_ERR_INVALID_CHARS, bytes, len,
                              reinterpret_cast<wchar_t*>(out), out_max);
  if (n == 0) last_error = static_cast<int>(GetLastError());
  return n;
}

int platform_codepage_from_wide(int cp, const kel_wchar* wide, int len, char* out, int out_max) {
  BOOL used_default = FALSE;
  char packed[96];
  const bool euc = cp == KEL_CP_EUC_JP;
  char* dst = euc ? packed : out;
  int dst_max = euc ? static_cast<int>(sizeof packed) : out_max;
  int n = WideCharToMultiByte(static_cast<UINT>(cp), WC_NO_BEST_FIT_CHARS,
                              reinterpret_cast<const wchar_t*>(wide), len, dst, dst_max, nullptr,
                              &used_default);
  if (n == 0) {
    last_error = static_cast<int>(GetLastError());
    return 0;
  }
  if (used_default) {
    last_error = ERROR_NO_UNICODE_TRANSLATION;
    return 0;
  }
  if (!euc) return n;
  int m = 0;
  for (int i = 0; i < n;) {
    auto b = static_cast<unsigned char>(packed[i]);
    bool pair = b >= 0x80 && i + 1 < n;
    bool jis_x_0212 = pair && b != 0x8E && !(static_cast<unsigned char>(packed[i + 1]) & 0x80);
    int need = jis_x_0212 ? 3 : pair ? 2 : 1;
    if (m + need > out_max) {
      last_error = ERROR_INSUFFICIENT_BUFFER;
      return 0;
    }
    if (jis_x_0212) {
      out[m++] = static_cast<char>(0x8F);
      out[m++] = packed[i];
      out[m++] = static_cast<char>(packed[i + 1] | 0x80);
      i += 2;
    } else {
      for (int k = 0; k < (pair ? 2 : 1); ++k) out[m++] = packed[i++];
    }
  }
  return m;
}

int platform_codepage_error(void) { return last_error; }

int platform_codepage_no_translation_error(void) { return ERROR_NO_UNICODE_TRANSLATION; }

int platform_codepage_error_class(int error) {
  switch (error) {
    case ERROR_INVALID_PARAMETER: return PLATFORM_CP_INVALID_PARAMETER;
    case ERROR_INSUFFICIENT_BUFFER: return PLATFORM_CP_INSUFFICIENT_BUFFER;
    case ERROR_INVALID_FLAGS: return PLATFORM_CP_INVALID_FLAGS;
    case ERROR_NO_UNICODE_TRANSLATION: return PLATFORM_CP_NO_TRANSLATION;
    default: return PLATFORM_CP_OTHER_ERROR;
  }
}

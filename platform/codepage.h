// Code page conversion of single characters (iconv / MultiByteToWideChar and WideCharToMultiByte).
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// The code pages the runtime converts with. KEL_CP_EUC_JP takes EUC bytes as they stand in text:
// JIS X 0208 pairs, 0x8E and a half-width katakana, 0x8F and a JIS X 0212 pair.
enum {
  KEL_CP_SHIFT_JIS = 932,
  KEL_CP_SIMPLIFIED_CHINESE = 936,
  KEL_CP_KOREAN = 949,
  KEL_CP_TRADITIONAL_CHINESE = 950,
  KEL_CP_CYRILLIC = 1251,
  KEL_CP_WESTERN = 1252,
  KEL_CP_EUC_JP = 20932
};

// Converts the `len` bytes of one or more characters of code page `cp` into UTF-16 units
// (EUC text at most 64 bytes at a time).
// Returns the number of units written, 0 when the bytes are not valid text of that code page.
int platform_codepage_to_wide(int cp, const char* bytes, int len, kel_wchar* out, int out_max);
// Converts `len` UTF-16 units into code page bytes, without substituting look-alike characters.
// Returns the number of bytes written, 0 when a character has no form in that code page.
int platform_codepage_from_wide(int cp, const kel_wchar* wide, int len, char* out, int out_max);
// The platform's error number of the last failed conversion.
int platform_codepage_error(void);
// What a platform error number means, for the messages that name it.
enum {
  PLATFORM_CP_OTHER_ERROR = 0,
  PLATFORM_CP_INVALID_PARAMETER,
  PLATFORM_CP_INSUFFICIENT_BUFFER,
  PLATFORM_CP_INVALID_FLAGS,
  PLATFORM_CP_NO_TRANSLATION
};
int platform_codepage_error_class(int error);
// The platform's error number for "no translation".
int platform_codepage_no_translation_error(void);
KEL_END_C

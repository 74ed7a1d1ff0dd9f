// Conversion between the host's wide (16-bit Unicode) text and 8-bit text in the session's regime.
#pragma once
#include "runtime/kel_base.h"

KEL_BEGIN_C
// 8-bit text to wide; the caller provides (text length + 1) wide units. Returns wide_out.
kel_wchar* strtows(kel_wchar* wide_out, const char* text_in);
// Wide to 8-bit text; the caller provides 4 x (wide length) + 1 bytes. Returns text_out.
char* wstostr(char* text_out, const kel_wchar* wide_in);
KEL_END_C

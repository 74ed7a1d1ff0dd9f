// The runtime's formatted printing and scanning.
#pragma once
#include <stdarg.h>
#include <stdio.h>
#include "runtime/kel_base.h"

KEL_BEGIN_C
// Formats into `out` (or, when null, the engine's own output buffer) and returns it; null on failure.
char* kel_sprintf(char* out, const char* format, ...);
char* kel_vsprintf(char* out, const char* format, va_list args);
// Formats, then converts with strtows into `wide_out`; the number of wide units written, 0 on failure.
int kel_sprintf_wide(kel_wchar* wide_out, const char* format, ...);
// Formats and writes the text unchanged to the standard output; its length, 0 on failure.
int message_print(const char* format, ...);
KEL_END_C

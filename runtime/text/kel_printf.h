// The runtime's formatted printing and scanning.
//
// The print routines accept the standard conversions d f lf s e g c i o u x ld li lo lu lx (letters
// compared without regard to case), plus "ws" (a wide string, printed in its 8-bit form) and
// "pd"/"pf" (a path: "/" and "|" printed as backslashes). Every conversion takes exactly one
// argument; a width or precision given as "*" and positional arguments ("$") are refused. Reals
// whose magnitude is below 1e-30, and not-a-number, print as 0; exponents are always written with
// at least two digits. Formats longer than 500 bytes (print) or 512 bytes (scan) are refused.
//
// A text returned through a null `out` lives in the engine's output buffer: it stays valid until
// the call after next of the print routines, so it may be passed as an argument to the next call.
#pragma once
#include <stdarg.h>
#include <stdio.h>
#include "platform/kel_base.h"

KEL_BEGIN_C
// Formats into `out` (or, when null, the engine's own output buffer) and returns it; null on
// failure.
char* kel_sprintf(char* out, const char* format, ...);
char* kel_vsprintf(char* out, const char* format, va_list args);
// Formats, then converts with strtows into `wide_out`; the number of wide units written, 0 on
// failure.
int kel_sprintf_wide(kel_wchar* wide_out, const char* format, ...);
// Formats and writes the text unchanged to the standard output; its length, 0 on failure.
int message_print(const char* format, ...);
// Formats and writes to `stream`; the length, 0 when formatting or writing failed.
int kel_fprintf(FILE* stream, const char* format, ...);
// Writes `text`; its length, or -1 when writing failed.
int text_fputs(const char* text, FILE* stream);
// Writes each unit of `wide` with wide_putc to the standard output.
void wide_stdout_puts(const kel_wchar* wide);

// Scanning with the conversions d f lf le lg s e g c i o u x ld li lo lu lx n and "ws", a
// wide-string target: the caller's kel_wchar buffer receives the wide form of the scanned text
// (give it a width of at most its size in units less one). At most 20 assigning conversions ("%*…"
// assigns nothing); more are refused with a message and 0. Results are those of the platform's
// scan.
int kel_vsscanf(const char* text, const char* format, va_list args);
// One line (at most 511 bytes) of standard input or `stream`; -1 at end of file.
int kel_scanf(const char* format, ...);
int kel_fscanf(FILE* stream, const char* format, ...);
int kel_sscanf(const char* text, const char* format, ...);
// Scans the 8-bit form of a wide text.
int kel_wsscanf(const kel_wchar* wide, const char* format, ...);
KEL_END_C

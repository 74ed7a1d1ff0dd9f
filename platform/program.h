// The running program: its own file, its command line as UTF-8, and a UTF-8 console.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// Writes the full path of the running executable (UTF-8) into `out`; its length, or 0 when it
// cannot be found or does not fit `out_size` bytes with the terminating zero.
size_t platform_program_path(char* out, size_t out_size);
// The command-line arguments as UTF-8. On Windows they are read again from the wide command line
// (argv holds them in the ANSI code page); elsewhere argv is returned as it is. The array lives
// until the program ends.
char** platform_program_utf8_args(int argc, char** argv);
// Lets the console read and show UTF-8 text (code page 65001 on Windows; nothing elsewhere).
void platform_console_utf8(void);
KEL_END_C

// The console input mode (termios / GetConsoleMode and SetConsoleMode).
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// Mode bits as the console keeps them; echo of typed characters is PLATFORM_CONSOLE_ECHO.
#define PLATFORM_CONSOLE_ECHO 0x4u
// The input mode of standard input; 0 when it is no console or the mode cannot be had.
int platform_console_input_mode_get(unsigned int* mode);
// Sets the input mode of standard input; 0 on failure.
int platform_console_input_mode_set(unsigned int mode);
KEL_END_C

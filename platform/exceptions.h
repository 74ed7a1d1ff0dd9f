// Abnormal ends of the process: the non-continuable exception and raised signals.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// Status of the non-continuable exception that the fatal stop raises when crashes are allowed.
#define PLATFORM_NONCONTINUABLE_EXCEPTION 0xC0000025u

// Raises `code` as a non-continuable exception with no arguments; never returns.
// Windows raises it as a structured exception, so an unhandled one ends the process with
// `code` as its exit status and a debugger sees it first. POSIX has no such exception: the
// process is ended abnormally with SIGABRT, which likewise cannot be continued and skips
// the exit handlers and atexit routines.
KEL_NORETURN void platform_raise_noncontinuable(unsigned code);

// Raises the signal numbered `signal_number` in this process; returns the raise result
// (0 when it was raised and a handler returned).
int platform_raise_signal(int signal_number);
KEL_END_C

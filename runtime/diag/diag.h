// Serious-error reporting: dbg_err_crash, notes, message banners, error_break and crash.
#pragma once
#include <stdarg.h>
#include "runtime/kel_base.h"

KEL_BEGIN_C
// Reports a serious inconsistency found in `where`; silent and returning unless switched on.
int dbg_err_crash(const char* where, const char* format, ...);
// A debugging note, printed only when order_debug_level is non-zero.
int order_debug_note(const char* where, const char* format, ...);
int info_note(const char* where, const char* format, ...);
// Stop at a serious error: reports, then fires the traps with class 2.
void error_break(const char* message);
// The fatal stop.
int crash(void);
KEL_END_C

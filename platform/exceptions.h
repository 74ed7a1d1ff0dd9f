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

// Status of the exception a module raises when a C++ exception left it uncaught; its one argument
// is the exception's description (type and message), readable while the module stays loaded.
#define PLATFORM_UNCAUGHT_EXCEPTION 0xE0C5E001u

// Ends the process for a C++ exception no one caught, described by `text`: Windows raises
// PLATFORM_UNCAUGHT_EXCEPTION with `text` as its argument (a module with its own C++ runtime
// cannot throw into the program that loaded it); POSIX writes `text` to the standard error
// stream and aborts.
KEL_NORETURN void platform_raise_uncaught(const char* text);

// What ended the process abnormally.
typedef enum {
  PLATFORM_FATAL_CRASH,     // invalid memory access, illegal instruction, arithmetic fault
  PLATFORM_FATAL_ABORT,     // abort()
  PLATFORM_FATAL_UNCAUGHT,  // PLATFORM_UNCAUGHT_EXCEPTION raised (Windows only)
} platform_fatal_kind;
typedef KEL_NORETURN void (*platform_fatal_handler)(platform_fatal_kind kind, const char* what);

// Calls `handler`, which must end the process, when the process crashes, aborts or raises
// PLATFORM_UNCAUGHT_EXCEPTION; `what` says what happened ("invalid memory access", "abort()", or
// the exception's text). The handler runs on a stack of its own where the platform has one.
void platform_on_fatal(platform_fatal_handler handler);

// Writes `text` straight to the standard error stream, bypassing the C library's buffers (what a
// fatal handler may still do).
void platform_write_error(const char* text);
KEL_END_C

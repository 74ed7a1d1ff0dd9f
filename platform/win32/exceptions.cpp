#include "platform/exceptions.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

void platform_raise_noncontinuable(unsigned code) {
  RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  // A handler that tried to continue gets a second exception; never come back regardless.
  abort();
}

int platform_raise_signal(int signal_number) { return raise(signal_number); }

namespace {

platform_fatal_handler fatal_handler;

LONG WINAPI on_unhandled(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  platform_fatal_kind kind = PLATFORM_FATAL_CRASH;
  const char* what = "unhandled structured exception";
  switch (record->ExceptionCode) {
    case PLATFORM_UNCAUGHT_EXCEPTION:
      kind = PLATFORM_FATAL_UNCAUGHT;
      what = record->NumberParameters >= 1
                 ? reinterpret_cast<const char*>(record->ExceptionInformation[0])
                 : "an exception of unknown type";
      break;
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: what = "invalid memory access"; break;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION: what = "arithmetic fault"; break;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION: what = "illegal instruction"; break;
  }
  fatal_handler(kind, what);
  return EXCEPTION_CONTINUE_SEARCH;
}

void on_abort(int) { fatal_handler(PLATFORM_FATAL_ABORT, "abort()"); }

}  // namespace

void platform_raise_uncaught(const char* text) {
  const ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(text);
  RaiseException(PLATFORM_UNCAUGHT_EXCEPTION, EXCEPTION_NONCONTINUABLE, 1, &argument);
  abort();
}

void platform_on_fatal(platform_fatal_handler handler) {
  fatal_handler = handler;
  SetUnhandledExceptionFilter(on_unhandled);
  signal(SIGABRT, on_abort);
}

void platform_write_error(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(strlen(text)), &written,
            nullptr);
}

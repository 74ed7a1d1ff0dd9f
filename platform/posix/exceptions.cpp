#include "platform/exceptions.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

void platform_raise_noncontinuable(unsigned) {
  // abort() cannot be resumed: a SIGABRT handler that returns still ends the process.
  abort();
}

int platform_raise_signal(int signal_number) { return raise(signal_number); }

namespace {

platform_fatal_handler fatal_handler;
// A stack for the handler, so that a stack overflow is reported as well.
alignas(16) char fatal_stack[64 * 1024];

void on_fatal_signal(int signal_number) {
  const char* what = signal_number == SIGSEGV  ? "invalid memory access"
                     : signal_number == SIGBUS ? "invalid memory access (bus error)"
                     : signal_number == SIGFPE ? "arithmetic fault"
                     : signal_number == SIGILL ? "illegal instruction"
                                               : "abort()";
  fatal_handler(signal_number == SIGABRT ? PLATFORM_FATAL_ABORT : PLATFORM_FATAL_CRASH, what);
}

}  // namespace

void platform_raise_uncaught(const char* text) {
  platform_write_error(text);
  platform_write_error("\n");
  abort();
}

void platform_on_fatal(platform_fatal_handler handler) {
  fatal_handler = handler;
  stack_t stack = {};
  stack.ss_sp = fatal_stack;
  stack.ss_size = sizeof fatal_stack;
  sigaltstack(&stack, nullptr);
  struct sigaction action = {};
  action.sa_handler = on_fatal_signal;
  action.sa_flags = SA_ONSTACK | SA_RESETHAND;  // a fault inside the handler ends the process
  sigemptyset(&action.sa_mask);
  const int signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
  for (int signal_number : signals) sigaction(signal_number, &action, nullptr);
}

void platform_write_error(const char* text) {
  size_t left = strlen(text);
  while (left > 0) {
    const ssize_t n = write(2, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

#include "platform/exceptions.h"

#include <signal.h>
#include <stdlib.h>
#include <windows.h>

void platform_raise_noncontinuable(unsigned code) {
  RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  // A handler that tried to continue gets a second exception; never come back regardless.
  abort();
}

int platform_raise_signal(int signal_number) { return raise(signal_number); }

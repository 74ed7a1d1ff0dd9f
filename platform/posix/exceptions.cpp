#include "platform/exceptions.h"

#include <signal.h>
#include <stdlib.h>

void platform_raise_noncontinuable(unsigned) {
  // abort() cannot be resumed: a SIGABRT handler that returns still ends the process.
  abort();
}

int platform_raise_signal(int signal_number) { return raise(signal_number); }

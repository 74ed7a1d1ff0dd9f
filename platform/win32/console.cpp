#include "platform/console.h"

#include <windows.h>

namespace {
HANDLE input_handle() {
  HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}
}  // namespace

int platform_console_input_mode_get(unsigned int* mode) {
  HANDLE h = input_handle();
  DWORD m = 0;
  if (!mode || !h || !GetConsoleMode(h, &m)) return 0;
  *mode = m;
  return 1;
}

int platform_console_input_mode_set(unsigned int mode) {
  HANDLE h = input_handle();
  return h && SetConsoleMode(h, mode) ? 1 : 0;
}

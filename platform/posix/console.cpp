#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

// The terminal's local flags shown in the console's mode bits.
namespace {
constexpr unsigned kProcessedInput = 0x1, kLineInput = 0x2;
}

int platform_console_input_mode_get(unsigned int* mode) {
  termios t{};
  if (!mode || tcgetattr(STDIN_FILENO, &t) != 0) return 0;
  *mode = ((t.c_lflag & ISIG) ? kProcessedInput : 0) | ((t.c_lflag & ICANON) ? kLineInput : 0) |
          ((t.c_lflag & ECHO) ? PLATFORM_CONSOLE_ECHO : 0);
  return 1;
}

int platform_console_input_mode_set(unsigned int mode) {
  termios t{};
  if (tcgetattr(STDIN_FILENO, &t) != 0) return 0;
  auto apply = [&](tcflag_t flag, bool on) {
    t.c_lflag = on ? (t.c_lflag | flag) : (t.c_lflag & ~flag);
  };
  apply(ISIG, mode & kProcessedInput);
  apply(ICANON, mode & kLineInput);
  apply(ECHO, mode & PLATFORM_CONSOLE_ECHO);
  return tcsetattr(STDIN_FILENO, TCSANOW, &t) == 0;
}

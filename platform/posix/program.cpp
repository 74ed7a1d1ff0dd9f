#include "platform/program.h"

#include <unistd.h>

size_t platform_program_path(char* out, size_t out_size) {
  if (!out || out_size < 2) return 0;
  const ssize_t n = readlink("/proc/self/exe", out, out_size - 1);
  if (n <= 0 || static_cast<size_t>(n) >= out_size - 1) return 0;
  out[n] = '\0';
  return static_cast<size_t>(n);
}

char** platform_program_utf8_args(int, char** argv) { return argv; }

void platform_console_utf8(void) {}

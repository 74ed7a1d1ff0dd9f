#include "platform/program.h"

#include <stdlib.h>
#include <windows.h>
#include <shellapi.h>

namespace {
// UTF-16 to a new UTF-8 string (malloc); null on failure.
char* utf8_dup(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return nullptr;
  char* out = static_cast<char*>(malloc(static_cast<size_t>(n)));
  if (out && WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, n, nullptr, nullptr) != n) {
    free(out);
    return nullptr;
  }
  return out;
}
}  // namespace

size_t platform_program_path(char* out, size_t out_size) {
  if (!out || out_size < 2) return 0;
  wchar_t wide[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, wide, MAX_PATH * 2);
  if (n == 0 || n >= MAX_PATH * 2) return 0;
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, static_cast<int>(out_size), nullptr, nullptr);
  return bytes > 0 ? static_cast<size_t>(bytes - 1) : 0;
}

char** platform_program_utf8_args(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide || count != argc) {
    if (wide) LocalFree(wide);
    return argv;
  }
  char** out = static_cast<char**>(calloc(static_cast<size_t>(argc) + 1, sizeof(char*)));
  for (int i = 0; out && i < argc; ++i) {
    out[i] = utf8_dup(wide[i]);
    if (!out[i]) out[i] = argv[i];
  }
  LocalFree(wide);
  return out ? out : argv;
}

void platform_console_utf8(void) {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

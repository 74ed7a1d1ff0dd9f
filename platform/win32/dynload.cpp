#include "platform/dynload.h"

#include <stdio.h>
#include <windows.h>

namespace {
char last_error[64];

void remember_error() {
  snprintf(last_error, sizeof last_error, "Windows error %lu", GetLastError());
}
}  // namespace

platform_library* platform_library_open(const char* path) {
  HMODULE module = LoadLibraryA(path);
  if (!module) remember_error();
  return reinterpret_cast<platform_library*>(module);
}

void* platform_library_symbol(platform_library* library, const char* name) {
  if (!library) return nullptr;
  FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(library), name);
  if (!address) remember_error();
  return reinterpret_cast<void*>(address);
}

int platform_library_close(platform_library* library) {
  return library && FreeLibrary(reinterpret_cast<HMODULE>(library)) ? 0 : -1;
}

const char* platform_library_error(void) { return last_error; }

#include "platform/dynload.h"

#include <dlfcn.h>

platform_library* platform_library_open(const char* path) {
  return static_cast<platform_library*>(dlopen(path, RTLD_NOW | RTLD_LOCAL));
}

void* platform_library_symbol(platform_library* library, const char* name) {
  return library ? dlsym(library, name) : nullptr;
}

int platform_library_close(platform_library* library) { return library ? dlclose(library) : -1; }

const char* platform_library_error(void) {
  const char* reason = dlerror();
  return reason ? reason : "";
}

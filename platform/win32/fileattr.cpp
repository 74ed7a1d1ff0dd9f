#include "platform/fileattr.h"

#include <windows.h>

uint32_t platform_file_attributes(const char* path) {
  if (!path) return PLATFORM_INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesA(path);
}

#include "platform/fileattr.h"

#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

uint32_t platform_file_attributes(const char* path) {
  if (!path || !*path) return PLATFORM_INVALID_FILE_ATTRIBUTES;
  // Backslashes separate components, as they do for the Windows call.
  char native[PATH_MAX];
  size_t length = strlen(path);
  if (length >= sizeof native) return PLATFORM_INVALID_FILE_ATTRIBUTES;
  for (size_t i = 0; i <= length; ++i) native[i] = path[i] == '\\' ? '/' : path[i];
  struct stat info;
  if (stat(native, &info) != 0) return PLATFORM_INVALID_FILE_ATTRIBUTES;
  if (S_ISDIR(info.st_mode)) return PLATFORM_FILE_ATTRIBUTE_DIRECTORY;
  if (!S_ISREG(info.st_mode)) return PLATFORM_FILE_ATTRIBUTE_DEVICE;
  return access(native, W_OK) == 0 ? PLATFORM_FILE_ATTRIBUTE_NORMAL
                                   : PLATFORM_FILE_ATTRIBUTE_READONLY;
}

// File attributes of a path (GetFileAttributesA on Windows; the same answer from stat elsewhere).
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
enum {
  PLATFORM_FILE_ATTRIBUTE_READONLY = 0x01,
  PLATFORM_FILE_ATTRIBUTE_DIRECTORY = 0x10,
  PLATFORM_FILE_ATTRIBUTE_DEVICE = 0x40,  // not a plain file: a device, a pipe, a socket
  PLATFORM_FILE_ATTRIBUTE_NORMAL = 0x80,
};
#define PLATFORM_INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

// The attribute bits of `path`, or PLATFORM_INVALID_FILE_ATTRIBUTES when the query fails.
// A backslash separates path components on every platform.
uint32_t platform_file_attributes(const char* path);
KEL_END_C

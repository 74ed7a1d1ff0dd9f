// Loading a dynamic library and finding its symbols (dlopen / LoadLibrary).
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
typedef struct platform_library platform_library;

// Loads the library at `path`; null on failure, with the platform's reason in
// platform_library_error().
platform_library* platform_library_open(const char* path);
// The address of an exported symbol, or null.
void* platform_library_symbol(platform_library* library, const char* name);
// Unloads the library; 0 on success.
int platform_library_close(platform_library* library);
// The reason of the last failed open or look-up, as text (valid until the next call).
const char* platform_library_error(void);
KEL_END_C

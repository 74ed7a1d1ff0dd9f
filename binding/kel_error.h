// Toolkit status codes shared with the host.
#pragma once
#include "platform/kel_base.h"

typedef int32_t KelError;

#ifdef __cplusplus
enum : KelError {
#else
enum {
#endif
#define KEL_STATUS(name, value) name = value,
#include "binding/kel_status.def"
};

// The hand-shake's result when the host is older than the plug-in; it has no name.
#define KEL_VERSION_MISMATCH (-96)

KEL_BEGIN_C
// The name of a status, or "" for a value outside the name table. Never null.
const char* kel_error_name(KelError status);
KEL_END_C

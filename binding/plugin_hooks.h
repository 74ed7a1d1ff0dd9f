// The application hooks: the binding reaches the application a plug-in builds on it only through
// these two functions, which the application defines (the CsysList command in app/).
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C

// Called at the end of an accepted hand-shake with the host's first two arguments, the external
// name of the host's release, the host's build and its message buffer; the result is the
// hand-shake's.
int kel_app_initialize(void* arg1, void* arg2, const char* release_name, const char* build,
                       kel_wchar* message_buffer);
// Called by user_terminate_plus; the result is the termination's.
int kel_app_terminate(void);

KEL_END_C

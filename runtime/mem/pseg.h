// Protected memory segments: the calls the heap makes for a pointer that lies in one.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// 1 when `ptr` is the user pointer of a protected segment.
int pseg_contains(const void* ptr);
// User size of the segment at `ptr`.
int pseg_user_size(const void* ptr);
void pseg_release(void* ptr);
// Dumps the segment; non-zero when it fails its own check.
int pseg_dump(const void* ptr);
KEL_END_C

// The text that names a C++ exception, the same in the module and in mirax.
#pragma once
#include <stddef.h>

// Describes the exception being handled (call it inside a catch block) as "TYPE: MESSAGE", the
// message being what() of a std::exception, or as "TYPE" for any other; at most `size` bytes
// with the terminating zero go to `out`.
void kel_describe_current_exception(char* out, size_t size);

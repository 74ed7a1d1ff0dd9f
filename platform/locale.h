// The process locale and environment assignments (setlocale / putenv).
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// Sets every category of the process locale to `name`; 1 on success, 0 when the platform has no
// such locale (the locale is then unchanged). Language names such as "japanese" or "korean" are
// matched to an installed locale of that language where the platform does not know them by that
// name.
int platform_locale_set_all(const char* name);
// Sets the numeric category to "C".
void platform_locale_numeric_c(void);
// The name of the current character-type (which = 0) or numeric (which = 1) category.
const char* platform_locale_current(int which);
// The double-byte code page (932, 936, 949 or 950) that multibyte text of a custom locale is in,
// or 0 when it is none of them: on Windows the system code page, elsewhere the code page of the
// character set of the current character-type locale.
int platform_locale_double_byte_code_page(void);
// Puts "NAME=value" into the process environment, for this process and its children.
// The platform may keep using `assignment`, which must stay valid until it is replaced.
int platform_env_put(char* assignment);
// Removes a variable from the process environment.
int platform_env_remove(const char* name);
KEL_END_C

// The session language and the process locale.
#pragma once
#include "runtime/kel_base.h"

KEL_BEGIN_C
int lang_code_get(void);
// The name of the first language-table row with that code; "" when there is none.
const char* lang_name_from_code(int code);
KEL_END_C

#include "platform/locale.h"

#include <windows.h>

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>

int platform_locale_set_all(const char* name) { return name && setlocale(LC_ALL, name) ? 1 : 0; }

void platform_locale_numeric_c(void) { setlocale(LC_NUMERIC, "C"); }

const char* platform_locale_current(int which) {
  const char* name = setlocale(which == 1 ? LC_NUMERIC : LC_CTYPE, nullptr);
  return name ? name : "";
}

int platform_locale_double_byte_code_page(void) {
  const UINT cp = GetACP();
  return cp == 932 || cp == 936 || cp == 949 || cp == 950 ? static_cast<int>(cp) : 0;
}

int platform_env_put(char* assignment) { return assignment && _putenv(assignment) == 0; }

int platform_env_remove(const char* name) {
  if (!name) return 0;
  // "NAME=" removes the variable; the runtime keeps its own copy of the assignment.
  char assignment[128];
  int n = snprintf(assignment, sizeof assignment, "%s=", name);
  return n > 0 && n < static_cast<int>(sizeof assignment) && _putenv(assignment) == 0;
}

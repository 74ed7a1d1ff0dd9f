// BOOTSTRAP ONLY: minimal bodies so that the tree links before the print engine lands. Delete when replaced.
#include <string.h>
#include "runtime/text/kel_printf.h"
#include "runtime/text/mbconv.h"

static char bootstrap_buffer[4096];

char* kel_vsprintf(char* out, const char* format, va_list args) {
  char* dst = out ? out : bootstrap_buffer;
  if (vsnprintf(dst, out ? 100000 : sizeof bootstrap_buffer, format, args) < 0) return nullptr;
  return dst;
}
char* kel_sprintf(char* out, const char* format, ...) {
  va_list ap; va_start(ap, format);
  char* r = kel_vsprintf(out, format, ap);
  va_end(ap); return r;
}
int kel_sprintf_wide(kel_wchar* wide_out, const char* format, ...) {
  va_list ap; va_start(ap, format);
  char* r = kel_vsprintf(nullptr, format, ap);
  va_end(ap);
  if (!r) return 0;
  strtows(wide_out, r);
  return (int)strlen(r);
}
int message_print(const char* format, ...) {
  va_list ap; va_start(ap, format);
  char* r = kel_vsprintf(nullptr, format, ap);
  va_end(ap);
  if (!r) return 0;
  fputs(r, stdout);
  return (int)strlen(r);
}

// Allocating copies of 8-bit and wide text, and the wide form of an integer.
#include <string.h>

#include "platform/ascii.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/mbconv.h"

namespace {

int wide_length(const kel_wchar* wide) {
  int n = 0;
  while (wide[n]) ++n;
  return n;
}

template <typename Char>
Char* copy_of(const Char* source, int length, bool upper) {
  auto* copy = static_cast<Char*>(getmem((length + 1) * static_cast<int>(sizeof(Char))));
  for (int i = 0; i < length; ++i) {
    copy[i] = upper ? ascii_upper(source[i]) : source[i];
  }
  copy[length] = 0;
  return copy;
}

kel_wchar int_text[16];

}  // namespace

char* text_dup(const char* text) {
  return text ? copy_of(text, static_cast<int>(strlen(text)), false) : nullptr;
}

kel_wchar* wide_dup(const kel_wchar* wide) {
  return wide ? copy_of(wide, wide_length(wide), false) : nullptr;
}

char* text_dup_upper(const char* text) {
  return text ? copy_of(text, static_cast<int>(strlen(text)), true) : nullptr;
}

kel_wchar* wide_dup_upper(const kel_wchar* wide) {
  return wide ? copy_of(wide, wide_length(wide), true) : nullptr;
}

// The conversion may report a failure, and a report may run out of memory: until the copy is
// handed over, a jump releases it.
kel_wchar* text_to_new_wide(const char* text) {
  if (!text) return nullptr;
  trap_block held;
  auto* wide =
      static_cast<kel_wchar*>(trap_block_get(&held, 2 * static_cast<int>(strlen(text)) + 2));
  strtows(wide, text);
  return static_cast<kel_wchar*>(trap_block_keep(&held));
}

char* wide_to_new_text(const kel_wchar* wide) {
  if (!wide) return nullptr;
  trap_block held;
  auto* text = static_cast<char*>(trap_block_get(&held, 3 * wide_length(wide) + 1));
  wstostr(text, wide);
  return static_cast<char*>(trap_block_keep(&held));
}

kel_wchar* int_to_wide_text(int n) {
  char text[16];
  kel_sprintf(text, "%d", n);
  return strtows(int_text, text);
}

// Date texts: whatever pdate_parse accepts, pdate_format writes back in a form that
// pdate_parse reads to the same record.
#include <stdint.h>
#include <string.h>

#include <string>

#include "runtime/time/ptime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data),
                         strnlen(reinterpret_cast<const char*>(data), size));
  pdate first = {}, second = {};
  if (!pdate_parse(text.c_str(), &first)) return 0;
  char written[32];
  pdate_format(&first, written);
  if (!pdate_parse(written, &second)) __builtin_trap();
  if (first.day != second.day || first.month != second.month || first.year != second.year ||
      first.hours != second.hours || first.minutes != second.minutes ||
      first.seconds != second.seconds)
    __builtin_trap();
  return 0;
}

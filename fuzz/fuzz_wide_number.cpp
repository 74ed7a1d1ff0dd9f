// The wide number tests on any text: every integer is also a real.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  lang_code_set(data[0] & 1 ? 1 : 0);
  std::vector<kel_wchar> wide;
  for (size_t i = 1; i < size; ++i) {
    // Mostly the characters numbers are made of, now and then any unit.
    kel_wchar wc;
    if (data[i] < 0xF0) {
      wc = static_cast<kel_wchar>(" \t+-.eE0123456789x"[data[i] % 18]);
    } else {
      unsigned hi = data[i];
      unsigned lo = i + 1 < size ? data[++i] : 0;
      wc = static_cast<kel_wchar>(hi << 8 | lo);
    }
    if (wc == 0) break;
    wide.push_back(wc);
  }
  wide.push_back(0);
  int integer = wide_is_integer(wide.data());
  int real = wide_is_real(wide.data());
  if ((integer != 0 && integer != 1) || (real != 0 && real != 1)) abort();
  if (integer && !real) abort();
  return 0;
}

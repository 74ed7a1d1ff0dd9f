// Wide text of any content to 8-bit text in each regime and back, within the sizes callers provide.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "runtime/mem/mem.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"

namespace {
constexpr int kCodes[] = {0, 1, 4, 6, 8, 9, 10};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  lang_code_set(kCodes[data[0] % (sizeof kCodes / sizeof kCodes[0])]);
  std::vector<kel_wchar> wide;
  for (size_t i = 1; i + 1 < size; i += 2) {
    kel_wchar wc = static_cast<kel_wchar>(data[i] | data[i + 1] << 8);
    if (wc == 0) break;
    wide.push_back(wc);
  }
  wide.push_back(0);
  const size_t n = wide.size() - 1;

  // Every unit gives at least one byte: a character with no form becomes the default byte.
  std::vector<char> text(4 * n + 1);
  wstostr(text.data(), wide.data());
  if (strlen(text.data()) < n) abort();
  char* copy = wide_to_new_text(wide.data());
  if (strcmp(copy, text.data()) != 0) abort();
  std::vector<kel_wchar> back(strlen(text.data()) + 1);
  strtows(back.data(), text.data());
  rlsmem(copy);

  // Character by character, as the tests and the hexadecimal forms do.
  for (size_t i = 0; i < n; ++i) {
    char one[4];
    int k = kel_wctomb(one, wide[i]);
    if (k < -1 || k == 0 || k > 3) abort();
    char hex[8];
    wide_to_jis_hex(hex, &wide[i]);
    if (strlen(hex) != 4) abort();
  }
  return 0;
}

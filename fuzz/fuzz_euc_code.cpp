// The EUC byte decoder on bytes of any value and length: it reads only the bytes it is given, and
// each process code it gives writes back to bytes that decode to the same code.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> bytes(data, data + size);  // exactly the input: no terminator behind it
  kel_wchar code = 0;
  int used = euc_bytes_to_code(&code, bytes.data(), static_cast<int>(size));
  if (used < 0 || used > 3 || static_cast<size_t>(used) > size) abort();
  if (used > 0) {
    char out[4];
    int n = euc_code_to_bytes(out, code);
    kel_wchar again = 0;
    if (euc_bytes_to_code(&again, out, n) != n || again != code) abort();
  }
  // The same bytes through the Japanese string reader, terminated.
  lang_code_set(1);
  bytes.push_back(0);
  std::vector<kel_wchar> wide(size + 1);
  euc_str_to_unicode_str(wide.data(), bytes.data());
  return 0;
}

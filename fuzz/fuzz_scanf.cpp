// Scans arbitrary input text with a few fixed formats, wide-string and count targets included.
#include <stdint.h>
#include <string.h>

#include <string>

#include "runtime/text/kel_printf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int i1 = 0, i2 = 0, n = 0;
  double d = 0;
  float f = 0;
  char s[64];
  kel_wchar w1[64], w2[64];
  kel_sscanf(text.c_str(), "%d %63ws%n %lf", &i1, w1, &n, &d);
  kel_sscanf(text.c_str(), "%63[^,],%63ws %x %g", s, w1, &i2, &f);
  kel_sscanf(text.c_str(), "%*s %63WS %n%63ws %li", w1, &n, w2, &i2);
  kel_sscanf(text.c_str(), "%c%62s%%%o %le", s, s + 1, &i1, &d);
  // The input as wide text, and as a (possibly refused) format for a scan of fixed text.
  std::u16string wide(text.begin(), text.end());
  kel_wsscanf(wide.c_str(), "%d %63ws", &i1, w1);
  return 0;
}

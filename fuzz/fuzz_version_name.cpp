// The version-name routines on any text: results agree with a plain reading of the rules and
// every output stays inside its 256-unit buffer (exactly sized heap blocks).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/version/version.h"

namespace {

// The rule read plainly: optional "-", then digits without a leading zero (after "-" any
// digit), and a value within 16 bits.
bool reference_version(const std::string& s) {
  size_t i = s[0] == '-' ? 1 : 0;
  if (i >= s.size()) return false;
  for (size_t j = i; j < s.size(); ++j)
    if (s[j] < '0' || s[j] > '9') return false;
  if (i == 0 && s[0] == '0') return false;
  const size_t digits = s.find_first_not_of('0', i);  // leading zeros after "-" add nothing
  if (digits != std::string::npos && s.size() - digits > 6) return false;
  const long value = strtol(s.c_str(), nullptr, 10);
  return value >= -32768 && value <= 32767;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name;
  for (size_t i = 0; i < size; ++i)
    name += data[i] < 0xC0 ? "0123456789-.aB\\/x"[data[i] % 17] : (char)data[i];
  if (name.find('\0') != std::string::npos) return 0;

  if (is_version_number(name.c_str()) != reference_version(name)) abort();
  const std::u16string wide(name.begin(), name.end());
  if (is_version_number_wide(wide.c_str()) != is_version_number(name.c_str())) abort();

  const bool fits = name.size() < VERSION_PATH_MAX;
  std::vector<char> out(VERSION_PATH_MAX);
  strip_version(name.c_str(), out.data());
  if (fits ? name.compare(0, strlen(out.data()), out.data()) != 0 : out[0] != 0) abort();
  strip_extension(name.c_str(), out.data());
  if (fits ? name.compare(0, strlen(out.data()), out.data()) != 0 : out[0] != 0) abort();
  const int version = split_version(name.c_str(), out.data());
  if (version < 0 || version > 32767 || (!fits && out[0] != 0)) abort();
  if (fits && version > 0 && name.compare(name.size() - 1, 1, "\\") == 0) abort();

  std::vector<kel_wchar> wout(VERSION_PATH_MAX);
  lower_file_part(wide.c_str(), wout.data());
  size_t length = 0;
  while (wout[length]) ++length;
  if (length != (fits ? name.size() : 0)) abort();
  strip_version_wide(wide.c_str(), wout.data());
  strip_extension_wide(wide.c_str(), wout.data());
  return 0;
}

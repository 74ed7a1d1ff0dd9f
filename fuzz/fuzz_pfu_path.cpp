// The portable-path routines on any two texts: outputs stay inside their 256-byte buffers
// (exactly sized heap blocks, so AddressSanitizer sees any byte past them) and keep their forms.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/file/pfu.h"

namespace {

std::vector<char> copy_of(const std::string& s) {
  return std::vector<char>(s.c_str(), s.c_str() + s.size() + 1);
}

bool has_separator(const char* s) { return strpbrk(s, "|/\\") != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Mostly path characters, split into two texts at the first "#".
  std::string text;
  for (size_t i = 0; i < size; ++i)
    text += data[i] < 0xC0 ? "ab|/\\:. \t#Cz"[data[i] % 12] : (char)data[i];
  const size_t cut = text.find('#');
  const std::string first = text.substr(0, cut),
                    second = cut == std::string::npos ? "" : text.substr(cut + 1);

  std::vector<char> out(PFU_PATH_MAX);
  const int joined = pfu_cat_path(first.c_str(), second.c_str(), out.data());
  if (strlen(out.data()) >= PFU_PATH_MAX) abort();
  if (joined != (first.size() + second.size() + 1 <= PFU_PATH_MAX - 1)) abort();
  if (joined && strncmp(out.data(), first.c_str(), first.empty() ? 0 : first.size() - 1) != 0)
    abort();

  std::vector<char> normal = copy_of(first);
  const int clean = pfu_path_normalize(normal.data());
  const size_t blank = first.find_first_of(" \t");
  if (clean != (blank == std::string::npos)) abort();
  if (clean && (strpbrk(normal.data(), "/\\") || strlen(normal.data()) + 1 < first.size())) abort();

  std::vector<char> absolute = copy_of(first);
  const int is_absolute = pfu_abs_path(absolute.data());
  if (is_absolute && absolute[0] != '|' && absolute[1] != ':') abort();

  std::vector<char> child = copy_of(first), parent = copy_of(second), rest(first.size() + 1);
  if (pfu_is_parent_path(child.data(), parent.data(), rest.data()) &&
      strlen(rest.data()) > strlen(child.data()))
    abort();

  std::vector<char> native = copy_of(first);
  pfu_path_to_native(native.data(), PFU_Backslash_Form);
  if (strchr(native.data(), '|')) abort();
  pfu_path_convert_separators(native.data(), PFU_Slash_Form);
  if (strpbrk(native.data(), "|\\")) abort();

  const char* tail = pfu_path_tail(first.c_str());
  if (first.empty() != (tail == nullptr)) abort();
  if (tail && (tail < first.c_str() || has_separator(tail))) abort();

  std::vector<char> full(PFU_PATH_MAX);
  if (pfu_full_path(first.c_str(), full.data()) == PFU_SUCCESS &&
      strlen(full.data()) >= PFU_PATH_MAX)
    abort();
  return 0;
}

// Status texts, the error-number mapping and the portable path routines.
#include <errno.h>
#include <string.h>

#include "platform/ascii.h"
#include "runtime/diag/diag.h"
#include "runtime/file/pfu.h"

namespace {

constexpr const char* kStatusText[] = {
#define PFU_STATUS(name, value, text) text,
#include "runtime/file/pfu_status.def"
};
static_assert(sizeof kStatusText / sizeof kStatusText[0] == PFU_STATUS_COUNT);

// The texts are indexed by value: the values run from 0 in the order of the rows.
constexpr bool values_in_row_order() {
  int next = 0;
#define PFU_STATUS(name, value, text) \
  if (name != next++) return false;
#include "runtime/file/pfu_status.def"
  return true;
}
static_assert(values_in_row_order());

bool is_separator(char c) { return c == '|' || c == '/' || c == '\\'; }

}  // namespace

const char* pfu_status_to_msg(int status) {
  if (status < 0 || status >= PFU_STATUS_COUNT) {
    report_fatal("pfu_status_to_msg", nullptr);
    return "UNDEFINED STATUS";
  }
  return kStatusText[status];
}

// By symbolic name: the numbers differ between the C libraries of the two platforms.
int pfu_errno_status(void) {
  // clang-format off
  switch (errno) {
#define PFU_STATUS(name, value, text)
#define PFU_ERRNO(error_number, status) case error_number: return status;
#include "runtime/file/pfu_status.def"
    default: return PFU_TRAP;
  }
  // clang-format on
}

int pfu_path_normalize(char* path) {
  if (!path) return 0;
  char* p = path;
  for (; *p; ++p) {
    if (*p == ' ' || *p == '\t') return 0;
    if (*p == '/' || *p == '\\') *p = '|';
  }
  if (p > path && p[-1] == '|') p[-1] = 0;
  return 1;
}

void pfu_path_to_native(char* path, int mode) {
  if (!path || (mode != PFU_Slash_Form && mode != PFU_Backslash_Form)) return;
  const char native = mode == PFU_Slash_Form ? '/' : '\\';
  for (char* p = path; *p; ++p)
    if (*p == '|') *p = native;
}

void pfu_path_convert_separators(char* path, int mode) {
  if (!path || (mode != PFU_Slash_Form && mode != PFU_Backslash_Form)) return;
  const char native = mode == PFU_Slash_Form ? '/' : '\\';
  for (char* p = path; *p; ++p)
    if (is_separator(*p)) *p = native;
}

char* pfu_path_tail(const char* path) {
  if (!path || !*path) return nullptr;
  const char* tail = path;
  for (const char* p = path; *p; ++p)
    if (is_separator(*p)) tail = p + 1;
  return const_cast<char*>(tail);
}

int pfu_cat_path(const char* directory, const char* name, char* out) {
  if (!directory) directory = "";
  if (!name) name = "";
  const size_t dir_length = strlen(directory), name_length = strlen(name);
  if (dir_length + name_length + 1 > PFU_PATH_MAX - 1) {
    report_error_level("pfu_cat_path", 'A', "Overflow!");
    out[0] = 0;
    return 0;
  }
  // The parts may overlap the output: the name is saved before the directory moves.
  char saved_name[PFU_PATH_MAX];
  memcpy(saved_name, name, name_length + 1);
  memmove(out, directory, dir_length + 1);
  size_t length = dir_length;
  if (dir_length && name_length) {
    if (is_separator(out[length - 1])) --length;
    out[length++] = '|';
  }
  memcpy(out + length, saved_name, name_length + 1);
  return 1;
}

int pfu_abs_path(char* path) {
  if (!path) return 0;
  pfu_path_normalize(path);
  if (ascii_is_letter(path[0]) && path[1] == ':') {
    if (path[2] != '|')
      report_fatal("pfu_abs_path", "relative paths of the form 'd:rel_path' are not recognized.");
    return 1;
  }
  return path[0] == '|';
}

int pfu_is_parent_path(char* child, char* parent, char* rest) {
  if (!child || !*child) {
    report_fatal("pfu_is_parent_path", "child path cannot be empty.");
    return 0;
  }
  pfu_path_normalize(child);
  const size_t parent_length = parent ? strlen(parent) : 0;
  if (parent_length) pfu_path_normalize(parent);
  const size_t p = parent ? strlen(parent) : 0, c = strlen(child);
  if (c < p) return 0;
  if (p) {
    if (strncmp(child, parent, p) != 0) return 0;
    if (c > p && parent[p - 1] != '|' && child[p] != '|') return 0;
  }
  if (rest) {
    const char* after = child + p;
    if (*after == '|') ++after;
    memmove(rest, after, strlen(after) + 1);
  }
  return 1;
}

int pfu_getcwd(char* out) {
  char native[1024];
  out[0] = 0;
  if (!platform_getcwd(native, sizeof native))
    return errno == ERANGE ? PFU_NAME_TOO_LONG : pfu_errno_status();
  const size_t length = strlen(native);
  if (length >= PFU_PATH_MAX) return PFU_NAME_TOO_LONG;
  // Separators only: a root directory keeps its "|".
  for (size_t i = 0; i <= length; ++i)
    out[i] = native[i] == '/' || native[i] == '\\' ? '|' : native[i];
  return PFU_SUCCESS;
}

int pfu_full_path(const char* name, char* out) {
  char local[PFU_PATH_MAX];
  out[0] = 0;
  if (!name || strlen(name) >= PFU_PATH_MAX) return PFU_NAME_TOO_LONG;
  strcpy(local, name);
  if (pfu_abs_path(local)) {
    strcpy(out, local);
    return PFU_SUCCESS;
  }
  char cwd[PFU_PATH_MAX];
  const int status = pfu_getcwd(cwd);
  if (status != PFU_SUCCESS) return status;
  // A joined path that does not fit is a failure, not an empty success.
  return pfu_cat_path(cwd, local, out) ? PFU_SUCCESS : PFU_NAME_TOO_LONG;
}

// Version numbers and the helpers that cut and lower the parts of a file name.
#include <string.h>

#include "platform/ascii.h"
#include "runtime/version/version.h"

namespace {

template <typename Ch>
int length_of(const Ch* s) {
  int n = 0;
  while (s[n]) ++n;
  return n;
}

template <typename Ch>
bool is_separator(Ch c) {
  return c == '\\' || c == '/';
}

// Index of the file part: after the last separator.
template <typename Ch>
int file_part_start(const Ch* name, int length) {
  int start = 0;
  for (int i = 0; i < length; ++i)
    if (is_separator(name[i])) start = i + 1;
  return start;
}

// Index of the n-th point (1 or 2) of the file part, a leading point not counted; -1 if none.
template <typename Ch>
int nth_point(const Ch* name, int length, int n) {
  const int start = file_part_start(name, length);
  for (int i = start + 1; i < length; ++i)
    if (name[i] == '.' && --n == 0) return i;
  return -1;
}

// Copies `name` into `out` (VERSION_PATH_MAX units) cut at the n-th point of its file part;
// a name that does not fit leaves `out` empty.
template <typename Ch>
void cut_at_point(const Ch* name, Ch* out, int n) {
  if (!out) return;
  out[0] = 0;
  if (!name) return;
  const int length = length_of(name);
  if (length >= VERSION_PATH_MAX) return;
  const int point = nth_point(name, length, n);
  const int keep = point < 0 ? length : point;
  memmove(out, name, sizeof(Ch) * (size_t)keep);
  out[keep] = 0;
}

template <typename Ch>
int version_number_check(const Ch* text) {
  if (!text) return 0;
  const Ch* p = text;
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
    if (*p < '0' || *p > '9') return 0;
  } else if (*p < '1' || *p > '9') {
    return 0;
  }
  long value = 0;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + (*p - '0');
    if (value > 32768) return 0;  // no 16-bit value has more digits than this allows
  }
  return negative ? value <= 32768 : value <= 32767;
}

}  // namespace

int is_version_number(const char* text) { return version_number_check(text); }
int is_version_number_wide(const kel_wchar* text) { return version_number_check(text); }

int version_number_value(const char* text) {
  if (!is_version_number(text)) return 0;
  const bool negative = *text == '-';
  int value = 0;
  for (const char* p = negative ? text + 1 : text; *p; ++p) value = value * 10 + (*p - '0');
  return negative ? -value : value;
}

void strip_version(const char* name, char* out) { cut_at_point(name, out, 2); }
void strip_version_wide(const kel_wchar* name, kel_wchar* out) { cut_at_point(name, out, 2); }
void strip_extension(const char* name, char* out) { cut_at_point(name, out, 1); }
void strip_extension_wide(const kel_wchar* name, kel_wchar* out) { cut_at_point(name, out, 1); }

int split_version(const char* name, char* out) {
  if (!out) return 0;
  out[0] = 0;
  if (!name) return 0;
  const int length = length_of(name);
  if (length >= VERSION_PATH_MAX) return 0;
  memmove(out, name, (size_t)length + 1);
  if (length > 0 && out[length - 1] == '\\') {
    out[length - 1] = 0;
    return 0;
  }
  const int start = file_part_start(out, length);
  int point = -1;
  for (int i = length - 1; i > start; --i)
    if (out[i] == '.') {
      point = i;
      break;
    }
  if (point < 0 || point == length - 1) return 0;
  // All digits, and a value a version can hold; anything else stays part of the name.
  long value = 0;
  for (int i = point + 1; i < length; ++i) {
    if (out[i] < '0' || out[i] > '9') return 0;
    value = value * 10 + (out[i] - '0');
    if (value > 32767) return 0;
  }
  out[point] = 0;
  return (int)value;
}

void lower_file_part(const kel_wchar* path, kel_wchar* out) {
  if (!out) return;
  out[0] = 0;
  if (!path) return;
  const int length = length_of(path);
  if (length >= VERSION_PATH_MAX) return;
  const int start = file_part_start(path, length);
  for (int i = 0; i <= length; ++i) {
    const kel_wchar c = path[i];
    out[i] = i >= start ? ascii_lower(c) : c;
  }
}

// The scan family: the format is rewritten for the platform's sscanf, which does the scanning;
// wide-string targets are converted afterwards.
#include <limits.h>
#include <string.h>

#include <array>

#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/kel_printf_internal.h"
#include "runtime/text/mbconv.h"
#include "runtime/text/wstr.h"
#include "runtime/xar/xar.h"

using namespace kel_text;

namespace {

enum ScanKind { kInt = 1, kDouble = 2, kText = 3, kWide = 4, kCount = 6, kFloat = 7 };

constexpr ConversionRow scan_rows[] = {
    {"d", 1, nullptr, kInt},     {"f", 1, nullptr, kFloat},   {"lf", 2, nullptr, kDouble},
    {"le", 2, nullptr, kDouble}, {"lg", 2, nullptr, kDouble}, {"s", 1, nullptr, kText},
    {"ws", 2, "s", kWide},       {"e", 1, nullptr, kFloat},   {"g", 1, nullptr, kFloat},
    {"c", 1, nullptr, kInt},     {"i", 1, nullptr, kInt},     {"o", 1, nullptr, kInt},
    {"u", 1, nullptr, kInt},     {"x", 1, nullptr, kInt},     {"ld", 2, nullptr, kInt},
    {"li", 2, nullptr, kInt},    {"lo", 2, nullptr, kInt},    {"lu", 2, nullptr, kInt},
    {"lx", 2, nullptr, kInt},    {"n", 1, nullptr, kCount},
};

constexpr int kFormatLimit = 512;
constexpr int kMaxTargets = 20;
constexpr int kLineBuffer = 512;
constexpr int kWideArea = 512;

// The 8-bit form of the last text scanned by kel_wsscanf.
char* wide_scan_area = nullptr;

// The format as handed to the platform, with the kind of each assigning conversion.
struct Rewritten {
  char text[kFormatLimit + 2];
  std::array<int, kMaxTargets> kinds{};
  int targets = 0;
  bool wide = false;
};

void rewrite(const char* format, Rewritten& r) {
  char* o = r.text;
  const char* p = format;
  const auto copy = [&] { *o++ = *p++; };
  while (*p) {
    if (*p != '%') {
      copy();  // byte by byte, as the print engine scans its formats
      continue;
    }
    if (p[1] == '%') {
      copy();
      copy();
      continue;
    }
    copy();
    bool suppressed = false;
    int kind = 0;
    while (*p && !ascii_is_letter(*p) && *p != ']') {
      if (*p == '*') suppressed = true;
      if (*p == '[') {
        // A scan set is copied whole, letters included, up to its closing "]" (a "]" right after
        // "[" or "[^" belongs to the set).
        copy();
        if (*p == '^') copy();
        if (*p == ']') copy();
        while (*p && *p != ']') copy();
        if (*p) copy();
        kind = kText;
        break;
      }
      copy();
    }
    if (kind == 0) {
      if (*p == ']') {
        copy();
        kind = kText;
      } else if (const ConversionRow* row = *p ? find_conversion(scan_rows, p) : nullptr) {
        o = put_letters(o, *row, p);
        p += row->length;
        kind = row->kind;
      } else if (!*p) {
        continue;  // a lone "%" at the end takes no argument
      } else {
        kind = kInt;  // unknown letters stay in the text for the platform's scan
      }
    }
    if (suppressed) continue;
    if (r.targets < kMaxTargets) r.kinds[static_cast<size_t>(r.targets)] = kind;
    ++r.targets;
    if (kind == kWide) r.wide = true;
  }
  *o = 0;
}

// Replaces the 8-bit text the platform stored in a wide-string target by its wide form.
void widen_target(void* target) {
  const char* bytes = static_cast<const char*>(target);
  const size_t len = strlen(bytes);
  LocalOrHeap<kel_wchar, kWideArea> area;
  kel_wchar* wide = area.take(len + 1);
  wide[0] = 0;
  strtows(wide, bytes);
  memcpy(target, wide, (static_cast<size_t>(wide_len(wide)) + 1) * sizeof(kel_wchar));
  area.release();
}

int scan_line(FILE* stream, const char* format, va_list args) {
  char line[kLineBuffer];
  if (!fgets(line, kLineBuffer, stream)) return -1;
  return kel_vsscanf(line, format, args);
}

}  // namespace

int kel_vsscanf(const char* text, const char* format, va_list args) {
  if (!text || !format) return 0;
  if (strlen(format) > kFormatLimit) {
    fputs("kel_scanf   format too long \n", stdout);
    return 0;
  }
  Rewritten r;
  rewrite(format, r);
  if (r.targets > kMaxTargets) {
    // The platform's scan is given 20 argument slots; more targets cannot be served.
    fputs("Too many arguments to be processed by kel_scanf\n", stdout);
    return 0;
  }
  std::array<void*, kMaxTargets> slot{};
  for (int i = 0; i < r.targets; ++i) slot[static_cast<size_t>(i)] = va_arg(args, void*);
  const int result = sscanf(text, r.text, slot[0], slot[1], slot[2], slot[3], slot[4], slot[5],
                            slot[6], slot[7], slot[8], slot[9], slot[10], slot[11], slot[12],
                            slot[13], slot[14], slot[15], slot[16], slot[17], slot[18], slot[19]);
  if (r.wide) {
    int assigned = result;
    for (int i = 0; i < r.targets && assigned > 0; ++i) {
      const int kind = r.kinds[static_cast<size_t>(i)];
      if (kind == kCount) continue;
      if (kind == kWide) widen_target(slot[static_cast<size_t>(i)]);
      --assigned;
    }
  }
  return result;
}

int kel_scanf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = scan_line(stdin, format, args);
  va_end(args);
  return result;
}

int kel_fscanf(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = scan_line(stream, format, args);
  va_end(args);
  return result;
}

int kel_sscanf(const char* text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = kel_vsscanf(text, format, args);
  va_end(args);
  return result;
}

int kel_wsscanf(const kel_wchar* wide, const char* format, ...) {
  if (!wide) return 0;
  const int len = wide_len(wide);
  if (len > (INT_MAX - 1) / 4) return 0;  // no 8-bit form of it can be held
  const int need = wstostr_size(len);
  // Texts whose 8-bit form is larger than an xarray holds are scanned from a block of their own.
  trap_block held = {nullptr, 0};
  char* text;
  if (need <= XAR_MAX_BYTES) {
    xar_alloc_or_resize(&wide_scan_area, need, 1, 256);
    if (XAR_COUNT(&wide_scan_area) < need) return 0;  // out of memory, and no trap to go to
    text = wide_scan_area;
  } else {
    text = static_cast<char*>(trap_block_get(&held, need));
  }
  text[0] = 0;
  wstostr(text, wide);
  va_list args;
  va_start(args, format);
  const int result = kel_vsscanf(text, format, args);
  va_end(args);
  if (held.data) trap_block_release(&held);
  return result;
}

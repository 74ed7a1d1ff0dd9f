// The print engine: one conversion at a time is formatted by the platform's snprintf into a
// scratch area and appended to the output xarray.
#include "runtime/text/kel_printf.h"

#include <limits.h>
#include <math.h>
#include <string.h>

#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf_internal.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"
#include "runtime/text/mbconv_internal.h"
#include "runtime/text/wstr.h"
#include "runtime/xar/xar.h"

namespace kel_text {
namespace {

enum PrintKind { kInt = 1, kReal = 2, kText = 3, kWide = 4, kPath = 6, kPathFile = 7 };

constexpr ConversionRow print_rows[] = {
    {"d", 1, nullptr, kInt},   {"f", 1, nullptr, kReal}, {"lf", 2, nullptr, kReal},
    {"s", 1, nullptr, kText},  {"ws", 2, "s", kWide},    {"e", 1, nullptr, kReal},
    {"g", 1, nullptr, kReal},  {"c", 1, nullptr, kInt},  {"i", 1, nullptr, kInt},
    {"o", 1, nullptr, kInt},   {"u", 1, nullptr, kInt},  {"x", 1, nullptr, kInt},
    {"ld", 2, nullptr, kInt},  {"li", 2, nullptr, kInt}, {"lo", 2, nullptr, kInt},
    {"lu", 2, nullptr, kInt},  {"lx", 2, nullptr, kInt}, {"pd", 2, "s", kPath},
    {"pf", 2, "s", kPathFile},
};

constexpr int kFormatLimit = 500;
constexpr int kAreaStart = 500;
constexpr int kOutputExtension = 300;
constexpr int kPathBuffer = 256;

// A byte area that only grows.
struct Area {
  char* data = nullptr;
  int capacity = 0;
  char* reserve(int n) {
    if (n > capacity) {
      data = static_cast<char*>(data ? relocmem(data, n) : getmem(n));
      capacity = n;
    }
    return data;
  }
};

// Module-lifetime state. Two output xarrays are used in turn, so that the text returned by one call
// can be an argument of the next without being overwritten while it is read. A call made while
// another is formatting (a report about an over-long path, a conversion failure) uses a third one,
// so that it disturbs neither the text being built nor the previous result.
struct Engine {
  char* output[3] = {nullptr, nullptr, nullptr};
  int current = 0;
  int depth = 0;  // formatting calls under way; a trap's jump out of one puts it back
  Area scratch;
  Area conversion;

  // Starts a formatting call: picks and empties its output xarray.
  char** enter() {
    if (!output[0] && !output[1] && !output[2]) trap_word_register(&depth);
    char** out = &output[depth == 0 ? (current ^= 1) : 2];
    ++depth;
    if (!*out) {
      *out = static_cast<char*>(XAR_ALLOC(0, 1, kOutputExtension));
      scratch.reserve(kAreaStart);
      conversion.reserve(kAreaStart);
    } else {
      XAR_RESIZE(out, 0);
    }
    return out;
  }
  char* leave(char* result) {
    --depth;
    return result;
  }
};
Engine engine;

// The bytes the output xarray can still take before its terminator.
int room_left(char** out) { return XAR_MAX_BYTES - 1 - XAR_COUNT(out); }

// Formats one value into the scratch, growing it when the field does not fit; the length, or -1
// when the field is longer than `room` (the scratch is not grown for it) or cannot be formatted.
template <typename T>
int format_into(Area& scratch, int room, const char* spec, T value) {
  int n = snprintf(scratch.data, static_cast<size_t>(scratch.capacity), spec, value);
  if (n > room) return -1;
  if (n >= scratch.capacity) {
    scratch.reserve(n + 1);
    n = snprintf(scratch.data, static_cast<size_t>(scratch.capacity), spec, value);
  }
  return n;
}

// Appends n bytes; false when the result would not fit in the output xarray with its terminator
// (nothing is appended), or when memory ran out and no trap took the break.
bool append(char** out, const char* bytes, int n) {
  return n <= room_left(out) && (n == 0 || XAR_APPEND(out, n, bytes));
}

}  // namespace

void exponent_trim(char* number, const char* spec) {
  char* e = strchr(number, 'e');
  if (!e) e = strchr(number, 'E');
  if (!e) return;
  char* digit = e + 1;
  if (*digit == '+' || *digit == '-') ++digit;
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  if (digit[0] != '0' || !is_digit(digit[1]) || !is_digit(digit[2])) return;
  memmove(digit, digit + 1, strlen(digit + 1) + 1);

  const char* w = spec + 1;
  const bool left = *w == '-';
  if (left) {
    ++w;
  } else if (*w && !is_digit(*w)) {
    ++w;
  }
  int width = 0;
  while (is_digit(*w)) width = width * 10 + (*w++ - '0');
  const int len = static_cast<int>(strlen(number));
  if (len >= width) return;
  if (left) {
    number[len] = ' ';
    number[len + 1] = 0;
  } else {
    memmove(number + 1, number, static_cast<size_t>(len) + 1);
    number[0] = ' ';
  }
}

namespace {
// The decimal number at `p` (saturating at INT_MAX); `p` moves past its digits.
int read_number(const char*& p) {
  long long n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) n = n < INT_MAX ? n * 10 + (*p - '0') : n;
  return n < INT_MAX ? static_cast<int>(n) : INT_MAX;
}
}  // namespace

void spec_numbers(const char* spec, int* width, int* precision) {
  const char* p = spec + 1;
  while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;
  *width = *p >= '1' && *p <= '9' ? read_number(p) : -1;
  *precision = -1;
  if (*p == '.') *precision = read_number(++p);
}

void precision_cut(char* text, const char* spec) {
  int width, precision;
  spec_numbers(spec, &width, &precision);
  if (precision < 0 || static_cast<int>(strlen(text)) <= precision) return;
  const int code = lang_code_get();
  int cut = 0;
  while (text[cut]) {
    const int n = kel::text::text_char_length(code, text + cut);
    if (cut + n > precision) break;
    cut += n;
  }
  text[cut] = 0;
}

}  // namespace kel_text

namespace kel_text {
namespace {
char* format_all(char** output, char* out, const char* format, va_list args);
}  // namespace
}  // namespace kel_text

using namespace kel_text;

char* kel_vsprintf(char* out, const char* format, va_list args) {
  if (!format) return nullptr;
  if (strlen(format) > kFormatLimit) {
    fputs("kel_sprintf   format too long \n", stdout);
    return nullptr;
  }
  return engine.leave(format_all(engine.enter(), out, format, args));
}

namespace kel_text {
namespace {

// The body of kel_vsprintf: formats into `output` and returns the text, or null for a refused
// format.
char* format_all(char** output, char* out, const char* format, va_list args) {
  Area& scratch = engine.scratch;
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      const char* run = p;
      // Byte by byte: no regime's trail byte is '%', and in a single-byte regime a byte
      // of 0x80 or above is a whole character that must not swallow a following '%'.
      while (*p && *p != '%') ++p;
      if (!append(output, run, static_cast<int>(p - run))) return nullptr;
      continue;
    }
    if (p[1] == '%') {
      if (!append(output, "%", 1)) return nullptr;
      p += 2;
      continue;
    }
    // The conversion: "%", flags, width and precision, then the letters of a table row.
    char spec[kFormatLimit + 8];
    int k = 0;
    spec[k++] = *p++;
    while (*p && !ascii_is_letter(*p)) {
      // Each conversion takes exactly its own argument: "*" widths and positional "$" are refused.
      if (*p == '*' || *p == '$') return nullptr;
      spec[k++] = *p++;
    }
    const ConversionRow* row = *p ? find_conversion(print_rows, p) : nullptr;
    if (!row) return nullptr;
    const bool bare = k == 1;
    k = static_cast<int>(put_letters(spec + k, *row, p) - spec);
    spec[k] = 0;
    p += row->length;

    // A result longer than an xarray holds (a field too wide among them) fails the whole call,
    // before a field of that width or number of digits is formatted.
    const int room = room_left(output);
    int width, precision;
    spec_numbers(spec, &width, &precision);
    const bool digits_fill = row->kind == kInt || (row->kind == kReal && !strpbrk(spec, "gG"));
    if (width > room || (digits_fill && precision > room)) return nullptr;
    int n = 0;
    switch (row->kind) {
      case kInt: n = format_into(scratch, room, spec, va_arg(args, int)); break;
      case kReal: {
        double value = va_arg(args, double);
        if (!(fabs(value) >= 1e-30)) value = 0.0;  // tiny values and not-a-number
        n = format_into(scratch, room, spec, value);
        if (n > 0 && strpbrk(spec, "eE")) {
          exponent_trim(scratch.data, spec);
          n = static_cast<int>(strlen(scratch.data));
        }
        break;
      }
      case kText: {
        const char* text = va_arg(args, const char*);
        if (!text) text = "(null)";
        if (bare) {  // a plain "%s" is the text itself
          const size_t length = strlen(text);
          if (length > static_cast<size_t>(room) || !append(output, text, static_cast<int>(length)))
            return nullptr;
          continue;
        }
        n = format_into(scratch, room, spec, text);
        break;
      }
      case kWide: {
        const kel_wchar* wide = va_arg(args, const kel_wchar*);
        const char* text = "(null)";
        if (wide) {
          const int length = wide_len(wide);
          // A unit gives at least one byte where its code page can be had: without a precision, a
          // text longer than the room left fails before it is converted.
          if (length > (INT_MAX - 1) / 4 || (precision < 0 && length > room)) return nullptr;
          char* converted = engine.conversion.reserve(wstostr_size(length));
          converted[0] = 0;
          wstostr(converted, wide);
          precision_cut(converted, spec);
          text = converted;
        }
        n = format_into(scratch, room, spec, text);
        break;
      }
      case kPath:
      case kPathFile: {
        char path[kPathBuffer];
        WSTRCOPY_X(path, va_arg(args, const char*), kPathBuffer);
        for (char* c = path; *c; ++c) {
          if (*c == '/' || *c == '|') *c = '\\';
        }
        n = format_into(scratch, room, spec, static_cast<const char*>(path));
        break;
      }
    }
    if (n < 0 || !append(output, scratch.data, n)) return nullptr;
  }
  if (!XAR_APPEND(output, 1, "")) return nullptr;
  if (out) {
    memcpy(out, *output, static_cast<size_t>(XAR_COUNT(output)));
    return out;
  }
  return *output;
}

}  // namespace
}  // namespace kel_text

char* kel_sprintf(char* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* result = kel_vsprintf(out, format, args);
  va_end(args);
  return result;
}

int kel_sprintf_wide(kel_wchar* wide_out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const char* text = kel_vsprintf(nullptr, format, args);
  va_end(args);
  if (!text) return 0;
  strtows(wide_out, text);
  return wide_len(wide_out);
}

namespace {
// Formats and writes to `stream`; the length, 0 when formatting or writing failed.
int write_formatted(FILE* stream, const char* format, va_list args) {
  const char* text = kel_vsprintf(nullptr, format, args);
  if (!text || fputs(text, stream) < 0) return 0;
  return static_cast<int>(strlen(text));
}
}  // namespace

int message_print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = write_formatted(stdout, format, args);
  va_end(args);
  return length;
}

int kel_fprintf(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = write_formatted(stream, format, args);
  va_end(args);
  return length;
}

int text_fputs(const char* text, FILE* stream) {
  if (fputs(text, stream) < 0) return -1;
  return static_cast<int>(strlen(text));
}

void wide_stdout_puts(const kel_wchar* wide) {
  if (!wide) return;
  for (; *wide; ++wide) wide_putc(*wide, stdout);
}

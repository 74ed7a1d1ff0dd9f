// The wide-string library: copies, bounded copies, comparisons, searches and case changes.
#include "runtime/text/wstr.h"

#include <stdlib.h>
#include <string.h>

#include <array>

#include "platform/ascii.h"
#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf_internal.h"
#include "runtime/text/mbconv.h"

namespace {

constexpr kel_wchar raise(kel_wchar c) { return ascii_upper(c); }
constexpr kel_wchar lower(kel_wchar c) { return ascii_lower(c); }

// Letters and digits that make up a word for wide_capitalize: ASCII letters and digits, and every
// character from U+00C0 up except the multiplication and division signs and the general and CJK
// punctuation blocks, so that accented and ideographic words are not broken up.
constexpr bool is_word_char(kel_wchar c) {
  if (c < 0x80) return ascii_is_letter(c) || (c >= u'0' && c <= u'9');
  if (c < 0xC0 || c == 0xD7 || c == 0xF7) return false;
  if (c >= 0x2000 && c <= 0x206F) return false;
  if (c >= 0x3000 && c <= 0x303F) return false;
  return true;
}

template <kel_wchar (*Change)(kel_wchar)>
kel_wchar* changed_copy(const kel_wchar* src, kel_wchar* dst) {
  kel_wchar* d = dst;
  while ((*d++ = Change(*src++)) != 0) {
  }
  return dst;
}

template <kel_wchar (*Change)(kel_wchar)>
kel_wchar* changed_ncopy(const kel_wchar* src, kel_wchar* dst, int count) {
  if (count < 1) return dst;
  kel_wchar* d = dst;
  for (int i = 0; i < count - 1 && *src; ++i) *d++ = Change(*src++);
  *d = 0;
  return d;
}

// Runs `use` on an 8-bit text in wide form, held in a local area of 256 units (a heap block when
// longer), and returns its result.
template <class Use>
auto with_wide(const char* text, Use use) {
  kel_text::LocalOrHeap<kel_wchar, 256> area;
  kel_wchar* wide = area.take(text ? strlen(text) + 1 : 1);
  wide[0] = 0;
  strtows(wide, text ? text : "");
  const auto result = use(static_cast<const kel_wchar*>(wide));
  area.release();
  return result;
}

// Runs `use` on a wide string in 8-bit form, held in a local area of 256 bytes (a heap block when
// longer), and returns its result.
template <class Use>
auto with_text(const kel_wchar* wide, Use use) {
  kel_text::LocalOrHeap<char, 256> area;
  char* text = area.take(static_cast<size_t>(wstostr_size(wide ? wide_len(wide) : 0)));
  text[0] = 0;
  if (wide) wstostr(text, wide);
  const auto result = use(static_cast<const char*>(text));
  area.release();
  return result;
}

// Finds sub in s from `from`; the index or -1. An empty sub is never found.
int find_from(const kel_wchar* s, int from, const kel_wchar* sub, int sub_len) {
  if (sub_len == 0) return -1;
  for (int i = from; s[i]; ++i) {
    if (s[i] == sub[0] && wide_ncmp(s + i, sub, sub_len) == 0) return i;
  }
  return -1;
}

// Builds src with occurrences of sub replaced by repl (all, or only the first), left to right and
// never rescanning inserted text; writes the result to out and returns the index of the first
// replacement, or -1 (out then a copy of src).
int replace(kel_wchar* out, const kel_wchar* src, const kel_wchar* sub, const kel_wchar* repl,
            bool all) {
  const int src_len = wide_len(src), sub_len = wide_len(sub), repl_len = wide_len(repl);
  int first = find_from(src, 0, sub, sub_len);
  if (first < 0) {
    if (out != src) memmove(out, src, (static_cast<size_t>(src_len) + 1) * 2);
    return -1;
  }
  int hits = 1;
  if (all) {
    for (int at = find_from(src, first + sub_len, sub, sub_len); at >= 0;
         at = find_from(src, at + sub_len, sub, sub_len))
      ++hits;
  }
  const size_t out_len = static_cast<size_t>(src_len) + static_cast<size_t>(hits) * repl_len -
                         static_cast<size_t>(hits) * sub_len;
  kel_text::LocalOrHeap<kel_wchar, 512> work;
  kel_wchar* const start = work.take(out_len + 1);
  kel_wchar* w = start;
  int from = 0;
  for (int at = first, n = 0; at >= 0 && n < hits; ++n) {
    memcpy(w, src + from, static_cast<size_t>(at - from) * 2);
    w += at - from;
    memcpy(w, repl, static_cast<size_t>(repl_len) * 2);
    w += repl_len;
    from = at + sub_len;
    at = find_from(src, from, sub, sub_len);
  }
  memcpy(w, src + from, (static_cast<size_t>(src_len - from) + 1) * 2);
  memcpy(out, start, (out_len + 1) * 2);
  work.release();
  return first;
}

// Case-blind comparison of a wide string with an 8-bit text, limited to `count` units (or none).
int icmp_text(const kel_wchar* wide, const char* text, int count, bool limited) {
  if (!text) text = "";
  const auto printable = [](unsigned c) { return c >= 32 && c <= 126; };
  for (; !limited || count > 0; ++wide, ++text, --count) {
    const unsigned t = static_cast<unsigned char>(*text);
    if (!printable(*wide) || !printable(t)) {
      return with_wide(text, [&](const kel_wchar* rest) {
        return limited ? wide_nicmp(wide, rest, count) : wide_icmp(wide, rest);
      });
    }
    const int d = int(raise(*wide)) - int(raise(static_cast<kel_wchar>(t)));
    if (d != 0) return d;
  }
  return 0;
}

kel_wchar* tok_position = nullptr;

struct PoolBuffer {
  kel_wchar* data = nullptr;
  int capacity = 0;
};
std::array<PoolBuffer, 4> pool;
int pool_next = 0;

}  // namespace

kel_wchar wide_toupper(kel_wchar c) { return raise(c); }
kel_wchar wide_tolower(kel_wchar c) { return lower(c); }

kel_wchar* wide_upper_copy(const kel_wchar* src, kel_wchar* dst) {
  return changed_copy<raise>(src, dst);
}
kel_wchar* wide_lower_copy(const kel_wchar* src, kel_wchar* dst) {
  return changed_copy<lower>(src, dst);
}
kel_wchar* wide_upper_ncopy(const kel_wchar* src, kel_wchar* dst, int count) {
  return changed_ncopy<raise>(src, dst, count);
}
kel_wchar* wide_lower_ncopy(const kel_wchar* src, kel_wchar* dst, int count) {
  return changed_ncopy<lower>(src, dst, count);
}

kel_wchar* wide_capitalize(const kel_wchar* src, kel_wchar* dst) {
  kel_wchar* d = dst;
  bool in_word = false;
  for (; *src; ++src) {
    const bool word = is_word_char(*src);
    *d++ = word ? (in_word ? lower(*src) : raise(*src)) : *src;
    in_word = word;
  }
  *d = 0;
  return dst;
}

kel_wchar* wide_cat(kel_wchar* dst, const kel_wchar* src) {
  wide_cpy(dst + wide_len(dst), src);
  return dst;
}

kel_wchar* wide_cpy(kel_wchar* dst, const kel_wchar* src) {
  kel_wchar* d = dst;
  while ((*d++ = *src++) != 0) {
  }
  return dst;
}

int wide_len(const kel_wchar* s) {
  const kel_wchar* p = s;
  while (*p) ++p;
  return static_cast<int>(p - s);
}

kel_wchar* wide_chr(const kel_wchar* s, kel_wchar c) {
  for (;; ++s) {
    if (*s == c) return const_cast<kel_wchar*>(s);
    if (*s == 0) return nullptr;
  }
}

kel_wchar* wide_rchr(const kel_wchar* s, kel_wchar c) {
  const kel_wchar* found = nullptr;
  for (;; ++s) {
    if (*s == c) found = s;
    if (*s == 0) return const_cast<kel_wchar*>(found);
  }
}

int wide_cmp(const kel_wchar* a, const kel_wchar* b) {
  while (*a && *a == *b) ++a, ++b;
  return int(*a) - int(*b);
}

kel_wchar* wide_ncat(kel_wchar* dst, const kel_wchar* src, int count) {
  if (count <= 0) return dst;
  kel_wchar* d = dst + wide_len(dst);
  for (int i = 0; i < count && src[i]; ++i) *d++ = src[i];
  *d = 0;
  return dst;
}

int wide_ncmp(const kel_wchar* a, const kel_wchar* b, int count) {
  for (int i = 0; i < count; ++i) {
    if (a[i] != b[i] || a[i] == 0) return int(a[i]) - int(b[i]);
  }
  return 0;
}

kel_wchar* wide_ncpy(kel_wchar* dst, const kel_wchar* src, int count) {
  int i = 0;
  for (; i < count && src[i]; ++i) dst[i] = src[i];
  for (; i < count; ++i) dst[i] = 0;
  return dst;
}

int wide_icmp(const kel_wchar* a, const kel_wchar* b) { return ascii_compare_ignoring_case(a, b); }

int wide_nicmp(const kel_wchar* a, const kel_wchar* b, int count) {
  return count > 0 ? ascii_ncompare_ignoring_case(a, b, static_cast<size_t>(count)) : 0;
}

double wide_to_double(const kel_wchar* s) {
  return with_text(s, [](const char* text) { return strtod(text, nullptr); });
}

long wide_to_long(const kel_wchar* s) {
  return with_text(s, [](const char* text) { return strtol(text, nullptr, 10); });
}

kel_wchar* text_to_wide_pool(const char* text) {
  PoolBuffer& b = pool[static_cast<size_t>(pool_next)];
  pool_next = (pool_next + 1) % static_cast<int>(pool.size());
  const int need = text ? static_cast<int>(strlen(text)) + 1 : 1;
  if (b.capacity < need) {
    // The new buffer first: when it cannot be had, the old one is still whole and owned.
    const int capacity = need > 256 ? need : 256;
    auto* data = static_cast<kel_wchar*>(getmem(capacity * 2));
    rlsmem(b.data);
    b.data = data;
    b.capacity = capacity;
  }
  b.data[0] = 0;
  strtows(b.data, text);
  return b.data;
}

kel_wchar* wide_cat_text(kel_wchar* dst, const char* text) {
  return with_wide(text, [&](const kel_wchar* w) { return wide_cat(dst, w); });
}

kel_wchar* wide_ncat_text(kel_wchar* dst, const char* text, int count) {
  return with_wide(text, [&](const kel_wchar* w) { return wide_ncat(dst, w, count); });
}

int wide_cmp_text(const kel_wchar* wide, const char* text) {
  return with_wide(text, [&](const kel_wchar* w) { return wide_cmp(wide, w); });
}

int wide_ncmp_text(const kel_wchar* wide, const char* text, int count) {
  return with_wide(text, [&](const kel_wchar* w) { return wide_ncmp(wide, w, count); });
}

int wide_icmp_text(const kel_wchar* wide, const char* text) {
  return icmp_text(wide, text, 0, false);
}
int wide_nicmp_text(const kel_wchar* wide, const char* text, int count) {
  return icmp_text(wide, text, count, true);
}

kel_wchar* wide_tok(kel_wchar* s, const kel_wchar* delimiters) {
  if (s) tok_position = s;
  kel_wchar* start = tok_position;
  if (!start || *start == 0) {
    tok_position = nullptr;
    return nullptr;
  }
  kel_wchar* p = start;
  while (*p && !wide_chr(delimiters, *p)) ++p;
  if (*p) {
    *p = 0;
    tok_position = p + 1;
  } else {
    tok_position = nullptr;
  }
  return start;
}

int wide_find(const kel_wchar* s, const kel_wchar* sub) {
  if (!*sub) return 0;
  return find_from(s, 0, sub, wide_len(sub));
}

kel_wchar* wide_replace_first(kel_wchar* out, const kel_wchar* src, const kel_wchar* sub,
                              const kel_wchar* repl) {
  const int at = replace(out, src, sub, repl, false);
  return at < 0 ? nullptr : out + at;
}

kel_wchar* wide_replace_all(kel_wchar* out, const kel_wchar* src, const kel_wchar* sub,
                            const kel_wchar* repl) {
  const int at = replace(out, src, sub, repl, true);
  return at < 0 ? nullptr : out + at;
}

kel_wchar* wide_replace_char(const kel_wchar* src, kel_wchar* dst, kel_wchar from, kel_wchar to) {
  if (!dst) return nullptr;
  if (!src) {
    dst[0] = 0;
    return nullptr;
  }
  kel_wchar* d = dst;
  for (; *src; ++src) *d++ = *src == from ? to : *src;
  *d = 0;
  return dst;
}

namespace {
template <typename Unit, size_t (*Length)(const Unit*)>
int bounded_copy(Unit* dst, const Unit* src, int size) {
  if (size <= 0) return 0;
  const size_t n = src ? Length(src) : 0;
  if (n >= static_cast<size_t>(size)) {
    dst[0] = 0;
    report_fatal("WSTRCOPY_X", "OVERFLOW.");
    return 0;
  }
  memcpy(dst, src ? src : dst, n * sizeof(Unit));
  dst[n] = 0;
  return 1;
}
size_t text_length(const char* s) { return strlen(s); }
size_t wide_length(const kel_wchar* s) { return static_cast<size_t>(wide_len(s)); }
}  // namespace

int WSTRCOPY_X(char* dst, const char* src, int size) {
  return bounded_copy<char, text_length>(dst, src, size);
}
int WSTRCOPY_X_WIDE(kel_wchar* dst, const kel_wchar* src, int size) {
  return bounded_copy<kel_wchar, wide_length>(dst, src, size);
}

char* str_ret(const kel_wchar* wide) {
  static char buffer[wstostr_size(STR_LEN)];
  buffer[0] = 0;
  if (!wide) {
    wstostr(buffer, wide);  // reports the null pointer
    return buffer;
  }
  if (wide_len(wide) <= STR_LEN) {
    wstostr(buffer, wide);
    return buffer;
  }
  report_fatal("str_ret", "string \"%ws\" is longer than STR_LEN", wide);
  // Only the first STR_LEN units fit the buffer.
  kel_wchar head[STR_LEN + 1];
  memcpy(head, wide, sizeof(kel_wchar) * STR_LEN);
  head[STR_LEN] = 0;
  wstostr(buffer, head);
  return buffer;
}

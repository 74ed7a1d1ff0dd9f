// Harrays: segmented arrays held as an outer xarray of xarray segments.
//
// Work that takes more than one allocation (a new segment and a longer outer array, or growth
// across several segments) registers an undo first, so that a memory break in the middle gives
// back what the call took and leaves the harray as it was.
#include "runtime/xar/har.h"

#include <limits.h>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/xar_block.h"
#include "runtime/xar/xar_undo.h"

using namespace kel::xar;

namespace {

// index / (objects per segment) by a multiplication for the object size of the last look-up
// that needed it; kept by har_object_at. With 2^(l-1) < per_segment <= 2^l, magic is
// ceil(2^(31+l) / per_segment) and shift is l - 1: for every index below 2^31 the quotient is
// ((index * magic) >> 32) >> shift exactly, and for any larger unsigned value it is at least the
// true quotient (so never a full segment of a harray, which holds fewer than 2^31 objects).
struct har_divisor {
  int size;
  int per_segment;
  uint32_t magic;
  int shift;
  uint32_t segment_bytes;  // per_segment * size
};
har_divisor har_last_divisor = {0, 0, 0, 0, 0};

inline byte** segments(byte* outer) { return reinterpret_cast<byte**>(outer); }
inline int max_count(int size) { return XAR_MAX_BYTES / size; }

// index / (objects per segment) by a multiplication: the look-up is on every random access, and
// a division would cost more than the rest of it. One size is cached; the quotient is exact for
// every index below 2^31 (see har_divisor).
inline int quotient(const har_divisor& d, int index) {
  return int(uint32_t((uint64_t(uint32_t(index)) * d.magic) >> 32) >> d.shift);
}

inline const har_divisor& divisor_for(int size) {
  if (har_last_divisor.size != size) {
    const int m = max_count(size);  // from 31 to 2,047,984: l below is 5 to 21
    int l = 0;
    while ((1 << l) < m) ++l;
    const uint64_t magic = ((uint64_t(1) << (31 + l)) + uint64_t(m) - 1) / uint64_t(m);
    har_last_divisor = {size, m, uint32_t(magic), l - 1, uint32_t(m) * uint32_t(size)};
  }
  return har_last_divisor;
}

int segment_extension(int size, int extension) {
  if (extension < 1) extension = 1;
  if (static_cast<long long>(size) * extension > HAR_MAX_SEGMENT_GROWTH)
    extension = HAR_MAX_SEGMENT_GROWTH / size;
  return extension < 1 ? 1 : extension;
}

// The outer array, checked, and its first segment, checked; null after a misuse stop.
byte* outer_of(const void* p_har, const char* where) {
  byte* outer = require(p_har, where);
  if (!outer) return nullptr;
  const View ov{outer};
  if (ov.count() < 1 || ov.object_size() != 4 || !block_ok(segments(outer)[0])) {
    misuse_stop(where, "invalid array");
    return nullptr;
  }
  return outer;
}

void free_pending(void* arg) {
  byte** pending = static_cast<byte**>(arg);
  if (*pending) XAR_FREE(pending);
}

// Frees a partly built outer array: its segments from `from` on, then the array itself.
struct Partial {
  byte* outer;
  int from;
};

void free_partial(void* arg) {
  Partial* p = static_cast<Partial*>(arg);
  if (!p->outer) return;
  const int n = View{p->outer}.count();
  for (int i = p->from; i < n; ++i)
    if (segments(p->outer)[i]) XAR_FREE(&segments(p->outer)[i]);
  XAR_FREE(&p->outer);
}

// Adds n objects at the end: from `src` when not null, else from objects 0 .. n-1 of the harray
// at `p_src_har` when not null (which may be this harray), else zero.
//
// Every allocation comes before any change: the new segments and a new outer array are fresh
// blocks, which a memory break gives back, and the one block that grows in place, the last
// segment, grows last, where a failure leaves it as it was.
void append_objects(void* p_har, int n, const byte* src, const void* p_src_har) {
  byte* outer = load_user(p_har);
  const int segs = View{outer}.count();
  byte** last = segments(outer) + segs - 1;
  const View lv{*last};
  const int size = lv.object_size();
  const int m = max_count(size);
  const int room = m - lv.count();
  const int first_take = room < n ? room : n;
  const int beyond = n - first_take;
  const int added = beyond / m + (beyond % m != 0);  // rounded up without overflowing
  const int old_total = (segs - 1) * m + lv.count();
  // More objects than a count can hold, or more segments than the outer array can: as with an
  // xarray that cannot grow, the recoverable memory break.
  if (n > INT_MAX - old_total || added > max_count(4) - segs) {
    memory_break("har_append", "too big array");
    return;
  }

  Partial built{nullptr, segs};
  const int registered = added ? undo_begin(free_partial, &built) : 0;
  if (added) {
    built.outer = static_cast<byte*>(XAR_ALLOC(segs + added, 4, View{outer}.extension()));
    memcpy(built.outer, outer, size_t(segs) * 4);
    for (int i = 0; i < added; ++i) {
      const int count = i + 1 < added ? m : beyond - (added - 1) * m;
      segments(built.outer)[segs + i] = static_cast<byte*>(XAR_ALLOC(count, size, lv.extension()));
    }
  }
  byte** grow = added ? segments(built.outer) + segs - 1 : last;
  if (first_take > 0) XAR_EXTEND(grow, first_take);
  undo_end(registered);
  if (added) {
    XAR_FREE(&outer);
    store_user(p_har, built.outer);
  }
  // Everything is in place; now the objects are copied in, in runs within one segment.
  if (!src && !p_src_har) return;
  for (int done = 0; done < n;) {
    int seg = 0, off = 0;
    byte* dst = static_cast<byte*>(har_object(p_har, old_total + done, &seg, &off));
    int run = n - done;
    if (run > m - off) run = m - off;
    if (src) {
      memcpy(dst, src + done * size, size_t(run) * size);
    } else {
      int sseg = 0, soff = 0;
      const byte* from = static_cast<const byte*>(har_object(p_src_har, done, &sseg, &soff));
      if (run > m - soff) run = m - soff;
      memcpy(dst, from, size_t(run) * size);
    }
    done += run;
  }
}

}  // namespace

extern "C" {

void* har_alloc(int object_size, int extension) {
  if (object_size <= 0 || object_size > XAR_MAX_OBJECT_SIZE) {
    misuse_stop("har_alloc", "invalid request");
    return nullptr;
  }
  byte* segment = nullptr;
  const int registered = undo_begin(free_pending, &segment);
  segment =
      static_cast<byte*>(XAR_ALLOC(0, object_size, segment_extension(object_size, extension)));
  byte* outer = static_cast<byte*>(XAR_ALLOC(1, 4, 2));
  segments(outer)[0] = segment;
  undo_end(registered);
  return outer;
}

int har_count(const void* p_har) {
  if (!p_har || !load_user(p_har)) return 0;
  byte* outer = outer_of(p_har, "har_count");
  if (!outer) return 0;
  const int n = View{outer}.count();
  int total = 0;
  for (int i = 0; i < n; ++i) total += View{segments(outer)[i]}.count();
  return total;
}

// The linkable forms of the header's inline look-up and append.
void*(har_object)(const void* p_har, int index, int* segment, int* offset) {
  return har_object_inline(p_har, index, segment, offset);
}
void(har_append)(void* p_har, int n, const void* src) { har_append_inline(p_har, n, src); }

const har_absent har_absent_outer = {2, 0, 0, &har_absent_outer.first, 0};

void* har_object_find(const void* p_har, int index) {
  return har_object_at(p_har, index, nullptr, nullptr);
}

void* har_object_at(const void* p_har, int index, int* segment, int* offset) {
  byte* outer = p_har ? load_user(p_har) : nullptr;
  if (!outer || index < 0) {
    if (segment) *segment = -1;
    if (offset) *offset = -1;
    return nullptr;
  }
  byte** segs = segments(outer);
  const View first{segs[0]};
  const int size = first.object_size();
  if (index < first.count()) {
    if (segment) *segment = 0;
    if (offset) *offset = index;
    return segs[0] + index * size;
  }
  const har_divisor& d = divisor_for(size);
  const int seg = quotient(d, index);
  const int n = View{outer}.count();
  if (seg >= n || (seg == n - 1 && index - seg * d.per_segment >= View{segs[n - 1]}.count())) {
    if (segment) *segment = -1;
    if (offset) *offset = -1;
    return nullptr;
  }
  const int off = index - seg * d.per_segment;
  if (segment) *segment = seg;
  if (offset) *offset = off;
  return segs[seg] + off * size;
}

void har_append_at(void* p_har, int n, const void* src) {
  byte* outer = outer_of(p_har, "har_append");
  if (!outer) return;
  if (n <= 0) {
    if (n < 0) misuse_stop("har_append", "invalid request");
    return;
  }
  byte** last = segments(outer) + View{outer}.count() - 1;
  const int size = View{*last}.object_size();
  if (n <= max_count(size) -
               View{*last}.count()) {  // one growth of the last segment, which fails cleanly
    byte* dst = static_cast<byte*>(XAR_EXTEND(last, n));
    if (dst && src) memcpy(dst, src, size_t(n) * size);
    return;
  }
  append_objects(p_har, n, static_cast<const byte*>(src), nullptr);
}

void* har_extend_one(void* p_har) {
  har_append(p_har, 1, nullptr);
  return har_last(p_har);
}

void* har_last(const void* p_har) {
  byte* outer = p_har ? load_user(p_har) : nullptr;
  if (!outer) return nullptr;
  return XAR_LAST(segments(outer) + View{outer}.count() - 1);
}

void har_shrink(void* p_har, int n) {
  if (n == 0 || !outer_of(p_har, "har_shrink")) return;
  if (n < 0 || n > har_count(p_har)) {
    misuse_stop("har_shrink", "invalid request");
    return;
  }
  while (n > 0) {
    byte* outer = load_user(p_har);
    const int segs = View{outer}.count();
    byte** last = segments(outer) + segs - 1;
    const int count = View{*last}.count();
    if (n < count) {
      XAR_SHRINK(last, n);
      return;
    }
    if (segs == 1) {
      XAR_SHRINK(last, count);
      return;
    }
    XAR_FREE(last);
    XAR_SHRINK(p_har, 1);
    n -= count;
  }
}

void har_resize(void* p_har, int n) {
  const int total = har_count(p_har);
  if (n > total)
    har_append(p_har, n - total, nullptr);
  else if (n < total)
    har_shrink(p_har, total - n);
}

int har_remove(void* p_har, int index, int n) {
  byte* outer = outer_of(p_har, "har_remove");
  if (!outer) return 0;
  const int total = har_count(p_har);
  if (index < 0 || n < 0 || index > total - n) {
    misuse_stop("har_remove", "invalid request");
    return 0;
  }
  if (View{outer}.count() == 1) {
    xar_remove(segments(outer), index, n);
    return 0;
  }
  const int size = View{segments(outer)[0]}.object_size();
  const int m = max_count(size);
  // Later objects move down in runs that stay within one segment on both sides.
  for (int dst = index, src = index + n; src < total;) {
    const int doff = dst % m, soff = src % m;
    int run = total - src;
    if (run > m - doff) run = m - doff;
    if (run > m - soff) run = m - soff;
    memmove(segments(outer)[dst / m] + doff * size, segments(outer)[src / m] + soff * size,
            size_t(run) * size);
    dst += run;
    src += run;
  }
  har_shrink(p_har, n);
  return 0;
}

void* har_extract(const void* p_har, int start, int n, int extension) {
  if ((n == 0 && extension == 0) || !p_har || !load_user(p_har)) return nullptr;
  byte* outer = outer_of(p_har, "har_extract");
  if (!outer) return nullptr;
  const int size = View{segments(outer)[0]}.object_size();
  const int total = har_count(p_har);
  if (n < 0 || n > max_count(size) || start < 0 || start > total - n) return nullptr;
  byte* x = static_cast<byte*>(XAR_ALLOC(n, size, extension ? extension : n));
  if (!x) return nullptr;  // refused (a negative extension)
  for (int done = 0; done < n;) {
    int seg = 0, off = 0;
    const byte* src = static_cast<const byte*>(har_object(p_har, start + done, &seg, &off));
    int run = n - done;
    if (run > max_count(size) - off) run = max_count(size) - off;
    memcpy(x + done * size, src, size_t(run) * size);
    done += run;
  }
  return x;
}

void* har_copy(const void* p_src, void* p_dst) {
  byte* src = p_src ? load_user(p_src) : nullptr;
  if (!src) {
    if (p_dst) store_user(p_dst, nullptr);
    return nullptr;
  }
  if (!outer_of(p_src, "har_copy")) return nullptr;  // the destination keeps what it had
  const int n = View{src}.count();
  Partial built{nullptr, 0};
  const int registered = undo_begin(free_partial, &built);
  built.outer = static_cast<byte*>(XAR_ALLOC(n, 4, View{src}.extension()));
  for (int i = 0; i < n; ++i)
    segments(built.outer)[i] = static_cast<byte*>(xar_copy(&segments(src)[i], nullptr));
  undo_end(registered);
  byte* copy = built.outer;
  if (p_dst) store_user(p_dst, copy);
  return copy;
}

void har_concat(void* p_dst, const void* p_src) {
  if (!p_dst || !p_src || !load_user(p_src)) return;
  if (!load_user(p_dst)) {
    har_copy(p_src, p_dst);
    return;
  }
  byte* dst_outer = outer_of(p_dst, "har_concat");
  byte* src_outer = outer_of(p_src, "har_concat");
  if (!dst_outer || !src_outer) return;
  const int size = View{segments(dst_outer)[0]}.object_size();
  if (View{segments(src_outer)[0]}.object_size() != size) {
    misuse_stop("har_concat", "unequal size");
    return;
  }
  // The count is taken before growth, so that a harray can be added to itself.
  const int total = har_count(p_src);
  if (total > 0) append_objects(p_dst, total, nullptr, p_src);
}

void har_free(void* p_har) {
  if (!p_har || !load_user(p_har)) return;
  byte* outer = outer_of(p_har, "har_free");
  if (!outer) return;
  const int n = View{outer}.count();
  for (int i = 0; i < n; ++i) XAR_FREE(&segments(outer)[i]);
  XAR_FREE(p_har);
}

}  // extern "C"

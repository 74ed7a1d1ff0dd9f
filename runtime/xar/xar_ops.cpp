// Element operations on xarrays and the plain-array routines they are built on.
#include <limits.h>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/xar_block.h"

using namespace kel::xar;

namespace kel::xar {

void exchange(byte* a, byte* b, int bytes) {
  byte buffer[1000];
  while (bytes > 0) {
    const int piece = bytes < int(sizeof buffer) ? bytes : int(sizeof buffer);
    memcpy(buffer, a, size_t(piece));
    memcpy(a, b, size_t(piece));
    memcpy(b, buffer, size_t(piece));
    a += piece;
    b += piece;
    bytes -= piece;
  }
}

int inner_offset(const byte* u, const void* src) {
  const View v{const_cast<byte*>(u)};
  const byte* s = static_cast<const byte*>(src);
  if (!s || s < u || s >= u + v.capacity() * v.object_size()) return -1;
  return int(s - u);
}

void copy_inner(byte* dst, const byte* u, int offset, int bytes, int used, int gap_at, int gap) {
  const int end = offset + bytes;
  int done = 0;
  const int still_end = end < gap_at ? end : gap_at;  // below the gap: where it was
  if (offset < still_end) {
    memcpy(dst, u + offset, size_t(still_end - offset));
    done = still_end - offset;
  }
  const int moved_from = offset > gap_at ? offset : gap_at;  // from the gap on: moved up
  const int moved_end = end < used ? end : used;
  if (moved_from < moved_end) {
    memcpy(dst + done, u + moved_from + gap, size_t(moved_end - moved_from));
    done += moved_end - moved_from;
  }
  memset(dst + done, 0, size_t(bytes - done));
}

}  // namespace kel::xar

namespace {

bool arr_args_ok(const void* buffer, int object_size, const int* count, int index, int n) {
  return object_size > 0 && count && *count >= 0 && index >= 0 && index <= *count && n >= 0 &&
         (buffer || n == 0);
}

// True when the existing array holds objects of `object_size` bytes. Otherwise the report, and
// the call is refused: the caller would read or write its n objects in slots of another size.
bool size_matches(const char* where, const void* p_xar, int object_size) {
  if (!require(p_xar, "XAR_PARAMS")) return false;
  const int old_size = View{load_user(p_xar)}.object_size();
  if (old_size == object_size) return true;
  dbg_err_crash(where, "inconsistent size: old (%d) != request (%d) - SERIOUS ERROR.", old_size,
                object_size);
  return false;
}

// The count of `src` when its objects have the destination's size; otherwise a note and the
// fatal stop, and -1 if that returns.
int count_of_alike(const char* where, const void* p_xar, const void* src) {
  if (!require(p_xar, "XAR_PARAMS") || !require(&src, "XAR_PARAMS")) return -1;
  int dst_size = 0, src_size = 0, src_count = 0;
  XAR_PARAMS(p_xar, &dst_size, nullptr, nullptr, nullptr);
  XAR_PARAMS(&src, &src_size, nullptr, &src_count, nullptr);
  if (dst_size == src_size) return src_count;
  order_debug_note(where, "different object size numbers %d - %d !!!", dst_size, src_size);
  crash();
  return -1;
}

bool is_null_array(const void* p_xar) { return p_xar && !load_user(p_xar); }

// Hands a new array to the owner's pointer. A null one that is not the empty answer of
// XAR_ALLOC (count and extension 0) was refused, and the owner keeps what it had.
void store_new(void* p_dst, void* copy, int count, int extension) {
  if (copy || (count == 0 && extension == 0)) store_user(p_dst, copy);
}

}  // namespace

extern "C" {

void* arr_insert(void* buffer, int object_size, int* count, int index, int n, const void* src) {
  if (!arr_args_ok(buffer, object_size, count, index, n)) {
    stop_plain("arr_insert", "wrong call.");
    return nullptr;
  }
  byte* base = static_cast<byte*>(buffer);
  byte* slot = base + object_size * index;
  if (n == 0) return slot;
  const byte* s = static_cast<const byte*>(src);
  if (s && s >= slot && s < base + object_size * (*count + n)) {
    stop_plain("arr_insert", "bad data pointer.");
    return nullptr;
  }
  if (index != *count)
    memmove(slot + object_size * n, slot, size_t(object_size) * (*count - index));
  *count += n;
  if (s)
    memmove(slot, s, size_t(object_size) * n);
  else
    memset(slot, 0, size_t(object_size) * n);
  return slot;
}

void* arr_delete(void* buffer, int object_size, int* count, int index, int n, void* dst) {
  if (!arr_args_ok(buffer, object_size, count, index, n) || n > *count - index) {
    stop_plain("arr_delete", "wrong call.");
    return nullptr;
  }
  byte* base = static_cast<byte*>(buffer);
  byte* slot = base + object_size * index;
  if (n == 0) return slot;
  byte* d = static_cast<byte*>(dst);
  if (d && d >= slot && d < base + object_size * *count) {
    stop_plain("arr_delete", " bad data pointer.");
    return nullptr;
  }
  if (d) memmove(d, slot, size_t(object_size) * n);
  if (index + n != *count)
    memmove(slot, slot + object_size * n, size_t(object_size) * (*count - index - n));
  *count -= n;
  return slot;
}

int arr_reverse(void* buffer, int n, int object_size) {
  if (!buffer || n < 2) return 1;
  byte* base = static_cast<byte*>(buffer);
  for (int i = 0, j = n - 1; i < j; ++i, --j)
    exchange(base + i * object_size, base + j * object_size, object_size);
  return 1;
}

int arr_rotate(void* buffer, int object_size, int k, int n) {
  if (!buffer || k < 0 || k >= n || object_size <= 0 || n > INT_MAX / object_size) return 0;
  if (k == 0) return 1;
  byte* base = static_cast<byte*>(buffer);
  const int total = object_size * n;
  const int moved = object_size * k;
  byte stack[400];
  byte* temp = total <= int(sizeof stack) ? stack : static_cast<byte*>(getmem(moved));
  if (!temp) return 0;
  memcpy(temp, base, size_t(moved));
  memmove(base, base + moved, size_t(total - moved));
  memcpy(base + total - moved, temp, size_t(moved));
  if (temp != stack) rlsmem(temp);
  return 1;
}

void xar_alloc_or_resize(void* p_xar, int n, int object_size, int extension) {
  if (is_null_array(p_xar)) {
    store_user(p_xar, XAR_ALLOC(n, object_size, extension));
    return;
  }
  if (size_matches("xar_alloc_or_resize", p_xar, object_size)) XAR_RESIZE(p_xar, n);
}

void* xar_alloc_or_extend(void* p_xar, int n, int object_size, int extension) {
  if (is_null_array(p_xar)) {
    void* u = XAR_ALLOC(n, object_size, extension);
    store_user(p_xar, u);
    return u;
  }
  return size_matches("xar_alloc_or_extend", p_xar, object_size) ? XAR_EXTEND(p_xar, n) : nullptr;
}

void* xar_alloc_or_append(void* p_xar, int n, int object_size, int extension, const void* src) {
  if (is_null_array(p_xar))
    store_user(p_xar, XAR_ALLOC(0, object_size, extension));
  else if (!size_matches("xar_alloc_or_append", p_xar, object_size))
    return nullptr;
  return XAR_APPEND(p_xar, n, src);
}

void* xar_insert(void* p_xar, int index, int n, const void* src) {
  byte* u = require(p_xar, "XAR_PARAMS");
  if (!u) return nullptr;
  const int size = View{u}.object_size();
  int count = View{u}.count();
  // Bad indices stop before the array is touched.
  if (!arr_args_ok(u, size, &count, index, n)) return arr_insert(u, size, &count, index, n, src);
  const byte* s = static_cast<const byte*>(src);
  if (s && s >= u && s < u + index * size) report_fatal("xar_insert", "xarray may be relocated.");
  if (n > XAR_MAX_BYTES / size) {  // too big: let the growth rule report it
    XAR_EXTEND(p_xar, n);
    return nullptr;
  }
  const int offset = inner_offset(u, src);
  if (n > 0 && !XAR_EXTEND(p_xar, n)) return nullptr;
  u = load_user(p_xar);
  if (offset < 0) return arr_insert(u, size, &count, index, n, src);
  // The source lies in the array: the part behind the slot moves up with the objects there.
  byte* slot = u + index * size;
  memmove(slot + n * size, slot, size_t(count - index) * size);
  copy_inner(slot, u, offset, n * size, count * size, index * size, n * size);
  return slot;
}

void* xar_remove(void* p_xar, int index, int n) {
  if (is_null_array(p_xar) && index == 0 && n == 0) return nullptr;  // nothing from nothing
  byte* u = require(p_xar, "XAR_PARAMS");
  if (!u) return nullptr;
  int count = View{u}.count();
  const int size = View{u}.object_size();
  if (!arr_delete(u, size, &count, index, n, nullptr)) return nullptr;
  return XAR_SHRINK(p_xar, n);
}

void* xar_delete(void* p_xar, int index, int n, void* dst) {
  const int count = XAR_COUNT(p_xar);
  if (index < 0 || n < 0 || index > count - n) {
    dbg_err_crash("xar_delete", "Invalid request");
    return nullptr;
  }
  if (n == 0) return dst;
  byte* u = load_user(p_xar);
  const int size = View{u}.object_size();
  // Without a destination the objects are only removed.
  if (dst) memmove(dst, u + index * size, size_t(n) * size);
  xar_remove(p_xar, index, n);
  return dst;
}

void xar_swap(void* xar, int i, int j) {
  byte* u = static_cast<byte*>(xar);
  const int count = block_ok(u) ? View{u}.count() : 0;
  if (i < 0 || i >= count || j < 0 || j >= count) {
    dbg_err_crash("xar_swap", "Invalid request");
    return;
  }
  if (i == j) return;
  const int size = View{u}.object_size();
  exchange(u + i * size, u + j * size, size);
}

void xar_reverse(void* xar) {
  byte* u = static_cast<byte*>(xar);
  if (!u) return;
  if (!block_ok(u)) {
    misuse_stop("XAR_COUNT", "invalid array");
    return;
  }
  arr_reverse(u, View{u}.count(), View{u}.object_size());
}

void xar_append_copies(void* p_xar, int n, const void* object) {
  byte* u = require(p_xar, "XAR_PARAMS");
  if (!u) return;
  const int size = View{u}.object_size();
  const int used = View{u}.count() * size;
  const int offset = inner_offset(u, object);
  byte* dst = static_cast<byte*>(XAR_EXTEND(p_xar, n));
  if (!dst || !object) return;
  if (offset >= 0)
    copy_inner(dst, load_user(p_xar), offset, size, used);
  else
    memcpy(dst, object, size_t(size));
  for (int i = 1; i < n; ++i) memcpy(dst + i * size, dst, size_t(size));
}

void* xar_copy(const void* p_src, void* p_dst) {
  byte* src = p_src ? load_user(p_src) : nullptr;
  byte* copy = nullptr;
  if (src) {
    if (!require(p_src, "XAR_PARAMS")) return nullptr;
    const View v{src};
    copy = static_cast<byte*>(XAR_ALLOC(v.count(), v.object_size(), v.extension()));
    if (copy) memcpy(copy, src, size_t(v.count()) * v.object_size());
  }
  if (p_dst) store_user(p_dst, copy);
  return copy;
}

void xar_copy_as(const void* p_src, int object_size, int extension, void* p_dst) {
  if (!p_dst || (!is_null_array(p_src) && !require(p_src, "XAR_COUNT"))) return;
  const int count = XAR_COUNT(p_src);
  byte* copy = static_cast<byte*>(XAR_ALLOC(count, object_size, extension));
  if (copy && count > 0) {
    // Only the source's own bytes are copied; a wider object size leaves the rest zero.
    const int src_bytes = count * View{load_user(p_src)}.object_size();
    const int dst_bytes = count * object_size;
    memcpy(copy, load_user(p_src), size_t(src_bytes < dst_bytes ? src_bytes : dst_bytes));
  }
  store_new(p_dst, copy, count, extension);
}

void xar_from_array(const void* src, int count, int object_size, int extension, void* p_dst) {
  if (!p_dst) return;
  byte* copy = static_cast<byte*>(XAR_ALLOC(count, object_size, extension));
  if (copy && src && count > 0) memcpy(copy, src, size_t(count) * object_size);
  store_new(p_dst, copy, count, extension);
}

void xar_concat(void* p_xar, const void* src) {
  if (is_null_array(p_xar)) {
    xar_copy(&src, p_xar);
    return;
  }
  if (!src) return;
  const int src_count = count_of_alike("xar_concat", p_xar, src);
  if (src_count >= 0) XAR_APPEND(p_xar, src_count, src);
}

void xar_inject(void* p_xar, const void* src, int index) {
  if (is_null_array(p_xar)) {
    if (index == 0) {
      xar_copy(&src, p_xar);
      return;
    }
    order_debug_note("xar_inject", "attempt to insert after index %d in empty xarray.", index);
    crash();
    return;
  }
  const int src_count = count_of_alike("xar_inject", p_xar, src);
  if (src_count >= 0) xar_insert(p_xar, index, src_count, src);
}

}  // extern "C"

// Pointer, structure and string xarrays.
#include "runtime/xar/xar_ptr.h"

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/xar_block.h"
#include "runtime/xar/xar_undo.h"

using namespace kel::xar;

namespace {

inline void** pointers(void* p_xar) { return reinterpret_cast<void**>(load_user(p_xar)); }
inline int count_of(const void* p_xar) { return XAR_COUNT(p_xar); }

// A pointer array that may be read as one: a null address, an invalid array or objects of another
// size than a pointer are reported with the routine's name and refused. An absent array is sound.
bool pointers_ok(const void* p_xar, const char* where) {
  if (!p_xar) {
    report_fatal(where, "bad parameter: p_xar");
    return false;
  }
  if (!load_user(p_xar)) return true;
  if (!require(p_xar, "XAR_PARAMS")) return false;
  if (View{load_user(p_xar)}.object_size() == 4) return true;
  report_fatal(where, "object size is not 4");
  return false;
}

// A callback the routine cannot do without: false after the report when it is null.
bool given(bool present, const char* where, const char* message) {
  if (!present) report_fatal(where, message);
  return present;
}

// The walks of the clear calls: every non-null pointer goes to `release` (its address) or else
// to `fn` (its value), then the count becomes 0. False when the call was refused (`missing`
// names the absent callback).
bool clear_pointers(void* p_xar, xar_ptr_release_fn release, xar_ptr_fn fn, const char* where,
                    const char* missing) {
  if (!pointers_ok(p_xar, where) || !given(release || fn, where, missing)) return false;
  const int n = count_of(p_xar);
  for (int i = 0; i < n; ++i)
    if (void* p = pointers(p_xar)[i]) release ? void(release(&p)) : fn(p);
  if (n) XAR_SHRINK(p_xar, n);
  return true;
}

// A pointer array under construction: on a memory break, the blocks it owns from `from` on and
// the array itself are released; entries below `from` still belong to someone else.
struct Building {
  void* xar;
  int from;
  int to;  // entries from..to-1 are owned blocks
};

void release_building(void* arg) {
  Building* b = static_cast<Building*>(arg);
  if (!b->xar) return;
  void** p = static_cast<void**>(b->xar);
  for (int i = b->from; i < b->to; ++i) rlsmem(p[i]);
  XAR_FREE(&b->xar);
}

// The checks of a structure resize to n objects: the object count, or -1 after the report when
// the address is null, the array holds objects of another size or n is out of range.
int str_count(void* p_xar, int n, int object_size) {
  if (!p_xar) {
    report_fatal("xar_str_alloc_or_resize", "bad parameter: xar");
    return -1;
  }
  int old_size = object_size, count = 0;
  if (load_user(p_xar)) XAR_PARAMS(p_xar, &old_size, nullptr, &count, nullptr);
  if (old_size != object_size) {
    report_fatal("xar_str_alloc_or_resize",
                 "inconsistent size: old (%d) != request (%d) - SERIOUS ERROR.", old_size,
                 object_size);
    return -1;
  }
  if (n < 0 || n > xar_max_count(object_size)) {
    report_fatal("xar_str_alloc_or_resize", "bad parameter: n");
    return -1;
  }
  return count;
}

// The growing half: room for n objects, the one step that can run out of memory, before any
// release. False when the growth was refused without a trap to go to: then nothing happens.
bool str_grow(void* p_xar, int n, int count, int object_size, int extension) {
  if (n > count) xar_alloc_or_resize(p_xar, n, object_size, extension);
  return XAR_COUNT(p_xar) >= n;
}

// The releasing half: frees what objects from..count-1 own, then shrinks to n when not grown.
void str_release(void* p_xar, int n, int from, int count, int object_size, int extension,
                 xar_str_free_fn free) {
  if (free)
    for (int i = from; i < count; ++i) free(load_user(p_xar) + i * object_size);
  if (n <= count) xar_alloc_or_resize(p_xar, n, object_size, extension);
}

// A structure copy under way. The copies go into the target when it has room for them, its old
// objects 0..kept-1 set aside first; otherwise into a new array that then becomes the target.
// Copies 0..done-1 are made. On a memory break they are released and the target is as it was.
struct Copies {
  void* p_to;
  byte* fresh;
  byte* aside;
  int kept, count, done, size;
  xar_str_free_fn free;
};

void undo_copies(void* arg) {
  Copies* c = static_cast<Copies*>(arg);
  byte* dst = c->fresh ? c->fresh : load_user(c->p_to);
  if (dst && c->free)
    for (int i = 0; i < c->done; ++i) c->free(dst + i * c->size);
  if (c->fresh) {
    XAR_FREE(&c->fresh);
  } else if (dst) {
    if (c->kept) memcpy(dst, c->aside, size_t(c->kept) * c->size);
    if (XAR_COUNT(c->p_to) > c->count) XAR_SHRINK(c->p_to, XAR_COUNT(c->p_to) - c->count);
  }
  rlsmem(c->aside);
}

// A structure copy: the target must hold objects of the source's size (else null after the
// report); it gets n copies, and the objects past n are released last. What may run out of memory
// comes first (setting the old objects aside, or the new array); then `copy` writes each object in
// its final place. Only at the end are the old objects released.
void* copy_into(const byte* src, void* p_to, int n, int size, int extension, xar_str_free_fn free,
                xar_str_copy_fn copy) {
  const int count = str_count(p_to, n, size);
  if (count < 0) return nullptr;
  byte* const u = load_user(p_to);
  const bool in_place = u ? n <= View{u}.capacity() : n == 0;
  Copies c{p_to, nullptr, nullptr, 0, count, 0, size, free};
  const int registered = undo_begin(undo_copies, &c);
  if (in_place) {
    const int kept = n < count ? n : count;
    if (kept) c.aside = static_cast<byte*>(memcpy(getmem(kept * size), u, size_t(kept) * size));
    c.kept = kept;
    if (n > count) XAR_EXTEND(p_to, n - count);  // within its room: nothing is allocated
  } else {
    // The new array keeps the target's zone and extension.
    const int zone = u && View{u}.zone() >= 0 ? View{u}.zone() : -1;
    c.fresh =
        static_cast<byte*>(xar_alloc_in_zone(zone, n, size, u ? View{u}.extension() : extension));
    if (!c.fresh) {
      undo_end(registered);
      return nullptr;
    }
  }
  byte* const dst = c.fresh ? c.fresh : load_user(p_to);
  for (; c.done < n; ++c.done) {
    memset(dst + c.done * size, 0, size_t(size));
    copy(src + c.done * size, dst + c.done * size);
  }
  undo_end(registered);
  if (c.fresh) {
    if (free)
      for (int i = 0; i < count; ++i) free(u + i * size);
    if (u) XAR_FREE(p_to);
    store_user(p_to, c.fresh);
    return c.fresh;
  }
  if (free)
    for (int i = 0; i < c.kept; ++i) free(c.aside + i * size);
  rlsmem(c.aside);
  str_release(p_to, n, n, count, size, extension, free);
  return load_user(p_to);
}

}  // namespace

extern "C" {

int release_and_null(void* p_pointer) {
  if (!p_pointer) return 0;
  void* p;
  memcpy(&p, p_pointer, sizeof p);
  rlsmem(p);
  p = nullptr;
  memcpy(p_pointer, &p, sizeof p);
  return 1;
}

void xar_ptr_alloc_or_resize(void* p_xar, int n, int extension, xar_ptr_create_fn create,
                             xar_ptr_fn free_offsprings) {
  if (!pointers_ok(p_xar, "xar_ptr_alloc_or_resize")) return;
  if (n < 0 || n > xar_max_count(4)) {
    report_fatal("xar_ptr_alloc_or_resize", "bad parameter: n");
    return;
  }
  const int old = count_of(p_xar);
  for (int i = n; i < old; ++i) {
    void* p = pointers(p_xar)[i];
    if (!p) continue;
    if (free_offsprings) free_offsprings(p);
    rlsmem(p);
    pointers(p_xar)[i] = nullptr;
  }
  // The new objects are made first, in an array of their own, and the array grows last: a
  // memory break releases what was made and leaves the array as it was.
  Building made{nullptr, 0, 0};
  const int registered = n > old && create ? undo_begin(release_building, &made) : 0;
  if (registered || (n > old && create)) {
    made.xar = XAR_ALLOC(n - old, 4, 1);
    for (int i = 0; i < n - old; ++i) {
      static_cast<void**>(made.xar)[i] = create(nullptr);
      made.to = i + 1;
    }
  }
  xar_alloc_or_resize(p_xar, n, 4, extension);
  undo_end(registered);
  if (made.xar) {
    memcpy(pointers(p_xar) + old, made.xar, size_t(n - old) * 4);
    XAR_FREE(&made.xar);
  }
  if (free_offsprings) {
    const int keep = n < old ? n : old;
    for (int i = 0; i < keep; ++i)
      if (void* p = pointers(p_xar)[i]) free_offsprings(p);
  }
}

void xar_ptr_free_offsprings(void* p_xar, xar_ptr_fn free_offsprings) {
  if (!pointers_ok(p_xar, "xar_ptr_free_offsprings") || !free_offsprings) return;
  const int n = count_of(p_xar);
  for (int i = 0; i < n; ++i)
    if (void* p = pointers(p_xar)[i]) free_offsprings(p);
}

void xar_ptr_free(void* p_xar, xar_ptr_fn free_offsprings) {
  if (!pointers_ok(p_xar, "xar_ptr_free")) return;
  if (free_offsprings) {
    const int n = count_of(p_xar);
    for (int i = 0; i < n; ++i)
      if (void* p = pointers(p_xar)[i]) {
        free_offsprings(p);
        rlsmem(p);
      }
  }
  XAR_FREE(p_xar);
}

void xar_ptr_clear_with(void* p_xar, xar_ptr_release_fn release) {
  clear_pointers(p_xar, release, nullptr, "xar_ptr_clear_with", "bad parameter: release");
}

void xar_ptr_clear(void* p_xar) { xar_ptr_clear_with(p_xar, release_and_null); }

void xar_ptr_free_with(void* p_xar, xar_ptr_release_fn release) {
  if (clear_pointers(p_xar, release, nullptr, "xar_ptr_clear_with", "bad parameter: release"))
    XAR_FREE(p_xar);
}

void xar_ptr_free_all(void* p_xar) { xar_ptr_free_with(p_xar, release_and_null); }

void xar_ptr_remove_with(void* p_xar, int index, int n, xar_ptr_release_fn release) {
  if (!pointers_ok(p_xar, "xar_ptr_remove_with") ||
      !given(release, "xar_ptr_remove_with", "bad parameter: release"))
    return;
  const int count = count_of(p_xar);
  if (index < 0 || n < 0 || index > count - n) {
    xar_remove(p_xar, index, n);  // reports the bad range
    return;
  }
  for (int i = index; i < index + n; ++i)
    if (void* p = pointers(p_xar)[i]) release(&p);
  xar_remove(p_xar, index, n);
}

void xar_ptr_remove(void* p_xar, int index, int n) {
  xar_ptr_remove_with(p_xar, index, n, release_and_null);
}

void* xar_ptr_dup(const void* src, xar_ptr_copy_fn copy) {
  if (!src || !pointers_ok(&src, "xar_ptr_dup") ||
      !given(copy, "xar_ptr_dup", "bad parameter: copy"))
    return nullptr;
  Building b{nullptr, 0, 0};
  const int registered = undo_begin(release_building, &b);
  b.xar = xar_copy(&src, nullptr);
  const int n = count_of(&b.xar);
  void** p = static_cast<void**>(b.xar);
  for (int i = 0; i < n; ++i) {
    if (p[i]) p[i] = copy(p[i]);
    b.to = i + 1;
  }
  undo_end(registered);
  return b.xar;
}

void* xar_ptr_deep_copy(const void* src, int size) {
  if (!src || !pointers_ok(&src, "xar_ptr_deep_copy") ||
      !given(size >= 0, "xar_ptr_deep_copy", "bad parameter: size"))
    return nullptr;
  const int n = count_of(&src);
  int extension = 1;
  XAR_PARAMS(&src, nullptr, &extension, nullptr, nullptr);
  Building b{nullptr, 0, 0};
  const int registered = undo_begin(release_building, &b);
  b.xar = XAR_ALLOC(n, 4, extension);
  void* const* from = static_cast<void* const*>(src);
  void** to = static_cast<void**>(b.xar);
  // A null entry stays null: there is nothing to copy, and nothing is read through it.
  for (int i = 0; i < n; ++i) {
    if (from[i]) {
      to[i] = getmem(size);
      memcpy(to[i], from[i], size_t(size));
    }
    b.to = i + 1;
  }
  undo_end(registered);
  return b.xar;
}

void xar_ptr_each_clear(void* p_xar, xar_ptr_fn fn) {
  clear_pointers(p_xar, nullptr, fn, "xar_ptr_each_clear", "bad parameter: fn");
}

void xar_ptr_each_free(void* p_xar, xar_ptr_fn fn) {
  if (clear_pointers(p_xar, nullptr, fn, "xar_ptr_each_clear", "bad parameter: fn"))
    XAR_FREE(p_xar);
}

void xar_xar_free(void* p_xar) {
  if (!pointers_ok(p_xar, "xar_xar_free")) return;
  const int n = count_of(p_xar);
  for (int i = 0; i < n; ++i) XAR_FREE(&pointers(p_xar)[i]);
  XAR_FREE(p_xar);
}

// ---- structure xarrays ----

void* str_alloc_or_copy(const void* from, void* to, int size) {
  if (size > STR_MAX_SIZE) {
    report_fatal("str_alloc_or_copy", "too big structure");
    return nullptr;
  }
  if (from && from == to) {
    report_fatal("str_alloc_or_copy", "bad parametres: p_str_from or p_str_to");
    return nullptr;
  }
  if (size < 0) {
    report_fatal("str_alloc_or_copy", "bad parameter: size");
    return nullptr;
  }
  if (!to) to = getmem(size);
  if (from) memcpy(to, from, size_t(size));
  return to;
}

void xar_str_alloc_or_resize(void* p_xar, int n, int object_size, int extension,
                             xar_str_free_fn free) {
  const int count = str_count(p_xar, n, object_size);
  if (count >= 0 && str_grow(p_xar, n, count, object_size, extension))
    str_release(p_xar, n, 0, count, object_size, extension, free);
}

void xar_str_free(void* p_xar, xar_str_free_fn free) {
  if (!p_xar) {
    report_fatal("xar_str_free", "bad parameter: xar");
    return;
  }
  if (!load_user(p_xar) || !require(p_xar, "XAR_PARAMS")) return;
  if (free) {
    int size = 0, count = 0;
    XAR_PARAMS(p_xar, &size, nullptr, &count, nullptr);
    for (int i = 0; i < count; ++i) free(load_user(p_xar) + i * size);
  }
  XAR_FREE(p_xar);
}

void xar_str_delete(void* p_xar, int index, int n, xar_str_free_fn free) {
  if (!p_xar) {
    report_fatal("xar_str_delete", "bad parameter: xar");
    return;
  }
  if (!load_user(p_xar) || !require(p_xar, "XAR_PARAMS")) return;
  int size = 0, count = 0;
  XAR_PARAMS(p_xar, &size, nullptr, &count, nullptr);
  if (index < 0 || n < 0 || index > count - n) {
    report_fatal("xar_str_delete", "bad parameters: idx or n_elems");
    return;
  }
  if (free)
    for (int i = index; i < index + n; ++i) free(load_user(p_xar) + i * size);
  xar_remove(p_xar, index, n);
}

namespace {
// Whether the source objects lie in the target's storage, where the copies are made.
bool overlaps_target(const void* from, int count, int object_size, const void* p_to) {
  const byte* u = p_to ? load_user(p_to) : nullptr;
  if (!from || !u) return false;
  if (from == u) return true;
  if (!block_ok(u)) return false;  // refused later, with its own report
  const byte* f = static_cast<const byte*>(from);
  const long long span = static_cast<long long>(count > 0 ? count : 1) * object_size;
  return f < u + View{const_cast<byte*>(u)}.data_bytes() && f + span > u;
}
}  // namespace

void* array_to_xar_str_copy(const void* from, void* p_to, int count, int object_size, int extension,
                            xar_str_free_fn free, xar_str_copy_fn copy) {
  if (!from && count == 0 && p_to) return nullptr;
  if (!p_to || overlaps_target(from, count, object_size, p_to) || (count > 0 && (!from || !copy)) ||
      count < 0 || object_size <= 0 || extension < 0) {
    report_fatal("array_to_xar_str_copy", "bad parameters");
    return nullptr;
  }
  return copy_into(static_cast<const byte*>(from), p_to, count, object_size, extension, free, copy);
}

void* xar_str_copy(const void* p_from, void* p_to, xar_str_free_fn free, xar_str_copy_fn copy) {
  if (!p_from || !p_to || p_from == p_to || !copy ||
      (load_user(p_from) && load_user(p_from) == load_user(p_to))) {
    report_fatal("xar_str_copy", "bad parameters");
    return nullptr;
  }
  const void* src = load_user(p_from);
  if (!src) return nullptr;
  int size = 0, extension = 0, count = 0;
  XAR_PARAMS(p_from, &size, &extension, &count, nullptr);
  return copy_into(static_cast<const byte*>(src), p_to, count, size, extension, free, copy);
}

// ---- string xarrays ----

void resize_string_xarray(void* p_xar, int n) {
  int size = 4;  // of an existing array, which must hold pointers
  if (p_xar && load_user(p_xar)) {
    if (!require(p_xar, "XAR_PARAMS")) return;
    size = View{load_user(p_xar)}.object_size();
  }
  if (!p_xar || n < 0 || size != 4) {
    dbg_err_crash("resize_string_xarray", "invalid call");
    return;
  }
  if (!load_user(p_xar)) {
    if (n == 0) return;
    store_user(p_xar, XAR_ALLOC(0, 4, 1));
  }
  const int count = count_of(p_xar);
  for (int i = n; i < count; ++i) release_and_null(&pointers(p_xar)[i]);
  XAR_RESIZE(p_xar, n);
}

void free_string_xarray(void* p_xar) {
  if (!p_xar || !load_user(p_xar) || !pointers_ok(p_xar, "free_string_xarray")) return;
  const int count = count_of(p_xar);
  for (int i = 0; i < count; ++i) rlsmem(pointers(p_xar)[i]);
  XAR_FREE(p_xar);
}

int set_string_xarray(const char* const* strings, int n, void* p_xar) {
  // The copies are made first, in an array of their own, so that a memory break leaves the
  // old strings in place; only then are the old ones released.
  bool bad = !p_xar || n < 0 || n > xar_max_count(4) || (n > 0 && !strings);
  for (int i = 0; !bad && i < n; ++i) bad = !strings[i];
  if (bad) {
    report_fatal("set_string_xarray", "bad parameters");
    return 0;
  }
  if (!pointers_ok(p_xar, "set_string_xarray")) return 0;
  Building b{nullptr, 0, 0};
  const int registered = undo_begin(release_building, &b);
  b.xar = XAR_ALLOC(n, 4, 2);
  for (int i = 0; i < n; ++i) {
    const int length = int(strlen(strings[i])) + 1;
    void* copy = getmem(length);
    memcpy(copy, strings[i], size_t(length));
    static_cast<void**>(b.xar)[i] = copy;
    b.to = i + 1;
  }
  // Room in the target before its strings go.
  if (load_user(p_xar) && count_of(p_xar) < n) {
    const int more = n - count_of(p_xar);
    XAR_EXTEND(p_xar, more);
    XAR_SHRINK(p_xar, more);
  }
  undo_end(registered);
  const int count = count_of(p_xar);
  for (int i = 0; i < count; ++i) rlsmem(pointers(p_xar)[i]);
  if (load_user(p_xar)) {
    XAR_RESIZE(p_xar, n);
    if (n) memcpy(pointers(p_xar), b.xar, size_t(n) * 4);
    XAR_FREE(&b.xar);
  } else {
    store_user(p_xar, b.xar);
  }
  return 0;
}

}  // extern "C"

// Merges of sorted xarrays and harrays into lists of object pointers, the tolerant merge of
// sorted doubles, and ORDER_ARRAY.
#include <stdio.h>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/har.h"
#include "runtime/xar/xar_block.h"
#include "runtime/xar/xar_undo.h"

using namespace kel::xar;

namespace {

int capacity_of(void* u) {
  return block_ok(static_cast<byte*>(u)) ? View{static_cast<byte*>(u)}.capacity() : 0;
}

// One sorted input: an xarray or a harray, absent when null.
struct Input {
  const void* xar;  // user pointer of an xarray, or the outer user pointer of a harray
  bool harray;
  int count() const {
    if (!xar) return 0;
    return harray ? har_count(&xar) : XAR_COUNT(&xar);
  }
  int object_size() const {
    int size = 0;
    const void* p_first = harray ? static_cast<const void*>(static_cast<byte* const*>(xar))
                                 : static_cast<const void*>(&xar);
    XAR_PARAMS(p_first, &size, nullptr, nullptr, nullptr);
    return size;
  }
  int extension() const {
    if (!xar) return 1;
    int ext = 1;
    if (harray) {
      byte* outer = static_cast<byte*>(const_cast<void*>(xar));
      XAR_PARAMS(&reinterpret_cast<byte**>(outer)[View{outer}.count() - 1], nullptr, &ext, nullptr,
                 nullptr);
    } else {
      XAR_PARAMS(&xar, nullptr, &ext, nullptr, nullptr);
    }
    return ext;
  }
  const byte* at(int i, int size) const {
    return harray ? static_cast<const byte*>(har_object(&xar, i, nullptr, nullptr))
                  : static_cast<const byte*>(xar) + i * size;
  }
};

// An output array. Room for the merge is made before anything is written: an output without
// room enough gets a fresh array, which replaces it only once every allocation has been made, so
// that a memory break frees the fresh arrays and leaves the outputs as they were.
struct Output {
  void* p;  // address of the owner's pointer; null when not asked for
  bool harray;
  void* fresh;  // the replacement, or null
};

void free_fresh(void* arg) {
  Output* outs = static_cast<Output*>(arg);
  for (int i = 0; i < 2; ++i) {
    if (outs[i].harray)
      har_free(&outs[i].fresh);
    else
      XAR_FREE(&outs[i].fresh);
  }
}

bool has_room(const Output& out, int need) {
  void* u = load_user(out.p);
  if (!u) return false;
  if (out.harray) return har_count(out.p) >= need;  // growth of a harray takes fresh blocks
  return capacity_of(u) >= need;
}

void make_room(Output& out, int need, int extension) {
  if (!out.p || has_room(out, need)) return;
  if (load_user(out.p))
    XAR_PARAMS(out.harray ? load_user(out.p) : out.p, nullptr, &extension, nullptr, nullptr);
  if (out.harray) {
    out.fresh = har_alloc(4, extension);
    har_resize(&out.fresh, need);
  } else {
    out.fresh = XAR_ALLOC(need, 4, extension);
  }
}

// Puts the replacement in place of the output.
void install(Output& out) {
  if (!out.fresh) return;
  if (out.harray)
    har_free(out.p);
  else
    XAR_FREE(out.p);
  store_user(out.p, out.fresh);
  out.fresh = nullptr;
}

void set_count(const Output& out, int n) {
  if (!out.p) return;
  if (out.harray)
    har_resize(out.p, n);
  else
    XAR_RESIZE(out.p, n);
}

void put(const Output& out, int k, const void* value) {
  if (out.harray) {
    memcpy(har_object(out.p, k, nullptr, nullptr), value, 4);
  } else {
    memcpy(load_user(out.p) + k * 4, value, 4);
  }
}

// True when the array at p_xar is absent or a valid one with objects of `size` bytes.
bool object_size_is(const void* p_xar, int size) {
  if (!p_xar || !load_user(p_xar)) return true;
  return !xar_is_invalid(p_xar) && View{load_user(p_xar)}.object_size() == size;
}

// An input that is absent, or a valid xarray, or an outer array of 4-byte objects whose first
// segment is valid.
bool input_ok(const Input& in) {
  byte* u = static_cast<byte*>(const_cast<void*>(in.xar));
  if (!u) return true;
  if (!block_ok(u)) return false;
  return !in.harray || (View{u}.object_size() == 4 && block_ok(*reinterpret_cast<byte**>(u)));
}

// An existing output is written in place with 4-byte entries: one of another object size would
// be overrun (or its objects filled with pointers), so it is refused.
bool output_fits(const void* p, bool harray) {
  return !p || object_size_is(harray ? load_user(p) : p, 4);
}

// Valid inputs, and a compare when both have objects; else the misuse stop.
bool inputs_ok(const char* where, const Input& a, const Input& b, xar_merge_compare_fn compare) {
  const char* bad = !input_ok(a) || !input_ok(b)                 ? "invalid array"
                    : !compare && a.count() > 0 && b.count() > 0 ? "null compare"
                                                                 : nullptr;
  if (bad) misuse_stop(where, bad);
  return !bad;
}

int merge(const char* where, Input a, Input b, xar_merge_compare_fn compare, void* user_data,
          void* p_out, void* p_sides) {
  if (!p_out) {
    misuse_stop(where, "null output");
    return 0;
  }
  if (!output_fits(p_out, a.harray) || !output_fits(p_sides, a.harray)) {
    misuse_stop(where, "output object size is not 4");
    return 0;
  }
  if (!inputs_ok(where, a, b, compare)) return 0;
  const int na = a.count(), nb = b.count();
  int size = 4;
  if (a.xar) size = a.object_size();
  if (b.xar) {
    const int bs = b.object_size();
    if (a.xar && bs != size) {
      misuse_stop(where, "unequal size");
      return 0;
    }
    size = bs;
  }
  const int ea = a.extension(), eb = b.extension();
  const int extension = ea > eb ? ea : eb;
  Output outs[2] = {{p_out, a.harray, nullptr}, {p_sides, a.harray, nullptr}};
  const int registered = undo_begin(free_fresh, outs);
  make_room(outs[0], na + nb, extension);
  make_room(outs[1], na + nb, a.harray ? extension : 1);
  undo_end(registered);
  install(outs[0]);
  install(outs[1]);
  // Within the room made above nothing allocates.
  set_count(outs[0], na + nb);
  set_count(outs[1], na + nb);
  int k = 0;
  for (int j = 0, i = 0; j < na || i < nb; ++k) {
    const byte* x = j < na ? a.at(j, size) : nullptr;
    const byte* y = i < nb ? b.at(i, size) : nullptr;
    const int f = !x ? 1 : !y ? -1 : compare(x, y, user_data);
    if (outs[1].p) put(outs[1], k, &f);
    const byte* chosen = f <= 0 ? x : y;
    put(outs[0], k, &chosen);
    if (f >= 0) ++i;
    if (f <= 0) ++j;
  }
  set_count(outs[0], k);
  set_count(outs[1], k);
  return k;
}

struct CopyState {
  void* pointers;  // the temporary pointer array (xarray or harray)
  bool harray;
};

void free_temporary(void* arg) {
  CopyState* s = static_cast<CopyState*>(arg);
  if (s->harray)
    har_free(&s->pointers);
  else
    XAR_FREE(&s->pointers);
}

// The merge into a temporary pointer array, then a new array of copies of the merged objects.
void merge_copy(const char* where, Input a, Input b, xar_merge_compare_fn compare, void* user_data,
                void* p_result, void* p_sides) {
  if (!p_result) {
    misuse_stop(where, "null output");
    return;
  }
  if (!inputs_ok(where, a, b, compare)) return;
  // The sides go to a temporary array too, which takes the place of the caller's only once the
  // result exists, so that a memory break leaves the caller's sides as they were.
  CopyState state{nullptr, a.harray};
  CopyState sides{nullptr, a.harray};
  const int registered = undo_begin(free_temporary, &state);
  const int registered_sides = p_sides ? undo_begin(free_temporary, &sides) : 0;
  const int k =
      merge(where, a, b, compare, user_data, &state.pointers, p_sides ? &sides.pointers : nullptr);
  const int size = a.xar ? a.object_size() : b.xar ? b.object_size() : 4;
  void* result;
  if (a.harray) {
    CopyState built{nullptr, true};
    const int inner = undo_begin(free_temporary, &built);
    built.pointers = har_alloc(size, k);
    har_resize(&built.pointers, k);
    result = built.pointers;
    undo_end(inner);
    for (int i = 0; i < k; ++i)
      memcpy(har_object(&result, i, nullptr, nullptr),
             *static_cast<void**>(har_object(&state.pointers, i, nullptr, nullptr)), size_t(size));
  } else {
    result = XAR_ALLOC(k, size, 1);
    const byte* const* ptrs = static_cast<const byte* const*>(state.pointers);
    for (int i = 0; i < k; ++i)
      memcpy(static_cast<byte*>(result) + i * size, ptrs[i], size_t(size));
  }
  undo_end(registered_sides);
  undo_end(registered);
  free_temporary(&state);
  store_user(p_result, result);
  if (p_sides) {
    CopyState old_sides{load_user(p_sides), a.harray};
    free_temporary(&old_sides);
    store_user(p_sides, sides.pointers);
  }
}

// The first harray segment counts as the harray's presence.
Input harray_input(const void* outer) {
  if (outer && !reinterpret_cast<byte* const*>(outer)[0]) outer = nullptr;
  return Input{outer, true};
}

}  // namespace

extern "C" {

int merge_sorted_xarrays(const void* a, const void* b, xar_merge_compare_fn compare,
                         void* user_data, void* p_out, void* p_sides) {
  return merge("merge_sorted_xarrays", Input{a, false}, Input{b, false}, compare, user_data, p_out,
               p_sides);
}

void merge_sorted_xarrays_copy(const void* a, const void* b, xar_merge_compare_fn compare,
                               void* user_data, void* p_result, void* p_sides) {
  merge_copy("merge_sorted_xarrays", Input{a, false}, Input{b, false}, compare, user_data, p_result,
             p_sides);
}

int merge_sorted_harrays(const void* a, const void* b, xar_merge_compare_fn compare,
                         void* user_data, void* p_out, void* p_sides) {
  return merge("merge_sorted_harrays", harray_input(a), harray_input(b), compare, user_data, p_out,
               p_sides);
}

void merge_sorted_harrays_copy(const void* a, const void* b, xar_merge_compare_fn compare,
                               void* user_data, void* p_result, void* p_sides) {
  merge_copy("merge_sorted_harrays", harray_input(a), harray_input(b), compare, user_data, p_result,
             p_sides);
}

int xar_merge_doubles(void* p_xar, const double* values, int n, double tolerance) {
  if (!p_xar || n < 0 || (n > 0 && !values)) {
    misuse_stop("xar_merge_doubles", "invalid input");
    return 0;
  }
  if (!object_size_is(p_xar, int(sizeof(double)))) {
    misuse_stop("xar_merge_doubles", "object size is not 8");
    return 0;
  }
  // Values out of order are taken as they come: each is merged at or after the place the
  // previous one reached, so nothing that was there is lost and the array only grows.
  // A first walk over the array as it stands counts what will be added, so that the array
  // grows once, before anything changes; the second inserts within that room.
  const int c0 = XAR_COUNT(p_xar);
  if (c0 == 0) {  // an empty or absent array takes every value
    if (n > 0) xar_alloc_or_append(p_xar, n, sizeof(double), 1, values);
    return n;
  }
  const double* x0 = reinterpret_cast<const double*>(load_user(p_xar));
  int added = 0;
  for (int j = 0, i = 0; j < c0 && i < n;) {
    const double a = values[i];
    if (a - tolerance > x0[j]) {
      while (j < c0 && a - tolerance > x0[j]) ++j;
      if (j == c0) added += n - i;
    } else if (x0[j] <= a + tolerance) {
      ++i;
    } else {
      int k = i + 1;
      while (k < n && values[k] + tolerance < x0[j]) ++k;
      added += k - i;
      i = k;
    }
  }
  if (added > 0) {
    XAR_EXTEND(p_xar, added);
    XAR_SHRINK(p_xar, added);
  }
  int c = c0;
  for (int j = 0, i = 0; j < c && i < n;) {
    const double* x = reinterpret_cast<const double*>(load_user(p_xar));
    const double a = values[i];
    if (a - tolerance > x[j]) {
      while (j < c && a - tolerance > x[j]) ++j;
      if (j == c) {
        XAR_APPEND(p_xar, n - i, values + i);
        return c + (n - i);
      }
    } else if (x[j] <= a + tolerance) {
      ++i;
    } else {
      int k = i + 1;
      while (k < n && values[k] + tolerance < x[j]) ++k;
      xar_insert(p_xar, j, k - i, values + i);
      c += k - i;
      j += k - i;
      i = k;
    }
  }
  return c;
}

void ORDER_ARRAY(int n, void* data, void** pointers, int size) {
  if (n < 0 || size <= 0 || (n > 0 && (!data || !pointers))) {
    printf("%s:  %s\n", "ORDER_ARRAY", "invalid input");
    return;
  }
  byte* base = static_cast<byte*>(data);
  // The whole permutation is checked before anything moves: every pointer names a distinct
  // object start. A mark bit per object would need memory; instead each pointer is checked
  // for range and alignment, and the cycle walk below stops on a repeat.
  for (int i = 0; i < n; ++i) {
    const byte* r = static_cast<const byte*>(pointers[i]);
    const uintptr_t d = uintptr_t(r) - uintptr_t(base);
    if (r < base || d % unsigned(size) != 0 || d / unsigned(size) >= unsigned(n)) {
      printf("%s:  %s\n", "ORDER_ARRAY", "invalid data");
      return;
    }
  }
  // Distinctness, in one pass: each cycle is walked once, and an entry already walked is
  // marked by a value just past the array (which no valid pointer has). Meeting a marked
  // entry before the cycle closes means two pointers name the same object.
  const uintptr_t past = uintptr_t(base) + uintptr_t(n) * unsigned(size);
  auto marked = [&](int k) { return uintptr_t(pointers[k]) - past < unsigned(n); };
  auto index_of = [&](int k) {
    return marked(k) ? int(uintptr_t(pointers[k]) - past)
                     : int((static_cast<byte*>(pointers[k]) - base) / size);
  };
  bool valid = true;
  for (int i = 0; i < n && valid; ++i) {
    for (int k = i; valid && !marked(k);) {
      const int r = index_of(k);
      pointers[k] = reinterpret_cast<void*>(past + unsigned(r));
      if (r != i && marked(r)) valid = false;
      k = r;
    }
  }
  for (int k = 0; k < n; ++k)
    if (marked(k)) pointers[k] = base + index_of(k) * size;
  if (!valid) {
    printf("%s:  %s\n", "ORDER_ARRAY", "invalid data");
    return;
  }
  byte local[512];
  byte* buffer = size <= int(sizeof local) ? local : static_cast<byte*>(getmem(size));
  for (int i = 0; i < n; ++i) {
    byte* home = base + i * size;
    if (pointers[i] == home) continue;
    memcpy(buffer, home, size_t(size));
    int k = i;
    for (;;) {
      byte* r = static_cast<byte*>(pointers[k]);
      pointers[k] = base + k * size;
      if (r == home) break;
      memcpy(base + k * size, r, size_t(size));
      k = int((r - base) / size);
    }
    memcpy(base + k * size, buffer, size_t(size));
  }
  if (buffer != local) rlsmem(buffer);
}

}  // extern "C"

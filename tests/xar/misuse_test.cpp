// Misuse of the xarray family: every routine that takes an existing array, a count, an index or a
// size, called with a foreign object size, a negative or overflowing count, a bad index or a null
// where a pointer is required, refuses with its report, and neither the target, nor the heap's
// totals, nor a block allocated after the target change.
#include <setjmp.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/diag/diag.h"
#include "runtime/diag/thread.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/mem/mem_block.h"
#include "runtime/shm/shm.h"
#include "runtime/text/kel_printf.h"
#include "runtime/xar/har.h"
#include "runtime/xar/xar_ptr.h"
#include "xar_test_util.h"

namespace {

int compare_ints(const void* a, const void* b, void*) {
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}
int compare_plain(const void* a, const void* b) { return compare_ints(a, b, nullptr); }
// Callbacks that a refused call must not reach.
void never(void*) { ADD_FAILURE() << "a refused call ran a callback"; }
int never_release(void* p) { return never(p), 0; }
void* never_make(void* p) { return never(p), nullptr; }
void never_copy(const void*, void* p) { never(p); }
const int kInts[] = {1, 2};
const double kDoubles[] = {1.0};
const char* const kWords[] = {"a", "b"};
alignas(8) const char kZeros[32] = {};
const void* const kForeign = kZeros + 16;  // no xarray header before it
int g_zone = -1;                           // a zone with one chunk of 64 bytes

// The target: an xarray or a harray of three objects of the row's size, or a plain 24-byte
// block that is no xarray.
enum Kind { X, H, P };

struct Row {
  int object_size;
  Kind kind;
  const char* report;  // a part of what the refusal prints; null: it prints nothing
  void (*call)(void** target);
};

#define R(size, kind, report, ...)                                     \
  {                                                                    \
    size, kind, report, [](void** t [[maybe_unused]]) { __VA_ARGS__; } \
  }
#define FATAL(name, text)  name " : ***\n\t" text
#define SIZE_8_FOR_4(name) name ":  inconsistent size: old (8) != request (4)"

const Row kRows[] = {
    // Primitives.
    R(4, X, "XAR_ALLOC:  invalid request", XAR_ALLOC(-1, 4, 1)),
    R(4, X, "XAR_ALLOC:  invalid request", XAR_ALLOC(1, 0, 1)),
    R(4, X, "XAR_ALLOC:  invalid request", XAR_ALLOC(1, 65536, 1)),
    R(4, X, "XAR_ALLOC:  too big array", XAR_ALLOC(INT_MAX, 4, 1)),
    R(4, X, "XAR_ALLOC:  invalid request", xar_alloc_in_zone(40000, 1, 4, 1)),
    R(4, X, "error_break:  Memory error.", xar_alloc_in_zone(999, 1, 4, 1)),
    R(4, X, "XAR_EXTEND:  invalid request", XAR_EXTEND(t, -1)),
    R(4, X, " XAR_PRE_RELOC:  too big array", XAR_EXTEND(t, INT_MAX)),
    R(4, P, "XAR_EXTEND:  invalid array", XAR_EXTEND(t, 1)),
    R(4, X, "XAR_EXTEND:  invalid array", XAR_EXTEND(nullptr, 1)),
    R(4, X, " XAR_PRE_RELOC:  too big array", XAR_PRE_RELOC(static_cast<char*>(*t) - 8, INT_MAX)),
    R(4, P, "XAR_PRE_RELOC:  invalid array", XAR_PRE_RELOC(*t, 1)),
    R(4, X, "XAR_EXTEND:  invalid request", XAR_APPEND(t, -1, kInts)),
    R(4, X, " XAR_PRE_RELOC:  too big array", XAR_APPEND(t, INT_MAX, kInts)),
    R(4, P, "XAR_EXTEND:  invalid array", XAR_APPEND(t, 1, kInts)),
    R(4, X, "XAR_SHRINK:  invalid request", XAR_SHRINK(t, -1)),
    R(4, X, "XAR_SHRINK:  invalid request", XAR_SHRINK(t, 4)),
    R(4, P, "XAR_SHRINK:  invalid array", XAR_SHRINK(t, 1)),
    R(4, X, "XAR_SHRINK:  invalid request", XAR_RESIZE(t, -1)),
    R(4, X, " XAR_PRE_RELOC:  too big array", XAR_RESIZE(t, INT_MAX)),
    R(4, P, "XAR_RESIZE:  invalid array", XAR_RESIZE(t, 1)),
    R(4, P, "XAR_COUNT:  invalid array", XAR_COUNT(t)),
    R(4, P, "XAR_LAST:  invalid array", XAR_LAST(t)),
    R(4, P, "XAR_PARAMS:  invalid array", int s; XAR_PARAMS(t, &s, &s, &s, &s)),
    R(4, X, "XAR_REPLICATE:  invalid request", XAR_REPLICATE(t, 3, 0)),
    R(4, X, "XAR_REPLICATE:  invalid request", XAR_REPLICATE(t, 0, 4)),
    R(4, X, "XAR_REPLICATE:  invalid request", XAR_REPLICATE(t, -1, 0)),
    R(4, P, "XAR_PARAMS:  invalid array", XAR_REPLICATE(t, 0, 0)),
    R(4, P, "XAR_FREE:  invalid array", XAR_FREE(t)),
    // Element operations.
    R(8, X, SIZE_8_FOR_4("xar_alloc_or_resize"), xar_alloc_or_resize(t, 5, 4, 1)),
    R(4, X, "XAR_SHRINK:  invalid request", xar_alloc_or_resize(t, -1, 4, 1)),
    R(4, X, "XAR_PARAMS:  invalid array", xar_alloc_or_resize(nullptr, 1, 4, 1)),
    R(8, X, SIZE_8_FOR_4("xar_alloc_or_extend"), xar_alloc_or_extend(t, 1, 4, 1)),
    R(4, X, "XAR_EXTEND:  invalid request", xar_alloc_or_extend(t, -1, 4, 1)),
    R(8, X, SIZE_8_FOR_4("xar_alloc_or_append"), xar_alloc_or_append(t, 1, 4, 1, kInts)),
    R(4, X, "XAR_EXTEND:  invalid request", xar_alloc_or_append(t, -1, 4, 1, kInts)),
    R(4, X, "arr_insert wrong call.", xar_insert(t, 4, 1, kInts)),
    R(4, X, "arr_insert wrong call.", xar_insert(t, -1, 1, kInts)),
    R(4, X, "arr_insert wrong call.", xar_insert(t, 0, -1, kInts)),
    R(4, X, " XAR_PRE_RELOC:  too big array", xar_insert(t, 0, INT_MAX, kInts)),
    R(4, P, "XAR_PARAMS:  invalid array", xar_insert(t, 0, 1, kInts)),
    R(4, X, "arr_delete wrong call.", xar_remove(t, 2, 2)),
    R(4, X, "arr_delete wrong call.", xar_remove(t, 1, INT_MAX)),
    R(4, X, "arr_delete wrong call.", xar_remove(t, -1, 1)),
    R(4, X, "arr_delete wrong call.", xar_remove(t, 0, -1)),
    R(4, P, "XAR_PARAMS:  invalid array", xar_remove(t, 0, 1)),
    R(4, X, "xar_delete:  Invalid request", int d[4]; EXPECT_EQ(xar_delete(t, 2, 2, d), nullptr)),
    R(4, X, "xar_delete:  Invalid request", int d[4]; xar_delete(t, 1, INT_MAX, d)),
    R(4, X, "xar_delete:  Invalid request", int d[4]; xar_delete(t, -1, 1, d)),
    R(4, X, "xar_swap:  Invalid request", xar_swap(*t, 0, 3)),
    R(4, X, "xar_swap:  Invalid request", xar_swap(*t, -1, 0)),
    R(4, P, "xar_swap:  Invalid request", xar_swap(*t, 0, 1)),
    R(4, P, "XAR_COUNT:  invalid array", xar_reverse(*t)),
    R(4, X, "XAR_EXTEND:  invalid request", xar_append_copies(t, -1, kInts)),
    R(4, X, " XAR_PRE_RELOC:  too big array", xar_append_copies(t, INT_MAX, kInts)),
    R(4, P, "XAR_PARAMS:  invalid array", xar_append_copies(t, 1, kInts)),
    R(4, X, "xar_concat:  different object size numbers 4 - 8 !!!",
      double* d = xar_test::from({1.0});
      xar_concat(t, d); XAR_FREE(&d)),
    R(4, X, "XAR_PARAMS:  invalid array", xar_concat(t, kForeign)),
    R(4, P, "XAR_PARAMS:  invalid array", xar_concat(t, kInts)),
    R(4, X, "xar_inject:  different object size numbers 4 - 8 !!!",
      double* d = xar_test::from({1.0});
      xar_inject(t, d, 0); XAR_FREE(&d)),
    R(4, X, "arr_insert wrong call.", xar_inject(t, *t, 4)),
    R(4, X, "xar_inject:  attempt to insert after index 1 in empty xarray.", void* e = nullptr;
      xar_inject(&e, *t, 1)),
    R(4, X, "XAR_PARAMS:  invalid array", xar_copy(&kForeign, t)),
    R(4, X, "XAR_COUNT:  invalid array", xar_copy_as(&kForeign, 4, 1, t)),
    R(4, X, "XAR_ALLOC:  invalid request", xar_copy_as(t, 0, 1, t)),
    R(4, X, "XAR_ALLOC:  invalid request", xar_from_array(kInts, -1, 4, 1, t)),
    R(4, X, "XAR_ALLOC:  invalid request", xar_from_array(kInts, 2, 0, 1, t)),
    R(4, P, "XAR_PARAMS:  invalid array", xar_sort(t, compare_plain)),
    R(4, X, "xar_sort:  invalid request", xar_sort(t, nullptr)),
    // Plain arrays.
    R(4, X, "arr_insert wrong call.", int c = -1; arr_insert(*t, 4, &c, 0, 1, kInts)),
    R(4, X, "arr_insert wrong call.", int c = 3; arr_insert(*t, 4, &c, 4, 1, kInts)),
    R(4, X, "arr_insert wrong call.", int c = 2; arr_insert(*t, 4, &c, 0, -1, kInts)),
    R(4, X, "arr_insert wrong call.", int c = 1; arr_insert(*t, 0, &c, 0, 1, kInts)),
    R(4, X, "arr_insert wrong call.", arr_insert(*t, 4, nullptr, 0, 1, kInts)),
    R(4, X, "arr_insert wrong call.", int c = 0; arr_insert(nullptr, 4, &c, 0, 1, kInts)),
    R(4, X, "arr_insert bad data pointer.", int c = 1; arr_insert(*t, 4, &c, 0, 1, *t)),
    R(4, X, "arr_delete wrong call.", int c = 3; arr_delete(*t, 4, &c, 1, INT_MAX, nullptr)),
    R(4, X, "arr_delete wrong call.", int c = 3; arr_delete(nullptr, 4, &c, 1, 1, nullptr)),
    R(4, X, "arr_delete  bad data pointer.", int c = 3;
      arr_delete(*t, 4, &c, 0, 1, static_cast<int*>(*t) + 1)),
    R(4, X, nullptr, EXPECT_EQ(arr_rotate(*t, -4, 1, 3), 0)),
    R(4, X, nullptr, EXPECT_EQ(arr_rotate(*t, 4, 3, 3), 0)),
    R(4, X, nullptr, EXPECT_EQ(arr_rotate(*t, 4, -1, 3), 0)),
    R(4, X, nullptr, EXPECT_EQ(arr_rotate(*t, 65536, 1, 65536), 0)),
    R(4, X, nullptr, arr_reverse(*t, 3, -4)),
    // Zones, the persistent-memory calls and the debugging view.
    R(4, X, "error_break:  Memory error.", xar_zone_destroy(999)),
    R(4, X, "error_break:  Memory error.", xar_zone_reset(-1, 1)),
    R(4, X, "error_break:  Memory error.", xar_zone_chunk_size(999)),
    R(4, X, "error_break:  Memory error.", xar_zone_alloc(999, 8)),
    R(4, X, "error_break:  Memory error.", xar_zone_alloc(g_zone, 65)),
    R(4, X, "error_break:  Memory error.", xar_zone_alloc(g_zone, -8)),
    R(4, X, "error_break:  Memory error.", xar_zone_alloc(g_zone, INT_MAX)),
    R(4, P, FATAL("pmm_xar_clear_zone", "Bad xar"), pmm_xar_clear_zone(t)),
    R(4, P, FATAL("pmm_xar_body_size", "Bad xar"), pmm_xar_body_size(t)),
    R(4, P, FATAL("pmm_xar_sizeof_compact_copy", "Bad xar"), pmm_xar_sizeof_compact_copy(t)),
    R(4, X, FATAL("pmm_xar_compact_copy", "buffer too small"), char b[8];
      pmm_xar_compact_copy(t, b, 8)),
    R(4, X, FATAL("pmm_xar_compact_copy", "buffer too small"),
      pmm_xar_compact_copy(t, nullptr, 99)),
    R(4, X, FATAL("pmm_xar_compact_copy", "can't copy from zone"), char b[64];
      xar_zone_reset(g_zone, 0); void* z = xar_alloc_in_zone(g_zone, 1, 4, 1);
      pmm_xar_compact_copy(&z, b, 64)),
    R(4, P, "debug_xar_hdr_memusage:  invalid xarray!", int s;
      debug_xar_hdr_memusage(t, &s, &s, &s, &s)),
    // Pointer xarrays.
    R(4, X, FATAL("xar_ptr_alloc_or_resize", "bad parameter: n"),
      xar_ptr_alloc_or_resize(t, -1, 1, never_make, never)),
    R(4, X, FATAL("xar_ptr_alloc_or_resize", "bad parameter: n"),
      xar_ptr_alloc_or_resize(t, INT_MAX, 1, never_make, never)),
    R(4, X, FATAL("xar_ptr_alloc_or_resize", "bad parameter: p_xar"),
      xar_ptr_alloc_or_resize(nullptr, 1, 1, never_make, never)),
    R(8, X, FATAL("xar_ptr_alloc_or_resize", "object size is not 4"),
      xar_ptr_alloc_or_resize(t, 1, 1, never_make, never)),
    R(8, X, FATAL("xar_ptr_free_offsprings", "object size is not 4"),
      xar_ptr_free_offsprings(t, never)),
    R(4, X, FATAL("xar_ptr_free_offsprings", "bad parameter: p_xar"),
      xar_ptr_free_offsprings(nullptr, never)),
    R(8, X, FATAL("xar_ptr_free", "object size is not 4"), xar_ptr_free(t, never)),
    R(4, X, FATAL("xar_ptr_free", "bad parameter: p_xar"), xar_ptr_free(nullptr, never)),
    R(8, X, FATAL("xar_ptr_clear_with", "object size is not 4"),
      xar_ptr_clear_with(t, never_release)),
    R(4, X, FATAL("xar_ptr_clear_with", "bad parameter: p_xar"),
      xar_ptr_clear_with(nullptr, never_release)),
    R(4, X, FATAL("xar_ptr_clear_with", "bad parameter: release"), xar_ptr_clear_with(t, nullptr)),
    R(8, X, FATAL("xar_ptr_clear_with", "object size is not 4"), xar_ptr_clear(t)),
    R(8, X, FATAL("xar_ptr_clear_with", "object size is not 4"),
      xar_ptr_free_with(t, never_release)),
    R(8, X, FATAL("xar_ptr_clear_with", "object size is not 4"), xar_ptr_free_all(t)),
    R(4, X, "arr_delete wrong call.", xar_ptr_remove_with(t, 2, 2, never_release)),
    R(4, X, "arr_delete wrong call.", xar_ptr_remove_with(t, 1, INT_MAX, never_release)),
    R(4, X, "arr_delete wrong call.", xar_ptr_remove(t, -1, 1)),
    R(8, X, FATAL("xar_ptr_remove_with", "object size is not 4"),
      xar_ptr_remove_with(t, 0, 1, never_release)),
    R(4, X, FATAL("xar_ptr_remove_with", "bad parameter: release"),
      xar_ptr_remove_with(t, 0, 1, nullptr)),
    R(8, X, FATAL("xar_ptr_dup", "object size is not 4"),
      EXPECT_EQ(xar_ptr_dup(*t, never_make), nullptr)),
    R(4, X, FATAL("xar_ptr_dup", "bad parameter: copy"), xar_ptr_dup(*t, nullptr)),
    R(4, P, "XAR_PARAMS:  invalid array", xar_ptr_dup(*t, never_make)),
    R(4, X, FATAL("xar_ptr_deep_copy", "bad parameter: size"), xar_ptr_deep_copy(*t, -1)),
    R(8, X, FATAL("xar_ptr_deep_copy", "object size is not 4"), xar_ptr_deep_copy(*t, 4)),
    R(8, X, FATAL("xar_ptr_each_clear", "object size is not 4"), xar_ptr_each_clear(t, never)),
    R(4, X, FATAL("xar_ptr_each_clear", "bad parameter: fn"), xar_ptr_each_clear(t, nullptr)),
    R(8, X, FATAL("xar_ptr_each_clear", "object size is not 4"), xar_ptr_each_free(t, never)),
    R(8, X, FATAL("xar_xar_free", "object size is not 4"), xar_xar_free(t)),
    R(4, P, "XAR_PARAMS:  invalid array", xar_xar_free(t)),
    R(4, X, nullptr, EXPECT_EQ(release_and_null(nullptr), 0)),
    // Structure xarrays.
    R(4, X, FATAL("str_alloc_or_copy", "bad parameter: size"), str_alloc_or_copy(kDoubles, *t, -1)),
    R(4, X, FATAL("str_alloc_or_copy", "too big structure"), str_alloc_or_copy(kZeros, *t, 20481)),
    R(4, X, FATAL("str_alloc_or_copy", "bad parametres: p_str_from or p_str_to"),
      str_alloc_or_copy(*t, *t, 4)),
    R(8, X, FATAL("xar_str_alloc_or_resize", "inconsistent size: old (8) != request (4)"),
      xar_str_alloc_or_resize(t, 1, 4, 1, never)),
    R(4, X, FATAL("xar_str_alloc_or_resize", "bad parameter: xar"),
      xar_str_alloc_or_resize(nullptr, 1, 4, 1, never)),
    R(4, X, FATAL("xar_str_alloc_or_resize", "bad parameter: n"),
      xar_str_alloc_or_resize(t, -1, 4, 1, never)),
    R(4, X, FATAL("xar_str_alloc_or_resize", "bad parameter: n"),
      xar_str_alloc_or_resize(t, INT_MAX, 4, 1, never)),
    R(4, X, FATAL("xar_str_free", "bad parameter: xar"), xar_str_free(nullptr, never)),
    R(4, P, "XAR_PARAMS:  invalid array", xar_str_free(t, never)),
    R(4, X, FATAL("xar_str_delete", "bad parameters: idx or n_elems"),
      xar_str_delete(t, 2, 2, never)),
    R(4, X, FATAL("xar_str_delete", "bad parameters: idx or n_elems"),
      xar_str_delete(t, 1, INT_MAX, never)),
    R(4, X, FATAL("xar_str_delete", "bad parameter: xar"), xar_str_delete(nullptr, 0, 1, never)),
    R(4, P, "XAR_PARAMS:  invalid array", xar_str_delete(t, 0, 1, never)),
    R(4, X, FATAL("xar_str_copy", "bad parameters"), xar_str_copy(t, t, never, never_copy)),
    R(4, X, FATAL("xar_str_copy", "bad parameters"), xar_str_copy(nullptr, t, never, never_copy)),
    R(4, X, FATAL("xar_str_copy", "bad parameters"), void* s = *t;
      xar_str_copy(&s, t, never, never_copy)),
    R(4, X, FATAL("xar_str_copy", "bad parameters"), int* s = xar_test::from({5});
      xar_str_copy(&s, t, never, nullptr); XAR_FREE(&s)),
    R(8, X, FATAL("xar_str_alloc_or_resize", "inconsistent size: old (8) != request (4)"),
      int* s = xar_test::from({5});
      xar_str_copy(&s, t, never, never_copy); XAR_FREE(&s)),
    R(4, X, FATAL("array_to_xar_str_copy", "bad parameters"),
      array_to_xar_str_copy(kInts, t, -1, 4, 1, never, never_copy)),
    R(4, X, FATAL("array_to_xar_str_copy", "bad parameters"),
      array_to_xar_str_copy(kInts, t, 2, 0, 1, never, never_copy)),
    R(4, X, FATAL("array_to_xar_str_copy", "bad parameters"),
      array_to_xar_str_copy(kInts, t, 2, 4, -1, never, never_copy)),
    R(4, X, FATAL("array_to_xar_str_copy", "bad parameters"),
      array_to_xar_str_copy(nullptr, t, 2, 4, 1, never, never_copy)),
    R(4, X, FATAL("array_to_xar_str_copy", "bad parameters"),
      array_to_xar_str_copy(*t, t, 2, 4, 1, never, never_copy)),
    R(4, X, FATAL("array_to_xar_str_copy", "bad parameters"),
      array_to_xar_str_copy(kInts, nullptr, 2, 4, 1, never, never_copy)),
    R(4, X, FATAL("array_to_xar_str_copy", "bad parameters"),
      array_to_xar_str_copy(kInts, t, 2, 4, 1, never, nullptr)),
    R(8, X, FATAL("xar_str_alloc_or_resize", "inconsistent size: old (8) != request (4)"),
      array_to_xar_str_copy(kInts, t, 2, 4, 1, never, never_copy)),
    R(4, X, FATAL("xar_str_alloc_or_resize", "bad parameter: n"),
      array_to_xar_str_copy(kInts, t, INT_MAX, 4, 1, never, never_copy)),
    // String xarrays.
    R(4, X, "resize_string_xarray:  invalid call", resize_string_xarray(t, -1)),
    R(4, X, "resize_string_xarray:  invalid call", resize_string_xarray(nullptr, 1)),
    R(8, X, "resize_string_xarray:  invalid call", resize_string_xarray(t, 1)),
    R(4, X, " XAR_PRE_RELOC:  too big array", resize_string_xarray(t, INT_MAX)),
    R(8, X, FATAL("free_string_xarray", "object size is not 4"), free_string_xarray(t)),
    R(4, P, "XAR_PARAMS:  invalid array", free_string_xarray(t)),
    R(4, X, FATAL("set_string_xarray", "bad parameters"), set_string_xarray(kWords, -1, t)),
    R(4, X, FATAL("set_string_xarray", "bad parameters"), set_string_xarray(kWords, INT_MAX, t)),
    R(4, X, FATAL("set_string_xarray", "bad parameters"), set_string_xarray(nullptr, 1, t)),
    R(4, X, FATAL("set_string_xarray", "bad parameters"), set_string_xarray(kWords, 1, nullptr)),
    R(8, X, FATAL("set_string_xarray", "object size is not 4"), set_string_xarray(kWords, 1, t)),
    // Harrays.
    R(4, H, "har_alloc:  invalid request", har_alloc(0, 1)),
    R(4, H, "har_alloc:  invalid request", har_alloc(65536, 1)),
    R(8, X, "har_count:  invalid array", har_count(t)),
    R(4, P, "har_count:  invalid array", har_count(t)),
    R(4, H, "har_append:  invalid request", har_append(t, -1, kInts)),
    R(4, H, "har_append:  too big array", har_append(t, INT_MAX - 2, nullptr)),
    R(8, X, "har_append:  invalid array", har_append(t, 1, kInts)),
    R(4, H, "har_shrink:  invalid request", har_shrink(t, 4)),
    R(4, H, "har_shrink:  invalid request", har_shrink(t, -1)),
    R(4, H, "har_shrink:  invalid request", har_resize(t, -1)),
    R(4, H, "har_remove:  invalid request", har_remove(t, 2, 2)),
    R(4, H, "har_remove:  invalid request", har_remove(t, -1, 1)),
    R(4, H, "har_remove:  invalid request", har_remove(t, 0, -1)),
    R(4, H, "har_remove:  invalid request", har_remove(t, 1, INT_MAX)),
    R(8, X, "har_remove:  invalid array", har_remove(t, 0, 1)),
    R(4, H, nullptr, EXPECT_EQ(har_extract(t, -1, 1, 1), nullptr)),
    R(4, H, nullptr, EXPECT_EQ(har_extract(t, 2, 2, 1), nullptr)),
    R(4, H, nullptr, EXPECT_EQ(har_extract(t, 0, -1, 1), nullptr)),
    R(4, H, nullptr, EXPECT_EQ(har_extract(t, 1, INT_MAX, 1), nullptr)),
    R(4, H, "XAR_ALLOC:  invalid request", EXPECT_EQ(har_extract(t, 0, 2, -1), nullptr)),
    R(8, X, "har_copy:  invalid array", har_copy(t, t)),
    R(4, H, "har_concat:  unequal size", void* h = har_alloc(8, 1); har_concat(t, &h);
      har_free(&h)),
    R(8, X, "har_concat:  invalid array", void* h = har_alloc(4, 1); har_concat(t, &h);
      har_free(&h)),
    R(8, X, "har_free:  invalid array", har_free(t)),
    R(4, H, nullptr, EXPECT_EQ(har_object(t, -1, nullptr, nullptr), nullptr)),
    R(4, H, nullptr, EXPECT_EQ(har_object(t, 3, nullptr, nullptr), nullptr)),
    R(4, H, nullptr, EXPECT_EQ(har_object(t, INT_MAX, nullptr, nullptr), nullptr)),
    // Merges.
    R(8, X, "merge_sorted_xarrays:  output object size is not 4", int* a = xar_test::from({1});
      merge_sorted_xarrays(a, nullptr, compare_ints, nullptr, t, nullptr); XAR_FREE(&a)),
    R(2, X, "merge_sorted_xarrays:  output object size is not 4", void* out = nullptr;
      merge_sorted_xarrays(nullptr, nullptr, compare_ints, nullptr, &out, t)),
    R(8, H, "merge_sorted_harrays:  output object size is not 4", void* a = har_alloc(4, 1);
      har_append(&a, 1, kInts); merge_sorted_harrays(a, nullptr, compare_ints, nullptr, t, nullptr);
      har_free(&a)),
    R(4, X, "merge_sorted_xarrays:  null output",
      merge_sorted_xarrays(*t, *t, compare_ints, nullptr, nullptr, t)),
    R(4, X, "merge_sorted_xarrays:  null output",
      merge_sorted_xarrays_copy(*t, nullptr, compare_ints, nullptr, nullptr, t)),
    R(4, H, "merge_sorted_harrays:  null output",
      merge_sorted_harrays_copy(*t, nullptr, compare_ints, nullptr, nullptr, t)),
    R(4, X, "merge_sorted_xarrays:  unequal size", double* d = xar_test::from({1.0});
      void* out = nullptr; merge_sorted_xarrays(*t, d, compare_ints, nullptr, &out, nullptr);
      XAR_FREE(&d)),
    R(4, P, "merge_sorted_xarrays:  invalid array", void* out = nullptr;
      merge_sorted_xarrays(*t, nullptr, compare_ints, nullptr, &out, nullptr)),
    R(4, X, "merge_sorted_xarrays:  null compare", void* out = nullptr;
      merge_sorted_xarrays(*t, *t, nullptr, nullptr, &out, nullptr)),
    R(4, X, "xar_merge_doubles:  object size is not 8", xar_merge_doubles(t, kDoubles, 1, 0.0)),
    R(4, P, "xar_merge_doubles:  object size is not 8", xar_merge_doubles(t, kDoubles, 1, 0.0)),
    R(4, X, "xar_merge_doubles:  invalid input", xar_merge_doubles(t, kDoubles, -1, 0.0)),
    R(4, X, "xar_merge_doubles:  invalid input", xar_merge_doubles(t, nullptr, 1, 0.0)),
    R(4, X, "xar_merge_doubles:  invalid input", xar_merge_doubles(nullptr, kDoubles, 1, 0.0)),
    R(4, X, "ORDER_ARRAY:  invalid input", void* p[3] = {}; ORDER_ARRAY(-1, *t, p, 4)),
    R(4, X, "ORDER_ARRAY:  invalid input", void* p[3] = {}; ORDER_ARRAY(3, *t, p, 0)),
    R(4, X, "ORDER_ARRAY:  invalid input", ORDER_ARRAY(3, *t, nullptr, 4)),
    R(4, X, "ORDER_ARRAY:  invalid data", void* p[3] = {*t, *t, *t}; ORDER_ARRAY(3, *t, p, 4)),
    // The diagnostics, thread and process-record calls.
    R(4, X, FATAL("exit_handler_add", "null handler."), EXPECT_EQ(exit_handler_add(nullptr), 0)),
    R(4, X, nullptr, int k = 5; EXPECT_EQ(tls_key_create(nullptr, 0, 1, 2), THREAD_INVALID_TLS_KEY);
      EXPECT_EQ(tls_key_create(&k, 9, 1, 2), THREAD_INVALID_TLS_TYPE); EXPECT_EQ(k, 5)),
    R(4, X, nullptr, EXPECT_EQ(tls_key_delete(nullptr), THREAD_INVALID_TLS_KEY)),
    R(4, X, FATAL("proc_record_is_running", "null record."),
      EXPECT_EQ(proc_record_is_running(nullptr), 0)),
    R(4, X, FATAL("kel_wait_for_subproc", "null record."), int code = 7;
      EXPECT_EQ(kel_wait_for_subproc(2, nullptr, &code), -1); EXPECT_EQ(code, 7)),
    R(4, X, FATAL("kel_wait_for_subproc", "null record."), proc_record* none[2] = {};
      EXPECT_EQ(kel_wait_for_subproc(2, none, nullptr), -1)),
    R(4, X, FATAL("thread_start", "null function."),
      EXPECT_EQ(thread_start(PROC_RECORD_THREAD, nullptr, nullptr), nullptr)),
    R(4, X, "trap_block_get:  invalid request", trap_block held = {nullptr, 0};
      EXPECT_EQ(trap_block_get(&held, -5), nullptr); EXPECT_EQ(held.data, nullptr)),
};

#undef R
#undef FATAL
#undef SIZE_8_FOR_4

// Runs a call under a trap of memory breaks, as a caller that recovers would.
KEL_NOINLINE void call_trapped(void (*call)(void**), void** target) {
  jmp_buf resume;
  if (setjmp(resume) == 0) {
    trap_push(resume, TRAP_CLASS_SERIOUS_ERROR);
    call(target);
  }
  trap_pop();
}

// The target's blocks, headers and trailers included, and the heap's totals.
std::string state(const Row& row, void* target) {
  int blocks = 0, bytes = 0;
  getmem_counters(&blocks, &bytes, nullptr, nullptr);
  const char* p = static_cast<const char*>(target);
  std::string s = std::to_string(blocks) + "/" + std::to_string(bytes) + ":";
  if (row.kind == P) return s + std::string(p, 24);
  s.append(p - 8, size_t(xar_test::raw(p).units) * 8);
  if (row.kind == H) {
    const char* first = *static_cast<char* const*>(target);
    s.append(first - 8, size_t(xar_test::raw(first).units) * 8);
  }
  return s;
}

// `check` false: the first passes, in which the reports and the print engine make the buffers
// they keep from their first uses on.
void run_row(const Row& row, bool check) {
  const char objects[24] = {1, 0, 0, 0, 2, 0, 0, 0, 3};
  void* target = nullptr;
  if (row.kind == H) {
    target = har_alloc(row.object_size, 2);
    har_append(&target, 3, objects);
  } else if (row.kind == X) {
    xar_from_array(objects, 3, row.object_size, 1, &target);
  } else {
    target = memcpy(getmem(24), objects, 24);
  }
  char* guard = static_cast<char*>(getmem(64));
  memset(guard, 0x5A, 64);
  void* const was = target;
  const std::string before = state(row, target);
  xar_test::stops_raised = 0;
  call_trapped(row.call, &target);
  ASSERT_EQ(target, was);
  if (check) {
    EXPECT_EQ(state(row, target), before);
  }
  EXPECT_EQ(std::string(guard, 64), std::string(64, 0x5A));
  EXPECT_EQ(heap_state_check(), nullptr);
  rlsmem(guard);
  if (row.kind == H)
    har_free(&target);
  else if (row.kind == X)
    XAR_FREE(&target);
  else
    rlsmem(target);
}

TEST(XarMisuse, RefusedWithTargetHeapAndNeighbourUnchanged) {
  // One child runs every row, so that the table costs one process where each child is a new
  // run of the program; each row's output follows its marker.
  const int rows = int(std::size(kRows));
  const std::string out = testsupport::run_child(
      [&] {
        xar_test::catch_stops();
        serious_error_reporting_set(1);
        for (int i = 0; i < 64; ++i) kel_sprintf(nullptr, "%d", i);  // the engine's buffers
        g_zone = xar_zone_create(64);
        xar_zone_alloc(g_zone, 16);
        for (int pass = 0; pass < 3; ++pass) {
          for (int i = 0; i < rows; ++i) {
            printf("\n@%srow %d\n", pass < 2 ? "first passes, " : "", i);
            fflush(stdout);
            SCOPED_TRACE("row " + std::to_string(i));
            run_row(kRows[i], pass == 2);
            fflush(stdout);
          }
        }
      },
      testsupport::exits(0));
  for (int i = 0; i < rows; ++i) {
    const size_t from = out.find("\n@row " + std::to_string(i) + "\n");
    const size_t to = out.find("\n@row " + std::to_string(i + 1) + "\n");
    ASSERT_NE(from, std::string::npos) << "row " << i << " did not start; the output ends:\n"
                                       << out.substr(out.size() > 3000 ? out.size() - 3000 : 0);
    const size_t start = out.find('\n', from + 1) + 1;
    const std::string said = out.substr(start, to == std::string::npos ? to : to - start);
    if (kRows[i].report)
      EXPECT_TRUE(xar_test::contains(said, kRows[i].report)) << "row " << i << ":\n" << said;
    else
      EXPECT_EQ(said, "") << "row " << i;
  }
}

}  // namespace

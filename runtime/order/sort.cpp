// Sorting routines over the pointer quicksort.
#include "runtime/order/sort.h"

#include <math.h>
#include <string.h>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/order/order_guard.h"
#include "runtime/order/sort_impl.h"
#include "runtime/xar/har.h"
#include "runtime/xar/xar.h"

using namespace kel::order;

namespace {

constexpr int kStackPointers = 12;  // pointer lists up to this many live on the stack

// ---- module-wide slots ----
// What a wrapped sort passes to its two-argument compare, and whether a sort of that kind runs.
struct Slot {
  int busy;
  sort_compare_fn compare;
  sort_value_compare_fn value_compare;
};
Slot g_stable{}, g_int{}, g_index{};
double g_point_tolerance = 0.0;

// Claims a wrapped sort's slot; a nested call of the same kind is refused with a report.
bool claim(Slot* slot, const char* where) {
  if (slot->busy) {
    dbg_err_crash(where, "called from the compare of a sort of its own kind: refused");
    return false;
  }
  slot->busy = 1;
  return true;
}

int address_order(const void* a, const void* b) { return (a > b) - (a < b); }

int stable_compare(const void* a, const void* b) {
  if (!g_stable.compare) crash();
  const int c = g_stable.compare(a, b);
  return c ? c : address_order(a, b);
}

int int_compare(const void* a, const void* b) {
  if (!g_int.value_compare) crash();
  const int c = g_int.value_compare(*static_cast<const int*>(a), *static_cast<const int*>(b));
  return c ? c : address_order(a, b);
}

// NaN after every number, all NaNs equal to each other.
int double_compare(const void* a, const void* b) {
  const double x = *static_cast<const double*>(a), y = *static_cast<const double*>(b);
  if (x < y) return -1;
  if (x > y) return 1;
  if (x == y) return 0;
  return isnan(x) - isnan(y);
}

// What a sort holds while caller code runs: a scratch block and the slot it claimed.
struct Held {
  void* block;
  Slot* slot;
};

void release_held(void* context) {
  Held* h = static_cast<Held*>(context);
  rlsmem(h->block);
  h->block = nullptr;
  if (h->slot) *h->slot = Slot{};
  h->slot = nullptr;
}

// Sorts the objects at data through a pointer list; `list` has room for n pointers.
void sort_objects(int n, sort_compare_fn compare, unsigned char* data, int size, void** list) {
  for (int i = 0; i < n; ++i) list[i] = data + i * size;
  sort_range(Direct{list}, n, Fn{compare});
}

// The objects follow the sorted list through ORDER_ARRAY, one copy each along the permutation
// cycles. Small objects are instead gathered in sorted order into the scratch block that holds the
// list (the list sits at its end, so that object i never overwrites a pointer not yet read) and
// copied back in one piece: sequential writes instead of a random walk over the cycles.
constexpr int kGatherBytes = 16;
inline int gather_unit(int size) { return size > int(sizeof(void*)) ? size : int(sizeof(void*)); }

void gather_objects(int n, unsigned char* data, int size, unsigned char* block, void** list) {
  for (int i = 0; i < n; ++i) memcpy(block + i * size, list[i], size_t(size));
  memcpy(data, block, size_t(n) * size);
}

bool valid_request(int n, const void* data, int size, const char* where);

// sort_array's quicksort on the objects themselves: the compares of the pointer sort on the same
// objects, and what it does to its pointers done to the objects, with swaps of the object size
// known here; no list, no allocation, no final pass.
void sort_in_place(int n, sort_compare_fn compare, unsigned char* data, int size) {
  switch (size) {
    case 4: sort_sequence(Objects<4>{data, size, compare}, n); break;
    case 8: sort_sequence(Objects<8>{data, size, compare}, n); break;
    case 16: sort_sequence(Objects<16>{data, size, compare}, n); break;
    default: sort_sequence(Objects<0>{data, size, compare}, n); break;
  }
}

// The common body of the wrapped sorts, whose compares break ties by address and so see the
// objects where they stand: a pointer list (on the stack when small, else in one scratch block) is
// sorted and the objects moved after it. The slot is claimed only once the guard that releases it
// on a jump is in place.
int sort_array_held(int n, sort_compare_fn compare, sort_value_compare_fn value_compare, void* data,
                    int size, Slot* slot, const char* where) {
  unsigned char* bytes = static_cast<unsigned char*>(data);
  void* local_list[kStackPointers];
  void** list = local_list;
  const bool big_list = n > kStackPointers;
  const bool gather = big_list && size <= kGatherBytes;
  Held held{nullptr, nullptr};
  Guard guard;
  guard_open(&guard, release_held, &held);
  if (!claim(slot, where)) {
    guard_close(&guard);
    return -1;
  }
  held.slot = slot;
  if (slot == &g_stable) g_stable.compare = compare;
  if (slot == &g_int) g_int.value_compare = value_compare;
  const sort_compare_fn used = slot == &g_stable ? stable_compare : int_compare;
  if (valid_request(n, data, size, where)) {
    if (gather) {
      const int block_bytes = n * gather_unit(size);
      held.block = getmem(block_bytes);
      list = reinterpret_cast<void**>(static_cast<unsigned char*>(held.block) + block_bytes) - n;
    } else if (big_list) {
      list = static_cast<void**>(held.block = getmem(n * int(sizeof(void*))));
    }
    if (held.block || !big_list) {  // else reported by the memory break; nothing moved
      sort_objects(n, used, bytes, size, list);
      if (gather)
        gather_objects(n, bytes, size, static_cast<unsigned char*>(held.block), list);
      else
        ORDER_ARRAY(n, bytes, list, size);
    }
  }
  guard_close(&guard);
  release_held(&held);
  return 0;
}

bool valid_request(int n, const void* data, int size, const char* where) {
  if (n < 2) return false;
  if (!data || size <= 0 ||
      n > INT32_MAX / (size > int(sizeof(void*)) ? size : int(sizeof(void*)))) {
    dbg_err_crash(where, "invalid input");
    return false;
  }
  return true;
}

// sort_partial_order: one record per object.
struct Precedence {
  unsigned char* object;
  Precedence** successors;  // pointer xarray, extension 10
  int predecessors;
  int placed;
};

struct PartialWork {
  Precedence* records;  // n records, then n placement pointers
  int n;
};

void release_partial(void* context) {
  PartialWork* w = static_cast<PartialWork*>(context);
  if (w->records)
    for (int i = 0; i < w->n; ++i) XAR_FREE(&w->records[i].successors);
  rlsmem(w->records);
  w->records = nullptr;
}

void add_successor(Precedence* from, Precedence* to) {
  xar_alloc_or_append(&from->successors, 1, sizeof(Precedence*), 10, &to);
  to->predecessors += 1;
}

}  // namespace

extern "C" {

void sort_pointers(int n, sort_compare_fn compare, void** pointers) {
  if (n > 1 && pointers) sort_range(Direct{pointers}, n, Fn{compare});
}

void sort_pointers_indirect(int n, sort_compare_fn compare, sort_slot_fn slot_of) {
  if (n > 1 && slot_of) sort_range(Indirect<sort_slot_fn>{slot_of}, n, Fn{compare});
}

void sort_array(int n, sort_compare_fn compare, void* data, int size) {
  if (valid_request(n, data, size, "sort_array"))
    sort_in_place(n, compare, static_cast<unsigned char*>(data), size);
}

int sort_array_stable(int n, sort_compare_fn compare, void* data, int size) {
  return sort_array_held(n, compare, nullptr, data, size, &g_stable, "sort_array_stable");
}

int sort_ints(int n, sort_value_compare_fn value_compare, int* data) {
  return sort_array_held(n, nullptr, value_compare, data, sizeof(int), &g_int, "sort_ints");
}

void sort_doubles(int n, double* values) {
  if (valid_request(n, values, sizeof(double), "sort_doubles"))
    sort_in_place(n, double_compare, reinterpret_cast<unsigned char*>(values), sizeof(double));
}

int compare_points(const void* p, const void* q) {
  const double* a = static_cast<const double*>(p);
  const double* b = static_cast<const double*>(q);
  for (int k = 0; k < 3; ++k) {
    if (a[k] < b[k] - g_point_tolerance) return -1;
    if (a[k] > b[k] + g_point_tolerance) return 1;
  }
  return 0;
}

int compare_points_tol(const void* p, const void* q, double tolerance) {
  g_point_tolerance = tolerance;
  return compare_points(p, q);
}

void sort_points(int n, double* points, void** pointers, double tolerance) {
  g_point_tolerance = tolerance;
  if (!pointers) {
    sort_array(n, compare_points, points, 3 * sizeof(double));
    return;
  }
  if (n < 1 || !points) return;
  for (int i = 0; i < n; ++i) pointers[i] = points + 3 * i;
  sort_pointers(n, compare_points, pointers);
}

int with_index_ptr_compare_func(const void* a, const void* b) {
  if (!g_index.compare) {
    dbg_err_crash("with_index_ptr_compare_func", "No compare function");
    return 0;
  }
  return g_index.compare(static_cast<void* const*>(a)[1], static_cast<void* const*>(b)[1]);
}

int sort_pointers_with_index(int n, sort_compare_fn compare, void** pointers, int** p_index) {
  if (!p_index) {
    sort_pointers(n, compare, pointers);
    return 0;
  }
  const int count = !pointers ? 0 : xar_is_invalid(&pointers) ? -1 : XAR_COUNT(&pointers);
  if (count < 0 || n != count) {
    dbg_err_crash("sort_pointers_with_index",
                  "%d pointers asked for, but the array holds %d: refused", n, count);
    return -1;
  }
  Held held{nullptr, nullptr};
  Guard guard;
  guard_open(&guard, release_held, &held);
  if (!claim(&g_index, "sort_pointers_with_index")) {
    guard_close(&guard);
    return -1;
  }
  held.slot = &g_index;
  g_index.compare = compare;
  // Records (position before the sort, pointer) and the list of record addresses, one block.
  held.block = n > 0 ? getmem(n * int(3 * sizeof(void*))) : nullptr;
  if (n > 0 && !held.block) {
    guard_close(&guard);
    release_held(&held);
    return -1;
  }
  void** records = static_cast<void**>(held.block);
  void** list = records + 2 * n;
  for (int i = 0; i < n; ++i) {
    records[2 * i] = reinterpret_cast<void*>(intptr_t(i));
    records[2 * i + 1] = pointers[i];
    list[i] = records + 2 * i;
  }
  sort_range(Direct{list}, n, Fn{with_index_ptr_compare_func});
  // The index array changes only once the sort is through; a failure leaves both arrays as they
  // were.
  xar_alloc_or_resize(p_index, n, sizeof(int), 3);
  if (n > 0 && XAR_COUNT(p_index) != n) {
    guard_close(&guard);
    release_held(&held);
    return -1;
  }
  for (int i = 0; i < n; ++i) {
    void* const* record = static_cast<void* const*>(list[i]);
    (*p_index)[i] = int(reinterpret_cast<intptr_t>(record[0]));
    pointers[i] = record[1];
  }
  guard_close(&guard);
  release_held(&held);
  return 0;
}

int sort_partial_order(void* data, int n, int size, sort_partial_compare_fn compare,
                       void* user_data) {
  if (n < 2) return 0;
  if (!valid_request(n, data, size, "sort_partial_order") ||
      n > INT32_MAX / int(sizeof(Precedence) + sizeof(void*)))
    return 1;
  unsigned char* bytes = static_cast<unsigned char*>(data);
  PartialWork work{nullptr, n};
  Guard guard;
  guard_open(&guard, release_partial, &work);
  const int list_offset = n * int(sizeof(Precedence));
  work.records = static_cast<Precedence*>(getmem(list_offset + n * int(sizeof(void*))));
  int placed = 0;
  if (work.records) {
    Precedence* r = work.records;
    void** order = reinterpret_cast<void**>(reinterpret_cast<unsigned char*>(r) + list_offset);
    for (int i = 0; i < n; ++i) r[i].object = bytes + i * size;
    for (int i = 0; i < n; ++i) {
      for (int j = i + 1; j < n; ++j) {
        const int c = compare(r[i].object, r[j].object, user_data);
        if (c < 0) add_successor(&r[i], &r[j]);
        if (c > 0) add_successor(&r[j], &r[i]);
      }
    }
    // Passes in index order; a record placed in a pass releases its successors at once.
    for (int progress = 1; placed < n && progress;) {
      progress = 0;
      for (int i = 0; i < n; ++i) {
        if (r[i].placed || r[i].predecessors > 0) continue;
        r[i].placed = 1;
        order[placed++] = r[i].object;
        progress = 1;
        const int count = XAR_COUNT(&r[i].successors);
        for (int k = 0; k < count; ++k) r[i].successors[k]->predecessors -= 1;
      }
    }
    if (placed == n) ORDER_ARRAY(n, bytes, order, size);
  }
  guard_close(&guard);
  release_partial(&work);
  return placed == n ? 0 : 1;
}

int find_double_interval(int n, const double* values, double x) {
  int lo = 0, hi = n - 2;
  int mid = (lo + hi) / 2;
  while (lo < hi) {
    if (x < values[mid])
      hi = mid - 1;
    else if (x < values[mid + 1])
      lo = hi = mid;
    else
      lo = mid + 1;
    mid = (lo + hi) / 2;
  }
  return mid;
}

}  // extern "C"

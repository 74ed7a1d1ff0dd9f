// Sorting routines over the pointer quicksort.
#include "runtime/order/sort.h"

#include <math.h>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/order/order_guard.h"
#include "runtime/order/sort_impl.h"
#include "runtime/xar/xar.h"

using namespace kel::order;

namespace {

constexpr int kStackPointers = 12;         // pointer lists up to this many live on the stack
constexpr int kStackDoublePointers = 32;   // the same for sort_doubles
constexpr int kStackObjectBytes = 512;     // objects up to this size move through a stack buffer

struct Fn {
    sort_compare_fn f;
    int operator()(const void* a, const void* b) const { return f(a, b); }
};

// ---- module-wide slots ----
sort_compare_fn g_stable_compare = nullptr;
sort_value_compare_fn g_int_compare = nullptr;
sort_compare_fn g_index_compare = nullptr;
double g_point_tolerance = 0.0;
int g_stable_busy = 0, g_int_busy = 0, g_index_busy = 0;

// Claims a wrapped sort's slot; a nested call of the same kind is refused with a report.
bool claim(int* busy, const char* where) {
    if (*busy) {
        dbg_err_crash(where, "called from the compare of a sort of its own kind: refused");
        return false;
    }
    *busy = 1;
    return true;
}

int address_order(const void* a, const void* b) { return (a > b) - (a < b); }

int stable_compare(const void* a, const void* b) {
    if (!g_stable_compare) crash();
    const int c = g_stable_compare(a, b);
    return c ? c : address_order(a, b);
}

int int_compare(const void* a, const void* b) {
    if (!g_int_compare) crash();
    const int c = g_int_compare(*static_cast<const int*>(a), *static_cast<const int*>(b));
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
    int* busy;
    void** slot;  // cleared with the busy flag
};

void release_held(void* context) {
    Held* h = static_cast<Held*>(context);
    rlsmem(h->block);
    h->block = nullptr;
    if (h->slot) *h->slot = nullptr;
    if (h->busy) *h->busy = 0;
}

// Sorts the objects at data through a pointer list; `list` has room for n pointers.
void sort_objects(int n, sort_compare_fn compare, unsigned char* data, int size, void** list) {
    for (int i = 0; i < n; ++i) list[i] = data + i * size;
    sort_range(Direct{list}, n, Fn{compare});
}

// Moves the objects along a sorted list of pointers into their own array.
void order_objects(int n, unsigned char* data, int size, void** list, unsigned char* buffer) {
    permute(
        n, Direct{list}, size, buffer, [data, size](int k) { return data + k * size; },
        [data, size](const unsigned char* p) { return int((p - data) / size); });
}

// The common body of sort_array and its wrappers: pointer list and object buffer on the stack when
// small, else in one scratch block that a trap's jump releases.
void sort_array_held(int n, sort_compare_fn compare, void* data, int size, Held* held) {
    unsigned char* bytes = static_cast<unsigned char*>(data);
    void* local_list[kStackPointers];
    unsigned char local_object[kStackObjectBytes];
    void** list = local_list;
    unsigned char* buffer = local_object;
    const bool big_list = n > kStackPointers, big_object = size > kStackObjectBytes;
    Guard guard;
    guard_open(&guard, release_held, held);
    if (big_list || big_object) {
        const int list_bytes = big_list ? n * int(sizeof(void*)) : 0;
        held->block = getmem(list_bytes + (big_object ? size : 0));
        if (!held->block) {  // reported by the memory break; nothing moved
            guard_close(&guard);
            release_held(held);
            return;
        }
        if (big_list) list = static_cast<void**>(held->block);
        if (big_object) buffer = static_cast<unsigned char*>(held->block) + list_bytes;
    }
    sort_objects(n, compare, bytes, size, list);
    order_objects(n, bytes, size, list, buffer);
    guard_close(&guard);
    release_held(held);
}

bool valid_request(int n, const void* data, int size, const char* where) {
    if (n < 2) return false;
    if (!data || size <= 0 || n > INT32_MAX / (size > int(sizeof(void*)) ? size : int(sizeof(void*)))) {
        dbg_err_crash(where, "invalid input");
        return false;
    }
    return true;
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
    if (!valid_request(n, data, size, "sort_array")) return;
    Held held{nullptr, nullptr, nullptr};
    sort_array_held(n, compare, data, size, &held);
}

int sort_array_stable(int n, sort_compare_fn compare, void* data, int size) {
    if (!claim(&g_stable_busy, "sort_array_stable")) return -1;
    g_stable_compare = compare;
    Held held{nullptr, &g_stable_busy, reinterpret_cast<void**>(&g_stable_compare)};
    if (valid_request(n, data, size, "sort_array_stable")) sort_array_held(n, stable_compare, data, size, &held);
    release_held(&held);
    return 0;
}

int sort_ints(int n, sort_value_compare_fn value_compare, int* data) {
    if (!claim(&g_int_busy, "sort_ints")) return -1;
    g_int_compare = value_compare;
    Held held{nullptr, &g_int_busy, reinterpret_cast<void**>(&g_int_compare)};
    if (valid_request(n, data, sizeof(int), "sort_ints")) sort_array_held(n, int_compare, data, sizeof(int), &held);
    release_held(&held);
    return 0;
}

void sort_doubles(int n, double* values) {
    if (!valid_request(n, values, sizeof(double), "sort_doubles")) return;
    void* local_list[kStackDoublePointers];
    unsigned char buffer[sizeof(double)];
    void** list = local_list;
    Held held{nullptr, nullptr, nullptr};
    Guard guard;
    guard_open(&guard, release_held, &held);
    if (n > kStackDoublePointers) {
        held.block = getmem(n * int(sizeof(void*)));
        if (!held.block) {
            guard_close(&guard);
            return;
        }
        list = static_cast<void**>(held.block);
    }
    unsigned char* bytes = reinterpret_cast<unsigned char*>(values);
    sort_objects(n, double_compare, bytes, sizeof(double), list);
    order_objects(n, bytes, sizeof(double), list, buffer);
    guard_close(&guard);
    release_held(&held);
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
    if (!g_index_compare) {
        dbg_err_crash("with_index_ptr_compare_func", "No compare function");
        return 0;
    }
    return g_index_compare(static_cast<void* const*>(a)[1], static_cast<void* const*>(b)[1]);
}

int sort_pointers_with_index(int n, sort_compare_fn compare, void** pointers, int** p_index) {
    if (!p_index) {
        sort_pointers(n, compare, pointers);
        return 0;
    }
    const int count = pointers && !xar_is_invalid(&pointers) ? XAR_COUNT(&pointers) : -1;
    if (count < 0 || n != count) {
        dbg_err_crash("sort_pointers_with_index", "%d pointers asked for, but the array holds %d: refused", n, count);
        return -1;
    }
    if (!claim(&g_index_busy, "sort_pointers_with_index")) return -1;
    g_index_compare = compare;
    Held held{nullptr, &g_index_busy, reinterpret_cast<void**>(&g_index_compare)};
    Guard guard;
    guard_open(&guard, release_held, &held);
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
    // The index array changes only once the sort is through; a failure leaves both arrays as they were.
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

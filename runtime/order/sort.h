// Sorting: one quicksort behind every routine. It sorts pointer lists, and sort_array runs it on
// the objects themselves; the wrapped sorts sort pointers and move each object once at the end.
//
// The wrapped sorts (stable, int, indexed and harray sorts) keep what their two-argument compare
// needs in module-wide slots, so they are not reentrant: a compare that starts another sort of the
// same kind is refused with a report (result -1) and the inner sort leaves its data alone.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C

// Receives two object addresses: < 0 when the first comes first, > 0 when the second does.
typedef int (*sort_compare_fn)(const void* a, const void* b);
// The address of the i-th pointer of a sequence that is not one plain array.
typedef void** (*sort_slot_fn)(int i);
// Receives two int values.
typedef int (*sort_value_compare_fn)(int a, int b);
typedef int (*sort_partial_compare_fn)(const void* a, const void* b, void* user_data);

// Quicksort of pointers[0 .. n-1]; ranges of up to nine are finished by insertion sort. Not stable.
// Ranges split badly more than log2 n + 1 times switch to heapsort, so no input makes it quadratic
// or recurse deeply; ordinary input never gets there and sees the middle pivot's compares only.
void sort_pointers(int n, sort_compare_fn compare, void** pointers);
void sort_pointers_indirect(int n, sort_compare_fn compare, sort_slot_fn slot_of);
// Sorts n objects of `size` bytes in place by the quicksort of sort_pointers run on the objects
// themselves: the same compares, and the order that sorting pointers to them and then moving the
// objects would give. As for qsort, `compare` judges objects by what they hold, not by where.
void sort_array(int n, sort_compare_fn compare, void* data, int size);
// As sort_array, equal objects keeping their order. 0, or -1 when refused.
int sort_array_stable(int n, sort_compare_fn compare, void* data, int size);
// Stable sort of ints by `value_compare` of their values. 0, or -1 when refused.
int sort_ints(int n, sort_value_compare_fn value_compare, int* data);
// Ascending; NaN values go after every number.
void sort_doubles(int n, double* values);
// Points are three doubles. With `pointers`, fills it with the points' addresses and sorts only
// the pointers; else moves the points.
void sort_points(int n, double* points, void** pointers, double tolerance);
// Coordinate by coordinate within the tolerance last stored by sort_points or compare_points_tol.
int compare_points(const void* p, const void* q);
int compare_points_tol(const void* p, const void* q, double tolerance);
// Without p_index: sort_pointers. With it, `pointers` must be an xarray of n pointers; the int
// xarray behind p_index receives the position each sorted pointer had before the sort.
// 0, or -1 when refused (n differs from the array's count, or a nested call).
int sort_pointers_with_index(int n, sort_compare_fn compare, void** pointers, int** p_index);
// The indexed sort's compare over two (position, pointer) records.
int with_index_ptr_compare_func(const void* a, const void* b);
// Harrays (segmented arrays; p_har is the address of the owner's pointer): a harray of pointers,
// and a harray of objects of `size` bytes moved in place. 0, or -1 (reported) when refused.
int har_sort_pointers(const void* p_har, sort_compare_fn compare);
int har_sort(const void* p_har, sort_compare_fn compare, int size);
// k with values[k] <= x < values[k + 1] in sorted values, clamped to 0 .. n - 2.
int find_double_interval(int n, const double* values, double x);
// Rearranges so that every pair with a non-zero compare is in order: 0, or 1 (data unchanged)
// when the relation has a cycle.
int sort_partial_order(void* data, int n, int size, sort_partial_compare_fn compare,
                       void* user_data);

KEL_END_C

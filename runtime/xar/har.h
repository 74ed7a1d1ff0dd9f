// Segmented arrays ("harrays"), merges of sorted xarrays and harrays, and ORDER_ARRAY.
//
// A harray is an outer xarray of 4-byte xarray user pointers, the segments, all of one object
// size. Every segment but the last is full (XAR_MAX_BYTES / object size objects); the first
// segment stays until har_free, so an empty harray has one empty segment. `p_har` is the address
// of the owner's pointer to the outer xarray.
#pragma once
#include "runtime/kel_base.h"

KEL_BEGIN_C

enum { HAR_MAX_SEGMENT_GROWTH = 196608 };  // bytes a segment grows by at most

void* har_alloc(int object_size, int extension);
int har_count(const void* p_har);
// Object `index`, or null; `segment` and `offset` (optional) get -1 when there is none.
void* har_object(const void* p_har, int index, int* segment, int* offset);
void har_append(void* p_har, int n, const void* src);
void* har_extend_one(void* p_har);
void* har_last(const void* p_har);
void har_shrink(void* p_har, int n);
void har_resize(void* p_har, int n);
int har_remove(void* p_har, int index, int n);
void* har_extract(const void* p_har, int start, int n, int extension);
// A copy of the harray at p_src (null for an absent one), also stored through p_dst when given.
void* har_copy(const void* p_src, void* p_dst);
void har_concat(void* p_dst, const void* p_src);
void har_free(void* p_har);

// compare(object of a, object of b, user_data): < 0 a first, > 0 b first, 0 equal.
typedef int (*xar_merge_compare_fn)(const void* a, const void* b, void* user_data);
int merge_sorted_xarrays(const void* a, const void* b, xar_merge_compare_fn compare, void* user_data, void* p_out,
                         void* p_sides);
void merge_sorted_xarrays_copy(const void* a, const void* b, xar_merge_compare_fn compare, void* user_data,
                               void* p_result, void* p_sides);
int merge_sorted_harrays(const void* a, const void* b, xar_merge_compare_fn compare, void* user_data, void* p_out,
                         void* p_sides);
void merge_sorted_harrays_copy(const void* a, const void* b, xar_merge_compare_fn compare, void* user_data,
                               void* p_result, void* p_sides);
// Merges the sorted `values` into the sorted double xarray at p_xar, skipping values within
// `tolerance` of one already there. Returns the new count.
int xar_merge_doubles(void* p_xar, const double* values, int n, double tolerance);
// Rearranges n objects of `size` bytes at `data` so that object i becomes the one pointers[i]
// pointed at, and resets pointers[i] to data + i * size.
void ORDER_ARRAY(int n, void* data, void** pointers, int size);

KEL_END_C

// Segmented arrays ("harrays"), merges of sorted xarrays and harrays, and ORDER_ARRAY.
//
// A harray is an outer xarray of 4-byte xarray user pointers, the segments, all of one object
// size. Every segment but the last is full (XAR_MAX_BYTES / object size objects); the first
// segment stays until har_free, so an empty harray has one empty segment. `p_har` is the address
// of the owner's pointer to the outer xarray.
#pragma once
#include <string.h>
#include "platform/kel_base.h"
#include "runtime/xar/xar.h"

KEL_BEGIN_C

enum { HAR_MAX_SEGMENT_GROWTH = 196608 };  // bytes a segment grows by at most

void* har_alloc(int object_size, int extension);
int har_count(const void* p_har);
// Object `index`, or null; `segment` and `offset` (optional) get -1 when there is none.
// Look-ups are on the path of every random access, so a caller of this header has the usual
// case answered inline (har_object_inline, below) and the rest by har_object_at; har_object is
// also a linkable function for callers that declare it themselves.
void* har_object(const void* p_har, int index, int* segment, int* offset);
void* har_object_at(const void* p_har, int index, int* segment, int* offset);
// har_object without outputs, out of line; it writes nothing, so a loop of look-ups need not
// read the harray again after calling it.
void* har_object_find(const void* p_har, int index) KEL_PURE;
// Appends n objects, copied from `src` when not null (else zero); the usual case, room in the
// last segment, is answered inline (har_append_inline, below) and the rest by har_append_at.
void har_append(void* p_har, int n, const void* src);
void har_append_at(void* p_har, int n, const void* src);
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
int merge_sorted_xarrays(const void* a, const void* b, xar_merge_compare_fn compare,
                         void* user_data, void* p_out, void* p_sides);
void merge_sorted_xarrays_copy(const void* a, const void* b, xar_merge_compare_fn compare,
                               void* user_data, void* p_result, void* p_sides);
int merge_sorted_harrays(const void* a, const void* b, xar_merge_compare_fn compare,
                         void* user_data, void* p_out, void* p_sides);
void merge_sorted_harrays_copy(const void* a, const void* b, xar_merge_compare_fn compare,
                               void* user_data, void* p_result, void* p_sides);
// Merges the sorted `values` into the sorted double xarray at p_xar, skipping values within
// `tolerance` of one already there. Returns the new count.
int xar_merge_doubles(void* p_xar, const double* values, int n, double tolerance);
// Rearranges n objects of `size` bytes at `data` so that object i becomes the one pointers[i]
// pointed at, and resets pointers[i] to data + i * size.
void ORDER_ARRAY(int n, void* data, void** pointers, int size);

// Objects of 1, 2, 4, 8 or 16 bytes fill a segment's XAR_MAX_BYTES exactly (it is a multiple of
// 16), so their objects per segment are HAR_SEGMENT_UNITS * 16 / size and the look-up divides
// by a constant: no cached divisor to load.
enum { HAR_SEGMENT_UNITS = XAR_MAX_BYTES / 16 };

// What the inline look-up reads in place of an absent outer array (its user pointer is the
// address of `first`): a two-unit block whose trailer count, 0, sends every index out of line.
typedef struct har_absent {
  uint32_t word;
  uint16_t size, magic;
  const void* first;  // itself, so the object size read through it is `size`
  int32_t count;
} har_absent;
extern const har_absent har_absent_outer;

static inline void* har_object_inline(const void* p_har, int index, int* segment, int* offset) {
  // Every segment but the last is full, so an object in any other segment is found by the
  // division alone; the last segment, other sizes, a negative index and the outputs go out of
  // line. Every read but the segment's depends on the harray alone, not on the index, so a
  // loop of look-ups (the out-of-line call writes nothing) keeps them out of the loop.
  if (p_har && !segment && !offset) {
    // Typed reads (the blocks are aligned): a caller's stores of other types cannot change
    // them, which is what lets a loop keep them.
    const unsigned char* outer = *(const unsigned char* const*)p_har;
    if (!outer) outer = (const unsigned char*)&har_absent_outer.first;
    const unsigned char* first = *(const unsigned char* const*)outer;
    const uint16_t size = *(const uint16_t*)(first - 4);
    const uint32_t outer_word = *(const uint32_t*)(outer - 8);
    const int32_t segments = *(const int32_t*)(outer + (outer_word & 0x7FFFF) * 8 - 12);
    // Full segments, or none for another object size; shift = log2(16 / size).
    const uint32_t sized = (uint32_t)(size < 32) & (0x10116u >> (size & 31));  // 1, 2, 4, 8, 16
    const int32_t full = (segments - 1) & -(int32_t)(sized & 1);
    const int shift = 4 - __builtin_ctz(size | 16u);
    // index / (HAR_SEGMENT_UNITS << shift). A negative index, read unsigned, gives at least
    // 2^31 / objects per segment, a count of full segments no harray below 2^31 objects has.
    const uint32_t q = ((uint32_t)index >> shift) / (uint32_t)HAR_SEGMENT_UNITS;
    if ((int32_t)q < full) {
      unsigned char* seg = ((unsigned char* const*)outer)[q];
      return seg + ((uint32_t)index * size - q * (uint32_t)XAR_MAX_BYTES);
    }
    return har_object_find(p_har, index);
  }
  return har_object_at(p_har, index, segment, offset);
}

// The 8-byte header and trailer of the xarray at user pointer `u` (see xar.h): units of 8 bytes
// in bits 0-18 of the first word, the object size and head magic after it; the tail magic and
// the count in the trailer at the end of the block.
static inline void* har_append_in_place(unsigned char* u, int n, const void* src) {
  uint32_t word;
  uint16_t size, head;
  memcpy(&word, u - 8, 4);
  memcpy(&size, u - 4, 2);
  memcpy(&head, u - 2, 2);
  const int32_t data_bytes = (int32_t)(word & 0x7FFFF) * 8 - 16;
  unsigned char* trailer = u + data_bytes;
  uint16_t tail;
  int32_t count;
  memcpy(&tail, trailer, 2);
  memcpy(&count, trailer + 4, 4);
  const int32_t room = data_bytes - count * size;
  if (head != XAR_HEAD_MAGIC || tail != XAR_TAIL_MAGIC || size == 0 ||
      (n == 1 ? size > room : (int64_t)n * size > room))
    return NULL;
  const int32_t grown = count + n;
  memcpy(trailer + 4, &grown, 4);
  unsigned char* dst = u + count * size;
  if (src) {
    if (n == 1 && size == 4)
      memcpy(dst, src, 4);
    else
      memcpy(dst, src, (size_t)n * size);
  }
  return dst;
}

static inline void har_append_inline(void* p_har, int n, const void* src) {
  unsigned char* outer;
  if (p_har && n > 0) {
    memcpy(&outer, p_har, sizeof outer);
    // The outer array's object size and head magic: an xarray of another size is no harray.
    uint32_t shape = 0;
    if (outer) memcpy(&shape, outer - 4, 4);
    if (shape == ((uint32_t)XAR_HEAD_MAGIC << 16 | 4)) {
      uint32_t word;
      int32_t segments;
      memcpy(&word, outer - 8, 4);
      memcpy(&segments, outer + (word & 0x7FFFF) * 8 - 12, 4);
      unsigned char* last;
      memcpy(&last, outer + (segments - 1) * 4, sizeof last);
      if (segments > 0 && last && har_append_in_place(last, n, src)) return;
    }
  }
  har_append_at(p_har, n, src);
}

// Callers of this header take the inline paths; `(har_object)` names the linkable function.
#define har_object(p_har, index, segment, offset) har_object_inline(p_har, index, segment, offset)
#define har_append(p_har, n, src)                 har_append_inline(p_har, n, src)

KEL_END_C

// Sorting harrays: the pointer quicksort over segment arithmetic, and objects moved along the
// permutation cycles of a sorted harray of pointers.
#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/order/order_guard.h"
#include "runtime/order/sort.h"
#include "runtime/order/sort_impl.h"
#include "runtime/xar/har.h"
#include "runtime/xar/xar.h"

using namespace kel::order;

namespace {

constexpr int kStackObjectBytes = 512;

inline unsigned char** segments_of(const void* p_har) {
  return *static_cast<unsigned char** const*>(p_har);
}

// Element i of a harray lives in segment i / S at offset i mod S, S being the count of the first
// (full) segment. The slot is carried by the accessor, so harray sorts are reentrant.
struct Segmented {
  unsigned char** segments;
  int per_segment;
  int size;
  unsigned char* at(int i) const { return segments[i / per_segment] + (i % per_segment) * size; }
};

struct PointerSlot {
  Segmented s;
  void** operator()(int i) const { return reinterpret_cast<void**>(s.at(i)); }
};

bool sound_harray(const void* p_har, const char* where) {
  if (!p_har || !*static_cast<void* const*>(p_har)) return false;
  if (xar_is_invalid(p_har) || XAR_COUNT(p_har) < 1) {
    dbg_err_crash(where, "invalid harray");
    return false;
  }
  return true;
}

struct HarWork {
  void* pointers;  // outer user pointer of the pointer harray
  void* buffer;
};

void release_har_work(void* context) {
  HarWork* w = static_cast<HarWork*>(context);
  har_free(&w->pointers);
  rlsmem(w->buffer);
  w->pointers = w->buffer = nullptr;
}

}  // namespace

extern "C" {

int har_sort_pointers(const void* p_har, sort_compare_fn compare) {
  if (!sound_harray(p_har, "har_sort_pointers")) return -1;
  unsigned char** segments = segments_of(p_har);
  const int count = har_count(p_har);
  if (XAR_COUNT(p_har) == 1) {
    sort_pointers(count, compare, reinterpret_cast<void**>(segments[0]));
    return 0;
  }
  const PointerSlot slot{{segments, XAR_COUNT(&segments[0]), int(sizeof(void*))}};
  sort_range(Indirect<PointerSlot>{slot}, count, Fn{compare});
  return 0;
}

int har_sort(const void* p_har, sort_compare_fn compare, int size) {
  if (!sound_harray(p_har, "har_sort")) return -1;
  unsigned char** segments = segments_of(p_har);
  int object_size = 0;
  XAR_PARAMS(&segments[0], &object_size, nullptr, nullptr, nullptr);
  if (object_size != size) {
    dbg_err_crash("har_sort", "object size %d given for a harray of %d-byte objects", size,
                  object_size);
    return -1;
  }
  const int count = har_count(p_har);
  if (XAR_COUNT(p_har) == 1) {
    sort_array(count, compare, segments[0], size);
    return 0;
  }
  HarWork work{nullptr, nullptr};
  Guard guard;
  guard_open(&guard, release_har_work, &work);
  unsigned char local_object[kStackObjectBytes];
  unsigned char* buffer = local_object;
  work.pointers = har_alloc(sizeof(void*), sizeof(void*));
  if (work.pointers) har_resize(&work.pointers, count);
  if (size > kStackObjectBytes) buffer = static_cast<unsigned char*>(work.buffer = getmem(size));
  if (work.pointers && har_count(&work.pointers) == count && buffer) {
    const Segmented objects{segments, XAR_COUNT(&segments[0]), size};
    unsigned char** pointer_segments = segments_of(&work.pointers);
    const PointerSlot slot{{pointer_segments, XAR_COUNT(&pointer_segments[0]), int(sizeof(void*))}};
    const Indirect<PointerSlot> pointers{slot};
    for (int i = 0; i < count; ++i) pointers.at(i) = objects.at(i);
    sort_range(pointers, count, Fn{compare});
    const int segment_count = XAR_COUNT(p_har);
    permute(
        count, pointers, size, buffer, [&objects](int k) { return objects.at(k); },
        [&objects, segments, segment_count, size](const unsigned char* p) {
          for (int s = 0; s < segment_count; ++s) {
            const unsigned char* start = segments[s];
            if (p >= start && p < start + XAR_COUNT(&segments[s]) * size)
              return s * objects.per_segment + int((p - start) / size);
          }
          return -1;  // cannot happen: every pointer was made from an object of the harray
        });
  }
  guard_close(&guard);
  release_har_work(&work);
  return 0;
}

}  // extern "C"

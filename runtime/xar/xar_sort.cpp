// Sorting an xarray's objects in place.
#include "runtime/diag/diag.h"
#include "runtime/order/sort.h"
#include "runtime/xar/xar.h"

extern "C" int xar_sort(void* p_xar, int (*compare)(const void*, const void*)) {
  if (p_xar && !*static_cast<void**>(p_xar)) return 0;  // an empty, unallocated array
  int object_size = 0, count = 0;
  XAR_PARAMS(p_xar, &object_size, nullptr, &count, nullptr);  // an invalid array stops here
  if (count > 1 && !compare) {
    misuse_stop("xar_sort", "invalid request");
    return 0;
  }
  if (count > 1) sort_array(count, compare, *static_cast<void**>(p_xar), object_size);
  return count;
}

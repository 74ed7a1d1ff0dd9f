// Multi-dimensional arrays: pointer tables and elements in one block.
#include "runtime/mem/mem_array.h"

#include "runtime/mem/mem.h"

namespace {

constexpr long long kMaxBlock = 0x7FFFFFFF - 23;  // the largest size getmem can be asked for

}  // namespace

extern "C" {

void* getmem_array(const int* dims, int n, int element_size, void* data) {
  // A single dimension has no table to offer; it is refused rather than handing out a pointer
  // that is not the block start or is the caller's own storage.
  if (!dims || n <= 1 || element_size < 0) return nullptr;
  for (int k = 0; k < n; ++k)
    if (dims[k] < 0) return nullptr;
  // S pointers in all and E elements, counted wide so that a product too large for one block
  // is refused instead of wrapping into a small one.
  long long elements = dims[0], table = 0;
  for (int k = 1; k < n; ++k) {
    table += elements;
    elements *= dims[k];
    if (table > kMaxBlock || elements > kMaxBlock) return nullptr;
  }
  const long long table_bytes = ((table - 1) / 2 + 1) * 8;
  const long long bytes = table_bytes + (data ? 0 : element_size * elements);
  if (bytes > kMaxBlock) return nullptr;
  char* block = static_cast<char*>(getmem(int(bytes)));
  char** w = reinterpret_cast<char**>(block);
  char** t = w + dims[0];
  long long c = dims[0];
  for (int k = 1; k <= n - 2; ++k) {
    for (long long j = 0; j < c; ++j) {
      *w++ = reinterpret_cast<char*>(t);
      t += dims[k];
    }
    c *= dims[k];
  }
  char* e = data ? static_cast<char*>(data) : block + table_bytes;
  const long long row = (long long)element_size * dims[n - 1];
  for (long long j = 0; j < c; ++j) *w++ = e + j * row;
  return block;
}

void* getmem_2d(int rows, int cols, int element_size) {
  const int dims[] = {rows, cols};
  return getmem_array(dims, 2, element_size, nullptr);
}

void* getmem_2d_on(int rows, int cols, int element_size, void* data) {
  const int dims[] = {rows, cols};
  return getmem_array(dims, 2, element_size, data);
}

void* getmem_3d(int d0, int d1, int d2, int element_size) {
  const int dims[] = {d0, d1, d2};
  return getmem_array(dims, 3, element_size, nullptr);
}

void* getmem_3d_on(int d0, int d1, int d2, int element_size, void* data) {
  const int dims[] = {d0, d1, d2};
  return getmem_array(dims, 3, element_size, data);
}

}  // extern "C"

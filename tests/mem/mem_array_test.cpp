// Multi-dimensional arrays: the pointer tables against an index computed by hand, for 2, 3 and 4
// dimensions, with zero and negative dimensions and caller storage.
#include <string.h>

#include <vector>

#include "mem_test_support.h"
#include "oom_sweep.h"
#include "runtime/mem/clump.h"
#include "runtime/mem/mem_array.h"

namespace {

int blocks() {
  int n = 0;
  getmem_counters(&n, nullptr, nullptr, nullptr);
  return n;
}

// Follows the tables of an array of `dims` down to element `index` (row-major) and checks that it
// lands where row-major order puts it, and that every table lies inside the block, level by level.
void check_layout(const std::vector<int>& dims, int e, void* data) {
  const int n = int(dims.size());
  void* a = getmem_array(dims.data(), n, e, data);
  ASSERT_NE(a, nullptr);
  long long s = 0, count = dims[0];
  for (int k = 1; k < n; ++k) {
    s += count;
    count *= dims[k];
  }
  const int table = int(((s - 1) / 2 + 1) * 8);
  const int bytes = table + (data ? 0 : int(e * count));
  EXPECT_EQ(debug_getmem_size(a), clump_object_size(a) < 0 ? bytes : (bytes + 7) & ~7);
  char* elements = data ? static_cast<char*>(data) : static_cast<char*>(a) + table;
  std::vector<int> index(n, 0);
  for (long long flat = 0; flat < count; ++flat) {
    void* p = a;
    for (int k = 0; k < n - 1; ++k) {
      char* entry = static_cast<char**>(p)[index[k]];
      if (k < n - 2) {
        ASSERT_GE(entry, static_cast<char*>(a));
        ASSERT_LT(entry, static_cast<char*>(a) + table);
      }
      p = entry;
    }
    ASSERT_EQ(static_cast<char*>(p) + index[n - 1] * e, elements + flat * e);
    for (int k = n - 1; k >= 0 && ++index[k] == dims[k]; --k) index[k] = 0;
  }
  rlsmem(a);
}

TEST(MultiDimensionalArrays, LayoutsZeroAndNegativeDimensions) {
  check_layout({3, 4}, 8, nullptr);
  check_layout({2, 3, 4}, 4, nullptr);
  check_layout({2, 3, 4, 5}, 6, nullptr);
  check_layout({5, 1, 7, 2}, 1, nullptr);
  std::vector<double> storage(2 * 3 * 4 * 5);
  check_layout({2, 3, 4, 5}, 8, storage.data());
  check_layout({4, 0}, 8, nullptr);
  char** z = static_cast<char**>(getmem_2d(4, 0, 8));  // entries all point at the same place
  EXPECT_TRUE(z[1] == z[0] && z[3] == z[0]);
  rlsmem(z);
  check_layout({0, 3, 2}, 4, nullptr);  // 8 bytes of table and nothing else

  // The 2 x 3 x 4 example: level 0 points at the two groups of level 1.
  char* b = static_cast<char*>(getmem_3d(2, 3, 4, 4));
  EXPECT_EQ(reinterpret_cast<char**>(b)[1], b + 20);
  EXPECT_EQ(reinterpret_cast<char**>(b + 8)[5], b + 32 + 16 * 5);
  rlsmem(b);
  int cells[6] = {1, 2, 3, 4, 5, 6};
  int** on = static_cast<int**>(getmem_2d_on(2, 3, 4, cells));
  EXPECT_EQ(on[1][2], 6);
  rlsmem(on);
  int*** on3 = static_cast<int***>(getmem_3d_on(1, 2, 3, 4, cells));
  EXPECT_EQ(on3[0][1][0], 4);
  rlsmem(on3);

  const int before = blocks();
  const int negative[] = {2, -1, 3};
  const int huge[] = {65536, 65536, 2};
  EXPECT_EQ(getmem_array(negative, 3, 4, nullptr), nullptr);
  EXPECT_EQ(getmem_2d(2, 2, -1), nullptr);
  EXPECT_EQ(getmem_array(negative, 0, 4, nullptr), nullptr);
  EXPECT_EQ(getmem_array(huge, 1, 4, nullptr), nullptr);  // one dimension has no tables
  EXPECT_EQ(getmem_array(huge, 3, 8, nullptr), nullptr);  // would wrap in 32 bits
  EXPECT_EQ(blocks(), before);
  void* a = nullptr;
  // Over 2048 bytes: a heap block, never a free slot of an automatic clump.
  EXPECT_OOM_SAFE([&] { a = getmem_2d(3, 100, 8); }, [&] { EXPECT_EQ(a, nullptr); });
  rlsmem(a);
}

}  // namespace

// The sorts against std::sort / std::stable_sort over many sizes and input shapes, and the
// decisions: NaN placement, the quicksort guard, refused nested and mismatched calls, recovery.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "oom_sweep.h"
#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/order/sort.h"
#include "runtime/xar/har.h"
#include "runtime/xar/xar.h"

namespace {

struct Rec {
  int key;
  int seq;
  char pad[56];  // a 64-byte record
};

long g_compares = 0;
int by_int(const void* a, const void* b) {
  ++g_compares;
  const int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
  return (x > y) - (x < y);
}
int by_value(int a, int b) { return (a > b) - (a < b); }
int by_low_bits(int a, int b) { return (a & 7) - (b & 7); }  // ties distinct values

const int kSizes[] = {0, 1, 2, 9, 10, 12, 13, 32, 33, 1000, 100000};

// Random, sorted, reversed, organ-pipe and many-equal keys.
std::vector<int> keys(int n, int shape, std::mt19937& rng) {
  std::vector<int> v(n);
  for (int i = 0; i < n; ++i) {
    switch (shape) {
      case 0: v[i] = int(rng()); break;
      case 1: v[i] = i; break;
      case 2: v[i] = n - i; break;
      case 3: v[i] = std::min(i, n - i); break;
      default: v[i] = int(rng() % 4); break;
    }
  }
  return v;
}

TEST(Sort, AgreesWithTheStandardSortsOnEveryShapeAndSize) {
  std::mt19937 rng(7);
  for (int n : kSizes) {
    for (int shape = 0; shape < 5; ++shape) {
      const std::vector<int> k = keys(n, shape, rng);
      std::vector<int> expect = k;
      std::sort(expect.begin(), expect.end());
      std::vector<int> a = k;
      sort_array(n, by_int, a.data(), sizeof(int));
      EXPECT_EQ(a, expect) << "sort_array n=" << n << " shape " << shape;
      std::vector<void*> p(n);
      for (int i = 0; i < n; ++i) p[i] = &a[i];
      a = k;
      sort_pointers(n, by_int, p.data());
      for (int i = 0; i < n; ++i) ASSERT_EQ(*static_cast<int*>(p[i]), expect[i]);
      static std::vector<void*>
          reversed;  // the same pointers reached through a slot function, back to front
      reversed.assign(p.rbegin(), p.rend());
      sort_pointers_indirect(n, by_int, [](int i) { return &reversed[reversed.size() - 1 - i]; });
      for (int i = 0; i < n; ++i) ASSERT_EQ(*static_cast<int*>(reversed[n - 1 - i]), expect[i]);
      // Stability: records by key, and ints by a comparison that sees only their low bits.
      std::vector<Rec> r(n), rs;
      for (int i = 0; i < n; ++i) r[i] = Rec{k[i] % 7, i, {}};
      rs = r;
      std::stable_sort(rs.begin(), rs.end(),
                       [](const Rec& x, const Rec& y) { return x.key < y.key; });
      ASSERT_EQ(sort_array_stable(n, by_int, r.data(), sizeof(Rec)), 0);
      for (int i = 0; i < n; ++i) ASSERT_EQ(r[i].seq, rs[i].seq) << "stable n=" << n;
      std::vector<int> ints = k, ints_expect = k;
      std::stable_sort(ints_expect.begin(), ints_expect.end(),
                       [](int x, int y) { return by_low_bits(x, y) < 0; });
      ASSERT_EQ(sort_ints(n, by_low_bits, ints.data()), 0);
      EXPECT_EQ(ints, ints_expect);
      // sort_pointers_with_index over an xarray of the pointers sorted above, reversed.
      void** xp = nullptr;
      int* index = nullptr;
      for (int i = n - 1; i >= 0 && n <= 1000; --i) xar_alloc_or_append(&xp, 1, 4, 16, &p[i]);
      ASSERT_EQ(sort_pointers_with_index(n <= 1000 ? n : 0, by_int, xp, &index), 0);
      for (int i = 0; i < XAR_COUNT(&xp); ++i) ASSERT_EQ(xp[i], p[n - 1 - index[i]]);
      XAR_FREE(&xp);
      XAR_FREE(&index);
    }
  }
}

TEST(Sort, DoublesPutNanAfterEveryNumberAndLoseNothing) {
  std::mt19937 rng(3);
  for (int n : kSizes) {
    std::vector<double> v(n);
    for (double& x : v)
      x = rng() % 5 == 0 ? NAN : double(int(rng() % 50)) - 25 + (rng() % 2 ? 0.5 : -0.0);
    std::vector<double> s = v;
    sort_doubles(n, s.data());
    const auto nans = std::count_if(s.begin(), s.end(), [](double x) { return std::isnan(x); });
    EXPECT_EQ(nans, std::count_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }));
    EXPECT_TRUE(std::all_of(s.end() - nans, s.end(), [](double x) { return std::isnan(x); }));
    EXPECT_TRUE(std::is_sorted(s.begin(), s.end() - nans));
    std::vector<uint64_t> bits(2 * n);  // the sorted values' bit patterns, then the originals'
    if (n) std::memcpy(bits.data(), s.data(), 8 * n), std::memcpy(&bits[n], v.data(), 8 * n);
    std::sort(bits.begin(), bits.begin() + n), std::sort(bits.begin() + n, bits.end());
    EXPECT_TRUE(std::equal(bits.begin(), bits.begin() + n, bits.begin() + n))
        << "values lost or duplicated";
  }
}

// McIlroy's adversary: values are fixed lazily so that every pivot turns out as bad as possible.
// With organ-pipe input it must not make the middle-pivot quicksort quadratic.
std::vector<int> g_value;
int g_gas, g_solid, g_candidate;
int adversary(const void* a, const void* b) {
  ++g_compares;
  const int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
  if (g_value[x] == g_gas && g_value[y] == g_gas) g_value[x == g_candidate ? x : y] = g_solid++;
  if (g_value[x] == g_gas)
    g_candidate = x;
  else if (g_value[y] == g_gas)
    g_candidate = y;
  return (g_value[x] > g_value[y]) - (g_value[x] < g_value[y]);
}

TEST(Sort, HostileInputsStayNLogN) {
  const int n = 100000;
  std::vector<int> v(n);
  for (int i = 0; i < n; ++i) v[i] = i;
  g_value.assign(n, g_gas = n);
  g_solid = 0;
  g_candidate = -1;
  g_compares = 0;
  sort_array(n, adversary, v.data(), sizeof(int));
  EXPECT_LT(g_compares, 4L * n * 17) << "far more comparisons than n log n";
  for (int i = 1; i < n; ++i) ASSERT_LE(g_value[v[i - 1]], g_value[v[i]]);
  std::mt19937 rng(1);
  v = keys(n, 3, rng);
  g_compares = 0;
  sort_array(n, by_int, v.data(), sizeof(int));
  EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
  EXPECT_LT(g_compares, 4L * n * 17);
}

int by_first_byte(const void* a, const void* b) {
  ++g_compares;
  return *static_cast<const unsigned char*>(a) - *static_cast<const unsigned char*>(b);
}

// sort_array moves the objects themselves; the oracle is the pointer sort followed by one move of
// each object: the same compares, the same bytes in the end (ties keep the pointer sort's order).
// Every swap width, the rotation through a buffer and without one (300 bytes), and the guard's
// heapsort path (the adversary, organ pipes).
TEST(Sort, SortArrayDoesWhatThePointerSortAndOneMoveDo) {
  std::mt19937 rng(23);
  for (int size : {3, 4, 8, 12, 16, 64, 300}) {
    for (int n : {2, 9, 10, 13, 200, 3000}) {
      for (int shape = 0; shape < 4; ++shape) {
        sort_compare_fn cmp = shape == 3 ? adversary : by_first_byte;
        if (shape == 3 && size != 4) continue;
        std::vector<unsigned char> data(size_t(n) * size);
        for (auto& byte : data) byte = (unsigned char)(rng());
        for (int i = 0; i < n; ++i) {
          unsigned char* object = &data[size_t(i) * size];
          if (shape == 1) object[0] = (unsigned char)(std::min(i, n - i) * 64 / n);
          if (shape == 2) object[0] %= 8;  // many ties
          if (shape == 3) std::memcpy(object, &i, 4);
        }
        std::vector<unsigned char> expect(data.size());
        std::vector<void*> p(n);
        for (int i = 0; i < n; ++i) p[i] = &data[size_t(i) * size];
        g_value.assign(n, g_gas = n), g_solid = 0, g_candidate = -1, g_compares = 0;
        sort_pointers(n, cmp, p.data());
        const long pointer_compares = g_compares;
        for (int i = 0; i < n; ++i) std::memcpy(&expect[size_t(i) * size], p[i], size);
        g_value.assign(n, g_gas = n), g_solid = 0, g_candidate = -1, g_compares = 0;
        sort_array(n, cmp, data.data(), size);
        ASSERT_EQ(g_compares, pointer_compares) << "size " << size << " n " << n << " " << shape;
        ASSERT_EQ(data, expect) << "size " << size << " n " << n << " shape " << shape;
      }
    }
  }
}

// The documented quicksort, step for step: middle pivot, scans that skip the pivot's own slot,
// insertion sort of ranges of up to nine, the smaller part first.
void documented_quicksort(void** p, int lo, int hi, sort_compare_fn compare) {
  if (hi - lo < 9) {
    for (int i = lo + 1; i <= hi; ++i) {
      void* v = p[i];
      int j = i - 1;
      for (; j >= lo && compare(v, p[j]) < 0; --j) p[j + 1] = p[j];
      p[j + 1] = v;
    }
    return;
  }
  void* pivot = p[(lo + hi) / 2];
  int i = lo, j = hi;
  while (i <= j) {
    while (p[i] != pivot && compare(p[i], pivot) < 0) ++i;
    while (p[j] != pivot && compare(pivot, p[j]) < 0) --j;
    if (i <= j) std::swap(p[i++], p[j--]);
  }
  const bool left_first = j - lo < hi - i;
  if (left_first && j > lo) documented_quicksort(p, lo, j, compare);
  if (i < hi) documented_quicksort(p, i, hi, compare);
  if (!left_first && j > lo) documented_quicksort(p, lo, j, compare);
}

// Ordinary input never reaches the guard: the compares and the resulting order are those of the
// documented algorithm, up to a quarter million random keys and keys with many ties.
TEST(Sort, OrdinaryInputGetsTheDocumentedCompares) {
  std::mt19937 rng(7);
  for (int n : {10, 1000, 250000}) {
    for (int shape : {0, 4}) {
      std::vector<int> v = keys(n, shape, rng);
      std::vector<void*> expect(n), got(n);
      for (int i = 0; i < n; ++i) expect[i] = got[i] = &v[i];
      g_compares = 0;
      documented_quicksort(expect.data(), 0, n - 1, by_int);
      const long documented = g_compares;
      g_compares = 0;
      sort_pointers(n, by_int, got.data());
      EXPECT_EQ(g_compares, documented) << "n " << n << " shape " << shape;
      EXPECT_TRUE(got == expect) << "n " << n << " shape " << shape;
    }
  }
}

int g_nested_result = 0;
int nesting_compare(const void* a, const void* b) {
  int inner[3] = {3, 1, 2};
  g_nested_result = sort_array_stable(3, by_int, inner, sizeof(int));
  return by_int(a, b);
}

TEST(Sort, RefusesNestedWrappedSortsAndMismatchedCounts) {
  int outer[20];
  for (int i = 0; i < 20; ++i) outer[i] = 20 - i;
  ASSERT_EQ(sort_array_stable(20, nesting_compare, outer, sizeof(int)), 0);
  EXPECT_EQ(g_nested_result, -1);
  EXPECT_TRUE(std::is_sorted(outer, outer + 20));
  void** xp = nullptr;
  int* index = nullptr;
  for (int* p = outer; p < outer + 5; ++p) xar_alloc_or_append(&xp, 1, 4, 4, &p);
  serious_error_reporting_set(1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(sort_pointers_with_index(6, by_int, xp, &index), -1);
  EXPECT_EQ(with_index_ptr_compare_func(&xp[0], &xp[1]), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  serious_error_reporting_set(0);
  EXPECT_NE(
      out.find("sort_pointers_with_index:  6 pointers asked for, but the array holds 5: refused"),
      std::string::npos);
  EXPECT_NE(out.find("with_index_ptr_compare_func:  No compare function"), std::string::npos)
      << out;
  EXPECT_EQ(index, nullptr);
  XAR_FREE(&xp);
}

TEST(Sort, PointsIntervalsCyclesAndXarrays) {
  const double p[3] = {1.0, 2.0, 3.0}, q[3] = {1.005, 1.0, 9.0};
  EXPECT_EQ(compare_points_tol(p, q, 0.01), 1);
  double pts[4][3] = {{1, 1, 1}, {0, 5, 0}, {1.0005, 0, 0}, {0, 4.9995, 9}};
  void* ptrs[4];
  sort_points(4, &pts[0][0], ptrs, 0.001);
  EXPECT_EQ(ptrs[0], pts[1]);  // x and y equal within tolerance, z decides after them
  EXPECT_EQ(ptrs[2], pts[2]);
  std::mt19937 rng(5);
  std::vector<double> v(100);
  for (double& x : v) x = double(rng() % 1000);
  std::sort(v.begin(), v.end());
  for (int k = 0; k < 2000; ++k) {
    const double x = double(int(rng() % 1200)) - 100;
    const long ub = std::upper_bound(v.begin(), v.end(), x) - v.begin() - 1;
    ASSERT_EQ(find_double_interval(100, v.data(), x), std::clamp(ub, 0L, 98L)) << x;
  }
  // A cycle leaves the data unchanged (an order is checked in the recovery test).
  int c[3] = {0, 1, 2};
  auto cyclic = [](const void* a, const void* b, void*) {
    return (*static_cast<const int*>(b) - *static_cast<const int*>(a) + 3) % 3 == 1 ? -1 : 1;
  };
  EXPECT_EQ(sort_partial_order(c, 3, sizeof(int), cyclic, nullptr), 1);
  EXPECT_EQ(c[2], 2);
  int two[2] = {1, 0};  // the fewest that can be out of order
  EXPECT_EQ(sort_partial_order(two, 2, sizeof(int), cyclic, nullptr), 0);
  EXPECT_EQ(two[0], 0);
  // Its work is released (the first call also made the trap frame list, which stays).
  int blocks = 0, blocks_after = 0;
  getmem_counters(&blocks, nullptr, nullptr, nullptr);
  EXPECT_EQ(sort_partial_order(c, 3, sizeof(int), cyclic, nullptr), 1);
  getmem_counters(&blocks_after, nullptr, nullptr, nullptr);
  EXPECT_EQ(blocks_after, blocks);
  Rec* x = nullptr;
  for (int i = 0; i < 50; ++i) {
    const Rec r{int(rng() % 10), i, {}};
    xar_alloc_or_append(&x, 1, sizeof(Rec), 8, &r);
  }
  EXPECT_EQ(xar_sort(&x, by_int), 50);
  for (int i = 1; i < 50; ++i) EXPECT_LE(x[i - 1].key, x[i].key);
  XAR_FREE(&x);
}

// A memory break at any allocation leaves the data, the index and the slots as they were.
TEST(Sort, RecoversFromRunningOutOfMemory) {
  std::vector<int> data(3000), orig;
  std::mt19937 rng(9);
  for (int& k : data) k = int(rng() % 100);
  orig = data;
  EXPECT_OOM_SAFE(([&] { sort_ints(3000, by_value, data.data()); }),
                  ([&] { EXPECT_EQ(data, orig); }));
  EXPECT_TRUE(std::is_sorted(data.begin(), data.end()));
  void** xp = nullptr;
  void** xp_orig = nullptr;
  int* index = nullptr;
  for (int* p = &orig[0]; p < &orig[100]; ++p) xar_alloc_or_append(&xp, 1, 4, 100, &p);
  xar_copy(&xp, &xp_orig);
  EXPECT_OOM_SAFE(([&] { sort_pointers_with_index(100, by_int, xp, &index); }), ([&] {
                    EXPECT_EQ(0, std::memcmp(xp, xp_orig, 400));
                    EXPECT_EQ(index, nullptr);
                  }));
  ASSERT_NE(index, nullptr);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(xp[i], xp_orig[index[i]]);
  XAR_FREE(&xp);
  XAR_FREE(&xp_orig);
  XAR_FREE(&index);
}

}  // namespace

namespace {

// Harrays of one and of several segments, small and large objects, against std::sort.
TEST(Sort, HarraysAcrossSegments) {
  std::mt19937 rng(21);
  struct Big {
    int key;
    char rest[996];
  };
  auto by_big = [](const void* a, const void* b) { return by_int(a, b); };
  for (int n : {1000, 600000}) {  // an int segment holds 511,996
    void* h = har_alloc(sizeof(int), 1024);
    std::vector<int> model(n);
    for (int& k : model) k = int(rng() % 100000);
    har_append(&h, n, model.data());
    ASSERT_EQ(har_sort(&h, by_int, sizeof(int)), 0);
    std::sort(model.begin(), model.end());
    for (int i = 0; i < n; i += 997)
      ASSERT_EQ(*static_cast<int*>(har_object(&h, i, nullptr, nullptr)), model[i]);
    // A harray of pointers to the (now sorted) objects, reversed, sorted back.
    void* hp = har_alloc(sizeof(void*), 1024);
    for (int i = n - 1; i >= 0; --i) {
      void* p = har_object(&h, i, nullptr, nullptr);
      har_append(&hp, 1, &p);
    }
    ASSERT_EQ(har_sort_pointers(&hp, by_int), 0);
    for (int i = 1; i < n; i += 991)
      ASSERT_LE(**static_cast<int**>(har_object(&hp, i - 1, nullptr, nullptr)),
                **static_cast<int**>(har_object(&hp, i, nullptr, nullptr)));
    har_free(&hp);
    har_free(&h);
  }
  void* big = har_alloc(sizeof(Big), 64);  // 2,047 per segment: three segments
  std::vector<int> keys(5000);
  for (int& k : keys) {
    k = int(rng() % 1000);
    Big b{k, {}};
    b.rest[995] = char(k);
    har_append(&big, 1, &b);
  }
  EXPECT_EQ(har_sort(&big, by_big, 999), -1);  // wrong object size: refused
  auto contents = [&big] {
    std::vector<int> k;
    for (int i = 0; i < har_count(&big); ++i)
      k.push_back(static_cast<Big*>(har_object(&big, i, nullptr, nullptr))->key);
    return k;
  };
  const std::vector<int> before = contents();
  EXPECT_OOM_SAFE(([&] { har_sort(&big, by_big, sizeof(Big)); }),
                  ([&] { EXPECT_EQ(contents(), before); }));
  std::sort(keys.begin(), keys.end());
  for (int i = 0; i < 5000; ++i) {
    const Big* b = static_cast<Big*>(har_object(&big, i, nullptr, nullptr));
    ASSERT_EQ(b->key, keys[i]);
    ASSERT_EQ(b->rest[995], char(keys[i]));
  }
  har_free(&big);
}

}  // namespace

// Merges against std::set_union (which pairs equal objects the same way), the tolerant merge of
// doubles, ORDER_ARRAY against a shuffle, the pointer, structure and string xarrays, and
// out-of-memory runs of all that allocates.
#include <algorithm>
#include <random>
#include <string>

#include "clump_rerun.h"
#include "oom_sweep.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/har.h"
#include "runtime/xar/xar.h"
#include "runtime/xar/xar_ptr.h"
#include "xar_test_util.h"

namespace {

using xar_test::contents;

int compare_ints(const void* a, const void* b, void*) {
  const int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
  return (x > y) - (x < y);
}

int blocks() { return testsupport::live_allocations(); }

template <class T>
T* xar_of(const std::vector<T>& v, int extension) {
  T* x = nullptr;
  xar_from_array(v.data(), int(v.size()), sizeof(T), extension, &x);
  return x;
}

TEST(Merge, XarraysAndHarraysAgainstSetUnion) {
  std::mt19937 rng(5);
  for (int round = 0; round < 60; ++round) {
    std::vector<int> a(rng() % 300), b(rng() % 300), expected;
    for (int& v : a) v = rng() % 500;
    for (int& v : b) v = rng() % 500;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(expected));
    int* xa = a.empty() && round % 2 ? nullptr : xar_of(a, 3);  // absent or empty inputs
    int* xb = b.empty() && round % 2 ? nullptr : xar_of(b, 5);
    const int** out = nullptr;
    int* sides = nullptr;
    const int k = merge_sorted_xarrays(xa, xb, compare_ints, nullptr, &out, &sides);
    ASSERT_EQ(k, int(expected.size()));
    ASSERT_EQ(XAR_COUNT(&sides), k);
    for (int i = 0; i < k; ++i) {  // each entry points into the input its side names
      ASSERT_EQ(*out[i], expected[i]);
      const bool from_a = xa && out[i] >= xa && out[i] < xa + a.size();
      ASSERT_EQ(from_a, sides[i] <= 0);
    }
    EXPECT_EQ(std::count(sides, sides + k, 0), int(a.size() + b.size()) - k);
    int* copied = nullptr;
    merge_sorted_xarrays_copy(xa, xb, compare_ints, nullptr, &copied, nullptr);
    EXPECT_EQ(contents(copied), expected);

    void* ha = har_alloc(4, 7);
    void* hb = har_alloc(4, 7);
    har_append(&ha, int(a.size()), a.data());
    har_append(&hb, int(b.size()), b.data());
    void *hout = nullptr, *hsides = nullptr, *hcopy = nullptr;
    ASSERT_EQ(merge_sorted_harrays(ha, hb, compare_ints, nullptr, &hout, &hsides), k);
    merge_sorted_harrays_copy(ha, hb, compare_ints, nullptr, &hcopy, nullptr);
    ASSERT_EQ(har_count(&hcopy), k);
    for (int i = 0; i < k; ++i) {
      ASSERT_EQ(**static_cast<int**>(har_object(&hout, i, nullptr, nullptr)), expected[i]);
      ASSERT_EQ(*static_cast<int*>(har_object(&hsides, i, nullptr, nullptr)), sides[i]);
      ASSERT_EQ(*static_cast<int*>(har_object(&hcopy, i, nullptr, nullptr)), expected[i]);
    }
    for (void** h : {&ha, &hb, &hout, &hsides, &hcopy}) har_free(h);
    for (int** x : {&xa, &xb, &sides, &copied}) XAR_FREE(x);
    XAR_FREE(&out);
  }
  // The example: [1, 3, 5] and [3, 4] give a:1, a:3, b:4, a:5 and sides -1, 0, 1, -1.
  int* a = xar_of<int>({1, 3, 5}, 1);
  int* b = xar_of<int>({3, 4}, 1);
  const int** out = nullptr;
  int* sides = nullptr;
  EXPECT_EQ(merge_sorted_xarrays(a, b, compare_ints, nullptr, &out, &sides), 4);
  EXPECT_EQ(std::vector<const int*>(out, out + 4),
            (std::vector<const int*>{a, a + 1, b + 1, a + 2}));
  EXPECT_EQ(contents(sides), (std::vector<int>{-1, 0, 1, -1}));
  double* d = xar_of<double>({1.0}, 1);
  const std::string text = xar_test::stop_output(
      [&] { merge_sorted_xarrays(a, d, compare_ints, nullptr, &out, nullptr); });
  EXPECT_TRUE(xar_test::contains(text, "merge_sorted_xarrays:  unequal size")) << text;
  for (void* x : {(void*)&a, (void*)&b, (void*)&d, (void*)&out, (void*)&sides}) XAR_FREE(x);
}

// Disjoint sorted sets merge as std::merge does, into an absent, an empty or a filled array.
TEST(MergeDoubles, AgainstStdMerge) {
  std::mt19937 rng(11);
  for (int round = 0; round < 30; ++round) {
    std::vector<double> a, values, expected;
    for (int v = 0; v < 40; ++v) (rng() % 3 ? values : a).push_back(v);
    if (round % 3 < 2) a.clear();
    std::merge(a.begin(), a.end(), values.begin(), values.end(), std::back_inserter(expected));
    double* x = round % 3 == 0 ? nullptr : xar_of(a, 1);
    EXPECT_EQ(xar_merge_doubles(&x, values.data(), int(values.size()), 0.0), int(expected.size()));
    EXPECT_EQ(contents(x), expected);
    XAR_FREE(&x);
  }
}

TEST(MergeDoubles, ToleranceAndValuesOutOfOrder) {
  double* x = xar_of<double>({2.0, 5.0}, 1);
  const double values[] = {1.0, 2.05, 7.0};
  EXPECT_EQ(xar_merge_doubles(&x, values, 3, 0.1), 4);
  EXPECT_EQ(contents(x), (std::vector<double>{1.0, 2.0, 5.0, 7.0}));
  // Unsorted values lose nothing that was there and only add values that were given.
  const double unsorted[] = {9.0, 1.0, 3.0, 0.5};
  const int n = xar_merge_doubles(&x, unsorted, 4, 0.0);
  const std::vector<double> got = contents(x);
  EXPECT_EQ(n, int(got.size()));
  for (double v : got)
    EXPECT_TRUE(v == 1.0 || v == 2.0 || v == 5.0 || v == 7.0 || v == 9.0 || v == 3.0 || v == 0.5);
  for (double v : {1.0, 2.0, 5.0, 7.0, 9.0})
    EXPECT_NE(std::find(got.begin(), got.end(), v), got.end());
  XAR_FREE(&x);
}

TEST(OrderArray, PermutesAndRefusesInvalidPointersUntouched) {
  std::mt19937 rng(8);
  for (int size : {1, 12, 600}) {
    const int n = 200;
    std::vector<char> data(n * size);
    for (char& c : data) c = char(rng());
    const std::vector<char> original = data;
    std::vector<int> perm(n);
    for (int i = 0; i < n; ++i) perm[i] = i;
    std::shuffle(perm.begin(), perm.end(), rng);
    std::vector<void*> ptrs(n);
    // A duplicate, a misaligned and an outside pointer each leave data and pointers alone.
    for (int fault = 1; fault <= 3; ++fault) {
      for (int i = 0; i < n; ++i) ptrs[i] = data.data() + perm[i] * size;
      if (fault == 1) ptrs[n - 1] = ptrs[0];
      if (fault == 2) ptrs[5] = data.data() + (size > 1 ? 1 : n);
      if (fault == 3) ptrs[7] = data.data() - size;
      const std::vector<void*> saved = ptrs;
      testing::internal::CaptureStdout();
      ORDER_ARRAY(n, data.data(), ptrs.data(), size);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), "ORDER_ARRAY:  invalid data\n");
      EXPECT_EQ(data, original);
      EXPECT_EQ(ptrs, saved);
    }
    for (int i = 0; i < n; ++i) ptrs[i] = data.data() + perm[i] * size;
    ORDER_ARRAY(n, data.data(), ptrs.data(), size);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(memcmp(data.data() + i * size, original.data() + perm[i] * size, size), 0);
      ASSERT_EQ(ptrs[i], data.data() + i * size);
    }
  }
  testing::internal::CaptureStdout();
  ORDER_ARRAY(-1, nullptr, nullptr, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ORDER_ARRAY:  invalid input\n");
}

int offspring_calls = 0;
void count_offspring(void*) { ++offspring_calls; }
void* make_block(void*) { return getmem(16); }
void* copy_block(void* p) { return memcpy(getmem(16), p, 16); }

struct Owner {
  int* values;
};
void free_owner(void* o) { rlsmem(static_cast<Owner*>(o)->values); }
void copy_owner(const void* from, void* to) {
  static_cast<Owner*>(to)->values = static_cast<int*>(getmem(8));
  *static_cast<Owner*>(to)->values = *static_cast<const Owner*>(from)->values;
}

TEST(OwningXarrays, PointersStructuresAndStrings) {
  void** a = nullptr;
  EXPECT_OOM_SAFE([&] { xar_ptr_alloc_or_resize(&a, 40, 2, make_block, nullptr); },
                  [&] { EXPECT_EQ(a, nullptr); });
  for (int i = 0; i < 40; ++i) memset(a[i], i + 1, 16);
  void** b = nullptr;
  // Both copies hold blocks of their own with the same bytes, a null entry null.
  const auto copied = [&] {
    ASSERT_EQ(XAR_COUNT(&b), 40);
    for (int i = 0; i < 40; ++i)
      ASSERT_TRUE(a[i] ? b[i] != a[i] && memcmp(b[i], a[i], 16) == 0 : !b[i]) << i;
  };
  EXPECT_OOM_SAFE([&] { b = static_cast<void**>(xar_ptr_dup(a, copy_block)); },
                  [&] { EXPECT_EQ(b, nullptr); });
  copied();
  xar_ptr_free_all(&b);
  a[1] = (rlsmem(a[1]), nullptr);
  EXPECT_OOM_SAFE([&] { b = static_cast<void**>(xar_ptr_deep_copy(a, 16)); },
                  [&] { EXPECT_EQ(b, nullptr); });
  copied();
  xar_ptr_free_all(&b);
  const int before = blocks();
  offspring_calls = 0;
  xar_ptr_alloc_or_resize(&a, 3, 2, make_block, count_offspring);
  EXPECT_EQ(offspring_calls, 39);  // 37 released entries, 2 kept non-null ones
  EXPECT_EQ(blocks(), before - 37);
  void* kept[] = {a[0], a[2]};
  xar_ptr_free(&a, nullptr);  // a null callback releases only the array
  EXPECT_EQ(testsupport::allocation_intact(kept[0]), 0);
  for (void* p : kept) rlsmem(p);

  char** s = nullptr;
  const char* words[] = {"alpha", "beta", "gamma"};
  const char* more[] = {"one", "two", "three", "four", "five"};
  set_string_xarray(words, 3, &s);
  EXPECT_OOM_SAFE([&] { set_string_xarray(more, 5, &s); }, [&] { EXPECT_STREQ(s[0], "alpha"); });
  EXPECT_STREQ(s[4], "five");
  resize_string_xarray(&s, 2);
  resize_string_xarray(&s, 4);
  EXPECT_EQ(s[3], nullptr);
  free_string_xarray(&s);

  Owner plain[3];
  for (int i = 0; i < 3; ++i) *(plain[i].values = static_cast<int*>(getmem(8))) = 10 * i;
  Owner *x = nullptr, *y = nullptr;
  EXPECT_EQ(array_to_xar_str_copy(nullptr, &x, 0, sizeof(Owner), 1, free_owner, copy_owner),
            nullptr);
  array_to_xar_str_copy(plain, &x, 3, sizeof(Owner), 1, free_owner, copy_owner);
  xar_str_copy(&x, &y, free_owner, copy_owner);
  xar_str_delete(&y, 0, 2, free_owner);
  EXPECT_EQ(*y[0].values, 20);
  // Growth comes before the release: running out of memory leaves y owning its value.
  EXPECT_OOM_SAFE([&] { xar_str_alloc_or_resize(&y, 40, sizeof(Owner), 1, free_owner); },
                  [&] { EXPECT_EQ(*y[0].values, 20); });
  y[0].values = static_cast<int*>(getmem(8));
  EXPECT_OOM_SAFE([&] { xar_str_copy(&x, &y, free_owner, copy_owner); }, nullptr);
  // A target of another object size is refused and nothing in or past it is written.
  int64_t* narrow = static_cast<int64_t*>(XAR_ALLOC(1, 8, 1));
  EXPECT_EQ(xar_str_copy(&x, &narrow, free_owner, copy_owner), nullptr);
  EXPECT_EQ(array_to_xar_str_copy(plain, &narrow, 3, sizeof(Owner), 1, free_owner, copy_owner),
            nullptr);
  EXPECT_EQ(testsupport::allocation_intact(reinterpret_cast<char*>(narrow) - 8) + narrow[0], 0);
  XAR_FREE(&narrow);
  xar_str_free(&y, free_owner);
  xar_str_free(&x, free_owner);
  for (auto& o : plain) rlsmem(o.values);
  EXPECT_EQ(blocks(), before - 40);
  static char big[20481] = {1};
  void* copy = str_alloc_or_copy(big, nullptr, 20480);
  EXPECT_EQ(static_cast<char*>(copy)[0], 1);
  rlsmem(copy);
  EXPECT_EQ(str_alloc_or_copy(big, nullptr, 20481), nullptr);
}

// Merges into existing and absent outputs, the copies, the merge of doubles and a reorder with a
// buffer from the heap leave everything as it was when memory runs out.
TEST(Merge, OutOfMemoryLeavesOutputsAsTheyWere) {
  std::vector<int> av(3000), bv(2000);
  for (int i = 0; i < 3000; ++i) av[i] = 2 * i;
  for (int i = 0; i < 2000; ++i) bv[i] = 3 * i;
  int* a = xar_of(av, 1);
  int* b = xar_of(bv, 1);
  const int** out = nullptr;
  int* sides = nullptr;
  EXPECT_OOM_SAFE([&] { merge_sorted_xarrays(a, b, compare_ints, nullptr, &out, &sides); },
                  [&] { EXPECT_EQ(out, nullptr); });
  const int k = XAR_COUNT(&out);
  XAR_SHRINK(&out, k - 10);  // a small output that must grow
  const int** small = out;
  EXPECT_OOM_SAFE([&] { merge_sorted_xarrays(a, b, compare_ints, nullptr, &out, &sides); },
                  [&] { EXPECT_TRUE(out == small && XAR_COUNT(&out) == 10); });
  XAR_SHRINK(&sides, k);
  int* copied = nullptr;
  EXPECT_OOM_SAFE([&] { merge_sorted_xarrays_copy(a, b, compare_ints, nullptr, &copied, &sides); },
                  [&] { EXPECT_TRUE(copied == nullptr && XAR_COUNT(&sides) == 0); });
  EXPECT_EQ(XAR_COUNT(&sides), k);
  void* ha = har_alloc(4, 10);
  void* hb = har_alloc(4, 10);
  har_append(&ha, 3000, av.data());
  har_append(&hb, 2000, bv.data());
  void* hcopy = nullptr;
  EXPECT_OOM_SAFE(
      [&] { merge_sorted_harrays_copy(ha, hb, compare_ints, nullptr, &hcopy, nullptr); },
      [&] { EXPECT_EQ(hcopy, nullptr); });
  EXPECT_EQ(har_count(&hcopy), k);
  std::vector<double> base(500), add(800);
  for (int i = 0; i < 500; ++i) base[i] = 2 * i;
  for (int i = 0; i < 800; ++i) add[i] = 1.5 * i;
  double* d = xar_of(base, 1);
  EXPECT_OOM_SAFE([&] { xar_merge_doubles(&d, add.data(), 800, 0.0); },
                  [&] { EXPECT_EQ(XAR_COUNT(&d), 500); });
  std::vector<char> data(600 * 20);
  std::vector<void*> ptrs(20);
  for (int i = 0; i < 20; ++i) ptrs[i] = data.data() + ((i + 1) % 20) * 600;
  EXPECT_OOM_SAFE([&] { ORDER_ARRAY(20, data.data(), ptrs.data(), 600); },
                  [&] { EXPECT_EQ(ptrs[0], data.data() + 600); });
  for (void** h : {&ha, &hb, &hcopy}) har_free(h);
  for (void* x : {(void*)&d, (void*)&a, (void*)&b, (void*)&out, (void*)&sides, (void*)&copied})
    XAR_FREE(x);
}

}  // namespace

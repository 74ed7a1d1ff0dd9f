// Element operations, sources inside the array being grown, and the plain-array routines.
#include "tests/xar/xar_test_util.h"

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "fresh_process.h"

using namespace xar_test;
using V = std::vector<int>;

TEST(XarOps, AllocOrResizeExtendAppend) {
  int* a = nullptr;
  xar_alloc_or_resize(&a, 3, 4, 5);
  EXPECT_EQ(contents(a), (V{0, 0, 0}));
  EXPECT_EQ(raw(a).extension, 5);
  a[2] = 9;
  xar_alloc_or_resize(&a, 1, 4, 5);
  EXPECT_EQ(contents(a), (V{0}));
  EXPECT_TRUE(spare_is_zero(a));
  XAR_FREE(&a);

  int* first = static_cast<int*>(xar_alloc_or_extend(&a, 2, 4, 3));
  EXPECT_EQ(first, a);
  EXPECT_EQ(XAR_COUNT(&a), 2);
  int* more = static_cast<int*>(xar_alloc_or_extend(&a, 2, 4, 3));
  EXPECT_EQ(more, &a[2]);
  XAR_FREE(&a);

  const int src[] = {4, 5, 6};
  void* appended = xar_alloc_or_append(&a, 3, 4, 2, src);
  EXPECT_EQ(appended, a);
  xar_alloc_or_append(&a, 2, 4, 2, src + 1);
  EXPECT_EQ(contents(a), (V{4, 5, 6, 5, 6}));
  XAR_FREE(&a);
}

TEST(XarOps, InconsistentObjectSizeIsReportedAndRefused) {
  testsupport::run_child(
      [] {
        fresh_process::catch_reports();
        int* a = ints({1, 2});
        xar_alloc_or_resize(&a, 4, 8, 2);
        xar_alloc_or_extend(&a, 1, 2, 2);
        xar_alloc_or_append(&a, 1, 3, 2, nullptr);
        EXPECT_EQ(XAR_COUNT(&a), 2) << "an operation went on";
        const char* names[] = {"xar_alloc_or_resize", "xar_alloc_or_extend", "xar_alloc_or_append"};
        const char* messages[] = {"inconsistent size: old (4) != request (8) - SERIOUS ERROR.",
                                  "inconsistent size: old (4) != request (2) - SERIOUS ERROR.",
                                  "inconsistent size: old (4) != request (3) - SERIOUS ERROR."};
        ASSERT_EQ(fresh_process::reports.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
          EXPECT_EQ(fresh_process::reports[i].where, names[i]);
          EXPECT_EQ(fresh_process::reports[i].message, messages[i]);
        }
      },
      testsupport::exits(0));
}

TEST(XarOps, InsertRemoveDelete) {
  int* a = ints({1, 2, 3}, 1);
  const int two[] = {7, 8};
  int* slot = static_cast<int*>(xar_insert(&a, 0, 2, two));
  EXPECT_EQ(slot, &a[0]);
  EXPECT_EQ(contents(a), (V{7, 8, 1, 2, 3}));
  slot = static_cast<int*>(xar_insert(&a, 5, 2, two));
  EXPECT_EQ(slot, &a[5]);
  EXPECT_EQ(contents(a), (V{7, 8, 1, 2, 3, 7, 8}));
  xar_insert(&a, 2, 1, nullptr);
  EXPECT_EQ(contents(a), (V{7, 8, 0, 1, 2, 3, 7, 8}));
  EXPECT_EQ(xar_insert(&a, 3, 0, two), &a[3]);

  EXPECT_EQ(xar_remove(&a, 0, 3), &a[4]);
  EXPECT_EQ(contents(a), (V{1, 2, 3, 7, 8}));
  EXPECT_TRUE(spare_is_zero(a));

  int out[3] = {-1, -1, -1};
  EXPECT_EQ(xar_delete(&a, 1, 2, out), out);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[1], 3);
  EXPECT_EQ(out[2], -1);
  EXPECT_EQ(contents(a), (V{1, 7, 8}));
  // Without a destination the objects are only removed.
  EXPECT_EQ(xar_delete(&a, 2, 1, nullptr), nullptr);
  EXPECT_EQ(contents(a), (V{1, 7}));
  EXPECT_EQ(xar_remove(&a, 0, 2), nullptr);
  EXPECT_TRUE(spare_is_zero(a));
  XAR_FREE(&a);
}

TEST(XarOps, BadDeleteAndSwapRequestsAreReported) {
  testsupport::run_child(
      [] {
        fresh_process::catch_reports();
        int* a = ints({1, 2, 3});
        int out[4];
        EXPECT_EQ(xar_delete(&a, 2, 2, out), nullptr) << "delete past the end";
        EXPECT_EQ(xar_delete(&a, -1, 1, out), nullptr) << "negative index";
        xar_swap(a, 0, 3);
        xar_swap(nullptr, 0, 0);
        EXPECT_EQ(contents(a), V({1, 2, 3}));
        ASSERT_EQ(fresh_process::reports.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
          EXPECT_EQ(fresh_process::reports[i].where, i < 2 ? "xar_delete" : "xar_swap") << i;
          EXPECT_EQ(fresh_process::reports[i].message, "Invalid request") << i;
        }
      },
      testsupport::exits(0));
}

TEST(XarOps, SwapAndReverse) {
  int* a = ints({1, 2, 3, 4, 5});
  xar_swap(a, 0, 4);
  xar_swap(a, 2, 2);
  EXPECT_EQ(contents(a), (V{5, 2, 3, 4, 1}));
  xar_reverse(a);
  EXPECT_EQ(contents(a), (V{1, 4, 3, 2, 5}));
  xar_remove(&a, 4, 1);
  xar_reverse(a);
  EXPECT_EQ(contents(a), (V{2, 3, 4, 1}));
  xar_reverse(nullptr);
  XAR_FREE(&a);

  // Objects wider than the exchange buffer are exchanged piece by piece.
  struct Wide {
    uint8_t bytes[2500];
  };
  Wide* w = static_cast<Wide*>(XAR_ALLOC(3, sizeof(Wide), 1));
  for (int i = 0; i < 3; ++i)
    for (int b = 0; b < 2500; ++b) w[i].bytes[b] = uint8_t(i * 50 + b % 50);
  xar_reverse(w);
  for (int i = 0; i < 3; ++i)
    for (int b = 0; b < 2500; ++b) ASSERT_EQ(w[i].bytes[b], uint8_t((2 - i) * 50 + b % 50));
  XAR_FREE(&w);
}

TEST(XarOps, CopiesAndConversions) {
  int* a = ints({1, 2, 3}, 6);
  int* b = nullptr;
  int* c = static_cast<int*>(xar_copy(&a, &b));
  EXPECT_EQ(b, c);
  EXPECT_NE(b, a);
  EXPECT_EQ(contents(b), (V{1, 2, 3}));
  EXPECT_EQ(raw(b).extension, 6);
  EXPECT_EQ(raw(b).zone, -1);
  int* none = nullptr;
  EXPECT_EQ(xar_copy(&none, &b), nullptr);
  EXPECT_EQ(b, nullptr);
  XAR_FREE(&c);

  // Reinterpreted with another object size: only the source's bytes, the rest zero.
  uint8_t* narrow = nullptr;
  xar_copy_as(&a, 1, 2, &narrow);
  EXPECT_EQ(XAR_COUNT(&narrow), 3);
  EXPECT_EQ(narrow[0], 1);
  EXPECT_EQ(narrow[1], 0);
  int64_t* wide = nullptr;
  xar_copy_as(&a, 8, 2, &wide);
  ASSERT_EQ(XAR_COUNT(&wide), 3);
  EXPECT_EQ(wide[0], int64_t(1) | int64_t(2) << 32);
  EXPECT_EQ(wide[1], 3);
  EXPECT_EQ(wide[2], 0);
  XAR_FREE(&narrow);
  XAR_FREE(&wide);

  const int plain[] = {9, 8, 7, 6};
  int* from = nullptr;
  xar_from_array(plain, 4, 4, 1, &from);
  EXPECT_EQ(contents(from), (V{9, 8, 7, 6}));
  XAR_FREE(&from);
  XAR_FREE(&a);
}

TEST(XarOps, ConcatInjectAppendCopies) {
  int* dst = nullptr;
  int* src = ints({1, 2});
  xar_concat(&dst, src);
  EXPECT_NE(dst, src);
  EXPECT_EQ(contents(dst), (V{1, 2}));
  xar_concat(&dst, nullptr);
  xar_concat(&dst, src);
  EXPECT_EQ(contents(dst), (V{1, 2, 1, 2}));
  xar_inject(&dst, src, 1);
  EXPECT_EQ(contents(dst), (V{1, 1, 2, 2, 1, 2}));
  XAR_FREE(&dst);
  xar_inject(&dst, src, 0);
  EXPECT_EQ(contents(dst), (V{1, 2}));
  const int five = 5;
  xar_append_copies(&dst, 3, &five);
  EXPECT_EQ(contents(dst), (V{1, 2, 5, 5, 5}));
  xar_append_copies(&dst, 2, nullptr);
  EXPECT_EQ(contents(dst), (V{1, 2, 5, 5, 5, 0, 0}));
  XAR_FREE(&dst);
  XAR_FREE(&src);
}

// Sources that lie inside the array being grown are read as they stood before the call, even
// when the growth moves the block (which the heap is told to do every time here).
TEST(XarOps, SourceInsideTheGrowingArray) {
  struct AlwaysMove {
    int previous = mem_set_always_move(1);
    ~AlwaysMove() { mem_set_always_move(previous); }
  } always_move;
  int* a = from({1, 2, 3, 4});
  ASSERT_EQ(capacity(a), 4);  // full: every call below moves the block
  XAR_APPEND(&a, 2, &a[1]);
  EXPECT_EQ(contents(a), (V{1, 2, 3, 4, 2, 3}));
  XAR_FREE(&a);

  a = from({1, 2, 3, 4});
  XAR_APPEND(&a, 3, &a[2]);  // runs past the old count: those slots read as zero
  EXPECT_EQ(contents(a), (V{1, 2, 3, 4, 3, 4, 0}));
  XAR_FREE(&a);

  a = from({1, 2});
  xar_concat(&a, a);
  EXPECT_EQ(contents(a), (V{1, 2, 1, 2}));
  ASSERT_EQ(capacity(a), 4);
  xar_concat(&a, a);
  EXPECT_EQ(contents(a), (V{1, 2, 1, 2, 1, 2, 1, 2}));
  XAR_FREE(&a);

  a = from({1, 2, 3, 4});
  xar_insert(&a, 3, 2, &a[0]);  // source before the slot
  EXPECT_EQ(contents(a), (V{1, 2, 3, 1, 2, 4}));
  ASSERT_EQ(capacity(a), 6);
  xar_insert(&a, 1, 2, &a[3]);  // source after the slot
  EXPECT_EQ(contents(a), (V{1, 1, 2, 2, 3, 1, 2, 4}));
  ASSERT_EQ(capacity(a), 8);
  xar_inject(&a, a, 0);
  EXPECT_EQ(contents(a), (V{1, 1, 2, 2, 3, 1, 2, 4, 1, 1, 2, 2, 3, 1, 2, 4}));
  XAR_FREE(&a);

  a = from({6, 7});
  xar_append_copies(&a, 3, &a[1]);
  EXPECT_EQ(contents(a), (V{6, 7, 7, 7, 7}));
  XAR_FREE(&a);

  // Many large objects from inside the array need scratch memory of their own.
  a = static_cast<int*>(XAR_ALLOC(0, 4, 1));
  for (int i = 0; i < 200; ++i) XAR_APPEND(&a, 1, &i);
  XAR_APPEND(&a, 200, &a[0]);
  ASSERT_EQ(XAR_COUNT(&a), 400);
  for (int i = 0; i < 400; ++i) ASSERT_EQ(a[i], i % 200);
  XAR_FREE(&a);
}

TEST(XarOps, OwnSourceNotesInDebugMode) {
  const int previous = order_debug_level_set(1);
  int* a = ints({1, 2});
  testing::internal::CaptureStdout();
  XAR_APPEND(&a, 1, &a[0]);
  const std::string out = testing::internal::GetCapturedStdout();
  order_debug_level_set(previous);
  EXPECT_TRUE(contains(out, "XAR_APPEND")) << out;
  EXPECT_TRUE(contains(out, "don't ask for trouble. Use xar_replicate")) << out;
  XAR_FREE(&a);
}

TEST(XarOpsStops, ConcatAndInjectStops) {
  EXPECT_EQ(stop_output([] {
              int* a = ints({1});
              auto* b = static_cast<int64_t*>(XAR_ALLOC(1, 8, 1));
              xar_concat(&a, b);
            }).find("Serious internal error"),
            0u);
  EXPECT_EQ(stop_output([] {
              int* a = ints({1});
              auto* b = static_cast<int64_t*>(XAR_ALLOC(1, 8, 1));
              xar_inject(&a, b, 0);
            }).find("Serious internal error"),
            0u);
  EXPECT_EQ(stop_output([] {
              int* a = nullptr;
              int* b = ints({1});
              xar_inject(&a, b, 1);
            }).find("Serious internal error"),
            0u);
  EXPECT_TRUE(starts_with(stop_output([] {
                            int* a = ints({1});
                            xar_inject(&a, nullptr, 0);
                          }),
                          "XAR_PARAMS:  invalid array\n"));
}

TEST(ArrRoutines, InsertAndDelete) {
  int buf[8] = {1, 2, 3, 0, 0, 0, 0, 0};
  int count = 3;
  const int two[] = {8, 9};
  EXPECT_EQ(arr_insert(buf, 4, &count, 1, 2, two), &buf[1]);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(V(buf, buf + 5), (V{1, 8, 9, 2, 3}));
  EXPECT_EQ(arr_insert(buf, 4, &count, 5, 1, nullptr), &buf[5]);
  EXPECT_EQ(V(buf, buf + 6), (V{1, 8, 9, 2, 3, 0}));
  EXPECT_EQ(arr_insert(buf, 4, &count, 6, 0, &buf[0]), &buf[6]);
  EXPECT_EQ(count, 6);
  // A source before the slot is allowed.
  arr_insert(buf, 4, &count, 2, 1, &buf[0]);
  EXPECT_EQ(V(buf, buf + 7), (V{1, 8, 1, 9, 2, 3, 0}));

  int out[2] = {};
  EXPECT_EQ(arr_delete(buf, 4, &count, 1, 2, out), &buf[1]);
  EXPECT_EQ(out[0], 8);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(V(buf, buf + 5), (V{1, 9, 2, 3, 0}));
  EXPECT_EQ(arr_delete(buf, 4, &count, 3, 2, nullptr), &buf[3]);
  EXPECT_EQ(count, 3);
  // A destination before the slot is allowed.
  arr_delete(buf, 4, &count, 2, 1, &buf[0]);
  EXPECT_EQ(V(buf, buf + 2), (V{2, 9}));
  EXPECT_EQ(count, 2);
}

TEST(ArrRoutines, ReverseAndRotate) {
  int r[] = {1, 2, 3, 4};
  EXPECT_EQ(arr_reverse(r, 4, 4), 1);
  EXPECT_EQ(V(r, r + 4), (V{4, 3, 2, 1}));
  EXPECT_EQ(arr_reverse(r, 1, 4), 1);
  EXPECT_EQ(arr_reverse(nullptr, 4, 4), 1);

  int small[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(arr_rotate(small, 4, 2, 5), 1);
  EXPECT_EQ(V(small, small + 5), (V{3, 4, 5, 1, 2}));
  EXPECT_EQ(arr_rotate(small, 4, 0, 5), 1);
  EXPECT_EQ(V(small, small + 5), (V{3, 4, 5, 1, 2}));
  EXPECT_EQ(arr_rotate(small, 4, 5, 5), 0);
  EXPECT_EQ(arr_rotate(small, 4, -1, 5), 0);
  EXPECT_EQ(arr_rotate(nullptr, 4, 1, 5), 0);
  EXPECT_EQ(V(small, small + 5), (V{3, 4, 5, 1, 2}));

  // 100 ints fill the 400-byte stack temporary exactly; 1000 ints need a getmem one.
  for (int n : {100, 101, 1000}) {
    std::vector<int> v(static_cast<size_t>(n)), expected(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[size_t(i)] = i;
    const int k = n - 3;
    for (int i = 0; i < n; ++i) expected[size_t(i)] = (i + k) % n;
    EXPECT_EQ(arr_rotate(v.data(), 4, k, n), 1);
    EXPECT_EQ(v, expected) << n;
  }
}

TEST(ArrRoutines, RotateTemporaryComesFromTheStackOnlyForSmallArrays) {
  // With every backing request failing, only the rotation that needs no getmem succeeds.
  testsupport::run_child(
      [] {
        int v[101];
        for (int i = 0; i < 101; ++i) v[i] = i;
        mem_backing_fail_after(0);
        EXPECT_EQ(arr_rotate(v, 4, 1, 100), 1);
        EXPECT_EQ(v[0], 1);
        EXPECT_EQ(v[99], 0);
        // One int more needs getmem, which fails: with no trap to take the break, it stops.
        arr_rotate(v, 4, 1, 101);
      },
      testsupport::stops());
}

TEST(ArrRoutinesStops, WrongCallsAndBadPointers) {
  int buf[6] = {1, 2, 3, 4, 5, 6};
  const struct {
    const char* expected;
    std::function<void()> action;
  } cases[] = {
      {"arr_insert wrong call. \n",
       [&] {
         int c = 3;
         arr_insert(buf, 4, &c, 4, 1, nullptr);
       }},
      {"arr_insert wrong call. \n",
       [&] {
         int c = -1;
         arr_insert(buf, 4, &c, 0, 1, nullptr);
       }},
      {"arr_insert wrong call. \n",
       [&] {
         int c = 3;
         arr_insert(buf, 4, &c, 1, -1, nullptr);
       }},
      {"arr_insert bad data pointer. \n",
       [&] {
         int c = 3;
         arr_insert(buf, 4, &c, 1, 2, &buf[4]);
       }},
      {"arr_delete wrong call. \n",
       [&] {
         int c = 3;
         arr_delete(buf, 4, &c, 2, 2, nullptr);
       }},
      {"arr_delete wrong call. \n",
       [&] {
         int c = 3;
         arr_delete(buf, 4, &c, -1, 1, nullptr);
       }},
      {"arr_delete  bad data pointer. \n",
       [&] {
         int c = 6;
         arr_delete(buf, 4, &c, 1, 2, &buf[3]);
       }},
      {"arr_insert wrong call. \n",
       [&] {
         int* a = ints({1, 2});
         xar_insert(&a, 3, 1, nullptr);
       }},
      {"arr_delete wrong call. \n",
       [&] {
         int* a = ints({1, 2});
         xar_remove(&a, 1, 2);
       }},
  };
  for (const auto& c : cases) {
    const std::string out = stop_output(c.action);
    EXPECT_TRUE(starts_with(out, c.expected)) << "expected " << c.expected << "got " << out;
  }
}

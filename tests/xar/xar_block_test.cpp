// Block layout, allocation rules, the growth sequence, validity and the misuse stops.
#include "tests/xar/xar_test_util.h"

#include "platform/locale.h"
#include "runtime/diag/diag.h"
#include "runtime/mem/clump.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/har.h"
#include "oom_sweep.h"

using namespace xar_test;

namespace {

// Capacities seen while appending one object at a time, one entry per distinct capacity.
std::vector<int> growth(void* user, int object_size, int appends) {
  std::vector<uint8_t> object(size_t(object_size), 0x5A);
  std::vector<int> seen{capacity(user)};
  for (int i = 0; i < appends; ++i) {
    XAR_APPEND(&user, 1, object.data());
    if (capacity(user) != seen.back()) seen.push_back(capacity(user));
  }
  XAR_FREE(&user);
  return seen;
}

struct FlagGuard {
  void (*set)(int);
  explicit FlagGuard(void (*setter)(int)) : set(setter) { set(1); }
  ~FlagGuard() { set(0); }
};

}  // namespace

TEST(XarBlock, LayoutToTheByte) {
  auto* a = static_cast<uint16_t*>(XAR_ALLOC(3, 2, 5));
  ASSERT_NE(a, nullptr);
  a[0] = 0x1111;
  a[1] = 0x2222;
  a[2] = 0x3333;
  const uint8_t expected[24] = {0x03, 0x00, 0x28, 0x00,  // 3 units, extension 5 in bits 19-31
                                0x02, 0x00, 0x58, 0x48,  // object size 2, "XH"
                                0x11, 0x11, 0x22, 0x22, 0x33, 0x33,  // the objects
                                0x00, 0x00,                          // room for no further object
                                0x58, 0x54, 0xFF, 0xFF,   // "XT", zone field -1 (heap, never moved)
                                0x03, 0x00, 0x00, 0x00};  // count 3
  EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(a) - 8, expected, sizeof expected), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 8, 0u);
  XAR_FREE(&a);
  EXPECT_EQ(a, nullptr);
  XAR_FREE(&a);  // a null array is left alone
}

TEST(XarBlock, AllocationRules) {
  EXPECT_EQ(XAR_ALLOC(0, 8, 0), nullptr);

  void* small = XAR_ALLOC(0, 4, 1);  // empty, small objects: extension 2 and one reserved slot
  Raw r = raw(small);
  EXPECT_EQ(r.extension, 2);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(capacity(small), 2);
  EXPECT_TRUE(spare_is_zero(small));
  XAR_FREE(&small);

  void* large = XAR_ALLOC(0, 128, 1);
  EXPECT_EQ(raw(large).extension, 1);
  EXPECT_EQ(capacity(large), 1);
  XAR_FREE(&large);

  void* wide = XAR_ALLOC(0, 4, 10000);
  EXPECT_EQ(raw(wide).extension, 8191);
  XAR_FREE(&wide);

  {
    FlagGuard ignore(xar_set_ignore_ext);
    EXPECT_EQ(xar_ignore_ext(), 1);
    void* a = XAR_ALLOC(0, 4, 10);
    EXPECT_EQ(raw(a).extension, 1);
    XAR_FREE(&a);
  }
  EXPECT_EQ(xar_ignore_ext(), 0);

  void* filled = XAR_ALLOC(7, 3, 1);
  EXPECT_EQ(raw(filled).count, 7);
  EXPECT_EQ(raw(filled).units, ((7 * 3 + 7) >> 3) + 2);
  EXPECT_EQ(raw(filled).extension, 1);
  EXPECT_TRUE(spare_is_zero(filled));
  for (int i = 0; i < 21; ++i) EXPECT_EQ(static_cast<uint8_t*>(filled)[i], 0);
  XAR_FREE(&filled);

  void* biggest = XAR_ALLOC(2047984 / 8, 8, 1);
  ASSERT_NE(biggest, nullptr);
  EXPECT_EQ(XAR_COUNT(&biggest), 255998);
  EXPECT_EQ(xar_max_count(8), 255998);
  XAR_FREE(&biggest);
  void* widest = XAR_ALLOC(1, 65535, 1);
  EXPECT_EQ(raw(widest).object_size, 65535);
  XAR_FREE(&widest);
}

TEST(XarBlock, GrowthSequence) {
  EXPECT_EQ(growth(XAR_ALLOC(0, 8, 10), 8, 214),
            (std::vector<int>{1, 11, 24, 40, 60, 83, 109, 139, 174, 214}));
  EXPECT_EQ(growth(XAR_ALLOC(0, 4, 10), 4, 112), (std::vector<int>{2, 12, 26, 42, 62, 86, 112}));

  // Each relocation counts down the zone field; the header keeps the unscaled extension.
  void* a = XAR_ALLOC(0, 8, 10);
  int64_t v = 1;
  for (int i = 0; i < 25; ++i) XAR_APPEND(&a, 1, &v);
  EXPECT_EQ(raw(a).zone, -4);
  EXPECT_EQ(raw(a).extension, 10);
  XAR_FREE(&a);

  {
    FlagGuard plain(xar_set_ignore_reloc_cnt);
    EXPECT_EQ(xar_ignore_reloc_cnt(), 1);
    EXPECT_EQ(growth(XAR_ALLOC(0, 8, 10), 8, 41), (std::vector<int>{1, 11, 21, 31, 41}));
  }

  // A request larger than the scaled extension grows by the next multiple of it.
  void* b = XAR_ALLOC(0, 8, 10);
  XAR_EXTEND(&b, 1);
  XAR_EXTEND(&b, 25);  // first relocation: extension 10, 25 needs 30
  EXPECT_EQ(capacity(b), 31);
  XAR_FREE(&b);
}

TEST(XarBlock, GrowthNearTheLimits) {
  // A relocation count at the bottom of the zone field stays there instead of wrapping into
  // the zone numbers, and the scaled extension is clamped to the largest count.
  void* a = xar_alloc_in_zone(-40000, 1, 8, 10);
  EXPECT_EQ(raw(a).zone, -32768);
  XAR_EXTEND(&a, 1);
  EXPECT_EQ(raw(a).zone, -32768);
  EXPECT_EQ(capacity(a), 255998);
  EXPECT_EQ(XAR_COUNT(&a), 2);
  XAR_FREE(&a);

  // Growth to the largest count is clamped there.
  void* b = XAR_ALLOC(255990, 8, 100);
  XAR_EXTEND(&b, 1);
  EXPECT_EQ(capacity(b), 255998);
  XAR_FREE(&b);
}

TEST(XarBlock, ZeroInvariantAcrossGrowth) {
  auto* a = static_cast<uint32_t*>(XAR_ALLOC(0, 4, 3));
  for (uint32_t i = 0; i < 300; ++i) {
    const uint32_t v = 0xFFFFFFFFu - i;
    XAR_APPEND(&a, 1, &v);
    ASSERT_TRUE(spare_is_zero(a)) << "after " << i + 1 << " appends";
  }
  for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(a[i], 0xFFFFFFFFu - i);
  void* last = XAR_SHRINK(&a, 100);
  EXPECT_EQ(last, &a[199]);
  EXPECT_TRUE(spare_is_zero(a));
  const int cap = capacity(a);
  EXPECT_EQ(XAR_SHRINK(&a, 200), nullptr);
  EXPECT_EQ(capacity(a), cap);
  EXPECT_TRUE(spare_is_zero(a));
  XAR_RESIZE(&a, 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(a[i], 0u);
  XAR_FREE(&a);
}

TEST(XarBlock, CountLastParamsResize) {
  int* none = nullptr;
  EXPECT_EQ(XAR_COUNT(&none), 0);
  EXPECT_EQ(XAR_LAST(&none), nullptr);
  EXPECT_EQ(XAR_RESIZE(&none, 0), 0);
  EXPECT_EQ(none, nullptr);

  int* a = ints({});
  EXPECT_EQ(XAR_LAST(&a), nullptr);
  int* first = static_cast<int*>(XAR_APPEND(&a, 2, nullptr));
  EXPECT_EQ(first, a);
  EXPECT_EQ(contents(a), (std::vector<int>{0, 0}));
  int seven = 7;
  EXPECT_EQ(XAR_APPEND(&a, 0, &seven), &a[1]);  // nothing copied
  EXPECT_EQ(XAR_COUNT(&a), 2);
  EXPECT_EQ(XAR_LAST(&a), &a[1]);
  int size = -1, ext = -1, count = -1, max = -1;
  XAR_PARAMS(&a, &size, &ext, &count, &max);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(ext, 4);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(max, 511996);
  XAR_PARAMS(&a, nullptr, nullptr, &count, nullptr);
  XAR_RESIZE(&a, 50);
  EXPECT_EQ(XAR_COUNT(&a), 50);
  XAR_RESIZE(&a, 1);
  EXPECT_EQ(XAR_COUNT(&a), 1);
  EXPECT_EQ(XAR_EXTEND(&a, 0), nullptr);
  XAR_FREE(&a);
}

TEST(XarBlock, Replicate) {
  auto* full = from<int64_t>({1, 2, 3});
  ASSERT_EQ(capacity(full), 3);  // the replicate relocates
  auto* q = static_cast<int64_t*>(XAR_REPLICATE(&full, 2, 0));
  EXPECT_EQ(q, &full[0]);
  EXPECT_EQ(contents(full), (std::vector<int64_t>{3, 1, 2, 3}));
  XAR_FREE(&full);

  int* a = ints({1, 2, 3});
  int* p = static_cast<int*>(XAR_REPLICATE(&a, 0, 3));
  EXPECT_EQ(p, &a[3]);
  EXPECT_EQ(contents(a), (std::vector<int>{1, 2, 3, 1}));
  XAR_REPLICATE(&a, 1, 2);
  EXPECT_EQ(contents(a), (std::vector<int>{1, 2, 2, 3, 1}));
  XAR_FREE(&a);
}

TEST(XarBlock, ValidityAndDamagedMagics) {
  int* none = nullptr;
  EXPECT_EQ(xar_is_invalid(nullptr), 1);
  EXPECT_EQ(xar_is_invalid(&none), 1);
  int* a = ints({1, 2, 3});
  EXPECT_EQ(xar_is_invalid(&a), 0);
  uint8_t* head = reinterpret_cast<uint8_t*>(a) - 2;
  uint8_t* tail = reinterpret_cast<uint8_t*>(a) - 8 + raw(a).units * 8 - 8;
  for (uint8_t* magic : {head, head + 1, tail, tail + 1}) {
    const uint8_t keep = *magic;
    *magic ^= 0x01;
    EXPECT_EQ(xar_is_invalid(&a), 1);
    int size = -1;
    EXPECT_EQ(xar_hdr_params(reinterpret_cast<uint8_t*>(a) - 8, &size, nullptr, nullptr), 0);
    EXPECT_EQ(size, -1);
    *magic = keep;
  }
  EXPECT_EQ(xar_is_invalid(&a), 0);
  XAR_FREE(&a);
}

TEST(XarBlock, SettingsReportInDebugMode) {
  const int previous = order_debug_level_set(1);
  testing::internal::CaptureStdout();
  xar_set_ignore_ext(1);
  xar_set_ignore_ext(0);
  xar_set_ignore_reloc_cnt(1);
  xar_set_ignore_reloc_cnt(0);
  const std::string out = testing::internal::GetCapturedStdout();
  order_debug_level_set(previous);
  EXPECT_EQ(out,
            "Xarray extension size is now ignored.\nXarray extension size is now valid.\n"
            "Xarray reloc count is now ignored.\nXarray reloc count is now valid.\n");
  testing::internal::CaptureStdout();
  xar_set_ignore_ext(0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(XarBlockFresh, DebugXarReservesNoSlot) {
  // "DEBUG_XAR" is read once, at the first allocation, so the child sets it before any.
  testsupport::run_child(
      [] {
        static char assignment[] = "DEBUG_XAR=0";
        platform_env_put(assignment);
        void* a = XAR_ALLOC(0, 8, 10);
        EXPECT_EQ(capacity(a), 0);
        EXPECT_EQ(raw(a).units, 2);
        int64_t v = 5;
        XAR_APPEND(&a, 1, &v);
        EXPECT_EQ(raw(a).zone, -2);
        EXPECT_EQ(capacity(a), 10);
      },
      testsupport::exits(0), {.start = testsupport::ChildStart::Fresh});
}

TEST(XarBlockStops, MisuseStopsPrintAndEnd) {
  auto damaged = [] {
    int* a = ints({1, 2});
    reinterpret_cast<uint8_t*>(a)[-1] = 0;  // head magic
    return a;
  };
  struct Case {
    const char* expected;
    std::function<void()> action;
  };
  const Case cases[] = {
      {"XAR_EXTEND:  invalid array\n",
       [&] {
         int* a = damaged();
         XAR_EXTEND(&a, 1);
       }},
      {"XAR_EXTEND:  invalid array\n",
       [&] {
         int* a = nullptr;
         XAR_APPEND(&a, 1, nullptr);
       }},
      {"XAR_EXTEND:  invalid request\n",
       [&] {
         int* a = ints({1});
         XAR_EXTEND(&a, -1);
       }},
      {"XAR_FREE:  invalid array\n",
       [&] {
         int* a = damaged();
         XAR_FREE(&a);
       }},
      {"XAR_LAST:  invalid array\n",
       [&] {
         int* a = damaged();
         XAR_LAST(&a);
       }},
      {"XAR_COUNT:  invalid array\n",
       [&] {
         int* a = damaged();
         XAR_COUNT(&a);
       }},
      {"XAR_SHRINK:  invalid array\n",
       [&] {
         int* a = damaged();
         XAR_SHRINK(&a, 1);
       }},
      {"XAR_SHRINK:  invalid request\n",
       [&] {
         int* a = ints({1});
         XAR_SHRINK(&a, 2);
       }},
      {"XAR_SHRINK:  invalid request\n",
       [&] {
         int* a = ints({1});
         XAR_SHRINK(&a, -1);
       }},
      {"XAR_RESIZE:  invalid array\n",
       [&] {
         int* a = damaged();
         XAR_RESIZE(&a, 3);
       }},
      {"XAR_RESIZE:  invalid array\n",
       [&] {
         int* a = nullptr;
         XAR_RESIZE(&a, 3);
       }},
      {"XAR_PARAMS:  invalid array\n",
       [&] {
         int* a = nullptr;
         int s;
         XAR_PARAMS(&a, &s, 0, 0, 0);
       }},
      {"XAR_ALLOC:  invalid request\n", [&] { XAR_ALLOC(-1, 4, 1); }},
      {"XAR_ALLOC:  invalid request\n", [&] { XAR_ALLOC(1, 0, 1); }},
      {"XAR_ALLOC:  invalid request\n", [&] { XAR_ALLOC(1, 4, 0); }},
      {"XAR_ALLOC:  invalid request\n", [&] { XAR_ALLOC(1, 65536, 1); }},
      {"XAR_ALLOC:  too big array\n", [&] { XAR_ALLOC(2047984 / 8 + 1, 8, 1); }},
      {"XAR_REPLICATE:  invalid request\n",
       [&] {
         int* a = ints({1, 2, 3});
         XAR_REPLICATE(&a, 3, 0);
       }},
      {"XAR_REPLICATE:  invalid request\n",
       [&] {
         int* a = ints({1, 2, 3});
         XAR_REPLICATE(&a, 0, 4);
       }},
  };
  for (const Case& c : cases) {
    const std::string out = stop_output(c.action);
    EXPECT_TRUE(starts_with(out, c.expected)) << "expected " << c.expected << "got " << out;
  }
}

TEST(XarBlockStops, StaleUserPointerAfterRelocation) {
  // Zone memory stays readable after a move, so the poisoned old trailer can be inspected.
  const int zone = xar_zone_create(4096);
  int* a = static_cast<int*>(xar_alloc_in_zone(zone, 2, 4, 1));
  a[0] = 10;
  a[1] = 20;
  int* stale = a;
  const uint8_t* old_trailer = reinterpret_cast<uint8_t*>(a) - 8 + raw(a).units * 8 - 8;
  XAR_EXTEND(&a, 1);
  ASSERT_NE(a, stale);
  EXPECT_EQ(contents(a), (std::vector<int>{10, 20, 0}));
  EXPECT_EQ(raw(a).zone, zone);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(old_trailer[i], 0) << i;
  EXPECT_EQ(xar_is_invalid(&stale), 1);
  EXPECT_TRUE(starts_with(stop_output([&] { XAR_COUNT(&stale); }), "XAR_COUNT:  invalid array\n"));
  xar_zone_destroy(zone);
}

TEST(XarBlockStops, MemoryBreaks) {
  // Growth past the largest count: reported, and the array is left as it was.
  const std::string too_big = testsupport::run_child(
      [] {
        void* a = XAR_ALLOC(255998, 8, 1);
        EXPECT_EQ(XAR_EXTEND(&a, 1), nullptr);
        EXPECT_FALSE(xar_is_invalid(&a));
        EXPECT_EQ(XAR_COUNT(&a), 255998);
      },
      testsupport::exits(0));
  EXPECT_TRUE(contains(too_big, " XAR_PRE_RELOC:  too big array\n")) << too_big;
  // Growth that finds no memory (here: a zone whose chunks are too small for the new block)
  // is reported, and the array stays valid and unchanged.
  const std::string no_memory = testsupport::run_child(
      [] {
        int* a = static_cast<int*>(xar_alloc_in_zone(xar_zone_create(64), 2, 4, 1));
        a[0] = 1;
        a[1] = 2;
        EXPECT_EQ(XAR_EXTEND(&a, 20), nullptr);
        EXPECT_FALSE(xar_is_invalid(&a));
        EXPECT_EQ(contents(a), (std::vector<int>{1, 2}));
      },
      testsupport::exits(0));
  EXPECT_TRUE(contains(no_memory, " XAR_EXTEND:  out of memory\n")) << no_memory;
}

// With automatic clumps a small array starts in a clump and grows through larger clumps to the
// heap, as do a harray's segments; a move out of a clump that runs out of memory changes nothing.
TEST(XarBlockFresh, GrowsOutOfAutomaticClumps) {
  testsupport::run_child(
      [] {
        testsupport::set_env("AUTO_CLUMPS_ON", "TRUE");
        read_memory_settings();
        int* a = static_cast<int*>(XAR_ALLOC(0, 4, 1));
        EXPECT_GE(clump_object_size(reinterpret_cast<char*>(a) - 8), 0);
        EXPECT_OOM_SAFE([&] { XAR_RESIZE(&a, capacity(a) + 1); },
                        [&] { EXPECT_EQ(XAR_COUNT(&a), 0); });
        XAR_RESIZE(&a, 0);
        void* h = har_alloc(8, 1);
        for (int i = 0; i < 3000; ++i) XAR_APPEND(&a, 1, &i);
        for (int64_t i = 0; i < 300000; ++i) har_append(&h, 1, &i);
        for (int i = 0; i < 3000; i += 7)
          ASSERT_EQ(*static_cast<int64_t*>(har_object(&h, i * 99, nullptr, nullptr)), a[i] * 99);
      },
      testsupport::exits(0));
}

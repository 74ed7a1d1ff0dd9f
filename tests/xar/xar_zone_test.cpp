// Zones, arrays living in zones, the persistent-memory support calls and the debugging views.
#include "clump_rerun.h"
#include "tests/xar/xar_test_util.h"

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"

using namespace xar_test;

namespace {

// A zone destroyed at the end of the test.
struct Zone {
  int id;
  explicit Zone(int chunk_size) : id(xar_zone_create(chunk_size)) {}
  ~Zone() { xar_zone_destroy(id); }
};

uint8_t* at(void* p, int offset) { return static_cast<uint8_t*>(p) + offset; }

}  // namespace

TEST(XarZone, ChunksAndThresholds) {
  Zone dflt(0);
  EXPECT_EQ(xar_zone_chunk_size(dflt.id), 65435);

  Zone z(200);  // full threshold 190
  EXPECT_NE(z.id, dflt.id);
  void* a = xar_zone_alloc(z.id, 1);  // raised to 8
  void* b = xar_zone_alloc(z.id, 8);
  EXPECT_EQ(b, at(a, 8));
  void* c = xar_zone_alloc(z.id, 0);  // still 8
  EXPECT_EQ(c, at(a, 16));
  void* d = xar_zone_alloc(z.id, 170);  // 176: chunk 0 now holds 200
  EXPECT_EQ(d, at(a, 24));
  void* e = xar_zone_alloc(z.id, 200);  // a new chunk, whole
  EXPECT_NE(e, nullptr);
  void* f = xar_zone_alloc(z.id, 8);  // chunk 1 is full as well
  EXPECT_NE(f, at(e, 0));

  // Chunk 0 filled past the threshold by an allocation from it is skipped from then on, even
  // when a request would still fit.
  Zone y(200);
  void* g = xar_zone_alloc(y.id, 8);
  EXPECT_EQ(xar_zone_alloc(y.id, 184), at(g, 8));
  void* h = xar_zone_alloc(y.id, 8);
  EXPECT_NE(h, at(g, 192));

  // Filled to the threshold by an allocation from it, it still serves (152 bytes of 160).
  Zone x(160);
  void* k = xar_zone_alloc(x.id, 8);
  EXPECT_EQ(xar_zone_alloc(x.id, 144), at(k, 8));
  EXPECT_EQ(xar_zone_alloc(x.id, 8), at(k, 152));

  std::memset(g, 0xAB, 192);
  EXPECT_EQ(xar_zone_reset(y.id, 0), 2);
  EXPECT_EQ(xar_zone_alloc(y.id, 8), g);  // handed out again from the first chunk
  EXPECT_EQ(*static_cast<uint8_t*>(g), 0xAB);
  EXPECT_EQ(xar_zone_clear(y.id), 2);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(at(g, 0)[i], 0);
}

TEST(XarZone, RecordsAreReused) {
  const int first = xar_zone_create(64);
  const int second = xar_zone_create(64);
  EXPECT_NE(first, second);
  xar_zone_destroy(first);
  EXPECT_EQ(xar_zone_create(128), first);
  EXPECT_EQ(xar_zone_chunk_size(first), 128);
  xar_zone_destroy(first);
  xar_zone_destroy(second);
}

TEST(XarZone, ArraysInAZone) {
  Zone z(1024);
  int* a = static_cast<int*>(xar_alloc_in_zone(z.id, 0, 4, 10));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(raw(a).zone, z.id);
  for (int i = 0; i < 40; ++i) XAR_APPEND(&a, 1, &i);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(a[i], i);
  // Zone arrays keep their zone and grow by the unscaled extension.
  EXPECT_EQ(raw(a).zone, z.id);
  EXPECT_EQ(capacity(a), 42);
  EXPECT_TRUE(spare_is_zero(a));
  int* keep = a;
  XAR_FREE(&a);  // the block stays in the zone
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(xar_is_invalid(&keep), 0);

  // A reset zone hands out its old bytes again; new arrays in it still start zero.
  for (int round = 0; round < 2; ++round) {
    xar_zone_reset(z.id, 0);
    int* b = static_cast<int*>(xar_alloc_in_zone(z.id, 30, 4, 5));
    for (int i = 0; i < 30; ++i) ASSERT_EQ(b[i], 0) << i;
    EXPECT_TRUE(spare_is_zero(b));
    for (int i = 0; i < 30; ++i) b[i] = -1;
    XAR_EXTEND(&b, 20);
    for (int i = 30; i < 50; ++i) ASSERT_EQ(b[i], 0) << i;
    EXPECT_TRUE(spare_is_zero(b));
    XAR_FREE(&b);
  }
}

TEST(XarZone, ZoneFaultsBreak) {
  // Each fault comes back without handing out memory.
  testsupport::run_child(
      [] {
        EXPECT_EQ(xar_zone_alloc(12345, 8), nullptr);
        const int z = xar_zone_create(100);
        EXPECT_EQ(xar_zone_alloc(z, 101), nullptr);
        xar_zone_destroy(z);
        EXPECT_EQ(xar_alloc_in_zone(z, 1, 4, 1), nullptr);
      },
      testsupport::exits(0));
}

TEST(XarPmm, SupportCalls) {
  EXPECT_EQ(pmm_xar_hdr_size(), 8);
  int* a = from({1, 2, 3});  // 4 units: 16 bytes of data space
  EXPECT_EQ(pmm_xar_body_size(&a), 16);
  EXPECT_EQ(pmm_xar_sizeof_compact_copy(&a), (((4 * 3 + 7) >> 3) + 2) * 8);
  uint8_t buffer[40];
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(pmm_xar_compact_copy(&a, buffer, 31), 0);
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(pmm_xar_compact_copy(&a, buffer, 40), 32);
  EXPECT_EQ(std::memcmp(buffer, at(a, -8), 32), 0);
  EXPECT_EQ(buffer[32], 0xEE);
  XAR_FREE(&a);

  int* none = nullptr;
  EXPECT_EQ(pmm_xar_body_size(&none), 0);
  EXPECT_EQ(pmm_xar_sizeof_compact_copy(&none), 0);
  EXPECT_EQ(pmm_xar_compact_copy(&none, buffer, 40), 0);
  pmm_xar_clear_zone(&none);

  Zone z(512);
  int* b = static_cast<int*>(xar_alloc_in_zone(z.id, 2, 4, 1));
  EXPECT_EQ(pmm_xar_compact_copy(&b, buffer, 40), 0);
  // Cleared of its zone, the array counts as a heap array and can be copied. (It still lives
  // in the chunk, so it is not freed here.)
  pmm_xar_clear_zone(&b);
  EXPECT_EQ(raw(b).zone, -1);
  EXPECT_EQ(pmm_xar_compact_copy(&b, buffer, 40), 24);
}

TEST(XarDebug, MemoryUsage) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the overhead of an xarray block");
  int size = -1, count = -1, cap = -1, overhead = -1;
  void* none = nullptr;
  EXPECT_EQ(debug_xar_hdr_memusage(&none, &size, &count, &cap, &overhead), 1);
  EXPECT_EQ(size + count + cap + overhead, 0);
  EXPECT_EQ(debug_xar_hdr_memusage(nullptr, &size, nullptr, nullptr, nullptr), 1);

  void* a = XAR_ALLOC(3, 5, 1);  // 32-byte block: capacity 3
  EXPECT_EQ(debug_xar_hdr_memusage(&a, &size, &count, &cap, &overhead), 1);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(cap, 3);
  // 8 x 2 + 16 - 15 for the array, and 16 for the heap block around its 32 bytes.
  EXPECT_EQ(overhead, 17 + 16);
  EXPECT_EQ(debug_xar_hdr_memusage(&a, nullptr, nullptr, nullptr, nullptr), 1);

  int hs = 0, hc = 0, hcap = 0;
  EXPECT_EQ(xar_hdr_params(at(a, -8), &hs, &hc, &hcap), 1);
  EXPECT_EQ(hs, 5);
  EXPECT_EQ(hc, 3);
  EXPECT_EQ(hcap, 3);
  EXPECT_EQ(xar_hdr_params(nullptr, &hs, &hc, &hcap), 0);

  at(a, -1)[0] = 0;  // head magic
  size = -1;
  EXPECT_EQ(debug_xar_hdr_memusage(&a, &size, &count, &cap, &overhead), 0);
  EXPECT_EQ(size, 0);
  at(a, -1)[0] = 0x48;
  XAR_FREE(&a);

  Zone z(256);
  void* b = xar_alloc_in_zone(z.id, 3, 5, 1);
  EXPECT_EQ(debug_xar_hdr_memusage(&b, nullptr, nullptr, nullptr, &overhead), 1);
  EXPECT_EQ(overhead, 17);
}

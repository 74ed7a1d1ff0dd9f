// Layout of heap blocks, the zero-fill and release-fill rules, resizing and the counters.
#include <string.h>

#include "clump_rerun.h"
#include "mem_test_support.h"
#include "runtime/diag/diag.h"
#include "runtime/mem/mem_block.h"

namespace {

using memtest::ArenaBacking;

struct Counters {
  int count, user, system, peak;
};
Counters counters() {
  Counters c{};
  getmem_counters(&c.count, &c.user, &c.system, &c.peak);
  return c;
}

const MemBlockHeader* header(const void* p) { return (const MemBlockHeader*)((const char*)p - 8); }
const MemBlockTail* tail_at(const void* p, int offset_from_header) {
  return (const MemBlockTail*)((const char*)p - 8 + offset_from_header);
}
bool all_bytes(const void* p, int from, int to, unsigned char value) {
  for (int i = from; i < to; ++i)
    if (((const unsigned char*)p)[i] != value) return false;
  return true;
}

TEST(HeapBlockLayout, OneByteBlockHasHeaderTailAndSystemSize24) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block layout and links");
  Counters before = counters();
  MemBlockHeader* last_before = mem_manager.last_area;
  void* p = getmem(1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ((uintptr_t)p % 8, 0u);
  EXPECT_EQ(header(p)->size, 1);
  EXPECT_EQ(header(p)->prev, last_before);
  const MemBlockTail* t = tail_at(p, 16);
  EXPECT_EQ(t->next, nullptr);
  EXPECT_EQ(t->loop_word, 0x7FFFFFFFu);
  EXPECT_EQ(mem_manager.last_area, header(p));
  int size = 0, overhead = 0, loop = 0, xarray = -1;
  ASSERT_EQ(getmem_block_info(p, nullptr, nullptr, &size, &overhead, &loop, &xarray), 1);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(overhead, 23);
  EXPECT_EQ(loop, 0x7FFFFFFF);
  EXPECT_EQ(xarray, 0);
  Counters after = counters();
  EXPECT_EQ(after.count - before.count, 1);
  EXPECT_EQ(after.user - before.user, 1);
  EXPECT_EQ(after.system - before.system, 24);
  rlsmem(p);
  Counters released = counters();
  EXPECT_EQ(released.count, before.count);
  EXPECT_EQ(released.user, before.user);
  EXPECT_EQ(released.system, before.system);
  EXPECT_GE(released.peak, before.system + 24);
}

TEST(HeapBlockLayout, TailFollowsTheRoundedSizeAndUserBytesAreZero) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block layout and links");
  for (int size : {1, 7, 8, 9, 15, 16, 17, 100, 1000, 4093}) {
    unsigned char* p = (unsigned char*)getmem(size);
    ASSERT_NE(p, nullptr) << size;
    const int rounded = (size + 7) & ~7;
    EXPECT_EQ(header(p)->size, size);
    EXPECT_EQ(tail_at(p, 8 + rounded)->loop_word, 0x7FFFFFFFu) << size;
    EXPECT_EQ(mem_tail_of(mem_manager.last_area), tail_at(p, 8 + rounded)) << size;
    EXPECT_TRUE(all_bytes(p, 0, size, 0)) << size;
    EXPECT_EQ(debug_getmem_size(p), size);
    memset(p, 0xA5, size);
    rlsmem(p);
  }
}

TEST(HeapBlockLayout, ZeroSizeRequests) {
  EXPECT_EQ(getmem(0), nullptr);
  EXPECT_EQ(getmem_xar(0, 1), nullptr);
  EXPECT_EQ(rlsmem(nullptr), 0);
  EXPECT_EQ(debug_getmem_size(nullptr), 0);
  // The worker itself makes a block with no user bytes.
  Counters before = counters();
  void* p = getmem_or_null(0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(counters().system - before.system, 16);
  EXPECT_EQ(tail_at(p, 8)->loop_word, 0x7FFFFFFFu);
  rlsmem(p);
}

TEST(HeapBlockLayout, BlocksAreLinkedInAllocationOrder) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block layout and links");
  void* a = getmem(10);
  void* b = getmem(20);
  void* c = getmem(30);
  void *prev = nullptr, *next = nullptr;
  ASSERT_TRUE(getmem_block_info(b, &prev, &next, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(prev, a);
  EXPECT_EQ(next, c);
  EXPECT_EQ(header(b)->prev, header(a));
  EXPECT_EQ(tail_at(b, 8 + 24)->next, header(c));
  ASSERT_TRUE(getmem_block_info(c, &prev, &next, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(next, nullptr);

  rlsmem(b);  // unlinked in place
  EXPECT_EQ(tail_at(a, 8 + 16)->next, header(c));
  EXPECT_EQ(header(c)->prev, header(a));
  rlsmem(c);  // the last area moves back
  EXPECT_EQ(mem_manager.last_area, header(a));
  EXPECT_EQ(tail_at(a, 8 + 16)->next, nullptr);
  rlsmem(a);
}

TEST(HeapBlockLayout, ReleasingTheOnlyBlockEmptiesTheChain) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block layout and links");
  // In a child, so that the chain can be emptied of whatever the process holds.
  testsupport::run_child(
      [] {
        forget_memory_chain();
        EXPECT_EQ(first_memory_area(), nullptr);
        Counters before = counters();
        void* p = getmem(100);
        EXPECT_EQ(first_memory_area(), p);
        EXPECT_EQ(mem_manager.last_area, header(p));
        EXPECT_EQ(header(p)->prev, nullptr);
        Counters during = counters();
        rlsmem(p);
        Counters after = counters();
        EXPECT_EQ(first_memory_area(), nullptr);
        EXPECT_EQ(mem_manager.last_area, nullptr);
        EXPECT_EQ(after.count, before.count);
        EXPECT_EQ(after.user, before.user);
        EXPECT_EQ(after.peak, during.peak);
        EXPECT_GE(during.peak, during.system);
      },
      testsupport::exits(0));
}

TEST(HeapBlockLayout, XarrayFlagFollowsTheLastAllocationOrResize) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block layout and links");
  void* p = getmem_xar(40, 5);
  int xarray = 0;
  getmem_block_info(p, nullptr, nullptr, nullptr, nullptr, nullptr, &xarray);
  EXPECT_EQ(xarray, 1);
  EXPECT_EQ(tail_at(p, 48)->loop_word, 0xFFFFFFFFu);
  p = relocmem(p, 48);  // a plain resize clears the flag
  getmem_block_info(p, nullptr, nullptr, nullptr, nullptr, nullptr, &xarray);
  EXPECT_EQ(xarray, 0);
  EXPECT_EQ(tail_at(p, 56)->loop_word, 0x7FFFFFFFu);
  p = relocmem_xar(p, 16, 1);
  getmem_block_info(p, nullptr, nullptr, nullptr, nullptr, nullptr, &xarray);
  EXPECT_EQ(xarray, 1);
  rlsmem(p);
}

TEST(HeapBlockLayout, LoopIndexIsResetByEveryResize) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block layout and links");
  void* p = getmem_xar(24, 1);
  ASSERT_EQ(heap_block_set_loop_index(p, 1234), 1);
  EXPECT_EQ(heap_block_loop_index(p), 1234);
  EXPECT_EQ(tail_at(p, 32)->loop_word, 0x80000000u | 1234u);
  p = relocmem_xar(p, 24, 1);
  EXPECT_EQ(heap_block_loop_index(p), 0x7FFFFFFF);
  rlsmem(p);
}

TEST(HeapResize, GrowingKeepsContentsAndZeroesTheNewBytes) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block layout and links");
  unsigned char* p = (unsigned char*)getmem(10);
  memset(p, 0x11, 10);
  Counters before = counters();
  p = (unsigned char*)relocmem(p, 20);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(all_bytes(p, 0, 10, 0x11));
  EXPECT_TRUE(all_bytes(p, 10, 20, 0));
  EXPECT_EQ(header(p)->size, 20);
  Counters after = counters();
  EXPECT_EQ(after.count, before.count);
  EXPECT_EQ(after.user - before.user, 10);
  EXPECT_EQ(after.system - before.system, 8);

  memset(p, 0x22, 20);
  p = (unsigned char*)relocmem(p, 10);
  EXPECT_TRUE(all_bytes(p, 0, 10, 0x22));
  EXPECT_EQ(check_memory_block(p), MEM_BLOCK_OK);
  p = (unsigned char*)relocmem(p, 20);  // bytes given up by the shrink come back as zeros
  EXPECT_TRUE(all_bytes(p, 0, 10, 0x22));
  EXPECT_TRUE(all_bytes(p, 10, 20, 0));
  rlsmem(p);
}

TEST(HeapResize, ResizedBlockKeepsItsPlaceInTheChain) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block layout and links");
  void* a = getmem(8);
  void* b = getmem(8);
  void* c = getmem(8);
  b = relocmem(b, 5000);  // large enough for the backing allocator to move it
  void *prev = nullptr, *next = nullptr;
  ASSERT_TRUE(getmem_block_info(b, &prev, &next, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(prev, a);
  EXPECT_EQ(next, c);
  EXPECT_EQ(check_memory_block(a), MEM_BLOCK_OK);
  EXPECT_EQ(check_memory_block(c), MEM_BLOCK_OK);
  c = relocmem(c, 6000);
  EXPECT_EQ(mem_manager.last_area, header(c));
  rlsmem(a);
  rlsmem(b);
  rlsmem(c);
}

TEST(HeapResize, NullPointerAllocates) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block layout and links");
  void* p = relocmem(nullptr, 12);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(check_memory_block(p), MEM_BLOCK_OK);
  EXPECT_EQ(debug_getmem_size(p), 12);
  rlsmem(p);
}

using HeapFill = ArenaBacking;

TEST_F(HeapFill, SmallReleasedBlockIsFilledWhole) {
  unsigned char* p = (unsigned char*)getmem(3976);  // system size 3992
  memset(p, 0x5A, 3976);
  rlsmem(p);
  EXPECT_TRUE(all_bytes(p - 8, 0, 3992, 0xFF));
}

TEST_F(HeapFill, LargeReleasedBlockIsFilledAtBothEnds) {
  unsigned char* p = (unsigned char*)getmem(3984);  // system size 4000
  memset(p, 0x5A, 3984);
  rlsmem(p);
  unsigned char* block = p - 8;
  EXPECT_TRUE(all_bytes(block, 0, 1000, 0xFF));
  EXPECT_TRUE(all_bytes(block, 1000, 3000, 0x5A));
  EXPECT_TRUE(all_bytes(block, 3000, 4000, 0xFF));
}

TEST_F(HeapFill, AlwaysMoveFillsTheOldCopy) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the fill of released blocks");
  mem_set_always_move(1);
  unsigned char* p = (unsigned char*)getmem(30);
  memset(p, 0x33, 30);
  for (int size : {30, 60, 12}) {
    const int old_system = ((header(p)->size + 7) & ~7) + 16;
    unsigned char* q = (unsigned char*)relocmem(p, size);
    EXPECT_NE(q, p) << size;
    EXPECT_TRUE(all_bytes(p - 8, 0, old_system, 0xFF)) << size;
    EXPECT_TRUE(all_bytes(q, 0, size < 30 ? size : 30, 0x33)) << size;
    EXPECT_TRUE(all_bytes(q, 30, size, 0)) << size;
    EXPECT_EQ(check_memory_block(q), MEM_BLOCK_OK);
    p = q;
  }
  mem_set_always_move(0);
  rlsmem(p);
}

}  // namespace

namespace {

TEST_F(HeapFill, KeptBlocksAreFilledWholeAndStayOutOfTheChain) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the fill of released blocks");
  // In a child: the kept blocks come from the arena and stay on the process's kept list.
  testsupport::run_child(
      [] {
        mem_manager.keep_released = 1;
        unsigned char* big = (unsigned char*)getmem(5000);
        memset(big, 0x5A, 5000);
        unsigned char* small = (unsigned char*)getmem(20);
        memset(small, 0x5A, 20);
        unsigned char* moved = (unsigned char*)relocmem(small, 40);  // a kept block always moves
        rlsmem(big);
        mem_manager.keep_released = 0;
        EXPECT_NE(moved, small);
        EXPECT_TRUE(all_bytes(small - 8, 0, 40, 0xFF));
        EXPECT_TRUE(all_bytes(big - 8, 0, 5016, 0xFF));  // no edge-only fill for kept blocks
        EXPECT_TRUE(all_bytes(moved, 0, 20, 0x5A));
        EXPECT_EQ(check_memory_block(moved), MEM_BLOCK_OK);
      },
      testsupport::exits(0));
}

TEST(HeapSettings, AlwaysMoveSetterReportsOnlyInDebugMode) {
  using ::testing::internal::CaptureStdout;
  using ::testing::internal::GetCapturedStdout;
  CaptureStdout();
  mem_set_always_move(1);
  mem_set_always_move(0);
  EXPECT_EQ(GetCapturedStdout(), "");
  const int level = order_debug_level_set(-1);
  CaptureStdout();
  EXPECT_EQ(mem_set_always_move(1), 0);
  EXPECT_EQ(mem_always_move(), 1);
  EXPECT_EQ(mem_set_always_move(0), 1);
  const std::string text = GetCapturedStdout();
  order_debug_level_set(level);
  EXPECT_EQ(text, "Relocation will always move memory.\nRelocation will not always memory.\n");
}

}  // namespace

// Exhaustion of the backing allocator, the memory break into a trap frame, and start-up.
#include <setjmp.h>
#include <string.h>

#include <string>

#include "clump_rerun.h"
#include "mem_test_support.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem_block.h"
#include "runtime/mem/mem_lock.h"
#include "runtime/mem/vm.h"

namespace {

using ::testing::HasSubstr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using testsupport::exits;
using testsupport::run_child;

struct Snapshot {
  int count, user, system, peak;
  MemBlockHeader* first;
  MemBlockHeader* last;
  bool operator==(const Snapshot&) const = default;
};
Snapshot snapshot() {
  Snapshot s{};
  getmem_counters(&s.count, &s.user, &s.system, &s.peak);
  s.first = mem_manager.first_area;
  s.last = mem_manager.last_area;
  return s;
}

bool filled_with(const void* p, int n, unsigned char value) {
  for (int i = 0; i < n; ++i)
    if (((const unsigned char*)p)[i] != value) return false;
  return true;
}

class HeapExhaustion : public ::testing::Test {
 protected:
  void TearDown() override { mem_backing_fail_after(-1); }
};

// The blocks below are heap blocks under any setting: getmem_or_null never takes a clump object.
TEST_F(HeapExhaustion, GetmemOrNullGivesNullAndChangesNothing) {
  void* p = getmem_or_null(32);
  memset(p, 0x44, 32);
  const Snapshot before = snapshot();
  mem_backing_fail_after(0);
  CaptureStdout();
  EXPECT_EQ(getmem_or_null(100), nullptr);
  EXPECT_EQ(getmem_or_null(1 << 30), nullptr);
  EXPECT_EQ(manage_memory(5000, p, 1, 0), nullptr);  // a failing resize leaves the block alone
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(snapshot(), before);
  EXPECT_EQ(check_memory_block(p), MEM_BLOCK_OK);
  EXPECT_TRUE(filled_with(p, 32, 0x44));
  rlsmem(p);
}

TEST_F(HeapExhaustion, FailingHookCountsSuccessfulRequests) {
  mem_backing_fail_after(2);
  void* a = getmem_or_null(8);
  void* b = getmem_or_null(8);
  void* c = getmem_or_null(8);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  mem_backing_fail_after(-1);
  rlsmem(a);
  rlsmem(b);
}

TEST_F(HeapExhaustion, SizesThatCannotBeBlocksAreExhaustion) {
  const Snapshot before = snapshot();
  EXPECT_EQ(getmem_or_null(-8), nullptr);
  EXPECT_EQ(getmem_or_null(0x7FFFFFFF), nullptr);
  EXPECT_EQ(getmem_or_null(0x7FFFFFE9), nullptr);
  void* p = getmem_or_null(16);
  EXPECT_EQ(manage_memory(-1, p, 1, 0), nullptr);
  EXPECT_EQ(check_memory_block(p), MEM_BLOCK_OK);
  EXPECT_EQ(debug_getmem_size(p), 16);
  rlsmem(p);
  EXPECT_EQ(snapshot().count, before.count);
}

TEST_F(HeapExhaustion, AlwaysMoveResizeThatFailsKeepsTheOldBlock) {
  void* p = getmem_or_null(40);
  memset(p, 0x55, 40);
  const Snapshot before = snapshot();
  mem_set_always_move(1);
  mem_backing_fail_after(0);
  EXPECT_EQ(manage_memory(80, p, 1, 0), nullptr);
  mem_backing_fail_after(-1);
  mem_set_always_move(0);
  EXPECT_EQ(snapshot(), before);
  EXPECT_EQ(check_memory_block(p), MEM_BLOCK_OK);
  EXPECT_TRUE(filled_with(p, 40, 0x55));
  rlsmem(p);
}

// Shared with the jump target below; static so that the values survive the longjmp.
jmp_buf resume_point;
Snapshot guarded_before;
void* guarded_block;

TEST_F(HeapExhaustion, MemoryBreakReturnsToTheTrapFrameWithChainIntact) {
  guarded_block = getmem_or_null(48);
  memset(guarded_block, 0x66, 48);
  volatile int resumed = 0;
  CaptureStdout();
  if (setjmp(resume_point) == 0) {
    trap_push(resume_point, TRAP_CLASS_SERIOUS_ERROR);
    guarded_before = snapshot();
    mem_backing_fail_after(0);
    relocmem(guarded_block, 6000);
    trap_pop();
  } else {
    resumed = 1;
    trap_pop();
  }
  mem_backing_fail_after(-1);
  const std::string text = GetCapturedStdout();
  EXPECT_EQ(resumed, 1);
  EXPECT_THAT(text,
              HasSubstr(" Serious error - out of virtual memory. Starting recovery attempt.\n"));
  EXPECT_EQ(snapshot(), guarded_before);
  EXPECT_EQ(check_memory_block(guarded_block), MEM_BLOCK_OK);
  EXPECT_TRUE(filled_with(guarded_block, 48, 0x66));

  // A fresh allocation of 1 GiB takes the same road.
  resumed = 0;
  CaptureStdout();
  if (setjmp(resume_point) == 0) {
    trap_push(resume_point, TRAP_CLASS_SERIOUS_ERROR);
    guarded_before = snapshot();
    mem_backing_fail_after(0);
    getmem(1 << 30);
    trap_pop();
  } else {
    resumed = 1;
    trap_pop();
  }
  mem_backing_fail_after(-1);
  GetCapturedStdout();
  EXPECT_EQ(resumed, 1);
  EXPECT_EQ(snapshot(), guarded_before);
  rlsmem(guarded_block);
}

TEST(HeapExhaustionStop, MemoryBreakWithoutATrapStops) {
  const std::string text = memtest::stop_output([] {
    mem_backing_fail_after(0);
    void* p = getmem(100);
    // Reaching here means the break came back; writing would hit a null block.
    printf("returned %p\n", p);
  });
  EXPECT_THAT(text,
              HasSubstr(" Serious error - out of virtual memory. Starting recovery attempt.\n"));
  EXPECT_EQ(text.find("returned"), std::string::npos);
}

TEST(MemoryStartUp, LockFailureExitsWithStatus1) {
  EXPECT_EQ(run_child(
                [] {
                  kel_lock_fail_creation(1);
                  init_memory_locks();
                },
                exits(1)),
            "Unable to initialize memory manager locks.  Exiting.\n");
}

int after_init_calls = 0;
void count_after_init() { ++after_init_calls; }

TEST(MemoryStartUp, StartUpAllocatesNothingAndCallsAfterInit) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the first block made");
  run_child(
      [] {
        int before = 0;
        int after = 0;
        getmem_counters(&before, nullptr, nullptr, nullptr);
        EXPECT_EQ(init_memory_manager(count_after_init), 0);
        EXPECT_EQ(after_init_calls, 1);
        EXPECT_EQ(init_memory_manager(nullptr), 0);
        EXPECT_EQ(after_init_calls, 1);
        getmem_counters(&after, nullptr, nullptr, nullptr);
        EXPECT_EQ(after, before);
        EXPECT_EQ(mem_manager.vm_backing, vm_mode());
        void* p = getmem(10);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(check_memory_block(p), MEM_BLOCK_OK);
        rlsmem(p);
      },
      exits(0), {.start = testsupport::ChildStart::Fresh});
}

}  // namespace

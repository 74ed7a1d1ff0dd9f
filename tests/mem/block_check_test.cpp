// The block check and what relies on it: corruption stops, the block dump, the chain walk.
#include <stdio.h>
#include <string.h>

#include <string>

#include "clump_rerun.h"
#include "mem_test_support.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem_block.h"
#include "runtime/xar/xar.h"

namespace {

using memtest::ArenaBacking;
using memtest::stop_output;
using ::testing::HasSubstr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

MemBlockHeader* hdr(void* p) { return (MemBlockHeader*)((char*)p - 8); }
MemBlockTail* tail(void* p) { return mem_tail_of(hdr(p)); }

TEST(HeapBlockCheck, EachCodeForItsDamage) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block header and tail codes");
  void* a = getmem(8);
  void* b = getmem(16);
  void* c = getmem(24);
  MemBlockHeader* hb = hdr(b);
  EXPECT_EQ(check_memory_block(nullptr), MEM_BLOCK_NULL);
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_OK);

  hb->prev = nullptr;  // not the first area, yet no previous area
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_BAD_PREV);
  hb->prev = hdr(a);

  MemBlockHeader* first = mem_manager.first_area;  // the first area with a previous area
  first->prev = hb;
  EXPECT_EQ(check_memory_block(first_memory_area()), MEM_BLOCK_BAD_PREV);
  first->prev = nullptr;

  tail(a)->next = hdr(c);  // the previous block does not lead here
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_PREV_LINK);
  tail(a)->next = hb;

  tail(b)->next = nullptr;  // not the last area, yet no next area
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_BAD_NEXT);
  tail(b)->next = hdr(c);

  tail(c)->next = hb;  // the last area with a next area
  EXPECT_EQ(check_memory_block(c), MEM_BLOCK_BAD_NEXT);
  tail(c)->next = nullptr;

  hdr(c)->prev = hdr(a);  // the next block does not lead back
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_NEXT_LINK);
  hdr(c)->prev = hb;

  hb->size = 8;  // a wrong size finds the tail in the user bytes
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_BAD_NEXT);
  hb->size = 16;

  EXPECT_EQ(check_memory_block(a), MEM_BLOCK_OK);
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_OK);
  EXPECT_EQ(check_memory_block(c), MEM_BLOCK_OK);
  rlsmem(a);
  rlsmem(b);
  rlsmem(c);
}

TEST(HeapBlockCheck, WildFieldsFailWithoutBeingFollowed) {
  SKIP_WITH_AUTOMATIC_CLUMPS("block header and tail codes");
  void* a = getmem(8);
  void* b = getmem(16);
  MemBlockHeader* hb = hdr(b);
  hb->prev = (MemBlockHeader*)(uintptr_t)0xFFFFFFF8u;
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_PREV_LINK);
  hb->prev = (MemBlockHeader*)((char*)hdr(a) + 4);
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_PREV_LINK);
  hb->prev = hdr(a);
  hb->size = 0x7FFFFFF0;
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_BAD_NEXT);
  hb->size = -1;
  EXPECT_EQ(check_memory_block(b), MEM_BLOCK_BAD_NEXT);
  hb->size = 16;
  tail(a)->next = (MemBlockHeader*)(uintptr_t)0xFFFFFFF8u;
  EXPECT_EQ(check_memory_block(a), MEM_BLOCK_NEXT_LINK);
  tail(a)->next = hb;
  // Pointers into a block, aligned or not, are not blocks.
  EXPECT_EQ(check_memory_block((char*)b + 8), MEM_BLOCK_BAD_PREV);
  EXPECT_EQ(check_memory_block((char*)b + 4), MEM_BLOCK_BAD_PREV);
  EXPECT_EQ(check_memory_block((char*)b + 1), MEM_BLOCK_BAD_PREV);
  rlsmem(b);
  rlsmem(a);
}

TEST(HeapBlockCheck, SizeAndInfoOfInvalidPointers) {
  void* p = getmem(64);
  EXPECT_EQ(debug_getmem_size(p), 64);
  EXPECT_EQ(debug_getmem_size((char*)p + 16), -1);
  int size = 123;
  EXPECT_EQ(getmem_block_info((char*)p + 16, nullptr, nullptr, &size, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(size, 123);
  EXPECT_EQ(getmem_block_info(nullptr, nullptr, nullptr, &size, nullptr, nullptr, nullptr), 0);
  rlsmem(p);
}

using HeapCorruptionStop = ArenaBacking;

TEST_F(HeapCorruptionStop, SecondReleaseOfABlock) {
  EXPECT_THAT(stop_output([] {
                void* p = getmem(40);
                rlsmem(p);
                rlsmem(p);
              }),
              HasSubstr("rlsmem:  memory chain is corrupt\n"));
}

TEST_F(HeapCorruptionStop, SecondReleaseAfterTheMemoryWasReused) {
  EXPECT_THAT(stop_output([] {
                void* p = getmem(40);
                rlsmem(p);
                memset((char*)p - 8, 0, 64);  // the backing allocator's new owner writes over it
                rlsmem(p);
              }),
              HasSubstr("rlsmem:  memory chain is corrupt\n"));
}

// Large blocks may get mappings of their own that are gone once released: the second release
// must be found without reading the block.
TEST(HeapCorruption, SecondReleaseOfALargeBlock) {
  for (int size : {200 * 1024, 2 * 1024 * 1024}) {
    EXPECT_THAT(stop_output([&] {
                  void* p = getmem(size);
                  rlsmem(p);
                  rlsmem(p);
                }),
                HasSubstr("rlsmem:  memory chain is corrupt\n"))
        << size;
  }
}

void note_exit(int code) { printf("exit handler %d\n", code); }

// The stop runs the exit handlers, whose list sits in the broken chain: it must stop once.
TEST(HeapCorruption, StopWithExitHandlersReportsOnce) {
  const std::string text = stop_output([] {
    exit_handler_add(note_exit);
    void* p = getmem(40);
    getmem(40);
    hdr(p)->prev = nullptr;
    rlsmem(p);
  });
  const auto count = [&](const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("memory chain is corrupt"), 1u) << text;
  EXPECT_EQ(count("Serious internal error; cannot continue."), 1u) << text;
  EXPECT_EQ(count("exit handler 2"), 1u) << text;
}

TEST(HeapCorruption, ReleaseOfAPointerIntoABlock) {
  EXPECT_THAT(stop_output([] {
                char* p = (char*)getmem(64);
                rlsmem(p + 16);
              }),
              HasSubstr("rlsmem:  memory chain is corrupt\n"));
}

TEST(HeapCorruption, ResizeNextToADamagedNeighbour) {
  SKIP_WITH_AUTOMATIC_CLUMPS("damaged chain links");
  EXPECT_THAT(stop_output([] {
                void* a = getmem(8);
                void* b = getmem(8);
                tail(a)->next = hdr(a);  // written through the block's own tail
                relocmem(b, 100);
              }),
              HasSubstr("manage_memory:  memory chain is corrupt\n"));
}

TEST(HeapCorruption, AppendAfterADamagedLastArea) {
  SKIP_WITH_AUTOMATIC_CLUMPS("damaged chain links");
  EXPECT_THAT(stop_output([] {
                void* a = getmem(8);
                tail(a)->next = hdr(a);
                getmem(8);
              }),
              HasSubstr("manage_memory:  memory chain is corrupt\n"));
}

TEST(HeapBlockDump, QuietAndVerboseForms) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the dump of one block");
  unsigned char* p = (unsigned char*)getmem(5);
  void* after = getmem(8);
  memset(p + 5, 0, 3);  // allocation leaves the padding as the backing allocator gave it
  CaptureStdout();
  EXPECT_EQ(print_memory_block(p, 0), 0);
  EXPECT_EQ(GetCapturedStdout(), "");

  CaptureStdout();
  EXPECT_EQ(print_memory_block(p, 1), 0);
  const std::string text = GetCapturedStdout();
  const std::string in = "               ";
  const unsigned long h = (unsigned long)(uintptr_t)hdr(p);
  const std::string expected =
      " Memory block : User pointer - " + std::to_string(h + 8) + "           looks good \n" + " " +
      in + " Header starts at     " + std::to_string(h) + " \n" + " " + in +
      " Number of user bytes 5 \n" + " " + in + " Tail starts at       " + std::to_string(h + 16) +
      " \n" + " " + in + " Previous memory area " +
      std::to_string((unsigned long)(uintptr_t)hdr(p)->prev) + " \n" + " " + in +
      " Next memory area     " + std::to_string((unsigned long)(uintptr_t)hdr(after)) + " \n" +
      " " + in + " Memory loop index    2147483647 \n" + " " + in + " Xarray usage flag    0 \n";
  EXPECT_EQ(text, expected);

  p[6] = 1;  // a padding byte: only the verbose form looks at them
  EXPECT_EQ(print_memory_block(p, 0), 0);
  CaptureStdout();
  EXPECT_EQ(print_memory_block(p, 1), 1);
  EXPECT_THAT(GetCapturedStdout(), HasSubstr("looks good \n"));
  p[6] = 0;

  MemBlockHeader* saved = hdr(after)->prev;
  hdr(after)->prev = nullptr;
  EXPECT_EQ(print_memory_block(after, 0), MEM_BLOCK_BAD_PREV);
  CaptureStdout();
  EXPECT_EQ(print_memory_block(after, 1), MEM_BLOCK_BAD_PREV);
  EXPECT_THAT(GetCapturedStdout(), HasSubstr("          LOOKS BAD \n"));
  hdr(after)->prev = saved;
  rlsmem(after);
  rlsmem(p);
}

TEST(HeapSummary, LinesAgreeWithTheCounters) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the chain totals");
  void* a = getmem(10);
  void* x = XAR_ALLOC(4, 12, 3);  // a sound xarray block is accepted by the walk
  ASSERT_NE(x, nullptr);
  int count = 0, user = 0, system = 0, peak = 0;
  getmem_counters(&count, &user, &system, &peak);
  CaptureStdout();
  EXPECT_EQ(checkmem_chain(), 0);
  EXPECT_EQ(GetCapturedStdout(),
            " The chain of " + std::to_string(count) + " areas checks OK. \n" +
                "              Total application size " + std::to_string(user) + " \n" +
                "              Total system size " + std::to_string(system) + " \n");
  CaptureStdout();
  print_memory_summary();
  EXPECT_EQ(GetCapturedStdout(), std::to_string(count) + " blocks;  Size: " + std::to_string(user) +
                                     "; Overhead: " + std::to_string(system - user) +
                                     "; Peak system size: " + std::to_string(peak) + ".\n");
  XAR_FREE(&x);
  rlsmem(a);
}

// The chain walk ends the process abnormally at once, without the runtime's stop.
template <class Body>
std::string aborted_output(Body&& body,
                           const std::source_location where = std::source_location::current()) {
  return testsupport::run_child(body, testsupport::ends_badly(), {}, where);
}

TEST(HeapChainCheck, StopsAtAnInvalidBlock) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the chain check");
  const std::string text = aborted_output([] {
    getmem(8);
    void* b = getmem(8);
    getmem(8);
    hdr(b)->prev = nullptr;
    checkmem_chain();
  });
  EXPECT_THAT(text, HasSubstr(" Invalid block found\n"));
  EXPECT_THAT(text, HasSubstr("LOOKS BAD"));
  EXPECT_EQ(text.find(" The chain of"), std::string::npos);
}

TEST(HeapChainCheck, StopsAtAMarkedBlockThatIsNoXarray) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the chain check");
  EXPECT_THAT(aborted_output([] {
                getmem_xar(64, 1);
                checkmem_chain();
              }),
              HasSubstr("Found a memory block containing invalid expandable array.\n"));
}

// A damaged size word must not send the check past the block to look for the trailer.
TEST(HeapChainCheck, StopsAtAnXarrayWhoseSizeWordIsDamaged) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the chain check");
  EXPECT_THAT(aborted_output([] {
                void* x = XAR_ALLOC(4, 8, 1);
                *((uint32_t*)x - 2) |= 0x7FF00;  // the units far beyond the block
                checkmem_chain();
              }),
              HasSubstr("Found a memory block containing invalid expandable array.\n"));
}

// The heap's state check names the invariant that each damage to the record breaks, and finds
// the state sound again once it is undone.
TEST(HeapStateCheck, NamesTheBrokenInvariant) {
  void* small = getmem(16);
  void* large = getmem((int)kMemLargeBlock);
  ASSERT_EQ(heap_state_check(), nullptr);
  struct Damage {
    const char* broken;
    void (*apply)(MemManagerState&);
  };
  const Damage damages[] = {
      {"block_count =", [](MemManagerState& s) { ++s.block_count; }},
      {"user_bytes =", [](MemManagerState& s) { s.user_bytes -= 8; }},
      {"peak_system_bytes >=",
       [](MemManagerState& s) { s.peak_system_bytes = s.system_bytes - 1; }},
      {"memdebug_mode is", [](MemManagerState& s) { s.memdebug_mode = 3; }},
      {"never null", [](MemManagerState& s) { s.backing_free = nullptr; }},
      {"large.filled =", [](MemManagerState& s) { ++s.large.filled; }},
      {"first_area is null exactly", [](MemManagerState& s) { s.last_area = nullptr; }},
  };
  for (const Damage& d : damages) {
    const MemManagerState saved = mem_manager;
    d.apply(mem_manager);
    const char* broken = heap_state_check();
    mem_manager = saved;
    EXPECT_THAT(broken ? broken : "(none)", HasSubstr(d.broken));
  }
  EXPECT_EQ(heap_state_check(), nullptr);
  rlsmem(large);
  rlsmem(small);
}

}  // namespace

// Memory debugging: the memory-loop protocol for heap blocks and clump objects, the
// unreleased-memory file across two processes, kept released blocks, and the statistics reports.
#include <stdio.h>
#include <string.h>

#include <array>
#include <string>

#include "clump_rerun.h"
#include "mem_test_support.h"
#include "runtime/mem/clump.h"
#include "runtime/mem/mem_block.h"
#include "runtime/mem/memdebug.h"
#include "runtime/xar/xar.h"

namespace {

using ::testing::HasSubstr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using testsupport::ChildStart;
using testsupport::exits;
using testsupport::run_child;
using testsupport::stops;

std::string hex(const void* p) {
  char text[32];
  snprintf(text, sizeof text, "%lx", (unsigned long)(uintptr_t)p);
  return text;
}

int hook_calls = 0;

// Three passes, each leaking one block of `leak` bytes and releasing one of 10 bytes; `extra`
// allocations more in pass `extra_pass`. Returns what was printed.
template <class Get, class Release>
std::string run_passes(Get get, Release release, void** leaked, int extra_pass = 0, int extra = 0) {
  // The clumps that serve the passes (with automatic clumps on) exist before the first pass,
  // which would otherwise count their blocks.
  void* anchors[] = {getmem(24), getmem(10)};
  CaptureStdout();
  memory_loop_step();
  for (int pass = 1; pass <= 3; ++pass) {
    leaked[pass - 1] = get(24);
    release(get(10));
    for (int i = 0; pass == extra_pass && i < extra; ++i) release(get(10));
    if (pass < 3) memory_loop_step();
  }
  const std::string out = GetCapturedStdout();
  for (void* p : anchors) rlsmem(p);
  return out;
}

TEST(MemoryLoop, LeakOfThePassIsReportedInPassThree) {
  void* leaked[3];
  hook_calls = 0;
  set_memory_loop_hook([] { ++hook_calls; });
  const std::string out = run_passes(getmem, rlsmem, leaked);
  EXPECT_EQ(out,
            "debug_memory_not_released: 24 bytes at " + hex(leaked[2]) + " won't get released.\n");
  EXPECT_EQ(hook_calls, 1);
  EXPECT_TRUE(memory_loop_on());
  EXPECT_EQ(memory_loop_suspend(), 3);
  EXPECT_FALSE(memory_loop_on());
  EXPECT_EQ(memory_loop_resume(), 3);
  memory_loop_cancel();
  set_memory_loop_hook(nullptr);
  for (void* p : leaked) rlsmem(p);

  // Only blocks of the filtered size are counted: the 24-byte leaks go unseen.
  set_memory_loop_size_filter(10);
  EXPECT_EQ(run_passes(getmem, rlsmem, leaked), "");
  memory_loop_cancel();
  set_memory_loop_size_filter(-1);
  for (void* p : leaked) rlsmem(p);

  // Clump objects follow the same protocol through their entry's record.
  static int id = register_clump("loop objects", 24);
  ASSERT_GE(id, 0);
  auto get = [](int size) { return size == 24 ? clump_getmem(id) : getmem(size); };
  void* anchor = clump_getmem(id);  // the clump itself exists before the first pass
  const std::string clumped = run_passes(get, rlsmem, leaked);
  rlsmem(anchor);
  EXPECT_EQ(clumped,
            "debug_memory_not_released: 24 bytes at " + hex(leaked[2]) + " won't get released.\n");
  memory_loop_cancel();
  for (void* p : leaked) rlsmem(p);
}

TEST(MemoryLoop, DifferingPassesAndTooManyAllocationsCancel) {
  void* leaked[3];
  const std::string differ = run_passes(getmem, rlsmem, leaked, 2, 1);
  EXPECT_EQ(differ,
            "Two previous loops had different numbers of memory allocations.\n"
            "Cancelling memory loop handling.  Try again.\n");
  EXPECT_FALSE(memory_loop_on());
  for (void* p : leaked) rlsmem(p);

  const std::string many = run_passes(getmem, rlsmem, leaked, 3, 1);
  EXPECT_EQ(
      many,
      "debug_memory_not_released: 24 bytes at " + hex(leaked[2]) +
          " won't get released.\ndebug_memory_loop_alloc: too many allocations. Cancelling memory loop.\n");
  EXPECT_FALSE(memory_loop_on());
  for (void* p : leaked) rlsmem(p);

  // A recording that runs out of memory cancels the loop; the caller still gets its block.
  int count = 0, user = 0;
  getmem_counters(&count, &user, nullptr, nullptr);
  CaptureStdout();
  memory_loop_step();
  mem_backing_fail_after(1);  // the block itself, then the record's list fails
  void* p = getmem_or_null(16);
  mem_backing_fail_after(-1);
  const std::string out = GetCapturedStdout();
  EXPECT_THAT(out, HasSubstr("Cancelling memory loop.\n"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(check_memory_block(p), MEM_BLOCK_OK);
  EXPECT_FALSE(memory_loop_on());
  rlsmem(p);
  int count_after = 0, user_after = 0;
  getmem_counters(&count_after, &user_after, nullptr, nullptr);
  EXPECT_EQ(count_after, count);
  EXPECT_EQ(user_after, user);
}

// The same program run twice: the first run writes the file, the second reports as they happen
// the allocations that the first left live.
TEST(UnreleasedMemoryFile, SecondRunReportsWhatTheFirstLeft) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the blocks left at the end");
  // Where a child runs the test anew up to its own start (Windows), only the parent changes
  // the file, and everything is checked after the last child.
  const bool parent = !::testing::internal::InDeathTestChild();
  const std::string file = testsupport::child_output_path("unreleased");
  if (parent) std::remove(file.c_str());
  // Blocks that earlier tests numbered in memory loops are written too; the runs' own
  // ordinals start above them.
  mem_manager.alloc_ordinal = 1000000;
  auto program = [&](int grown, bool write) {
    memdebug_set_file_name(file.c_str());
    memdebug_start();
    void* a = getmem(30);
    void* b = getmem(50);
    a = relocmem(a, grown);  // a resize counts as an allocation
    rlsmem(b);
    printf("block %s\n", hex(a).c_str());
    if (write) memdebug_write();
    memdebug_stop();
  };
  run_child([&] { program(60, true); }, exits(0), {.tag = "1"});
  const std::string written = testsupport::read_text(file);
  const std::string second = run_child([&] { program(60, false); }, exits(0), {.tag = "2"});
  const std::string changed = run_child([&] { program(61, false); }, exits(0), {.tag = "3"});
  // An empty file never reports.
  if (parent) fclose(fopen(file.c_str(), "w"));
  const std::string empty = run_child([&] { program(60, false); }, exits(0), {.tag = "4"});
  if (!parent) return;

  // a, b, then the resize of a
  EXPECT_THAT(written, ::testing::AnyOf(::testing::Eq("1000002 60\n"),
                                        ::testing::EndsWith("\n1000002 60\n")));
  const size_t at = second.rfind("block ");
  ASSERT_NE(at, std::string::npos) << second;
  const std::string address = second.substr(at + 6, second.size() - at - 7);
  EXPECT_EQ(second, "memdebug_alloc: 60 bytes at " + address + " won't get released.\nblock " +
                        address + "\n");
  EXPECT_THAT(
      changed,
      HasSubstr("memdebug_alloc WARNING:  sizes have changed. Memory loop is NOT VALID!!!\n"));
  EXPECT_EQ(empty.find("memdebug_alloc"), std::string::npos);
  EXPECT_NE(empty.find("block"), std::string::npos);

  // A file that cannot be created is not written; without a file the mode is 1.
  const std::string nowhere = file + ".missing/unreleased.memory";
  memdebug_set_file_name(nowhere.c_str());
  memdebug_write();
  EXPECT_EQ(testsupport::read_file(nowhere), "");
  memdebug_start();
  EXPECT_EQ(mem_manager.memdebug_mode, 1);
  memdebug_stop();
  EXPECT_EQ(mem_manager.memdebug_mode, 0);
  memdebug_set_file_name(nullptr);
  std::remove(file.c_str());
}

TEST(KeptBlocks, OverwriteOfAKeptBlockIsFoundAndStops) {
  SKIP_WITH_AUTOMATIC_CLUMPS("kept released blocks");
  const std::string out = run_child(
      [] {
        keep_released_start();
        check_released_blocks();
        char* p = (char*)getmem(20);
        char* q = (char*)getmem(100);
        rlsmem(p);
        rlsmem(q);
        EXPECT_EQ(check_released_blocks(), 2);
        // Blocks released while the list cannot grow go back instead of being lost.
        int count = 0;
        getmem_counters(&count, nullptr, nullptr, nullptr);
        static void* blocks[1200];
        for (void*& b : blocks) b = getmem(8);
        mem_backing_fail_after(0);
        for (void* b : blocks) rlsmem(b);
        mem_backing_fail_after(-1);
        int after = 0;
        getmem_counters(&after, nullptr, nullptr, nullptr);
        CaptureStdout();
        const int kept = check_released_blocks();
        GetCapturedStdout();
        EXPECT_EQ(after, count);
        EXPECT_GT(kept, 2);
        EXPECT_LT(kept, 1202);
        q[-8 + 50] = 1;  // header 8 bytes before the user bytes
        check_released_blocks();
      },
      stops());
  EXPECT_THAT(out, ::testing::StartsWith("No overwrite for 0 blocks and 0 bytes.\n"
                                         "No overwrite for 2 blocks and 160 bytes.\n"));
  EXPECT_THAT(out, ::testing::EndsWith("\nReleased memory block 1 has been overwritten.\n"
                                       "Serious internal error; cannot continue.\n"));
}

// The reports of the known set below: blocks of 100, 100 and 40 bytes, an xarray of 3 of 10 ints
// and an empty one of 8-byte objects, and one more 24-byte clump object; then no change; then 40
// bytes traded for 300.
const char* const kKnownSetReports = R"( *** MEMORY USAGE STATISTICS REPORT *** 
 No memory snapshot has been stored yet.
 *** MEMORY USAGE INCREMENT REPORT *** 

 ************* Memory usage statistics ******** 

 ** Getmem (!xarray & !clump) memory blocks **
|  SIZE     |   COUNT   |   BYTES   |
|       100 |         2 |       200 |
|        40 |         1 |        40 |
 3 objects of 2 sizes tracked.
 ** Subcategory total - 240 bytes; Overhead - 88 bytes. **
 **   32 bytes of getmem overhead are caused by xarrays
 **   0 bytes of getmem overhead are caused by clumps

 ** Xarray memory usage
| OBJ_SIZE  | N_ARRAYS  |DATA_BYTES | OBJinARR  |
|         8 |         1 |         0|          0 |
|         4 |         1 |        12|          3 |
 2 xarrays of 2 object sizes tracked.
 Total memory used by valid data in xarrays: 12 bytes
 Additional memory reserved for xarray expansions: 36 bytes
 1 expandable arrays are empty
 Overhead imposed by xarrays - 32 bytes

 ** Clump memory usage
| OBJ_SIZE  | N_OBJECT  |DATA_BYTES |
|        24 |         1 |        24 |
 1 objects in clumps of 1 object sizes tracked.
 Total useful memory in clumps 24 bytes
 Total clump overhead is -24 bytes
      A negative value of clump overhead indicates overhead reduction

 ** Memory usage summary: 
            useful = 240 + 12 + 24 = 276
            overhead = 88 + 36 + 32 + -24 = 132
            total = 276 + 132 = 408

 ********************************************** 
 *** MEMORY USAGE INCREMENT REPORT *** 

 ************* Memory usage statistics ******** 

 ** Getmem (!xarray & !clump) memory blocks **
|  SIZE     |   COUNT   |   BYTES   |
 0 objects of 0 sizes tracked.
 ** Subcategory total - 0 bytes; Overhead - 0 bytes. **
 **   0 bytes of getmem overhead are caused by xarrays
 **   0 bytes of getmem overhead are caused by clumps

 ** Xarray memory usage
| OBJ_SIZE  | N_ARRAYS  |DATA_BYTES | OBJinARR  |
 0 xarrays of 0 object sizes tracked.
 Total memory used by valid data in xarrays: 0 bytes
 Additional memory reserved for xarray expansions: 0 bytes
 0 expandable arrays are empty
 Overhead imposed by xarrays - 0 bytes

 ** Clump memory usage
| OBJ_SIZE  | N_OBJECT  |DATA_BYTES |
 0 objects in clumps of 0 object sizes tracked.
 Total useful memory in clumps 0 bytes
 Total clump overhead is 0 bytes

 ** Memory usage summary: 
            useful = 0 + 0 + 0 = 0
            overhead = 0 + 0 + 0 + 0 = 0
            total = 0 + 0 = 0

 ********************************************** 
 *** MEMORY USAGE INCREMENT REPORT *** 

 ************* Memory usage statistics ******** 

 ** Getmem (!xarray & !clump) memory blocks **
|  SIZE     |   COUNT   |   BYTES   |
|       300 |         1 |       300 |
|        40 |        -1 |       -40 |
 0 objects of 2 sizes tracked.
 ** Subcategory total - 260 bytes; Overhead - 4 bytes. **
 **   0 bytes of getmem overhead are caused by xarrays
 **   0 bytes of getmem overhead are caused by clumps

 ** Xarray memory usage
| OBJ_SIZE  | N_ARRAYS  |DATA_BYTES | OBJinARR  |
 0 xarrays of 0 object sizes tracked.
 Total memory used by valid data in xarrays: 0 bytes
 Additional memory reserved for xarray expansions: 0 bytes
 0 expandable arrays are empty
 Overhead imposed by xarrays - 0 bytes

 ** Clump memory usage
| OBJ_SIZE  | N_OBJECT  |DATA_BYTES |
 0 objects in clumps of 0 object sizes tracked.
 Total useful memory in clumps 0 bytes
 Total clump overhead is 0 bytes

 ** Memory usage summary: 
            useful = 260 + 0 + 0 = 260
            overhead = 4 + 0 + 0 + 0 = 4
            total = 260 + 4 = 264

 ********************************************** 
)";

// A known set of blocks, xarrays and clump objects, reported as the increment over what the
// process held before, line by line.
TEST(MemoryStatistics, ReportsOfAKnownSet) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the statistics of a known set of blocks");
  const std::string out = run_child(
      [] {
        memory_last_statistics_report(nullptr);
        const int id = register_clump("stats", 24);
        void* o1 = clump_getmem(id);  // the clump and its tables exist before the baseline
        // A fresh child starts in the folder the program started in: scratch files go elsewhere.
        const std::string base = testsupport::child_output_path("baseline"),
                          last = testsupport::child_output_path("last");
        FILE* sink = fopen(base.c_str(), "w");
        memory_increment_report(sink);
        fclose(sink);
        void* a = getmem(100);
        void* b = getmem(100);
        void* c = getmem(40);
        int* x = (int*)XAR_ALLOC(10, 4, 5);
        XAR_RESIZE(&x, 3);
        void* y = XAR_ALLOC(0, 8, 4);
        void* o2 = clump_getmem(id);
        memory_increment_report(nullptr);
        memory_increment_report(nullptr);  // nothing changed
        rlsmem(c);
        void* d = getmem(300);
        memory_increment_report(nullptr);
        void* e = getmem(1000);  // after the stored snapshot: the last report leaves it out
        // The last report prints the stored snapshot: the baseline's useful bytes plus the known
        // set's (blocks of 100, 100 and 300, 3 ints, one more clump object).
        sink = fopen(last.c_str(), "w");
        memory_last_statistics_report(sink);
        fclose(sink);
        const auto useful = [](const std::string& path) {
          const std::string text = testsupport::read_text(path);
          const size_t at = text.find("useful = ");
          std::array<int, 4> v{-1, -1, -1, -1};
          if (at != std::string::npos)
            sscanf(text.c_str() + at, "useful = %d + %d + %d = %d", &v[0], &v[1], &v[2], &v[3]);
          return v;
        };
        const std::array<int, 4> before = useful(base);
        EXPECT_EQ(useful(last), (std::array<int, 4>{before[0] + 500, before[1] + 12, before[2] + 24,
                                                    before[3] + 536}));
        for (const std::string* name : {&base, &last}) std::remove(name->c_str());
        (void)a, (void)b, (void)d, (void)e, (void)o1, (void)o2, (void)y;
      },
      exits(0), {.start = ChildStart::Fresh});
  EXPECT_EQ(out, kKnownSetReports);
}

TEST(MemoryStatistics, ManySizesSpillIntoOther) {
  SKIP_WITH_AUTOMATIC_CLUMPS("the statistics of a known set of blocks");
  run_child(
      [] {
        for (int size = 1; size <= 1100; ++size) getmem(size * 8);
        static mem_snapshot s;
        memory_snapshot(&s);
        // Rows 1..1023 take the sizes first met (8..8184); the 77 larger ones are "other".
        EXPECT_EQ(s.getmem_rows, 1024);
        for (int r = 1; r < 1024; ++r) ASSERT_EQ(s.getmem_size[r], 8 * (1024 - r)) << r;
        EXPECT_EQ(s.getmem_count[0], 77);
        EXPECT_EQ(s.getmem_bytes[0], 8 * (1024 + 1100) * 77 / 2);
      },
      exits(0), {.start = ChildStart::Fresh});
}

}  // namespace

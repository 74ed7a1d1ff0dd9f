// Out-of-memory sweeps: every allocating operation of memory, xarrays and text, run with the
// backing allocator failing at each of its requests in turn, comes back through the trap with
// nothing broken and nothing lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "child_output.h"
#include "oom_sweep.h"
#include "runtime/mem/mem.h"
#include "runtime/mem/mem_block.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"
#include "runtime/text/wstr.h"
#include "runtime/xar/xar.h"
#include "runtime/xar/xar_ptr.h"

namespace {

using Ints = std::vector<int>;

// An int xarray holding `values` with no spare room (extension 1), so that growing it must
// move or resize its block.
int* full_array(const Ints& values) {
  int* a = static_cast<int*>(XAR_ALLOC(int(values.size()), sizeof(int), 1));
  for (size_t i = 0; i < values.size(); ++i) a[i] = values[i];
  return a;
}

Ints contents(int* a) { return Ints(a, a + XAR_COUNT(&a)); }

TEST(OomSweep, HeapBlocks) {
  EXPECT_OOM_SAFE([] { rlsmem(getmem(100)); }, {});
  EXPECT_OOM_SAFE([] { rlsmem(getmem_xar(300000, 1)); }, {});
  EXPECT_OOM_SAFE(
      [] {
        void* a = XAR_ALLOC(10, 8, 4);
        XAR_FREE(&a);
      },
      {});
  char* block = static_cast<char*>(getmem(64));
  memset(block, 0x5A, 64);
  // A resize that fails leaves the block where it was, whole.
  EXPECT_OOM_SAFE([&] { block = static_cast<char*>(relocmem(block, 100000)); },
                  [&] {
                    EXPECT_EQ(check_memory_block(block), MEM_BLOCK_OK);
                    EXPECT_EQ(debug_getmem_size(block), 64);
                    EXPECT_EQ(std::string(block, 64), std::string(64, '\x5A'));
                  });
  EXPECT_EQ(debug_getmem_size(block), 100000);
  rlsmem(block);
}

// A recovery that leaves one of the heap's invariants broken fails its step, and says which.
TEST(OomSweep, ABrokenHeapInvariantFailsTheStep) {
  const int peak = mem_manager.peak_system_bytes;
  void* block = nullptr;
  const testsupport::OomSweepResult result = testsupport::oom_sweep([&] {
    mem_manager.peak_system_bytes = 0;  // below the system bytes until an allocation raises it
    block = getmem(100);
  });
  mem_manager.peak_system_bytes = std::max(peak, mem_manager.peak_system_bytes);
  rlsmem(block);
  EXPECT_EQ(result.failure, "failing at request 1: heap state: peak_system_bytes >= system_bytes");
}

// Each growing xarray operation on a full array: after every recovery the array is valid and
// unchanged; the completed run gives the result a std::vector model gives.
struct ArrayCase {
  const char* name;
  void (*op)(int**, int**);  // the array, and a second array for the copies and joins
  Ints expected;             // the first array after the operation on {1..8}
};

const ArrayCase array_cases[] = {
    {"append",
     [](int** a, int**) {
       const int x = 9;
       XAR_APPEND(a, 1, &x);
     },
     {1, 2, 3, 4, 5, 6, 7, 8, 9}},
    {"append from inside",
     [](int** a, int**) { XAR_APPEND(a, 3, &(*a)[6]); },
     {1, 2, 3, 4, 5, 6, 7, 8, 7, 8, 0}},
    {"extend", [](int** a, int**) { XAR_EXTEND(a, 2); }, {1, 2, 3, 4, 5, 6, 7, 8, 0, 0}},
    {"resize", [](int** a, int**) { XAR_RESIZE(a, 10); }, {1, 2, 3, 4, 5, 6, 7, 8, 0, 0}},
    {"replicate", [](int** a, int**) { XAR_REPLICATE(a, 7, 0); }, {8, 1, 2, 3, 4, 5, 6, 7, 8}},
    {"insert",
     [](int** a, int**) {
       const int x[2] = {-1, -2};
       xar_insert(a, 2, 2, x);
     },
     {1, 2, -1, -2, 3, 4, 5, 6, 7, 8}},
    {"insert from inside",
     [](int** a, int**) { xar_insert(a, 1, 3, &(*a)[5]); },
     {1, 6, 7, 8, 2, 3, 4, 5, 6, 7, 8}},
    {"insert across the slot",
     [](int** a, int**) { xar_insert(a, 6, 3, &(*a)[5]); },
     {1, 2, 3, 4, 5, 6, 6, 7, 8, 7, 8}},
    {"append copies",
     [](int** a, int**) { xar_append_copies(a, 3, &(*a)[1]); },
     {1, 2, 3, 4, 5, 6, 7, 8, 2, 2, 2}},
    {"concat itself",
     [](int** a, int**) { xar_concat(a, *a); },
     {1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8}},
    {"concat", [](int** a, int** b) { xar_concat(a, *b); }, {1, 2, 3, 4, 5, 6, 7, 8, 10, 20}},
    {"inject", [](int** a, int** b) { xar_inject(a, *b, 3); }, {1, 2, 3, 10, 20, 4, 5, 6, 7, 8}},
    {"copy out", [](int** a, int** b) { xar_copy(a, b); }, {1, 2, 3, 4, 5, 6, 7, 8}},
    {"alloc or append",
     [](int** a, int**) {
       const int x = 9;
       xar_alloc_or_append(a, 1, sizeof(int), 4, &x);
     },
     {1, 2, 3, 4, 5, 6, 7, 8, 9}},
};

TEST(OomSweep, GrowingXarrays) {
  for (const ArrayCase& c : array_cases) {
    SCOPED_TRACE(c.name);
    const Ints start = {1, 2, 3, 4, 5, 6, 7, 8};
    int* a = full_array(start);
    int* b = full_array({10, 20});
    const Ints other = contents(b);
    EXPECT_OOM_SAFE([&] { c.op(&a, &b); },
                    [&] {
                      ASSERT_FALSE(xar_is_invalid(&a));
                      EXPECT_EQ(contents(a), start);
                      if (b) {
                        ASSERT_FALSE(xar_is_invalid(&b));
                        EXPECT_EQ(contents(b), other);
                      }
                    });
    EXPECT_EQ(contents(a), c.expected);
    XAR_FREE(&a);
    XAR_FREE(&b);
  }
}

// Structure copies, from an xarray and from a plain array, into a target that is absent, shorter
// or longer than the source: after every recovery the target holds its old objects (or all the
// new ones), each owning a sound value block and knowing its own place, which the copy records;
// the completed run holds copies of the source, and freeing both gives back every block.
struct Owner {
  int* value;
  Owner* self;
};
void free_owner(void* o) { rlsmem(static_cast<Owner*>(o)->value); }
void copy_owner(const void* from, void* to) {
  int* v = static_cast<int*>(getmem(sizeof(int)));
  *v = *static_cast<const Owner*>(from)->value;
  static_cast<Owner*>(to)->value = v;
  static_cast<Owner*>(to)->self = static_cast<Owner*>(to);
}
Owner* owners(int n, int first) {
  Owner* x = n ? static_cast<Owner*>(XAR_ALLOC(n, sizeof(Owner), 1)) : nullptr;
  for (int i = 0; i < n; ++i) {
    *(x[i].value = static_cast<int*>(getmem(sizeof(int)))) = first + i;
    x[i].self = &x[i];
  }
  return x;
}
Ints values(Owner* x) {
  Ints v;
  for (int i = 0; i < XAR_COUNT(&x); ++i)
    v.push_back(check_memory_block(x[i].value) == MEM_BLOCK_OK && x[i].self == &x[i] ? *x[i].value
                                                                                     : -1);
  return v;
}

TEST(OomSweep, StructureCopies) {
  testsupport::oom_sweep([] { rlsmem(getmem(8)); });  // what the sweep keeps from its first run
  int blocks = 0;
  getmem_counters(&blocks, nullptr, nullptr, nullptr);
  for (const bool plain : {false, true})
    for (const int target_count : {0, 2, 9}) {
      SCOPED_TRACE(std::string(plain ? "array_to_xar_str_copy" : "xar_str_copy") + " into " +
                   std::to_string(target_count));
      Owner* src = owners(5, 10);
      Owner* target = owners(target_count, 100);
      const Ints old = values(target), copied = values(src);
      EXPECT_OOM_SAFE(
          [&] {
            if (plain)
              array_to_xar_str_copy(src, &target, 5, sizeof(Owner), 1, free_owner, copy_owner);
            else
              xar_str_copy(&src, &target, free_owner, copy_owner);
          },
          [&] {
            const Ints now = values(target);
            EXPECT_TRUE(now == old || now == copied) << testing::PrintToString(now);
          });
      EXPECT_EQ(values(target), copied);
      xar_str_free(&target, free_owner);
      xar_str_free(&src, free_owner);
      int now = 0;
      getmem_counters(&now, nullptr, nullptr, nullptr);
      EXPECT_EQ(now, blocks);
    }
}

// Each allocation that needs a new chunk grows the zone's two chunk lists now and then: they
// stay in step when memory runs out between them (the first may keep the room it gained).
TEST(OomSweep, ZoneChunks) {
  const int zone = xar_zone_create(256);
  int recoveries = 0;
  for (int i = 0; i < 30; ++i) {
    const testsupport::OomSweepResult r =
        testsupport::oom_sweep([&] { xar_zone_alloc(zone, 200); }, {}, 100, false);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.failure, "");
    recoveries += r.recoveries;
  }
  EXPECT_GT(recoveries, 30);               // some allocations grew the lists
  EXPECT_EQ(xar_zone_reset(zone, 0), 30);  // one chunk each, nothing half-added
  xar_zone_destroy(zone);
}

// The print engine and the conversions build their buffers and tables on their first calls, so
// these sweeps start from new processes.
std::string long_path() {
  std::string path;
  while (path.size() < 240) path += "dir/sub|";  // paths fit 256 bytes
  return path;
}

TEST(OomSweepFirstCall, PrintWithPathsAndWideText) {
  const std::string path = long_path();
  const std::u16string wide(700, u'w');
  const std::string field(900, 'f');
  testsupport::oom_sweep_first_call([&] {
    const char* text = kel_sprintf(nullptr, "<%d%pd|%s|%ws|%1200s>", 7, path.c_str(), field.c_str(),
                                   wide.c_str(), "x");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(strncmp(text, "<7dir\\sub\\", 10), 0) << text;
  });
}

TEST(OomSweepFirstCall, PrintToWide) {
  testsupport::oom_sweep_first_call([] {
    kel_wchar out[64];
    kel_sprintf_wide(out, "%s-%d", "name", 42);
  });
}

// An operation swept must itself hold no block across a call that may fire: each result is
// released before the next call.
TEST(OomSweepFirstCall, WideStringConversions) {
  const std::string text(2000, 'a');
  const std::u16string wide(2000, u'A');
  testsupport::oom_sweep_first_call([&] { rlsmem(text_to_new_wide(text.c_str())); });
  testsupport::oom_sweep_first_call([&] { rlsmem(wide_to_new_text(wide.c_str())); });
  testsupport::oom_sweep_first_call([&] {
    const int ignoring_case = wide_icmp_text(wide.c_str(), text.c_str());
    const int exact = wide_cmp_text(wide.c_str(), text.c_str());
    EXPECT_EQ(ignoring_case, 0);
    EXPECT_NE(exact, 0);
  });
}

TEST(OomSweepFirstCall, ScanIntoWideTargets) {
  const std::string line = "12 " + std::string(600, 'z');
  testsupport::oom_sweep_first_call([&] {
    int n = 0;
    kel_wchar word[700];
    const int fields = kel_sscanf(line.c_str(), "%d %ws", &n, word);
    EXPECT_EQ(fields, 2);
    EXPECT_EQ(n, 12);
  });
}

TEST(OomSweepFirstCall, LanguageSetUp) {
  testsupport::set_env("KEL_LANG", "japanese");
  testsupport::oom_sweep_first_call([] {
    lang_setup();
    kel_wchar wide[8];
    char text[32];
    wstostr(text, strtows(wide, "abc"));
  });
}

}  // namespace

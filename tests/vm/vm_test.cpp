// The vm buddy allocator: segment format and attach, splitting and merging, the real-memory
// fallback, the fatal checks, and a model-based random run against a map of live blocks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <map>
#include <random>
#include <vector>

#include "child_output.h"
#include "runtime/mem/mem.h"
#include "runtime/mem/vm.h"

namespace {

using ::testing::HasSubstr;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

// A formatted segment in 16-aligned memory, taken off the list of all segments at the end.
struct Segment {
  explicit Segment(int size, bool format = true) : words(size / 8 + 3), size(size) {
    if (format) {
      CaptureStderr();  // the usage printed by every format
      vm_format_segment(base(), size);
      GetCapturedStderr();
    }
  }
  ~Segment() { vm_forget_segment(base()); }
  void* base() { return (void*)(((uintptr_t)words.data() + 15) & ~(uintptr_t)15); }
  vm_segment* seg() { return (vm_segment*)base(); }
  std::vector<uint64_t> words;
  int size;
};

// The free blocks of each order as (order, unit) pairs, list by list.
std::vector<std::pair<int, int>> free_lists(vm_segment* s) {
  std::vector<std::pair<int, int>> out;
  for (int k = 0; k < VM_ORDERS; ++k) {
    for (int32_t u = s->free_head[k]; u != VM_NO_UNIT;) {
      out.push_back({k, u});
      u = ((vm_block_header*)((char*)s + VM_SEGMENT_HEADER + 16 * u))->next;
    }
  }
  return out;
}

int unit_of(vm_segment* s, void* p) {
  return (int)(((char*)p - (char*)s - VM_SEGMENT_HEADER - 16) / 16);
}

TEST(VmFormat, SmallestAndSplitSegments) {
  Segment one(336);
  EXPECT_EQ(one.seg()->unit_count, 1u);
  EXPECT_EQ(one.seg()->order_count, 1);
  EXPECT_EQ(free_lists(one.seg()), (std::vector<std::pair<int, int>>{{0, 0}}));
  EXPECT_EQ(vm_alloc(one.base(), 1), nullptr);  // any byte needs an order-1 block
  void* header_only = vm_alloc(one.base(), 0);
  ASSERT_NE(header_only, nullptr);
  EXPECT_EQ(vm_block_size(header_only), 0);
  vmFree(one.base(), header_only);

  Segment six(320 + 16 * 6);
  EXPECT_EQ(six.seg()->order_count, 3);
  EXPECT_EQ(free_lists(six.seg()), (std::vector<std::pair<int, int>>{{1, 4}, {2, 0}}));
  EXPECT_EQ(six.seg()->bytes_free, 96u);
  EXPECT_EQ(six.seg()->bytes_allocated, 0u);
  EXPECT_EQ(six.seg()->blocks_free, 2);
  EXPECT_EQ(memcmp(six.seg()->version_tag, kel_version_tag(), 16), 0);
  EXPECT_EQ(six.seg()->machine, 29);
  EXPECT_EQ(six.seg()->system, 4);
}

TEST(VmAlloc, SplitsMergesAndRefusesASecondFree) {
  Segment s(320 + 16 * 64);
  const auto fresh = free_lists(s.seg());
  void* p = vm_alloc(s.base(), 100);  // 116 bytes: an order-3 block of 128
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(vm_block_size(p), 112);
  EXPECT_EQ(vm_is_vm_block(p), 1);
  EXPECT_EQ(unit_of(s.seg(), p), 0);
  EXPECT_EQ(free_lists(s.seg()), (std::vector<std::pair<int, int>>{{3, 8}, {4, 16}, {5, 32}}));
  EXPECT_EQ(vm_check_segment(s.base()), 0);
  for (int i = 0; i < 112; ++i) ASSERT_EQ(((unsigned char*)p)[i], 0);
  void* q = vm_alloc(s.base(), 16);  // 32 bytes: order 1, split off the order-3 buddy
  EXPECT_EQ(unit_of(s.seg(), q), 8);
  vmFree(s.base(), p);
  EXPECT_EQ(vm_check_segment(s.base()), 0);
  CaptureStdout();
  vmFree(s.base(), p);  // its buddy is in use, so it lies on a free list reading 0xDEAD
  EXPECT_EQ(GetCapturedStdout(), "vm: bad vm pointer\n");
  vmFree(s.base(), q);
  EXPECT_EQ(free_lists(s.seg()), fresh);
  CaptureStdout();
  vmFree(s.base(), q);  // merged away: its header no longer reads as a live block
  EXPECT_EQ(GetCapturedStdout(), "vm: bad vm pointer\n");
  EXPECT_EQ(vm_check_segment(s.base()), 0);

  // Each kind of damage is named by the number of the first check it fails.
  const struct {
    std::function<void(vm_segment*, vm_block_header*)> damage;
    int check;
  } damages[] = {
      {[](vm_segment* g, vm_block_header*) { g->order_count = 0; }, 1},
      {[](vm_segment*, vm_block_header* used) { used->magic = 0; }, 2},
      {[](vm_segment* g, vm_block_header*) { g->bytes_free += 16; }, 3},
      {[](vm_segment* g, vm_block_header*) { g->blocks_allocated += 1; }, 3},
      {[](vm_segment* g, vm_block_header*) { g->free_head[3] = VM_NO_UNIT; }, 4},
  };
  for (const auto& [damage, check] : damages) {
    Segment d(320 + 16 * 64);
    void* used = vm_alloc(d.base(), 100);
    damage(d.seg(), (vm_block_header*)used - 1);
    EXPECT_EQ(vm_check_segment(d.base()), check);
  }
}

TEST(VmAlloc, ReallocKeepsOrMovesAndRootSlots) {
  Segment s(320 + 16 * 256);
  vm_set_main_segment(s.base(), 0);
  void* p = vm_alloc(s.base(), 100);
  memset(p, 0x5A, 100);
  EXPECT_EQ(vm_realloc(p, 60), p);  // 112 usable <= 120
  void* moved = vm_realloc(p, 50);  // 112 > 100
  ASSERT_NE(moved, p);
  EXPECT_EQ(vm_block_size(moved), 112);
  for (int i = 0; i < 112; ++i) ASSERT_EQ(((unsigned char*)moved)[i], i < 50 ? 0x5A : 0);
  void* grown = vm_realloc(moved, 1000);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(((unsigned char*)grown)[i], i < 50 ? 0x5A : 0);
  EXPECT_EQ(vm_realloc(grown, 1 << 20), nullptr);  // no room: the block stays
  EXPECT_EQ(vm_block_size(grown), 1008);
  vmFree(s.base(), grown);
  EXPECT_EQ(s.seg()->blocks_allocated, 0);

  ASSERT_NE(vm_root_slot(0), nullptr);
  EXPECT_EQ(vm_root_slot(31), &s.seg()->root[31]);
  EXPECT_EQ(vm_root_slot(32), nullptr);
  *vm_root_slot(3) = &s;
  EXPECT_EQ(s.seg()->root[3], &s);
  vm_forget_segment(s.base());
  EXPECT_EQ(vm_root_slot(0), nullptr);
  EXPECT_EQ(vm_main_segment(), nullptr);
}

std::vector<void*> overflowed;
std::vector<unsigned> usage_seen;

TEST(VmAlloc, FallbackToRealMemoryAndCallbacks) {
  Segment chained(336);
  Segment first(336);
  first.seg()->next = chained.seg();
  void* in_second = nullptr;
  // A full first segment passes the request on to the chained one, noting how far it went.
  vm_block_header* h0 = nullptr;
  void* only = vm_alloc(first.base(), 0);
  in_second = vm_alloc(first.base(), 0);
  ASSERT_NE(in_second, nullptr);
  h0 = (vm_block_header*)((char*)in_second - 16);
  EXPECT_EQ(h0->segment_index, 1);
  EXPECT_EQ(vm_alloc(first.base(), 0), nullptr);  // no fallback allowed

  first.seg()->flags |= VM_FLAG_FALLBACK;
  overflowed.clear();
  vm_set_overflow_callback([](void* seg) { overflowed.push_back(seg); });
  void* real = vm_alloc(first.base(), 40);
  void* real2 = vm_alloc(first.base(), 4);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(vm_is_vm_block(real), 0);
  EXPECT_EQ(vm_block_size(real), 40);
  EXPECT_EQ(((vm_block_header*)((char*)real - 16))->magic, VM_MAGIC_REAL);
  EXPECT_EQ(overflowed, std::vector<void*>{first.base()});  // once only
  EXPECT_TRUE(first.seg()->state & VM_STATE_FELL_BACK);
  vmFree(first.base(), real);
  vmFree(first.base(), real2);
  first.seg()->flags = 0;  // freed blocks follow their segment index again
  vmFree(first.base(), in_second);
  vmFree(first.base(), only);
  EXPECT_EQ(chained.seg()->blocks_allocated, 0);
  EXPECT_EQ(first.seg()->blocks_allocated, 0);

  // The usage callback hears of every change by a granule of the total (here
  // 2^ceil(log2(total/100))).
  Segment big(320 + 16 * 4096);
  const unsigned total = vm_set_usage_callback([](unsigned f) { usage_seen.push_back(f); });
  EXPECT_EQ(total, 336u + 336u + (320u + 16 * 4096));
  usage_seen.clear();
  void* a = vm_alloc(big.base(), 8);  // 32 bytes: below a granule of 1024
  EXPECT_TRUE(usage_seen.empty());
  void* b = vm_alloc(big.base(), 4000);
  ASSERT_EQ(usage_seen.size(), 1u);
  EXPECT_EQ(usage_seen[0], 65568u - 32 - 4096);
  vmFree(big.base(), b);
  vmFree(big.base(), a);
  EXPECT_EQ(usage_seen.back(), 16 * 4096u);
  vm_set_usage_callback(nullptr);

  CaptureStderr();
  vm_print_usage();
  const std::string usage = GetCapturedStderr();
  EXPECT_EQ(usage,
            "Bytes allocated: 0,  Bytes free: 65568\nBlocks allocated: 0,  Blocks free: 3\n\n");
  vmFree(chained.base(), nullptr);
}

// Random allocations, resizes and frees of random sizes against a map of the live blocks.
TEST(VmModel, RandomRunKeepsCountsAndCoalescesBack) {
  const int units = 4096 + 512 + 37;
  Segment s(320 + 16 * units);
  Segment reference(320 + 16 * units);
  vm_set_main_segment(s.base(), 0);
  std::mt19937 rng(12345);
  std::map<char*, std::pair<int, unsigned char>> live;  // user pointer -> bytes used, fill
  auto check_all = [&] {
    ASSERT_EQ(vm_check_segment(s.base()), 0);
    char* end = nullptr;
    for (auto& [p, info] : live) {
      ASSERT_GE(p, end) << "live blocks overlap";
      end = p + info.first;
    }
    ASSERT_LE(end, (char*)s.base() + s.size);
  };
  auto filled = [](char* p, int n, unsigned char v) {
    for (int i = 0; i < n; ++i)
      if ((unsigned char)p[i] != v) return false;
    return true;
  };
  for (int step = 0; step < 6000; ++step) {
    const int op = rng() % 10;
    if (op < 5 || live.empty()) {
      const int size = rng() % 4 == 0 ? rng() % 9000 : rng() % 200;
      char* p = (char*)vm_alloc(s.base(), size);
      if (!p) {  // only when no list of a large enough order has a block
        int order = 0;
        while ((16u << order) < (unsigned)size + 16) ++order;
        for (int k = order; k < VM_ORDERS; ++k) ASSERT_EQ(s.seg()->free_head[k], VM_NO_UNIT);
        continue;
      }
      // The whole payload of its order reads as zero, whatever earlier blocks left there. Half the
      // callers use only the size asked; the rest ask for the usable size first.
      int order = 0;
      while ((16 << order) < size + 16) ++order;
      ASSERT_TRUE(filled(p, (16 << order) - 16, 0));
      const int used = rng() % 2 ? size : vm_block_size(p);
      ASSERT_GE(used, size);
      const unsigned char v = (unsigned char)(step | 1);
      memset(p, v, used);
      live[p] = {used, v};
    } else {
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      ASSERT_TRUE(filled(it->first, it->second.first, it->second.second)) << "block overwritten";
      if (op < 7) {
        const int size = rng() % 3000;
        char* p = (char*)vm_realloc(it->first, size);
        if (!p) continue;
        const int kept = std::min(size, it->second.first);
        ASSERT_TRUE(filled(p, kept, it->second.second));
        ASSERT_TRUE(filled(p + kept, size - kept, 0)) << "bytes past the old contents";
        const unsigned char v = it->second.second;
        const int before = p == it->first ? it->second.first : 0;  // kept in place
        live.erase(it);
        const int used = std::max(before, rng() % 2 ? size : vm_block_size(p));
        memset(p, v, used);
        live[p] = {used, v};
      } else {
        vmFree(s.base(), it->first);
        live.erase(it);
      }
    }
    check_all();
    if (HasFatalFailure()) return;
  }
  for (auto& [p, info] : live) vmFree(s.base(), p);
  ASSERT_EQ(vm_check_segment(s.base()), 0);
  EXPECT_EQ(free_lists(s.seg()), free_lists(reference.seg()));
  EXPECT_EQ(s.seg()->bytes_free, 16u * units);
  EXPECT_EQ(s.seg()->blocks_allocated, 0);
}

TEST(VmAttach, AdoptsAMovedSegmentOrRefusesAForeignOne) {
  const int size = 320 + 16 * 128;
  Segment a(size);
  char* p = (char*)vm_alloc(a.base(), 200);
  strcpy(p, "kept across the copy");
  vm_forget_segment(a.base());
  Segment b(size, false);  // the same bytes at another address, as a file mapped again
  memcpy(b.base(), a.base(), size);
  CaptureStderr();
  vm_attach_segment(b.base(), size);
  EXPECT_EQ(GetCapturedStderr(),
            "Bytes allocated: 256,  Bytes free: 1792\nBlocks allocated: 1,  Blocks free: 3\n\n");
  EXPECT_TRUE(b.seg()->flags & VM_FLAG_ATTACHED);
  char* q = (char*)b.base() + (p - (char*)a.base());
  EXPECT_STREQ(q, "kept across the copy");
  vmFree(b.base(), q);
  EXPECT_EQ(vm_check_segment(b.base()), 0);
  EXPECT_EQ(b.seg()->blocks_allocated, 0);

  // Another build's segment is formatted afresh.
  b.seg()->version_tag[3] ^= 1;
  vm_alloc(b.base(), 10);
  CaptureStdout();
  CaptureStderr();
  vm_attach_segment(b.base(), size);
  GetCapturedStderr();
  EXPECT_EQ(GetCapturedStdout(), "Illegal Mirax version\n");
  EXPECT_EQ(b.seg()->blocks_allocated, 0);
  EXPECT_EQ(vm_check_segment(b.base()), 0);

  const std::pair<std::function<void(vm_segment*)>, const char*> refusals[] = {
      {[](vm_segment* s) { s->size += 16; }, "VM-File must be recreated (Illegal segment size)\n"},
      {[](vm_segment* s) { s->system = 3; },
       "VM-File must be recreated (Illegal operating sistem)\n"},
      {[](vm_segment* s) { s->machine = 30; }, "VM-File must be recreated (Illegal machine)\n"},
      {[](vm_segment* s) { s->unit_count += 1; },
       "VM-File must be recreated (Illegal segment size)\n"},
  };
  for (auto& [damage, message] : refusals) {
    const std::string out = testsupport::run_child(
        [&] {
          damage(b.seg());
          vm_attach_segment(b.base(), size);
        },
        testsupport::stops());
    EXPECT_THAT(out, HasSubstr(message));
  }
}

// Each damage of a segment ends in the fatal report with the number of the check that found it.
TEST(VmAttach, DamagedSegmentsEndInTheirCheck) {
  struct Case {
    const char* what;
    int line;
    std::function<void(Segment&)> run;
  };
  auto hdr = [](void* p) { return (vm_block_header*)((char*)p - 16); };
  auto unit = [](Segment& s, int u) { return (vm_block_header*)((char*)s.base() + 320 + 16 * u); };
  const Case cases[] = {
      {"format too small", 692, [](Segment& s) { vm_format_segment(s.base(), 335); }},
      {"order 28", 601, [](Segment& s) { vm_alloc(s.base(), 0x7FFFFFF1); }},
      {"head at a live block", 309,
       [&](Segment& s) {
         void* p = vm_alloc(s.base(), 100);  // order 3 at unit 0; lists 3, 4, 5 hold 8, 16, 32
         s.seg()->free_head[4] = unit_of(s.seg(), p);
         vm_alloc(s.base(), 200);
       }},
      {"free block of an impossible order", 314,
       [&](Segment& s) {
         unit(s, 0)->order = 40;
         vm_alloc(s.base(), 1);
       }},
      {"head with a previous block", 328,
       [&](Segment& s) {
         unit(s, 0)->prev = 5;
         vm_alloc(s.base(), 1);
       }},
      {"next that does not lead back", 340,
       [&](Segment& s) {
         vm_alloc(s.base(), 100);
         vm_block_header* h = unit(s, 8);
         h->next = 1;  // inside the live block
         vm_alloc(s.base(), 100);
       }},
      {"next outside the units", 340,
       [&](Segment& s) {
         unit(s, 0)->next = 1 << 20;
         vm_alloc(s.base(), 1);
       }},
      {"insert over a broken head", 282,
       [&](Segment& s) {
         void* p = vm_alloc(s.base(), 0);  // unit 0; lists 0..5 hold 1, 2, 4, ...
         void* q = vm_alloc(s.base(), 0);  // unit 1
         vm_alloc(s.base(), 0);            // unit 2 from the order-1 block; unit 3 free
         s.seg()->free_head[0] = unit_of(s.seg(), q);
         vmFree(s.base(), p);  // its buddy is live: inserted at order 0
       }},
      {"buddy of a higher order", 446,
       [&](Segment& s) {
         void* p = vm_alloc(s.base(), 0);
         unit(s, 1)->order = 1;
         vmFree(s.base(), p);
       }},
      {"free buddy above the order count", 314,
       [&](Segment& s) {
         void* p = vm_alloc(s.base(), 200);  // order 4 at unit 0; lists 4, 5 hold 16, 32
         s.seg()->order_count = 5;
         vmFree(s.base(), p);  // merges with 16, then finds 32 free above the lists
       }},
      {"live block above the order count", 263,
       [&](Segment& s) {
         void* p = vm_alloc(s.base(), 100);
         s.seg()->order_count = 3;
         vmFree(s.base(), p);
       }},
      {"missing segment", 421,
       [&](Segment& s) {
         void* p = vm_alloc(s.base(), 0);
         hdr(p)->segment_index = 2;
         vmFree(s.base(), p);
       }},
      {"misaligned pointer", 428,
       [&](Segment& s) {
         char* p = (char*)vm_alloc(s.base(), 100);
         vm_block_header* fake = (vm_block_header*)(p + 8);
         fake->magic = VM_MAGIC_USED;
         vmFree(s.base(), p + 24);
       }},
      {"pointer outside the units", 428,
       [&](Segment& s) {
         static vm_block_header outside[2] = {{VM_MAGIC_USED, 0, 0, 0, 0, -1, 8}, {}};
         s.seg()->flags = VM_FLAG_FALLBACK;
         vmFree(s.base(), &outside[1]);
       }},
  };
  for (const Case& c : cases) {
    Segment s(320 + 16 * 64);
    std::string err;
    testsupport::run_child([&] { c.run(s); }, testsupport::stops(), {.err = &err});
    EXPECT_THAT(err, HasSubstr("Memory problem at line " + std::to_string(c.line) + "\n"))
        << c.what;
  }
}

// Switching the backing with a block live would hand that block to the other allocator: the
// switch is refused, and each block goes back to the allocator it came from.
TEST(VmBacking, NoSwitchWhileBlocksAreLive) {
  Segment s(320 + 16 * 65536);
  testsupport::run_child(
      [&] {
        vm_set_main_segment(s.base(), 0);
        void* library = getmem(100);
        vm_set_mode(1);
        init_memory_locks();
        const int before = s.seg()->blocks_allocated;
        rlsmem(library);
        init_memory_locks();
        void* in_segment = getmem(100);
        EXPECT_EQ(s.seg()->blocks_allocated, before + 1);
        vm_set_mode(0);
        init_memory_locks();
        rlsmem(in_segment);
        EXPECT_EQ(s.seg()->blocks_allocated, before);
        init_memory_locks();  // no block is live now: the switch back is made
        void* library_again = getmem(100);
        EXPECT_EQ(s.seg()->blocks_allocated, before);
        rlsmem(library_again);
        EXPECT_EQ(vm_check_segment(s.base()), 0);
      },
      testsupport::exits(0), {.start = testsupport::ChildStart::Fresh});
}

// The heap with vm backing: every block lies in the main segment and goes back to it.
TEST(VmBacking, HeapBlocksComeFromTheMainSegment) {
  Segment s(320 + 16 * 65536);
  testsupport::run_child(
      [&] {
        vm_set_main_segment(s.base(), 0);
        vm_set_mode(1);
        init_memory_locks();
        const int before = s.seg()->blocks_allocated;
        char* a = (char*)getmem(100);
        char* b = (char*)getmem_or_null(70000);
        a = (char*)relocmem(a, 3000);
        const auto inside = [&](char* p) {
          return p > (char*)s.base() && p < (char*)s.base() + s.size;
        };
        EXPECT_TRUE(inside(a));
        EXPECT_TRUE(inside(b));
        EXPECT_EQ(s.seg()->blocks_allocated - before, 2);
        EXPECT_EQ(getmem_or_null(0x7FFFFF00), nullptr);
        rlsmem(a);
        rlsmem(b);
        EXPECT_EQ(s.seg()->blocks_allocated, before);
        EXPECT_EQ(vm_check_segment(s.base()), 0);
      },
      testsupport::exits(0));
}

}  // namespace

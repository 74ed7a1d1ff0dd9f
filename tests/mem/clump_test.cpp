// Clumps: byte layouts, objects per clump, most-recently-used order, a model run of takes, moves
// and releases, out-of-memory runs, damage, automatic clumps, the settings and the reports.
#include <string.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "mem_test_support.h"
#include "oom_sweep.h"
#include "runtime/diag/diag.h"
#include "runtime/mem/clump_store.h"

namespace {

using memtest::stop_output;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::exits;
using testsupport::run_child;
using testsupport::set_env;
using Bytes = unsigned char*;

ClumpSlot* slot(const void* object) { return (ClumpSlot*)((char*)object - 8); }
Clump* clump_of(const void* object) { return (Clump*)((char*)object - 32 - 8 * slot(object)->own); }
int blocks() {
  int n = 0;
  getmem_counters(&n, nullptr, nullptr, nullptr);
  return n;
}
// The largest object size of which a clump holds two.
int two_per_clump() { return ((clump_size_setting() - 24) / 2 - 8) & ~7; }
// Back to the start settings, in a child of a re-run with other settings.
void start_settings() {
  testsupport::unset_env("AUTO_CLUMPS_ON");
  testsupport::unset_env("CLUMP_SIZE");
  read_memory_settings();
}
int clumps_of(int id) {
  int n = 0;
  for (Clump* c = kel::clump::entries[id].first; c; c = c->next) ++n;
  return n;
}

TEST(Clump, LayoutToTheByteObjectsPerClumpAndOrder) {
  if (clump_size_setting() != CLUMP_DEFAULT_SIZE) {
    GTEST_SKIP() << "the offsets are those of clumps of the default size";
  }
  const int warm = register_clump("warm-up", 8);  // makes the table of where clumps lie
  rlsmem(clump_getmem(warm));
  unregister_clump(warm);
  const int id = register_clump("layout", 380);
  EXPECT_EQ(clump_objects_per_clump(id), 167);  // (65536 - 24) / 392
  const int before = blocks();
  std::vector<Bytes> objects;
  for (int i = 0; i < 166; ++i) objects.push_back((Bytes)clump_getmem(id));
  EXPECT_EQ(blocks(), before + 1);  // one clump, which keeps one slot free
  Clump* c = clump_of(objects[0]);
  EXPECT_EQ((Bytes)c + 32, objects[0]);
  EXPECT_EQ(debug_getmem_size(c), 65536);
  EXPECT_EQ(c->in_use, 166);
  EXPECT_EQ(c->id, id);
  EXPECT_EQ(c->self, c);
  EXPECT_EQ(c->first_free, 166 * 49);
  for (int i = 0; i < 166; ++i) {
    const ClumpSlot s = *slot(objects[i]);
    ASSERT_EQ(objects[i], objects[0] + i * 392);
    ASSERT_TRUE(s.own == i * 49 && s.next_free == -1 && s.marker == CLUMP_MARK_USED &&
                s.loop == -1);
  }
  const ClumpSlot spare = *(ClumpSlot*)((Bytes)c + 24 + 166 * 392);
  EXPECT_TRUE(spare.marker == CLUMP_MARK_FREE && spare.next_free == -1);

  // The 167th live object opens a second clump at the head; a slot freed in the first clump
  // is taken once the head is full, and its clump moves to the head.
  for (int i = 0; i < 166; ++i) objects.push_back((Bytes)clump_getmem(id));
  EXPECT_EQ(clumps_of(id), 2);
  EXPECT_NE(kel::clump::entries[id].first, c);
  rlsmem(objects[7]);
  EXPECT_EQ(c->first_free, 7 * 49);
  EXPECT_EQ(clump_getmem(id), objects[7]);
  EXPECT_EQ(kel::clump::entries[id].first, c);

  // What the heap interface and the entry's memory-loop record report for an object.
  int size = 0, overhead = 0, loop = 0, xarray = 1;
  void* prev = &prev;
  EXPECT_EQ(getmem_block_info(objects[7], &prev, nullptr, &size, &overhead, &loop, &xarray), 1);
  EXPECT_TRUE(prev == nullptr && size == 380 && overhead == 12 && loop == -1 && xarray == 0);
  mem_loop_record* records = nullptr;
  clump_loop_records(&records, nullptr);
  records[id].count = 42;
  records[id].set_index(&records[id], objects[7]);
  EXPECT_EQ(records[id].get_index(objects[7]), 42);
  EXPECT_EQ(records[id].get_size(&records[id], objects[7]), 380);

  // A released object reads 0xFF; releasing every object gives the clumps' blocks back.
  rlsmem(objects[3]);
  for (int i = 0; i < 380; ++i) ASSERT_EQ(objects[3][i], 0xFF);
  EXPECT_EQ(records[id].get_index(objects[3]), -1);
  for (size_t i = 0; i < objects.size(); ++i)
    if (i != 3) rlsmem(objects[i]);
  EXPECT_EQ(blocks(), before);
  EXPECT_EQ(clumps_of(id), 0);
  unregister_clump(id);
}

// Takes, releases and moves of objects of several entries against a model of what each live
// object holds; the consistency check and the block counts agree all along.
TEST(Clump, ModelOfLiveObjects) {
  const int sizes[] = {1, 8, 20, 380, 1000, std::min(4000, two_per_clump())};
  int ids[6];
  for (int k = 0; k < 6; ++k) ids[k] = register_clump("model", sizes[k]);
  const int before = blocks();
  int useful_before = 0, overhead_before = 0;  // objects of automatic clumps made earlier
  checkmem_chain_clump(&useful_before, &overhead_before);
  std::mt19937 rng(9);
  std::map<Bytes, std::pair<int, unsigned char>> live;  // object -> entry index, fill
  for (int step = 0; step < 20000; ++step) {
    const int action = rng() % 10;
    if (action < 6 || live.empty()) {
      const int k = rng() % 6, x = rng() % 2;
      Bytes p = (Bytes)clump_getmem_xar(ids[k], x);
      for (int i = 0; i < sizes[k]; ++i) ASSERT_EQ(p[i], 0);
      ASSERT_EQ(slot(p)->marker, x ? CLUMP_MARK_XARRAY : CLUMP_MARK_USED);
      live[p] = {k, (unsigned char)(rng() | 1)};
      memset(p, live[p].second, sizes[k]);
      continue;
    }
    auto it = std::next(live.begin(), rng() % live.size());
    const auto [p, v] = *it;
    live.erase(it);
    ASSERT_EQ(debug_getmem_size(p), sizes[v.first]);
    for (int i = 0; i < sizes[v.first]; ++i) ASSERT_EQ(p[i], v.second);
    if (action < 9) {
      rlsmem(p);
    } else {  // a move keeps the contents and always goes elsewhere
      Bytes q = (Bytes)relocmem(p, sizes[v.first]);
      EXPECT_NE(q, p);
      for (int i = 0; i < sizes[v.first]; ++i) ASSERT_EQ(q[i], v.second);
      rlsmem(q);
    }
  }
  int useful = -1, overhead = -1, expected = 0, clumps = 0;
  checkmem_chain_clump(&useful, &overhead);
  for (auto& [p, v] : live) expected += (sizes[v.first] + 7) & ~7;
  for (int k = 0; k < 6; ++k) clumps += clumps_of(ids[k]);
  EXPECT_EQ(useful - useful_before, expected);
  EXPECT_EQ(useful + overhead - useful_before - overhead_before, clumps * clump_size_setting());
  // Automatic clumps (moves) and their size cache are heap blocks too.
  const bool counted = !auto_clumps_on();
  if (counted) {
    EXPECT_EQ(blocks(), before + clumps);
  }
  for (int k = 0; k < 6; ++k) EXPECT_EQ(unregister_clump(ids[k]), 1);
  if (counted) {
    EXPECT_EQ(blocks(), before);
  }
  EXPECT_EQ(clump_getmem(ids[0]), nullptr);        // retired
  EXPECT_EQ(register_clump("again", 16), ids[0]);  // and reused
  unregister_clump(ids[0]);
}

TEST(Clump, OutOfMemoryLeavesRegistryAndClumpsAsBefore) {
  const int id = register_clump("oom", 300);
  std::vector<void*> held;
  for (int i = 0; i < clump_objects_per_clump(id) - 1; ++i) held.push_back(clump_getmem(id));
  Clump* head = kel::clump::entries[id].first;
  void* taken = nullptr;  // needs a new clump
  EXPECT_OOM_SAFE([&] { taken = clump_getmem(id); },
                  [&] { EXPECT_TRUE(kel::clump::entries[id].first == head && !head->next); });
  memset(held[5], 0x5A, 300);
  void* moved = nullptr;  // needs a new home first
  EXPECT_OOM_SAFE([&] { moved = relocmem(held[5], 5000); },
                  [&] { EXPECT_EQ(((Bytes)held[5])[299], 0x5A); });
  held[5] = moved;
  held.push_back(taken);
  // Objects that each open a clump, until the table of where clumps lie has grown.
  const int big = register_clump("one per clump", two_per_clump());
  for (int i = 0; i < 40; ++i) EXPECT_OOM_SAFE([&] { held.push_back(clump_getmem(big)); }, nullptr);
  free_clump(big);
  held.resize(held.size() - 40);
  for (void* p : held) rlsmem(p);
  EXPECT_EQ(clumps_of(id), 0);
  unregister_clump(id);
  // The first automatic lookup makes the size cache and the entry; getmem then takes a clump.
  testsupport::oom_sweep_first_call([] {
    set_env("AUTO_CLUMPS_ON", "TRUE");
    read_memory_settings();
    getmem(40);
  });
}

// The marker is read only for a pointer inside a live clump, so bytes that merely look like a
// slot header in a heap block are no clump object, nor are such bytes inside a clump object
// where no object starts, even when they name their own place; damage of a real clump stops.
TEST(ClumpStops, LookalikesDamageDoubleReleaseAndDebugMode) {
  const int id = register_clump("lookalikes", 400);
  Bytes object = (Bytes)clump_getmem(id);
  Bytes block = (Bytes)getmem(256);
  for (Bytes inside : {block + 200, object + 200}) {
    const int own = (int)(inside - ((Bytes)clump_of(object) + 32)) / 8;  // its place, if in object
    const ClumpSlot forged{(int16_t)(inside == block + 200 ? 10 : own), -1, CLUMP_MARK_USED, -1};
    memcpy(inside - 8, &forged, sizeof forged);
    EXPECT_EQ(clump_object_size(inside), -1);
    EXPECT_EQ(debug_getmem_size(inside), -1);
  }
  // Inside a live clump where no object starts: the clump's own block, or the forged object.
  for (int k = 0; k < 4; ++k) {
    EXPECT_THAT(stop_output([&] {
                  void* p = k % 2 ? (void*)clump_of(object) : (void*)(object + 200);
                  k < 2 ? (void)rlsmem(p) : (void)relocmem(p, 100);
                }),
                HasSubstr(k < 2 ? "rlsmem:  memory chain is corrupt"
                                : "relocmem:  memory chain is corrupt"));
  }
  rlsmem(block);
  rlsmem(object);
  unregister_clump(id);

  EXPECT_THAT(stop_output([] {
                void* p = clump_getmem(register_clump("damaged", 40));
                clump_of(p)->self = nullptr;
                rlsmem(p);
              }),
              HasSubstr("rlsmem_clump:  clump corruption"));
  const std::string text = stop_output([] {
    serious_error_reporting_set(1);
    const int d = register_clump("twice", 40);
    void* keep = clump_getmem(d);
    void* p = clump_getmem(d);
    checkmem_chain_clump(nullptr, nullptr);        // sound: no complaint
    ((ClumpSlot*)((char*)keep + 88))->marker = 7;  // the free slot after p
    checkmem_chain_clump(nullptr, nullptr);
    rlsmem(p);
    rlsmem(p);
  });
  EXPECT_THAT(text, HasSubstr("checkmem_chain_clump():   object corruption"));
  EXPECT_THAT(text, Not(HasSubstr("Count is wrong")));
  EXPECT_THAT(text, HasSubstr("release of already released object"));
  EXPECT_THAT(text, HasSubstr("rlsmem:  memory chain is corrupt"));
  EXPECT_THAT(stop_output([] {
                order_debug_level_set(1);
                relocmem(clump_getmem(register_clump("fixed", 16)), 16);
              }),
              HasSubstr("relocmem_clump: Cannot reallocate a user registered clump!\n"));
  EXPECT_THAT(stop_output([] {
                set_env("AUTO_CLUMPS_ON", "TRUE");
                read_memory_settings();
                find_auto_clump(0);
              }),
              HasSubstr("find_auto_clump:  invalid object size"));
}

TEST(ClumpRegistry, FullRegistryAndObjectsTooBigForTwoSlots) {
  run_child(
      [] {
        while (register_clump("fill", 8) >= 0) {
        }
        EXPECT_EQ(kel::clump::entry_count, 500);
      },
      exits(0));
  EXPECT_EQ(register_clump("huge", two_per_clump() + 1), -1);
  const int id = register_clump("half", two_per_clump());
  EXPECT_EQ(clump_objects_per_clump(id), 2);
  unregister_clump(id);
}

// Settings change process-wide state, so they run in children; automatic entries made earlier
// keep serving their sizes, so the first child of each setting starts anew.
TEST(ClumpSettings, AutomaticClumpsReportAndClumpSizeLimits) {
  for (const char* value : {"true", "TRUE ", "TRUE"}) {
    run_child(
        [&] {
          set_env("AUTO_CLUMPS_ON", value);
          read_memory_settings();
          void* a = getmem(24);
          if (strcmp(value, "TRUE") != 0) {
            EXPECT_EQ(clump_object_id(a), -1) << value;
            return;
          }
          EXPECT_GE(clump_object_id(a), 0);
          EXPECT_EQ(clump_object_id(a), clump_object_id(getmem(20)));
          EXPECT_EQ(clump_object_id(getmem(2049)), -1);
          EXPECT_EQ(clump_object_size(getmem(2048)), 2048);
          EXPECT_EQ(clump_object_id(getmem_or_null(24)), -1);
          EXPECT_EQ(clump_object_size(relocmem(a, 100)), 104);
          EXPECT_GE(find_auto_clump(1), 0);  // the smallest size; 0 stops (below)
        },
        exits(0), {testsupport::ChildStart::Fresh});
  }
  const std::string text = run_child(
      [] {
        start_settings();
        print_memory_settings();  // nothing on: nothing printed
        set_env("CLUMP_MODE_OFF", "TRUE");
        read_memory_settings();
        print_memory_settings();  // clump mode off alone prints nothing
        for (const char* name :
             {"AUTO_CLUMPS_ON", "IGNORE_XAR_EXT", "IGNORE_XAR_RELOC_CNT", "FORCE_MEM_REALLOCATION"})
          set_env(name, "TRUE");
        set_env("CLUMP_SIZE", "8192");
        read_memory_settings();
        print_memory_settings();
        EXPECT_EQ(clump_objects_per_clump(register_clump("s", 380)), 20);
        EXPECT_EQ(find_auto_clump(24), -1);
        for (const char* bad : {"abc", "100", "4135", "262145", "65536x"}) {
          set_env("CLUMP_SIZE", bad);
          read_memory_settings();
          EXPECT_EQ(clump_size_setting(), 65536) << bad;
        }
      },
      exits(0));
  EXPECT_EQ(text.substr(0, text.find("CLUMP_SIZE")),
            "************** Memory debug settings ************\n"
            "Standard mem clumps are disabled.\n"
            "Automatic clumps are enabled.\n"
            "Xarrays will have no extensions.\n"
            "Xarrays will have no reloc adjustment feature.\n"
            "Reallocations will always move memory.\n"
            "************** End Memory debug settings ********\n");
  EXPECT_THAT(
      text,
      HasSubstr(
          "CLUMP_SIZE \"abc\" is not a whole number from 4136 to 262144; clumps keep 65536 bytes.\n"));
  EXPECT_THAT(text, HasSubstr("CLUMP_SIZE \"262145\""));
}

TEST(ClumpReport, TableRowsAndPercent) {
  const std::string text = run_child(
      [] {
        start_settings();
        const int a = register_clump("KelFile", 380);
        unregister_clump(register_clump("a name longer than twenty-five", 16));
        for (int i = 0; i < 50; ++i) clump_getmem(a);
        print_clump_table();
      },
      exits(0));
  EXPECT_EQ(text.substr(0, 153),
            "Registered Name           size Active     Per Clump Num Clumps Percent Full\n"
            "------------------------- ---- ---------- --------- ---------- ------------\n"
            "\n");
  EXPECT_THAT(
      text,
      HasSubstr("\nKelFile                    380 Active           167          1           29\n"));
  EXPECT_THAT(
      text,
      HasSubstr(
          "\na name longer than twenty-five   16 Non-active      2729          0            0\n"));
  EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

}  // namespace

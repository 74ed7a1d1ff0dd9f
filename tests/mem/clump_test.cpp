// Clumps: layouts, objects per clump, most-recently-used order, release of empty clumps, double
// release, damage, automatic clumps and the settings, against the byte layout of the blocks.
#include <string.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "mem_test_support.h"
#include "oom_sweep.h"
#include "runtime/diag/diag.h"
#include "runtime/mem/clump_store.h"
#include "runtime/xar/xar.h"

namespace {

using memtest::output_path;
using memtest::read_text;
using testsupport::set_env;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const ClumpSlot* slot(const void* object) { return (const ClumpSlot*)((const char*)object - 8); }
Clump* clump_of(const void* object) {
    return (Clump*)((char*)object - 8 - 8 * slot(object)->own - CLUMP_HEADER_SIZE);
}
int blocks() {
    int n = 0;
    getmem_counters(&n, nullptr, nullptr, nullptr);
    return n;
}
int clumps_of(int id) {
    int n = 0;
    for (Clump* c = kel::clump::entries[id].first; c; c = c->next) ++n;
    return n;
}

// The clump store keeps a table of where clumps lie, made with the first clump; this makes it
// before a test counts blocks.
void make_clump_table() {
    const int id = register_clump("warm-up", 8);
    rlsmem(clump_getmem(id));
    unregister_clump(id);
}

TEST(Clump, LayoutToTheByteAndObjectsPerClump) {
    make_clump_table();
    const int id = register_clump("layout", 380);
    ASSERT_GE(id, 0);
    EXPECT_EQ(clump_objects_per_clump(id), (65536 - 24) / 392);
    EXPECT_EQ(clump_objects_per_clump(id), 167);
    const int before = blocks();
    std::vector<unsigned char*> objects;
    for (int i = 0; i < 166; ++i) objects.push_back((unsigned char*)clump_getmem(id));
    EXPECT_EQ(blocks(), before + 1);  // one clump holds 166 objects and keeps one slot free
    Clump* c = clump_of(objects[0]);
    EXPECT_EQ((unsigned char*)c + 24 + 8, objects[0]);
    EXPECT_EQ(debug_getmem_size(c), 65536);  // the clump is a heap block of CLUMP_SIZE bytes
    EXPECT_EQ(c->in_use, 166);
    EXPECT_EQ(c->id, id);
    EXPECT_EQ(c->self, c);
    EXPECT_EQ(c->first_free, 166 * 49);
    EXPECT_EQ(c->next, nullptr);
    for (int i = 0; i < 166; ++i) {
        const ClumpSlot* s = slot(objects[i]);
        ASSERT_EQ(objects[i], objects[0] + i * 392);
        EXPECT_EQ(s->own, i * 49);
        EXPECT_EQ(s->next_free, -1);
        EXPECT_EQ(s->marker, CLUMP_MARK_USED);
        EXPECT_EQ(s->loop, -1);
        EXPECT_EQ(clump_object_id(objects[i]), id);
    }
    const ClumpSlot* spare = (const ClumpSlot*)((unsigned char*)c + 24 + 166 * 392);
    EXPECT_EQ(spare->marker, CLUMP_MARK_FREE);
    EXPECT_EQ(spare->next_free, -1);

    // The 167th live object opens a second clump, which goes to the head of the list.
    objects.push_back((unsigned char*)clump_getmem(id));
    EXPECT_EQ(blocks(), before + 2);
    EXPECT_NE(clump_of(objects[166]), c);
    EXPECT_EQ(kel::clump::entries[id].first, clump_of(objects[166]));
    EXPECT_EQ(clumps_of(id), 2);

    // Most recently used first: a slot freed in the first clump is taken from there once the head
    // is full, and that clump moves to the head.
    for (int i = 0; i < 165; ++i) objects.push_back((unsigned char*)clump_getmem(id));
    rlsmem(objects[7]);
    EXPECT_EQ(c->first_free, 7 * 49);
    unsigned char* again = (unsigned char*)clump_getmem(id);
    EXPECT_EQ(again, objects[7]);
    EXPECT_EQ(kel::clump::entries[id].first, c);
    objects[7] = again;

    // The object reports of the heap interface.
    void *prev = &prev, *next = &next;
    int size = 0, overhead = 0, loop = 0, xarray = 1;
    EXPECT_EQ(getmem_block_info(again, &prev, &next, &size, &overhead, &loop, &xarray), 1);
    EXPECT_EQ(prev, nullptr);
    EXPECT_EQ(next, nullptr);
    EXPECT_EQ(size, 380);
    EXPECT_EQ(overhead, 12);
    EXPECT_EQ(loop, -1);
    EXPECT_EQ(xarray, 0);
    EXPECT_EQ(print_memory_block(again, 0), 0);

    // A released object reads 0xFF; releasing every object of a clump gives its block back.
    rlsmem(objects[3]);
    for (int i = 0; i < 380; ++i) ASSERT_EQ(objects[3][i], 0xFF);
    for (size_t i = 0; i < objects.size(); ++i)
        if (i != 3) rlsmem(objects[i]);
    EXPECT_EQ(blocks(), before);
    EXPECT_EQ(clumps_of(id), 0);
    EXPECT_EQ(unregister_clump(id), 1);
}

// A random mix of takes, releases and moves of objects of several entries against a model of
// what each live object holds; the consistency check and the counters agree all along.
TEST(Clump, ModelOfLiveObjects) {
    const int sizes[] = {1, 8, 20, 380, 1000, 4000};
    int ids[6];
    for (int k = 0; k < 6; ++k) ids[k] = register_clump("model", sizes[k]);
    const int before = blocks();
    std::mt19937 rng(9);
    std::map<unsigned char*, std::pair<int, unsigned char>> live;  // object -> entry index, fill
    for (int step = 0; step < 20000; ++step) {
        const int action = rng() % 10;
        if (action < 6 || live.empty()) {
            const int k = rng() % 6;
            const int x = rng() % 2;
            unsigned char* p = (unsigned char*)clump_getmem_xar(ids[k], x);
            for (int i = 0; i < sizes[k]; ++i) ASSERT_EQ(p[i], 0);
            const unsigned char fill = (unsigned char)(rng() | 1);
            memset(p, fill, sizes[k]);
            EXPECT_EQ(slot(p)->marker, x ? CLUMP_MARK_XARRAY : CLUMP_MARK_USED);
            live[p] = {k, fill};
        } else {
            auto it = live.begin();
            std::advance(it, rng() % live.size());
            unsigned char* p = it->first;
            const auto [k, fill] = it->second;
            ASSERT_EQ(debug_getmem_size(p), sizes[k]);
            for (int i = 0; i < sizes[k]; ++i) ASSERT_EQ(p[i], fill);
            live.erase(it);
            if (action < 9) {
                rlsmem(p);
            } else {
                // A move keeps the contents and the xarray mark; it always goes elsewhere.
                const int mark = slot(p)->marker;
                unsigned char* q = (unsigned char*)relocmem_xar(p, sizes[k], 0);
                EXPECT_NE(q, p);
                for (int i = 0; i < sizes[k]; ++i) ASSERT_EQ(q[i], fill);
                if (clump_object_id(q) >= 0) {
                    EXPECT_EQ(slot(q)->marker, mark);
                }
                rlsmem(q);
            }
        }
    }
    int useful = -1, overhead = -1;
    checkmem_chain_clump(&useful, &overhead);
    int expected = 0;
    for (auto& [p, v] : live) expected += (sizes[v.first] + 7) & ~7;
    EXPECT_EQ(useful, expected);
    int clumps = 0;
    for (int k = 0; k < 6; ++k) clumps += clumps_of(ids[k]);
    EXPECT_EQ(useful + overhead, clumps * 65536);
    EXPECT_EQ(blocks(), before + clumps);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(unregister_clump(ids[k]), 1);
    EXPECT_EQ(blocks(), before);
    EXPECT_EQ(clump_getmem(ids[0]), nullptr);  // retired
    EXPECT_EQ(free_clump(ids[0]), 0);
    EXPECT_EQ(register_clump("again", 16), ids[0]);  // the first retired entry is reused
    unregister_clump(ids[0]);
}

TEST(Clump, OutOfMemoryLeavesRegistryAndClumpsAsBefore) {
    const int id = register_clump("oom", 300);
    std::vector<void*> held;
    for (int i = 0; i < clump_objects_per_clump(id) - 1; ++i) held.push_back(clump_getmem(id));
    Clump* head = kel::clump::entries[id].first;
    // The next object needs a new clump.
    void* taken = nullptr;
    EXPECT_OOM_SAFE([&] { taken = clump_getmem(id); },
                    [&] {
                        EXPECT_EQ(kel::clump::entries[id].first, head);
                        EXPECT_EQ(head->next, nullptr);
                        EXPECT_EQ(head->in_use, (int)held.size());
                    });
    EXPECT_EQ(clumps_of(id), 2);
    // A move needs a new home first.
    memset(held[5], 0x5A, 300);
    void* moved = nullptr;
    EXPECT_OOM_SAFE([&] { moved = relocmem(held[5], 5000); },
                    [&] {
                        EXPECT_EQ(slot(held[5])->marker, CLUMP_MARK_USED);
                        EXPECT_EQ(((unsigned char*)held[5])[299], 0x5A);
                    });
    EXPECT_EQ(((unsigned char*)moved)[299], 0x5A);
    held[5] = moved;
    rlsmem(taken);
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

// The marker at object - 4 is trusted only after the clump it names proves to be one: bytes that
// merely look like a slot header are no clump object, while damage of a real clump stops.
TEST(ClumpMarker, LookalikesAreNotObjectsAndDamageStops) {
    unsigned char* block = (unsigned char*)getmem(256);
    unsigned char* fake = block + 200;
    ClumpSlot forged{10, -1, CLUMP_MARK_USED, -1};  // names a "clump" at block + 88
    memcpy(fake - 8, &forged, sizeof forged);
    int32_t size = 5;
    memcpy(block + 80, &size, 4);
    EXPECT_EQ(clump_object_size(fake), -1);
    size = 200;
    memcpy(block + 80, &size, 4);
    EXPECT_EQ(clump_object_id(fake), -1);
    forged.own = -2;
    memcpy(fake - 8, &forged, sizeof forged);
    EXPECT_EQ(clump_object_size(fake), -1);
    EXPECT_EQ(getmem_block_info(fake, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    rlsmem(block);

    // Heap blocks of every small size, live beside clumps, are never taken for objects.
    const int id = register_clump("beside", 24);
    std::vector<void*> heap, objects;
    for (int n = 1; n < 600; ++n) {
        heap.push_back(getmem(n));
        objects.push_back(clump_getmem(id));
    }
    for (void* p : heap) EXPECT_EQ(clump_object_size(p), -1);
    for (void* p : objects) rlsmem(p);
    for (void* p : heap) rlsmem(p);
    unregister_clump(id);

    const std::string out = output_path("damaged");
    MEM_EXPECT_STOP(
        {
            const int d = register_clump("damaged", 40);
            void* p = clump_getmem(d);
            clump_of(p)->self = nullptr;
            rlsmem(p);
        },
        out);
    EXPECT_THAT(read_text(out), HasSubstr("rlsmem_clump:  clump corruption"));

    const std::string twice = output_path("twice");
    MEM_EXPECT_STOP(
        {
            serious_error_reporting_set(1);
            const int d = register_clump("twice", 40);
            void* keep = clump_getmem(d);
            void* p = clump_getmem(d);
            rlsmem(p);
            rlsmem(p);
            rlsmem(keep);
        },
        twice);
    const std::string text = read_text(twice);
    EXPECT_THAT(text, HasSubstr("release of already released object"));
    EXPECT_THAT(text, HasSubstr("rlsmem:  memory chain is corrupt"));
}

TEST(ClumpRegistry, FullRegistryRefusesAndTooBigObjectsAreRefused) {
    EXPECT_EXIT(
        {
            int last = 0;
            while ((last = register_clump("fill", 8)) >= 0) {
            }
            exit(kel::clump::entry_count == 500 && register_clump("x", 8) == -1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(register_clump("huge", 40000), -1);  // a clump could not hold two of them
    const int id = register_clump("half", 32744);
    EXPECT_EQ(clump_objects_per_clump(id), 2);
    unregister_clump(id);
}

// Settings and automatic clumps change process-wide state, so they run in children.
TEST(ClumpSettings, AutomaticClumpsOnlyForExactlyTrue) {
    for (const char* value : {"true", "TRUE ", "1"}) {
        EXPECT_EXIT(
            {
                set_env("AUTO_CLUMPS_ON", value);
                read_memory_settings();
                void* p = getmem(24);
                exit(auto_clumps_on() == 0 && clump_object_id(p) == -1 && check_memory_block(p) == 0 ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }
    EXPECT_EXIT(
        {
            set_env("AUTO_CLUMPS_ON", "TRUE");
            read_memory_settings();
            void* a = getmem(24);
            void* b = getmem(20);
            void* big = getmem(2049);
            void* c2 = getmem(2048);
            const bool ok = clump_object_id(a) >= 0 && clump_object_id(a) == clump_object_id(b) &&
                            debug_getmem_size(b) == 24 && clump_object_id(big) == -1 &&
                            check_memory_block(big) == 0 && clump_object_size(c2) == 2048 &&
                            getmem_or_null(24) != nullptr && clump_object_id(getmem_or_null(24)) == -1;
            // Growing an automatic object moves it to the clump of its new size class.
            void* grown = relocmem(a, 100);
            exit(ok && clump_object_size(grown) == 104 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ClumpSettings, ReportAndClumpSizeLimits) {
    const std::string out = output_path("settings");
    EXPECT_EXIT(
        {
            memtest::send_stdout_to(out);
            print_memory_settings();  // nothing on: nothing printed
            set_env("CLUMP_MODE_OFF", "TRUE");
            read_memory_settings();
            print_memory_settings();  // clump mode off alone prints nothing
            set_env("AUTO_CLUMPS_ON", "TRUE");
            set_env("IGNORE_XAR_EXT", "TRUE");
            set_env("IGNORE_XAR_RELOC_CNT", "TRUE");
            set_env("FORCE_MEM_REALLOCATION", "TRUE");
            set_env("CLUMP_SIZE", "8192");
            read_memory_settings();
            print_memory_settings();
            const bool sized = clump_size_setting() == 8192 && clump_objects_per_clump(register_clump("s", 380)) == 20;
            const bool off = find_auto_clump(24) == -1;
            for (const char* bad : {"abc", "100", "4135", "262145", "65536x", ""}) {
                set_env("CLUMP_SIZE", bad);
                read_memory_settings();
                if (clump_size_setting() != 65536) exit(1);
            }
            fflush(stdout);
            exit(sized && off ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    const std::string text = read_text(out);
    EXPECT_EQ(text.substr(0, text.find("CLUMP_SIZE")),
              "************** Memory debug settings ************\n"
              "Standard mem clumps are disabled.\n"
              "Automatic clumps are enabled.\n"
              "Xarrays will have no extensions.\n"
              "Xarrays will have no reloc adjustment feature.\n"
              "Reallocations will always move memory.\n"
              "************** End Memory debug settings ********\n");
    EXPECT_THAT(text, HasSubstr("CLUMP_SIZE \"abc\" is not a whole number from 4136 to 262144; clumps keep 65536 bytes.\n"));
    EXPECT_THAT(text, HasSubstr("CLUMP_SIZE \"262145\""));
}

TEST(ClumpReport, TableRowsAndPercent) {
    const std::string out = output_path("table");
    EXPECT_EXIT(
        {
            memtest::send_stdout_to(out);
            const int a = register_clump("KelFile", 380);
            const int b = register_clump("a name longer than twenty-five", 16);
            for (int i = 0; i < 50; ++i) clump_getmem(a);
            unregister_clump(b);
            print_clump_table();
            fflush(stdout);
            exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const std::string text = read_text(out);
    EXPECT_EQ(text.substr(0, 153),
              "Registered Name           size Active     Per Clump Num Clumps Percent Full\n"
              "------------------------- ---- ---------- --------- ---------- ------------\n"
              "\n");
    EXPECT_THAT(text, HasSubstr("\nKelFile                    380 Active           167          1           29\n"));
    EXPECT_THAT(text, HasSubstr("\na name longer than twenty-five   16 Non-active      2729          0            0\n"));
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

}  // namespace

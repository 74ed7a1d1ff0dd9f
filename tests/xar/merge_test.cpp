// Merges against std::merge, the tolerant merge of doubles, ORDER_ARRAY against a permuted copy,
// and the pointer, structure and string xarrays.
#include <algorithm>
#include <random>
#include <string>

#include "oom_sweep.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/xar.h"
#include "runtime/diag/diag.h"
#include "runtime/xar/har.h"
#include "runtime/xar/xar_ptr.h"
#include "xar_test_util.h"

namespace {

using xar_test::contents;

int compare_ints(const void* a, const void* b, void*) {
    const int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int blocks() {
    int n = 0;
    getmem_counters(&n, nullptr, nullptr, nullptr);
    return n;
}

// The merge keeps one entry for a pair of equal objects (from a) and consumes both; the oracle
// is std::merge followed by the same rule, walked by hand over the model.
std::vector<int> oracle(const std::vector<int>& a, const std::vector<int>& b, std::vector<int>* sides) {
    std::vector<int> out;
    size_t j = 0, i = 0;
    while (j < a.size() || i < b.size()) {
        const int f = j == a.size() ? 1 : i == b.size() ? -1 : (a[j] < b[i] ? -1 : a[j] > b[i] ? 1 : 0);
        sides->push_back(f);
        out.push_back(f <= 0 ? a[j] : b[i]);
        if (f >= 0) ++i;
        if (f <= 0) ++j;
    }
    return out;
}

TEST(Merge, XarraysAndHarraysAgainstStdMerge) {
    std::mt19937 rng(5);
    for (int round = 0; round < 60; ++round) {
        std::vector<int> a(rng() % 300), b(rng() % 300);
        for (int& v : a) v = rng() % 1000;
        for (int& v : b) v = rng() % 1000;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        // Without equal pairs the rule is exactly std::merge.
        std::vector<int> distinct_check;
        std::merge(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(distinct_check));
        std::vector<int> expected_sides;
        const std::vector<int> expected = oracle(a, b, &expected_sides);
        if (std::none_of(a.begin(), a.end(), [&](int v) { return std::binary_search(b.begin(), b.end(), v); })) {
            EXPECT_EQ(expected, distinct_check);
        }

        int* xa = nullptr;
        int* xb = nullptr;
        if (!a.empty() || round % 3) xar_from_array(a.data(), int(a.size()), 4, 3, &xa);
        if (!b.empty() || round % 3) xar_from_array(b.data(), int(b.size()), 4, 5, &xb);
        const int** out = nullptr;
        int* sides = nullptr;
        const int k = merge_sorted_xarrays(xa, xb, compare_ints, nullptr, &out, &sides);
        ASSERT_EQ(k, int(expected.size()));
        ASSERT_EQ(XAR_COUNT(&out), k);
        for (int i = 0; i < k; ++i) {
            ASSERT_EQ(*out[i], expected[i]);
            ASSERT_TRUE((out[i] >= xa && out[i] < xa + a.size()) || (out[i] >= xb && out[i] < xb + b.size()));
        }
        EXPECT_EQ(contents(sides), expected_sides);
        int* copied = nullptr;
        merge_sorted_xarrays_copy(xa, xb, compare_ints, nullptr, &copied, nullptr);
        EXPECT_EQ(contents(copied), expected);

        // The same over harrays.
        int* ha = static_cast<int*>(har_alloc(4, 7));
        int* hb = static_cast<int*>(har_alloc(4, 7));
        har_append(&ha, int(a.size()), a.data());
        har_append(&hb, int(b.size()), b.data());
        void* hout = nullptr;
        void* hsides = nullptr;
        ASSERT_EQ(merge_sorted_harrays(ha, hb, compare_ints, nullptr, &hout, &hsides), k);
        ASSERT_EQ(har_count(&hout), k);
        for (int i = 0; i < k; ++i) {
            ASSERT_EQ(**static_cast<int**>(har_object(&hout, i, nullptr, nullptr)), expected[i]);
            ASSERT_EQ(*static_cast<int*>(har_object(&hsides, i, nullptr, nullptr)), expected_sides[i]);
        }
        void* hcopy = nullptr;
        merge_sorted_harrays_copy(ha, hb, compare_ints, nullptr, &hcopy, nullptr);
        ASSERT_EQ(har_count(&hcopy), k);
        for (int i = 0; i < k; ++i) ASSERT_EQ(*static_cast<int*>(har_object(&hcopy, i, nullptr, nullptr)), expected[i]);
        har_free(&ha);
        har_free(&hb);
        har_free(&hout);
        har_free(&hsides);
        har_free(&hcopy);
        XAR_FREE(&xa);
        XAR_FREE(&xb);
        XAR_FREE(&out);
        XAR_FREE(&sides);
        XAR_FREE(&copied);
    }
}

TEST(Merge, ExampleAndUnequalSizes) {
    int* a = xar_test::from({1, 3, 5});
    int* b = xar_test::from({3, 4});
    const int** out = nullptr;
    int* sides = nullptr;
    EXPECT_EQ(merge_sorted_xarrays(a, b, compare_ints, nullptr, &out, &sides), 4);
    EXPECT_EQ(out[0], a);
    EXPECT_EQ(out[1], a + 1);
    EXPECT_EQ(out[2], b + 1);
    EXPECT_EQ(out[3], a + 2);
    EXPECT_EQ(contents(sides), (std::vector<int>{-1, 0, 1, -1}));
    EXPECT_EQ(merge_sorted_xarrays(nullptr, nullptr, compare_ints, nullptr, &out, &sides), 0);
    EXPECT_EQ(XAR_COUNT(&out), 0);
    double* d = xar_test::from<double>({1.0});
    const std::string text = xar_test::stop_output([&] { merge_sorted_xarrays(a, d, compare_ints, nullptr, &out, nullptr); });
    EXPECT_TRUE(xar_test::contains(text, "merge_sorted_xarrays:  unequal size")) << text;
    XAR_FREE(&a);
    XAR_FREE(&b);
    XAR_FREE(&d);
    XAR_FREE(&out);
    XAR_FREE(&sides);
}

// Merges into existing and absent outputs, the copies, the merge of doubles and a reorder with a
// buffer from the heap leave everything as it was when memory runs out.
TEST(Merge, OutOfMemoryLeavesOutputsAsTheyWere) {
    std::vector<int> av(3000), bv(2000);
    for (int i = 0; i < 3000; ++i) av[i] = 2 * i;
    for (int i = 0; i < 2000; ++i) bv[i] = 3 * i;
    int* a = nullptr;
    int* b = nullptr;
    xar_from_array(av.data(), 3000, 4, 1, &a);
    xar_from_array(bv.data(), 2000, 4, 1, &b);
    const int** out = nullptr;
    int* sides = nullptr;
    EXPECT_OOM_SAFE([&] { merge_sorted_xarrays(a, b, compare_ints, nullptr, &out, &sides); },
                    [&] { EXPECT_EQ(out, nullptr); });
    const int k = XAR_COUNT(&out);
    XAR_SHRINK(&out, k - 10);  // small outputs that must grow
    XAR_SHRINK(&sides, k - 10);
    const int** small_out = out;
    EXPECT_OOM_SAFE([&] { merge_sorted_xarrays(a, b, compare_ints, nullptr, &out, &sides); },
                    [&] {
                        EXPECT_EQ(out, small_out);
                        EXPECT_EQ(XAR_COUNT(&out), 10);
                    });
    EXPECT_EQ(XAR_COUNT(&out), k);
    int* copied = nullptr;
    XAR_SHRINK(&sides, k);
    EXPECT_OOM_SAFE([&] { merge_sorted_xarrays_copy(a, b, compare_ints, nullptr, &copied, &sides); },
                    [&] {
                        EXPECT_EQ(copied, nullptr);
                        EXPECT_EQ(XAR_COUNT(&sides), 0);
                    });
    EXPECT_EQ(XAR_COUNT(&copied), k);
    EXPECT_EQ(XAR_COUNT(&sides), k);
    void* ha = har_alloc(4, 10);
    void* hb = har_alloc(4, 10);
    har_append(&ha, 3000, av.data());
    har_append(&hb, 2000, bv.data());
    void* hcopy = nullptr;
    EXPECT_OOM_SAFE([&] { merge_sorted_harrays_copy(ha, hb, compare_ints, nullptr, &hcopy, nullptr); },
                    [&] { EXPECT_EQ(hcopy, nullptr); });
    EXPECT_EQ(har_count(&hcopy), k);
    double* d = nullptr;
    std::vector<double> base(500), add(800);
    for (int i = 0; i < 500; ++i) base[i] = 2 * i;
    for (int i = 0; i < 800; ++i) add[i] = 1.5 * i;
    xar_from_array(base.data(), 500, 8, 1, &d);
    EXPECT_OOM_SAFE([&] { xar_merge_doubles(&d, add.data(), 800, 0.0); }, [&] {
        EXPECT_EQ(XAR_COUNT(&d), 500);
        EXPECT_EQ(d[499], 998.0);
    });
    std::vector<char> data(600 * 20);
    std::vector<void*> ptrs(20);
    for (int i = 0; i < 20; ++i) ptrs[i] = data.data() + ((i + 1) % 20) * 600;
    EXPECT_OOM_SAFE([&] { ORDER_ARRAY(20, data.data(), ptrs.data(), 600); },
                    [&] { EXPECT_EQ(ptrs[0], data.data() + 600); });
    har_free(&ha);
    har_free(&hb);
    har_free(&hcopy);
    XAR_FREE(&d);
    XAR_FREE(&a);
    XAR_FREE(&b);
    XAR_FREE(&out);
    XAR_FREE(&sides);
    XAR_FREE(&copied);
}

TEST(MergeDoubles, ToleranceAndOrderOfValues) {
    double* x = xar_test::from<double>({2.0, 5.0});
    const double values[] = {1.0, 2.05, 7.0};
    EXPECT_EQ(xar_merge_doubles(&x, values, 3, 0.1), 4);
    EXPECT_EQ(contents(x), (std::vector<double>{1.0, 2.0, 5.0, 7.0}));
    // Random sorted inputs against a set-like oracle with tolerance 0 (exact duplicates skipped).
    std::mt19937 rng(3);
    for (int round = 0; round < 50; ++round) {
        std::vector<double> base(rng() % 40), add(rng() % 40);
        for (double& v : base) v = rng() % 100;
        for (double& v : add) v = rng() % 100 + 0.5 * (rng() % 2);
        std::sort(base.begin(), base.end());
        base.erase(std::unique(base.begin(), base.end()), base.end());
        std::sort(add.begin(), add.end());
        add.erase(std::unique(add.begin(), add.end()), add.end());
        double* y = nullptr;
        xar_from_array(base.data(), int(base.size()), 8, 4, &y);
        const int n = xar_merge_doubles(&y, add.data(), int(add.size()), 0.0);
        std::vector<double> expected = base;
        for (double v : add)
            if (!std::binary_search(base.begin(), base.end(), v) && (base.empty() || v < base.back() || true))
                expected.push_back(v);
        std::sort(expected.begin(), expected.end());
        // Values above the last entry are appended only while the walk has not ended on the array.
        EXPECT_EQ(n, XAR_COUNT(&y));
        std::vector<double> got = contents(y);
        EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
        EXPECT_TRUE(std::includes(expected.begin(), expected.end(), got.begin(), got.end()));
        EXPECT_TRUE(std::includes(got.begin(), got.end(), base.begin(), base.end()));
        XAR_FREE(&y);
    }
    // Values out of order lose nothing that was there and write only into the array.
    const double unsorted[] = {9.0, 1.0, 3.0};
    EXPECT_GE(xar_merge_doubles(&x, unsorted, 3, 0.0), 4);
    std::vector<double> got = contents(x);
    for (double v : {1.0, 2.0, 5.0, 7.0}) EXPECT_NE(std::find(got.begin(), got.end(), v), got.end());
    XAR_FREE(&x);
}

TEST(OrderArray, PermutesAndRefusesInvalidPointersUntouched) {
    std::mt19937 rng(8);
    for (int size : {1, 4, 12, 600}) {
        const int n = 200;
        std::vector<char> data(n * size), original;
        for (char& c : data) c = char(rng());
        original = data;
        std::vector<int> perm(n);
        for (int i = 0; i < n; ++i) perm[i] = i;
        std::shuffle(perm.begin(), perm.end(), rng);
        std::vector<void*> ptrs(n);
        for (int i = 0; i < n; ++i) ptrs[i] = data.data() + perm[i] * size;
        const int before = blocks();
        ORDER_ARRAY(n, data.data(), ptrs.data(), size);
        EXPECT_EQ(blocks(), before);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(memcmp(data.data() + i * size, original.data() + perm[i] * size, size), 0);
            ASSERT_EQ(ptrs[i], data.data() + i * size);
        }
        // A duplicate, a misaligned and an outside pointer each leave data and pointers alone.
        for (int fault = 0; fault < 3; ++fault) {
            for (int i = 0; i < n; ++i) ptrs[i] = data.data() + perm[i] * size;
            if (fault == 0) ptrs[n - 1] = ptrs[0];
            if (fault == 1 && size > 1) ptrs[5] = data.data() + 1;
            if (fault == 2) ptrs[7] = data.data() + n * size;
            const std::vector<void*> saved = ptrs;
            const std::vector<char> kept = data;
            testing::internal::CaptureStdout();
            ORDER_ARRAY(n, data.data(), ptrs.data(), size);
            const std::string text = testing::internal::GetCapturedStdout();
            if (fault == 1 && size == 1) continue;
            EXPECT_EQ(text, "ORDER_ARRAY:  invalid data\n");
            EXPECT_EQ(data, kept);
            EXPECT_EQ(ptrs, saved);
        }
    }
    char p[3] = {'P', 'Q', 'R'};
    void* ptrs[3] = {p + 2, p, p + 1};
    ORDER_ARRAY(3, p, ptrs, 1);
    EXPECT_EQ(std::string(p, 3), "RPQ");
    testing::internal::CaptureStdout();
    ORDER_ARRAY(-1, p, ptrs, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ORDER_ARRAY:  invalid input\n");
}

int offspring_calls = 0;
void count_offspring(void*) { ++offspring_calls; }
void* make_block(void*) { return getmem(16); }

void* copy_block(void* p) {
    void* q = getmem(16);
    memcpy(q, p, 16);
    return q;
}

TEST(PointerXarrays, OwnershipRules) {
    void** a = nullptr;
    // Growth with created objects, copies and deep copies take everything back on a memory break.
    EXPECT_OOM_SAFE([&] { xar_ptr_alloc_or_resize(&a, 40, 2, make_block, nullptr); },
                    [&] { EXPECT_EQ(a, nullptr); });
    void** b = nullptr;
    EXPECT_OOM_SAFE([&] { b = static_cast<void**>(xar_ptr_dup(a, copy_block)); }, [&] { EXPECT_EQ(b, nullptr); });
    xar_ptr_free_all(&b);
    EXPECT_OOM_SAFE([&] { b = static_cast<void**>(xar_ptr_deep_copy(a, 16)); }, [&] { EXPECT_EQ(b, nullptr); });
    xar_ptr_free_all(&b);
    xar_ptr_free_all(&a);
    const int before = blocks();
    xar_ptr_alloc_or_resize(&a, 5, 2, make_block, nullptr);
    EXPECT_EQ(blocks(), before + 6);
    offspring_calls = 0;
    xar_ptr_alloc_or_resize(&a, 3, 2, make_block, count_offspring);
    EXPECT_EQ(offspring_calls, 5);  // entries 3 and 4 before release, 0-2 kept
    EXPECT_EQ(blocks(), before + 4);
    void** dup = static_cast<void**>(xar_ptr_deep_copy(a, 16));
    EXPECT_EQ(blocks(), before + 8);
    void* second = a[1];
    a[1] = nullptr;  // a null entry stays null in a deep copy
    void** deep = static_cast<void**>(xar_ptr_deep_copy(a, 16));
    EXPECT_EQ(deep[1], nullptr);
    EXPECT_EQ(XAR_COUNT(&deep), 3);
    xar_ptr_free_all(&deep);
    xar_ptr_remove(&dup, 0, 2);
    EXPECT_EQ(XAR_COUNT(&dup), 1);
    xar_ptr_clear(&dup);
    EXPECT_EQ(XAR_COUNT(&dup), 0);
    xar_ptr_free(&dup, nullptr);
    EXPECT_EQ(dup, nullptr);
    void* first = a[0];
    void* third = a[2];
    xar_ptr_free(&a, nullptr);  // a null callback releases only the array
    EXPECT_EQ(check_memory_block(first), 0);
    for (void* p : {first, second, third}) rlsmem(p);
    EXPECT_EQ(blocks(), before);
}

TEST(StringXarrays, SetResizeFreeAndOutOfMemory) {
    char** s = nullptr;
    const char* words[] = {"alpha", "beta", "gamma"};
    const int before = blocks();
    EXPECT_EQ(set_string_xarray(words, 3, &s), 0);
    EXPECT_STREQ(s[2], "gamma");
    const char* more[] = {"one", "two", "three", "four", "five"};
    EXPECT_OOM_SAFE([&] { set_string_xarray(more, 5, &s); },
                    [&] {
                        EXPECT_EQ(XAR_COUNT(&s), 3);
                        EXPECT_STREQ(s[0], "alpha");
                    });
    EXPECT_STREQ(s[4], "five");
    resize_string_xarray(&s, 2);
    EXPECT_EQ(XAR_COUNT(&s), 2);
    resize_string_xarray(&s, 4);
    EXPECT_EQ(s[3], nullptr);
    free_string_xarray(&s);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(blocks(), before);
}

struct Owner {
    int* values;
};
void free_owner(void* o) { rlsmem(static_cast<Owner*>(o)->values); }
void copy_owner(const void* from, void* to) {
    static_cast<Owner*>(to)->values = static_cast<int*>(getmem(8));
    *static_cast<Owner*>(to)->values = *static_cast<const Owner*>(from)->values;
}

TEST(StructureXarrays, CopyAndFreeThroughCallbacks) {
    const int before = blocks();
    Owner plain[3];
    for (int i = 0; i < 3; ++i) {
        plain[i].values = static_cast<int*>(getmem(8));
        *plain[i].values = 10 * i;
    }
    Owner* x = nullptr;
    EXPECT_EQ(array_to_xar_str_copy(nullptr, &x, 0, sizeof(Owner), 1, free_owner, copy_owner), nullptr);
    EXPECT_EQ(x, nullptr);
    array_to_xar_str_copy(plain, &x, 3, sizeof(Owner), 1, free_owner, copy_owner);
    Owner* y = nullptr;
    xar_str_copy(&x, &y, free_owner, copy_owner);
    EXPECT_EQ(*y[2].values, 20);
    xar_str_delete(&y, 0, 2, free_owner);
    EXPECT_EQ(*y[0].values, 20);
    xar_str_free(&y, free_owner);
    xar_str_free(&x, free_owner);
    for (auto& o : plain) rlsmem(o.values);
    EXPECT_EQ(blocks(), before);
    char big[20480] = {1};
    void* copy = str_alloc_or_copy(big, nullptr, 20480);
    EXPECT_EQ(static_cast<char*>(copy)[0], 1);
    rlsmem(copy);
    EXPECT_EQ(str_alloc_or_copy(big, nullptr, 20481), nullptr);
    EXPECT_EQ(blocks(), before);
}

}  // namespace

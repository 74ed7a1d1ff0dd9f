// Harrays beside std::deque: appending ten million ints one at a time, and reading them at random
// indexes; and the merge of two sorted xarrays of 250,000 ints each beside std::merge into a vector
// of pointers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

#include "runtime/xar/har.h"
#include "runtime/xar/xar.h"

namespace {

constexpr int kAppends = 10000000;
constexpr int kLookups = 1000000;

void BM_har_append(benchmark::State& state) {
  for (auto _ : state) {
    void* h = har_alloc(sizeof(int), 4096);
    for (int i = 0; i < kAppends; ++i) har_append(&h, 1, &i);
    benchmark::DoNotOptimize(h);
    benchmark::ClobberMemory();
    har_free(&h);
  }
  state.SetItemsProcessed(state.iterations() * kAppends);
}

void BM_deque_push_back(benchmark::State& state) {
  for (auto _ : state) {
    std::deque<int> d;
    for (int i = 0; i < kAppends; ++i) d.push_back(i);
    benchmark::DoNotOptimize(d.back());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kAppends);
}

std::vector<int> random_indexes() {
  std::mt19937 rng(1);
  std::vector<int> idx(kLookups);
  for (int& i : idx) i = int(rng() % kAppends);
  return idx;
}

void BM_har_object(benchmark::State& state) {
  void* h = har_alloc(sizeof(int), 4096);
  for (int i = 0; i < kAppends; ++i) har_append(&h, 1, &i);
  const std::vector<int> idx = random_indexes();
  for (auto _ : state) {
    long long sum = 0;
    for (int i : idx) sum += *static_cast<int*>(har_object(&h, i, nullptr, nullptr));
    benchmark::DoNotOptimize(sum);
  }
  har_free(&h);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void BM_deque_index(benchmark::State& state) {
  std::deque<int> d;
  for (int i = 0; i < kAppends; ++i) d.push_back(i);
  const std::vector<int> idx = random_indexes();
  for (auto _ : state) {
    long long sum = 0;
    for (int i : idx) sum += d[i];
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kLookups);
}

constexpr int kMerge = 500000;  // in all: the output, a pointer xarray, holds at most 511,996

std::vector<int> sorted_values(int seed) {
  std::mt19937 rng(seed);
  std::vector<int> v(kMerge);
  for (int& x : v) x = int(rng() % 100000000);
  std::sort(v.begin(), v.end());
  return v;
}

int compare_ints(const void* a, const void* b, void*) {
  const int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
  return (x > y) - (x < y);
}

void BM_merge_sorted_xarrays(benchmark::State& state) {
  const std::vector<int> av = sorted_values(1), bv = sorted_values(2);
  int* a = static_cast<int*>(XAR_ALLOC(0, 4, 1024));
  int* b = static_cast<int*>(XAR_ALLOC(0, 4, 1024));
  XAR_APPEND(&a, kMerge / 2, av.data());
  XAR_APPEND(&b, kMerge / 2, bv.data());
  for (auto _ : state) {
    const int** out = nullptr;
    benchmark::DoNotOptimize(merge_sorted_xarrays(a, b, compare_ints, nullptr, &out, nullptr));
    XAR_FREE(&out);
  }
  XAR_FREE(&a);
  XAR_FREE(&b);
  state.SetItemsProcessed(state.iterations() * kMerge);
}

void BM_std_merge_pointers(benchmark::State& state) {
  const std::vector<int> av = sorted_values(1), bv = sorted_values(2);
  std::vector<const int*> pa(kMerge / 2), pb(kMerge / 2);
  for (int i = 0; i < kMerge / 2; ++i) {
    pa[i] = &av[i];
    pb[i] = &bv[i];
  }
  for (auto _ : state) {
    std::vector<const int*> out(kMerge);
    std::merge(pa.begin(), pa.end(), pb.begin(), pb.end(), out.begin(),
               [](const int* x, const int* y) { return *x < *y; });
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kMerge);
}

}  // namespace

BENCHMARK(BM_har_append)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_deque_push_back)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_har_object);
BENCHMARK(BM_deque_index);
BENCHMARK(BM_merge_sorted_xarrays)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_merge_pointers)->Unit(benchmark::kMillisecond);

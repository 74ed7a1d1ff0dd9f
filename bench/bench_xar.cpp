// Appending one int at a time to an xarray, beside std::vector<int>::push_back.
// An int xarray holds at most 511,996 objects, so each round fills two arrays of half a million:
// a million appends in all, on both sides.
#include <benchmark/benchmark.h>

#include <vector>

#include "runtime/xar/xar.h"

namespace {

constexpr int kArrays = 2;
constexpr int kCount = 500000;

void BM_XarAppendInt(benchmark::State& state) {
  for (auto _ : state) {
    for (int k = 0; k < kArrays; ++k) {
      int* a = static_cast<int*>(XAR_ALLOC(0, sizeof(int), 16));
      for (int i = 0; i < kCount; ++i) XAR_APPEND(&a, 1, &i);
      benchmark::DoNotOptimize(a);
      benchmark::ClobberMemory();
      XAR_FREE(&a);
    }
  }
  state.SetItemsProcessed(state.iterations() * kArrays * kCount);
}

void BM_VectorPushBackInt(benchmark::State& state) {
  for (auto _ : state) {
    for (int k = 0; k < kArrays; ++k) {
      std::vector<int> v;
      for (int i = 0; i < kCount; ++i) v.push_back(i);
      benchmark::DoNotOptimize(v.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * kArrays * kCount);
}

}  // namespace

BENCHMARK(BM_XarAppendInt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorPushBackInt)->Unit(benchmark::kMillisecond);

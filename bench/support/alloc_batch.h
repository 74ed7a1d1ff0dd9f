// The allocation pattern the memory benchmarks share: a batch of blocks of mixed sizes.
#pragma once
#include <benchmark/benchmark.h>

#include <vector>

namespace bench {

constexpr int kBatch = 64;

// Takes a batch of blocks of `sizes` in turn, touches each, then releases the even ones and then
// the odd ones, so that releases happen both at the end and in the middle of what is live.
// `resident` blocks taken first live through the whole run, as in a program that keeps objects
// of these sizes.
template <int N, class Allocate, class Release>
void allocate_and_release(benchmark::State& state, const int (&sizes)[N], Allocate allocate,
                          Release release, int resident = 0) {
  std::vector<void*> kept(resident);
  for (int i = 0; i < resident; ++i) kept[i] = allocate(sizes[i % N]);
  void* blocks[kBatch];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      blocks[i] = allocate(sizes[i % N]);
      static_cast<char*>(blocks[i])[0] = 1;
    }
    benchmark::DoNotOptimize(blocks);
    benchmark::ClobberMemory();
    for (int i = 0; i < kBatch; i += 2) release(blocks[i]);
    for (int i = 1; i < kBatch; i += 2) release(blocks[i]);
  }
  for (void* p : kept) release(p);
  state.SetItemsProcessed(state.iterations() * kBatch);
}

}  // namespace bench

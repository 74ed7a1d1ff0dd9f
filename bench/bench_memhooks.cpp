// getmem/rlsmem with the memory-debugging hooks compiled in but off, beside the same heap
// compiled without them (bench/support/heap_without_hooks.cpp).
#include <benchmark/benchmark.h>

#include "runtime/mem/mem.h"

extern "C" void* nohooks_getmem(int size);
extern "C" int nohooks_rlsmem(void* ptr);

namespace {

constexpr int kSizes[] = {8, 24, 16, 40, 64, 12, 100, 200, 32, 48, 256, 72, 20, 128, 500, 56};
constexpr int kSizeCount = sizeof kSizes / sizeof kSizes[0];
constexpr int kBatch = 64;

template <class Allocate, class Release>
void allocate_and_release(benchmark::State& state, Allocate allocate, Release release) {
  void* blocks[kBatch];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) blocks[i] = allocate(kSizes[i % kSizeCount]);
    benchmark::DoNotOptimize(blocks);
    benchmark::ClobberMemory();
    for (int i = 0; i < kBatch; i += 2) release(blocks[i]);
    for (int i = 1; i < kBatch; i += 2) release(blocks[i]);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_getmem_rlsmem_hooks_off(benchmark::State& state) {
  allocate_and_release(
      state, [](int n) { return getmem(n); }, [](void* p) { rlsmem(p); });
}
void BM_getmem_rlsmem_without_hooks(benchmark::State& state) {
  allocate_and_release(
      state, [](int n) { return nohooks_getmem(n); }, [](void* p) { nohooks_rlsmem(p); });
}

// Interleaved and repeated, so that both see the same machine load.
BENCHMARK(BM_getmem_rlsmem_hooks_off)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_getmem_rlsmem_without_hooks)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

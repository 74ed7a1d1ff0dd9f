// getmem/rlsmem of mixed sizes up to 2048 bytes with automatic clumps on, beside calloc/free.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "runtime/mem/clump.h"
#include "runtime/mem/mem.h"

namespace {

constexpr int kSizes[] = {8,   24, 16, 40,  64,  12, 100,  200,  32,  48,
                          256, 72, 20, 128, 500, 56, 2048, 1000, 700, 1536};
constexpr int kSizeCount = sizeof kSizes / sizeof kSizes[0];
constexpr int kBatch = 64;
constexpr int kResident = 256;

// A batch of blocks on top of a resident population of every size that lives through the whole
// run, as in a program that keeps objects of these sizes.
template <class Allocate, class Release>
void allocate_and_release(benchmark::State& state, Allocate allocate, Release release) {
  void* blocks[kBatch];
  void* resident[kResident];
  for (int i = 0; i < kResident; ++i) resident[i] = allocate(kSizes[i % kSizeCount]);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      blocks[i] = allocate(kSizes[i % kSizeCount]);
      static_cast<char*>(blocks[i])[0] = 1;
    }
    benchmark::DoNotOptimize(blocks);
    benchmark::ClobberMemory();
    for (int i = 0; i < kBatch; i += 2) release(blocks[i]);
    for (int i = 1; i < kBatch; i += 2) release(blocks[i]);
  }
  for (int i = 0; i < kResident; ++i) release(resident[i]);
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void auto_clumps_on() {
  static const bool done = [] {
#ifdef _WIN32
    _putenv("AUTO_CLUMPS_ON=TRUE");
#else
    setenv("AUTO_CLUMPS_ON", "TRUE", 1);
#endif
    return read_memory_settings() == 1;
  }();
  (void)done;
}

void BM_getmem_rlsmem_auto_clumps(benchmark::State& state) {
  auto_clumps_on();
  allocate_and_release(
      state, [](int n) { return getmem(n); }, [](void* p) { rlsmem(p); });
}
void BM_calloc_free(benchmark::State& state) {
  allocate_and_release(
      state, [](int n) { return calloc(1, n); }, [](void* p) { free(p); });
}

}  // namespace

BENCHMARK(BM_getmem_rlsmem_auto_clumps);
BENCHMARK(BM_calloc_free);

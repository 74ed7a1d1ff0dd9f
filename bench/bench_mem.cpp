// getmem/rlsmem of mixed small sizes beside malloc/free (and calloc/free, which also zero-fills).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/mem/mem.h"

namespace {

constexpr int kSizes[] = {8, 24, 16, 40, 64, 12, 100, 200, 32, 48, 256, 72, 20, 128, 500, 56};
constexpr int kSizeCount = sizeof kSizes / sizeof kSizes[0];
constexpr int kBatch = 64;

// Takes a batch of blocks, touches each, then releases the even ones and then the odd ones, so
// that releases happen both at the end and in the middle of what is live.
template <class Allocate, class Release>
void allocate_and_release(benchmark::State& state, Allocate allocate, Release release) {
  void* blocks[kBatch];
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
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_getmem_rlsmem(benchmark::State& state) {
  allocate_and_release(
      state, [](int n) { return getmem(n); }, [](void* p) { rlsmem(p); });
}
void BM_malloc_free(benchmark::State& state) {
  allocate_and_release(
      state, [](int n) { return malloc(n); }, [](void* p) { free(p); });
}
void BM_calloc_free(benchmark::State& state) {
  allocate_and_release(
      state, [](int n) { return calloc(1, n); }, [](void* p) { free(p); });
}
// The zero-fill and the release fill by hand around malloc/free, on pieces of the same size as
// heap blocks: what those guarantees cost without the chain and its checks.
void BM_malloc_fills_free(benchmark::State& state) {
  allocate_and_release(
      state,
      [](int n) {
        char* block = static_cast<char*>(malloc(((n + 7) & ~7) + 16));
        memcpy(block, &n, sizeof n);
        memset(block + 8, 0, n);
        return block + 8;
      },
      [](void* p) {
        char* block = static_cast<char*>(p) - 8;
        int n;
        memcpy(&n, block, sizeof n);
        memset(block, 0xFF, ((n + 7) & ~7) + 16);
        free(block);
      });
}

}  // namespace

BENCHMARK(BM_getmem_rlsmem);
BENCHMARK(BM_malloc_fills_free);
BENCHMARK(BM_malloc_free);
BENCHMARK(BM_calloc_free);

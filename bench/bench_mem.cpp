// getmem/rlsmem of mixed small sizes beside malloc/free (and calloc/free, which also zero-fills).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/mem/mem.h"
#include "bench/support/alloc_batch.h"

namespace {

constexpr int kSizes[] = {8, 24, 16, 40, 64, 12, 100, 200, 32, 48, 256, 72, 20, 128, 500, 56};

void BM_getmem_rlsmem(benchmark::State& state) {
  bench::allocate_and_release(
      state, kSizes, [](int n) { return getmem(n); }, [](void* p) { rlsmem(p); });
}
void BM_malloc_free(benchmark::State& state) {
  bench::allocate_and_release(
      state, kSizes, [](int n) { return malloc(n); }, [](void* p) { free(p); });
}
void BM_calloc_free(benchmark::State& state) {
  bench::allocate_and_release(
      state, kSizes, [](int n) { return calloc(1, n); }, [](void* p) { free(p); });
}
// The zero-fill and the release fill by hand around malloc/free, on pieces of the same size as
// heap blocks: what those guarantees cost without the chain and its checks.
void BM_malloc_fills_free(benchmark::State& state) {
  bench::allocate_and_release(
      state, kSizes,
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

// getmem/rlsmem with the memory-debugging hooks compiled in but off, beside the same heap
// compiled without them (bench/support/heap_without_hooks.cpp).
#include <benchmark/benchmark.h>

#include "runtime/mem/mem.h"
#include "bench/support/alloc_batch.h"

extern "C" void* nohooks_getmem(int size);
extern "C" int nohooks_rlsmem(void* ptr);

namespace {

constexpr int kSizes[] = {8, 24, 16, 40, 64, 12, 100, 200, 32, 48, 256, 72, 20, 128, 500, 56};

void BM_getmem_rlsmem_hooks_off(benchmark::State& state) {
  bench::allocate_and_release(
      state, kSizes, [](int n) { return getmem(n); }, [](void* p) { rlsmem(p); });
}
void BM_getmem_rlsmem_without_hooks(benchmark::State& state) {
  bench::allocate_and_release(
      state, kSizes, [](int n) { return nohooks_getmem(n); }, [](void* p) { nohooks_rlsmem(p); });
}

// Interleaved and repeated, so that both see the same machine load.
BENCHMARK(BM_getmem_rlsmem_hooks_off)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_getmem_rlsmem_without_hooks)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

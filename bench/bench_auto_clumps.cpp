// getmem/rlsmem of mixed sizes up to 2048 bytes with automatic clumps on, beside calloc/free.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "runtime/mem/clump.h"
#include "runtime/mem/mem.h"
#include "bench/support/alloc_batch.h"

namespace {

constexpr int kSizes[] = {8,   24, 16, 40,  64,  12, 100,  200,  32,  48,
                          256, 72, 20, 128, 500, 56, 2048, 1000, 700, 1536};
constexpr int kResident = 256;

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
  bench::allocate_and_release(
      state, kSizes, [](int n) { return getmem(n); }, [](void* p) { rlsmem(p); }, kResident);
}
void BM_calloc_free(benchmark::State& state) {
  bench::allocate_and_release(
      state, kSizes, [](int n) { return calloc(1, n); }, [](void* p) { free(p); }, kResident);
}

}  // namespace

BENCHMARK(BM_getmem_rlsmem_auto_clumps);
BENCHMARK(BM_calloc_free);

// vm_alloc/vmFree of random sizes from 1 to 4096 bytes in a 64 MiB segment beside malloc/free
// (and calloc/free, which also zero-fills as vm_alloc does).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>

#include "runtime/mem/vm.h"

namespace {

constexpr int kBatch = 64;
constexpr int kSizeCount = 4096;
constexpr int kSegmentSize = 320 + 64 * 1024 * 1024;

struct Sizes {
  int size[kSizeCount];
  int order[kBatch];  // release order of a batch
  Sizes() {
    std::mt19937 rng(7);
    for (int& s : size) s = 1 + (int)(rng() % 4096);
    for (int i = 0; i < kBatch; ++i) order[i] = i;
    for (int i = kBatch - 1; i > 0; --i) std::swap(order[i], order[rng() % (i + 1)]);
  }
};
const Sizes sizes;

void* segment() {
  static void* s = [] {
    void* p = aligned_alloc(16, kSegmentSize + 16);
    freopen("/dev/null", "w", stderr);  // the usage the format prints
    vm_format_segment(p, kSegmentSize);
    return p;
  }();
  return s;
}

template <class Allocate, class Release>
void allocate_and_release(benchmark::State& state, Allocate allocate, Release release) {
  void* blocks[kBatch];
  int next = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      blocks[i] = allocate(sizes.size[next]);
      next = (next + 1) % kSizeCount;
      static_cast<char*>(blocks[i])[0] = 1;
    }
    benchmark::DoNotOptimize(blocks);
    benchmark::ClobberMemory();
    for (int i = 0; i < kBatch; ++i) release(blocks[sizes.order[i]]);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_vm_alloc_vmFree(benchmark::State& state) {
  void* s = segment();
  allocate_and_release(
      state, [s](int n) { return vm_alloc(s, n); }, [s](void* p) { vmFree(s, p); });
}
void BM_malloc_free(benchmark::State& state) {
  allocate_and_release(
      state, [](int n) { return malloc(n); }, [](void* p) { free(p); });
}
void BM_calloc_free(benchmark::State& state) {
  allocate_and_release(
      state, [](int n) { return calloc(1, n); }, [](void* p) { free(p); });
}

BENCHMARK(BM_vm_alloc_vmFree);
BENCHMARK(BM_malloc_free);
BENCHMARK(BM_calloc_free);

}  // namespace

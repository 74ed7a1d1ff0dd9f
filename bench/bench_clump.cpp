// Objects of one size from a registered clump beside malloc/free, with and without the same
// fills (zeroed when taken, 0xFF when given back).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/mem/clump.h"
#include "runtime/mem/mem.h"

namespace {

constexpr int kSize = 56;
constexpr int kBatch = 64;
constexpr int kResident = 256;

// Takes a batch of objects, touches each, then releases the even ones and then the odd ones, on
// top of a resident population that lives through the whole run (a pool is used while objects of
// its kind live; without any, each batch would make and give back a whole clump).
template <class Allocate, class Release>
void take_and_release(benchmark::State& state, Allocate allocate, Release release) {
  void* objects[kBatch];
  void* resident[kResident];
  for (int i = 0; i < kResident; ++i) resident[i] = allocate();
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      objects[i] = allocate();
      static_cast<char*>(objects[i])[0] = 1;
    }
    benchmark::DoNotOptimize(objects);
    benchmark::ClobberMemory();
    for (int i = 0; i < kBatch; i += 2) release(objects[i]);
    for (int i = 1; i < kBatch; i += 2) release(objects[i]);
  }
  for (int i = 0; i < kResident; ++i) release(resident[i]);
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_clump_getmem_rlsmem(benchmark::State& state) {
  static const int id = register_clump("bench", kSize);
  take_and_release(
      state, [] { return clump_getmem(id); }, [](void* p) { rlsmem(p); });
}
void BM_malloc_fills_free(benchmark::State& state) {
  take_and_release(
      state,
      [] {
        void* p = malloc(kSize);
        memset(p, 0, kSize);
        return p;
      },
      [](void* p) {
        memset(p, 0xFF, kSize);
        free(p);
      });
}
void BM_malloc_free(benchmark::State& state) {
  take_and_release(
      state, [] { return malloc(kSize); }, [](void* p) { free(p); });
}

}  // namespace

BENCHMARK(BM_clump_getmem_rlsmem);
BENCHMARK(BM_malloc_fills_free);
BENCHMARK(BM_malloc_free);

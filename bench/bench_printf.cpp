// kel_sprintf beside snprintf, the formatter a user would pick instead, on the runtime's most
// common message format and on a line of three reals.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include "runtime/text/kel_printf.h"

namespace {

void BM_kel_sprintf_message(benchmark::State& state) {
  char out[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(kel_sprintf(out, "%s:  %s\n", "xar_delete", "invalid request"));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_kel_sprintf_message);

void BM_snprintf_message(benchmark::State& state) {
  char out[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        snprintf(out, sizeof out, "%s:  %s\n", "xar_delete", "invalid request"));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_snprintf_message);

void BM_kel_sprintf_reals(benchmark::State& state) {
  char out[256];
  double x = 1.25, y = -372.0625, z = 98765.4321;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kel_sprintf(out, "%9.3f %9.3f %9.3f", x, y, z));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_kel_sprintf_reals);

void BM_snprintf_reals(benchmark::State& state) {
  char out[256];
  double x = 1.25, y = -372.0625, z = 98765.4321;
  for (auto _ : state) {
    benchmark::DoNotOptimize(snprintf(out, sizeof out, "%9.3f %9.3f %9.3f", x, y, z));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_snprintf_reals);

}  // namespace

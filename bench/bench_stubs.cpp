// A bound host call stub against a direct call of the same host function through a function
// pointer, and the host function look-up over a table of all host functions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "binding/host_binding.h"
#include "binding/host_stubs.h"

namespace {

constexpr int32_t kHandle = 77;

// The host function: small, and never inlined into either caller.
[[gnu::noinline]] int32_t host_name_get(int32_t handle, uint32_t component, uint32_t type, uint32_t name) {
  benchmark::ClobberMemory();
  return handle + static_cast<int32_t>(component ^ type ^ name);
}
[[gnu::noinline]] int32_t host_other(int32_t) { return 0; }

const char* const kSymbols[] = {
#define KEL_HOST_FN(name, words) #name "_v",
#include "binding/host_functions.def"
};

// All host symbols, sorted as the host hands them over; KelAsmcompMdlNameGet_v is the timed one.
struct HostTable {
  std::vector<KelHostFunctionEntry> entries;
  HostTable() {
    for (const char* symbol : kSymbols) {
      void* function = std::string(symbol) == "KelAsmcompMdlNameGet_v" ? reinterpret_cast<void*>(&host_name_get)
                                                                        : reinterpret_cast<void*>(&host_other);
      entries.push_back({function, symbol});
    }
    std::sort(entries.begin(), entries.end(),
              [](const KelHostFunctionEntry& a, const KelHostFunctionEntry& b) { return std::string(a.name) < b.name; });
  }
  void install() {
    kel_binding.context_handle = kHandle;
    kel_binding.table = entries.data();
    kel_binding.table_count = static_cast<int32_t>(entries.size());
  }
};

HostTable& host_table() {
  static HostTable table;
  return table;
}

void BM_BoundStubCall(benchmark::State& state) {
  host_table().install();
  int component = 0, name = 0;
  KelAsmcompMdlNameGet(&component, 2, &name);  // binds
  for (auto _ : state) benchmark::DoNotOptimize(KelAsmcompMdlNameGet(&component, 2, &name));
}
BENCHMARK(BM_BoundStubCall);

void BM_DirectCallThroughPointer(benchmark::State& state) {
  int component = 0, name = 0;
  int32_t (*function)(int32_t, uint32_t, uint32_t, uint32_t) = &host_name_get;
  for (auto _ : state) {
    benchmark::DoNotOptimize(function);  // the compiler may not assume which function it is
    benchmark::DoNotOptimize(function(kHandle, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&component)), 2,
                                      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&name))));
  }
}
BENCHMARK(BM_DirectCallThroughPointer);

void BM_HostFunctionFind(benchmark::State& state) {
  host_table().install();
  const size_t count = sizeof kSymbols / sizeof kSymbols[0];
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(host_function_find(kSymbols[next]));
    next = next + 1 == count ? 0 : next + 1;
  }
  state.SetLabel(std::to_string(count) + " entries");
}
BENCHMARK(BM_HostFunctionFind);

}  // namespace

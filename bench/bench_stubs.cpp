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

// The host functions, never inlined into either caller. The empty one makes the comparison as
// harsh as it gets; the other keeps a record of the call, as a host at least looks at its words.
[[gnu::noinline]] int32_t host_empty(int32_t handle, uint32_t component, uint32_t type,
                                     uint32_t name) {
  benchmark::ClobberMemory();
  return handle + static_cast<int32_t>(component ^ type ^ name);
}

struct CallRecord {
  int32_t handle;
  uint32_t words[3];
  uint32_t count;
};
CallRecord last_call;

[[gnu::noinline]] int32_t host_recording(int32_t handle, uint32_t component, uint32_t type,
                                         uint32_t name) {
  last_call = {handle, {component, type, name}, last_call.count + 1};
  benchmark::ClobberMemory();
  return type == 2 ? 0 : -1;
}

using HostFunction = int32_t (*)(int32_t, uint32_t, uint32_t, uint32_t);
[[gnu::noinline]] int32_t host_other(int32_t) { return 0; }

const char* const kSymbols[] = {
#define KEL_HOST_FN(name, words) #name "_v",
#include "binding/host_functions.def"
};

// All host symbols, sorted as the host hands them over. Two 3-word stubs are timed:
// KelAsmcompMdlNameGet against the empty host function, KelAsmcompTypeGet against the recording
// one.
struct HostTable {
  std::vector<KelHostFunctionEntry> entries;
  HostTable() {
    for (const char* symbol : kSymbols) {
      void* function = reinterpret_cast<void*>(&host_other);
      if (std::string(symbol) == "KelAsmcompMdlNameGet_v")
        function = reinterpret_cast<void*>(&host_empty);
      if (std::string(symbol) == "KelAsmcompTypeGet_v")
        function = reinterpret_cast<void*>(&host_recording);
      entries.push_back({function, symbol});
    }
    std::sort(entries.begin(), entries.end(),
              [](const KelHostFunctionEntry& a, const KelHostFunctionEntry& b) {
                return std::string(a.name) < b.name;
              });
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

using Stub = KelError (*)(KelWord, KelWord, KelWord);

template <Stub stub>
void BM_BoundStubCall(benchmark::State& state) {
  host_table().install();
  int component = 0, name = 0;
  stub(&component, 2, &name);  // binds
  for (auto _ : state) benchmark::DoNotOptimize(stub(&component, 2, &name));
}

template <HostFunction host>
void BM_DirectCallThroughPointer(benchmark::State& state) {
  int component = 0, name = 0;
  HostFunction function = host;
  for (auto _ : state) {
    benchmark::DoNotOptimize(function);  // the compiler may not assume which function it is
    benchmark::DoNotOptimize(
        function(kHandle, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&component)), 2,
                 static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&name))));
  }
}

BENCHMARK_TEMPLATE(BM_BoundStubCall, KelAsmcompMdlNameGet)->Name("BM_BoundStubCall/empty_host");
BENCHMARK_TEMPLATE(BM_DirectCallThroughPointer, host_empty)
    ->Name("BM_DirectCallThroughPointer/empty_host");
BENCHMARK_TEMPLATE(BM_BoundStubCall, KelAsmcompTypeGet)->Name("BM_BoundStubCall/recording_host");
BENCHMARK_TEMPLATE(BM_DirectCallThroughPointer, host_recording)
    ->Name("BM_DirectCallThroughPointer/recording_host");

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

// Time and process services beside the peers a user would pick instead: calendar seconds of a
// time record against the C library's universal-time conversion (timegm) of the same fields, a
// host-name look-up answered from the cache (the shortcut and an alias hit), and
// kel_system_call of a trivial command against system().
#define _TIME_BITS        64
#define _FILE_OFFSET_BITS 64
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "runtime/sys/exec.h"
#include "runtime/sys/hostname.h"
#include "runtime/time/ptime.h"

namespace {

// 1,024 records spread over 1970-2100.
std::vector<ptime> records() {
  std::vector<ptime> out;
  for (int i = 0; i < 1024; i++) {
    const int64_t s = (int64_t)i * 4001221 + 7;
    ptime p;
    ptime_from_seconds(&p, s);
    out.push_back(p);
  }
  return out;
}

void BM_PtimeToSeconds(benchmark::State& state) {
  const std::vector<ptime> r = records();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ptime_to_seconds(&r[i]));
    i = (i + 1) & 1023;
  }
}
BENCHMARK(BM_PtimeToSeconds);

void BM_Timegm(benchmark::State& state) {
  const std::vector<ptime> r = records();
  size_t i = 0;
  for (auto _ : state) {
    struct tm t = {};
    t.tm_sec = r[i].seconds, t.tm_min = r[i].minutes, t.tm_hour = r[i].hours;
    t.tm_mday = r[i].day, t.tm_mon = r[i].month, t.tm_year = r[i].year;
    benchmark::DoNotOptimize(timegm(&t));
    i = (i + 1) & 1023;
  }
}
BENCHMARK(BM_Timegm);

void BM_HostShortcut(benchmark::State& state) {
  kel_gethostbyname("localhost");
  for (auto _ : state) benchmark::DoNotOptimize(kel_gethostbyname("localhost"));
}
BENCHMARK(BM_HostShortcut);

// Two cached names in turn: every call searches the cache.
void BM_HostCacheHit(benchmark::State& state) {
  const char* names[2] = {"localhost", "127.0.0.1"};
  kel_gethostbyname(names[0]);
  kel_gethostbyname(names[1]);
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(kel_gethostbyname(names[i ^= 1]));
}
BENCHMARK(BM_HostCacheHit);

void BM_KelSystemCall(benchmark::State& state) {
  int status = 0;
  for (auto _ : state) benchmark::DoNotOptimize(kel_system_call(&status, 1, "exit %d", 0));
}
BENCHMARK(BM_KelSystemCall)->Unit(benchmark::kMicrosecond);

void BM_System(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(system("exit 0"));
}
BENCHMARK(BM_System)->Unit(benchmark::kMicrosecond);

}  // namespace

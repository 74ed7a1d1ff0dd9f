// The tolcmp command against numdiff on two 50 MB files of numeric rows, the second with small
// perturbations inside the tolerances, whole process time for each in the same run. "speedup"
// is numdiff's time over tolcmp's; MB/s counts one file's bytes per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/program.h"

namespace {

namespace fs = std::filesystem;

constexpr double kAbs = 1e-6, kRel = 1e-4;
constexpr size_t kFileBytes = 50u << 20;

fs::path work_dir() { return fs::temp_directory_path() / "csyslist_bench_tolcmp"; }

// Rows of eight numbers (reals in fixed and exponent notation, integers); the second file's
// reals moved by a tenth of the tolerance. Written once and kept.
void make_files(const fs::path& a, const fs::path& b) {
  if (fs::exists(a) && fs::exists(b) && fs::file_size(a) >= kFileBytes) return;
  fs::create_directories(work_dir());
  FILE* fa = std::fopen(a.string().c_str(), "wb");
  FILE* fb = std::fopen(b.string().c_str(), "wb");
  std::mt19937 random(50);
  std::uniform_real_distribution<double> value(
      1, 1000);  // the absolute bound holds at these magnitudes
  size_t written = 0;
  while (written < kFileBytes) {
    for (int i = 0; i < 8; ++i) {
      const char* end = i == 7 ? "\n" : " ";
      if (i == 0) {
        const int n = (int)(random() % 100000);
        written += (size_t)std::fprintf(fa, "%d%s", n, end);
        std::fprintf(fb, "%d%s", n, end);
        continue;
      }
      const double x = value(random) * (random() % 2 ? 1 : -1), y = x + 0.1 * kAbs;
      const char* format = i % 2 ? "%.9f%s" : "%.12e%s";
      written += (size_t)std::fprintf(fa, format, x, end);
      std::fprintf(fb, format, y, end);
    }
  }
  std::fclose(fa);
  std::fclose(fb);
}

fs::path tolcmp_path() {
  char program[1024];
  if (platform_program_path(program, sizeof program) == 0) return {};
  return fs::path(program).parent_path().parent_path() /
         "tolcmp";  // build/<dir>/bench/.. = build/<dir>
}

double tolcmp_seconds = 0;

// Times `command` (whole process) once per iteration; its exit status must be 0.
void time_command(benchmark::State& state, const std::string& command, double* mean) {
  const fs::path a = work_dir() / "a.txt", b = work_dir() / "b.txt";
  make_files(a, b);
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    if (status != 0) {
      state.SkipWithError(("failed: " + command).c_str());
      return;
    }
    total += seconds;
  }
  *mean = total / static_cast<double>(state.iterations());
  state.counters["MB/s"] = static_cast<double>(fs::file_size(a)) / 1e6 / *mean;
}

void BM_Tolcmp50MB(benchmark::State& state) {
  const fs::path tolcmp = tolcmp_path();
  if (!fs::exists(tolcmp)) {
    state.SkipWithError("tolcmp is not built beside the benchmarks");
    return;
  }
  char options[96];
  std::snprintf(options, sizeof options, " --quiet --report /dev/null --abs %g --rel %g ", kAbs,
                kRel);
  time_command(state,
               "\"" + tolcmp.string() + "\"" + options + (work_dir() / "a.txt").string() + " " +
                   (work_dir() / "b.txt").string(),
               &tolcmp_seconds);
}
BENCHMARK(BM_Tolcmp50MB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_Numdiff50MB(benchmark::State& state) {
  if (std::system("numdiff --version > /dev/null 2>&1") != 0) {
    state.SkipWithError("numdiff is not installed (Debian package numdiff)");
    return;
  }
  char options[96];
  std::snprintf(options, sizeof options, "numdiff -q -2 -a %g -r %g ", kAbs, kRel);
  double numdiff_seconds = 0;
  time_command(state,
               options + (work_dir() / "a.txt").string() + " " + (work_dir() / "b.txt").string(),
               &numdiff_seconds);
  if (tolcmp_seconds > 0 && numdiff_seconds > 0)
    state.counters["speedup"] = numdiff_seconds / tolcmp_seconds;
}
BENCHMARK(BM_Numdiff50MB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

// The tolcmp command against numdiff on two 16.5 MB files of four-column scientific numbers, the
// second with small perturbations inside the tolerances, whole process time for each in the same
// run. "speedup" is numdiff's time over tolcmp's; MB/s counts one file's bytes per second. The
// unordered comparison runs on 100,000 such lines against the same lines shuffled and perturbed
// (numdiff has no unordered mode), and on 100,000 lines of a grid "i j k value" and of rows
// with three constant columns.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/program.h"

namespace {

namespace fs = std::filesystem;

constexpr double kAbs = 1e-6, kRel = 1e-4;
constexpr size_t kFileBytes = 16500000;
constexpr int kUnorderedLines = 100000;

fs::path work_dir() { return fs::temp_directory_path() / "csyslist_bench_tolcmp"; }

// A row of four reals from 1e-2 to 1e6 in exponent notation, and the same row moved inside both
// tolerances.
void make_row(std::mt19937& random, std::string* a, std::string* b) {
  std::uniform_real_distribution<double> unit(-1, 1);
  char text[32];
  for (int i = 0; i < 4; ++i) {
    const double x = 1000 * unit(random) * std::pow(10.0, (int)(random() % 6) - 2);
    const double y = x + std::min(std::fabs(x) * 1e-5, 0.5 * kAbs) * unit(random);
    std::snprintf(text, sizeof text, "%.15e", x);
    *a += (i ? " " : "") + std::string(text);
    std::snprintf(text, sizeof text, "%.15e", y);
    *b += (i ? " " : "") + std::string(text);
  }
  *a += "\n";
  *b += "\n";
}

void write_file(const fs::path& name, const std::string& text) {
  FILE* f = std::fopen(name.string().c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// Written once and kept.
void make_files(const fs::path& a, const fs::path& b) {
  if (fs::exists(a) && fs::exists(b) && fs::file_size(a) >= kFileBytes) return;
  fs::create_directories(work_dir());
  std::mt19937 random(50);
  std::string ta, tb;
  while (ta.size() < kFileBytes) make_row(random, &ta, &tb);
  write_file(a, ta);
  write_file(b, tb);
}

// The unordered files: rows of four random reals (layout 'u'), a grid "i j k value" whose first
// three columns take 47 values each ('g'), or rows "1.0 2.0 3.0 value" ('c'); the second file
// holds the same rows shuffled and moved inside the tolerances.
void make_unordered_files(const fs::path& a, const fs::path& b, char layout) {
  if (fs::exists(a) && fs::exists(b)) return;
  fs::create_directories(work_dir());
  std::mt19937 random(23);
  std::vector<std::string> rows_a(kUnorderedLines), rows_b(kUnorderedLines);
  for (int i = 0; i < kUnorderedLines; ++i) {
    std::string value_a, value_b;
    make_row(random, &value_a, &value_b);
    if (layout == 'u') {
      rows_a[i] = value_a;
      rows_b[i] = value_b;
      continue;
    }
    // One value of the row, after the leading columns.
    value_a = value_a.substr(0, value_a.find(' ')) + "\n";
    value_b = value_b.substr(0, value_b.find(' ')) + "\n";
    const std::string lead = layout == 'g'
                                 ? std::to_string(i % 47) + " " + std::to_string(i / 47 % 47) +
                                       " " + std::to_string(i / 2209) + " "
                                 : "1.0 2.0 3.0 ";
    rows_a[i] = lead + value_a;
    rows_b[i] = lead + value_b;
  }
  std::shuffle(rows_b.begin(), rows_b.end(), random);
  std::string ta, tb;
  for (int i = 0; i < kUnorderedLines; ++i) ta += rows_a[i], tb += rows_b[i];
  write_file(a, ta);
  write_file(b, tb);
}

fs::path tolcmp_path() {
  char program[1024];
  if (platform_program_path(program, sizeof program) == 0) return {};
  return fs::path(program).parent_path().parent_path() /
         "tolcmp";  // build/<dir>/bench/.. = build/<dir>
}

double tolcmp_seconds = 0;

// Times `command` (whole process) on a.txt and b.txt once per iteration; its exit status must be 0.
void time_command(benchmark::State& state, const std::string& command, double* mean,
                  const char* a_name = "a.txt", const char* b_name = "b.txt") {
  const fs::path a = work_dir() / a_name, b = work_dir() / b_name;
  if (a_name[1] == 'a')  // "ua.txt", "ga.txt", "ca.txt": an unordered layout
    make_unordered_files(a, b, a_name[0]);
  else
    make_files(a, b);
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system((command + " " + a.string() + " " + b.string()).c_str());
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

std::string tolcmp_command(const char* extra) {
  char options[128];
  std::snprintf(options, sizeof options, " --quiet --report /dev/null --abs %g --rel %g %s", kAbs,
                kRel, extra);
  return "\"" + tolcmp_path().string() + "\"" + options;
}

void BM_Tolcmp16MB(benchmark::State& state) {
  if (!fs::exists(tolcmp_path())) {
    state.SkipWithError("tolcmp is not built beside the benchmarks");
    return;
  }
  time_command(state, tolcmp_command(""), &tolcmp_seconds);
}
BENCHMARK(BM_Tolcmp16MB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_Numdiff16MB(benchmark::State& state) {
  if (std::system("numdiff --version > /dev/null 2>&1") != 0) {
    state.SkipWithError("numdiff is not installed (Debian package numdiff)");
    return;
  }
  char options[96];
  std::snprintf(options, sizeof options, "numdiff -q -2 -a %g -r %g", kAbs, kRel);
  double numdiff_seconds = 0;
  time_command(state, options, &numdiff_seconds);
  if (tolcmp_seconds > 0 && numdiff_seconds > 0)
    state.counters["speedup"] = numdiff_seconds / tolcmp_seconds;
}
BENCHMARK(BM_Numdiff16MB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// 100,000 lines: random rows, a grid "i j k value", rows whose first three columns are constant.
void BM_TolcmpUnordered100kLines(benchmark::State& state, const char* file_a, const char* file_b) {
  if (!fs::exists(tolcmp_path())) {
    state.SkipWithError("tolcmp is not built beside the benchmarks");
    return;
  }
  double seconds = 0;
  time_command(state, tolcmp_command("--unordered"), &seconds, file_a, file_b);
}
BENCHMARK_CAPTURE(BM_TolcmpUnordered100kLines, random, "ua.txt", "ub.txt")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TolcmpUnordered100kLines, grid, "ga.txt", "gb.txt")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TolcmpUnordered100kLines, constant_columns, "ca.txt", "cb.txt")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

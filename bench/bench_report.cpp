// The CsysList report on a generated assembly of 10,000 components (three levels, one matching
// csys each), run end to end by the real mirax on the real module; beside it, the report's
// pieces written the way the command writes them (the file opened and closed for each piece)
// and through one open stream, which gives the share of the run spent opening and closing.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/program.h"

namespace {

namespace fs = std::filesystem;

// 16 units x 24 modules x 25 pins: 16 + 384 + 9,600 = 10,000 components.
constexpr int kUnits = 16, kModules = 24, kPins = 25;
constexpr int kComponents = kUnits + kUnits * kModules + kUnits * kModules * kPins;
static_assert(kComponents == 10000);

fs::path work_dir() { return fs::temp_directory_path() / "csyslist_bench_report"; }

std::string frame(int a, int b, int c) {
  return "\"origin\": [" + std::to_string(a) + ", " + std::to_string(b) + ", " + std::to_string(c) +
         "], \"x\": [0, 1, 0], \"y\": [-1, 0, 0]";
}

std::string components(const char* model, int count, int step) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += std::string(i ? ", " : "") + "{ \"model\": \"" + model + "\", " + frame(i * step, i, 0) +
           " }";
  return out;
}

// Writes the model; returns its path.
fs::path model_file() {
  fs::create_directories(work_dir());
  const fs::path path = work_dir() / "assembly_10000.json";
  std::ofstream out(path);
  out << "{ \"top\": \"PLANT\", \"models\": {\n"
      << "\"PLANT\": { \"type\": \"assembly\", \"csys\": [ { \"name\": \"REF\", " << frame(5, -5, 2)
      << " } ], \"components\": [ " << components("UNIT", kUnits, 1000) << " ] },\n"
      << "\"UNIT\": { \"type\": \"assembly\", \"csys\": [ { \"name\": \"Mount\", " << frame(1, 2, 3)
      << " } ], \"components\": [ " << components("MODULE", kModules, 40) << " ] },\n"
      << "\"MODULE\": { \"type\": \"assembly\", \"csys\": [ { \"name\": \"MOUNT\", "
      << frame(0, 0, 1) << " } ], \"components\": [ " << components("PIN", kPins, 2) << " ] },\n"
      << "\"PIN\": { \"type\": \"part\", \"csys\": [ { \"name\": \"Axis\", " << frame(0, 0, 0)
      << " }, { \"name\": \"mount\", " << frame(0, 1, 0) << " } ] } } }\n";
  return path;
}

fs::path mirax_path() {
  char program[1024];
  if (platform_program_path(program, sizeof program) == 0) return {};
  return fs::path(program).parent_path().parent_path() /
         "mirax";  // build/<dir>/bench/.. = build/<dir>
}

// The pieces the command writes for the generated model, in order: per component the end of the
// previous row, level, name and kind, then the four value groups of its matching csys.
std::vector<std::string> report_pieces() {
  std::vector<std::string> pieces = {
      " Csys Name(Original) = ", "REF ", " \n",
      "\nLebel Name  Type  Tx   Ty   Tz   x1   x2   x3   y1   y2   y3   z1   z2   z3\n"};
  const std::string group = "   12.000   -34.000     5.000 ";
  auto component = [&](const char* level, const char* name, const char* kind) {
    for (const std::string& piece :
         {std::string(" \n"), std::string(level) + " ", std::string(name) + " ",
          std::string(kind) + " ", group, group, group, group})
      pieces.push_back(piece);
  };
  for (int u = 0; u < kUnits; ++u) {
    component("1", "UNIT", "ASSEMBLY");
    for (int m = 0; m < kModules; ++m) {
      component("2", "MODULE", "ASSEMBLY");
      for (int p = 0; p < kPins; ++p) component("3", "PIN", "PART");
    }
  }
  return pieces;
}

// Mean seconds of the whole mirax run and of the piece-by-piece writing, for the share.
double run_seconds = 0, open_each_seconds = 0;

void BM_MiraxReport10000(benchmark::State& state) {
  const fs::path mirax = mirax_path();
  if (!fs::exists(mirax)) {
    state.SkipWithError("mirax is not built beside the benchmarks");
    return;
  }
  const fs::path model = model_file();
  const std::string command = "\"" + mirax.string() + "\" --model \"" + model.string() +
                              "\" --name mount --reference REF --dir \"" + work_dir().string() +
                              "\" > /dev/null";
  double slowest = 0, total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    if (status != 0) {
      state.SkipWithError("mirax failed");
      return;
    }
    slowest = std::max(slowest, seconds);
    total += seconds;
  }
  run_seconds = total / static_cast<double>(state.iterations());
  state.counters["components"] = kComponents;
  state.counters["us_per_component"] = run_seconds / kComponents * 1e6;
  state.counters["slowest_s"] = slowest;
  state.counters["under_2s"] = slowest < 2.0 ? 1 : 0;
}
BENCHMARK(BM_MiraxReport10000)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Each piece appended by opening the file in mode "a", writing and closing it: as the command does.
void BM_ReportPiecesOpenEach(benchmark::State& state) {
  const auto pieces = report_pieces();
  const std::string path = (work_dir() / "pieces_open_each.txt").string();
  fs::create_directories(work_dir());
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    std::fclose(std::fopen(path.c_str(), "w"));
    for (const auto& piece : pieces) {
      FILE* f = std::fopen(path.c_str(), "a");
      std::fputs(piece.c_str(), f);
      std::fclose(f);
    }
  }
  open_each_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
      static_cast<double>(state.iterations());
  state.counters["pieces"] = static_cast<double>(pieces.size());
}
BENCHMARK(BM_ReportPiecesOpenEach)->Iterations(5)->Unit(benchmark::kMillisecond);

// The same pieces through one open stream; the difference to the loop above is the cost of
// opening and closing the file once per piece.
void BM_ReportPiecesOneStream(benchmark::State& state) {
  const auto pieces = report_pieces();
  const std::string path = (work_dir() / "pieces_one_stream.txt").string();
  fs::create_directories(work_dir());
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "w");
    for (const auto& piece : pieces) std::fputs(piece.c_str(), f);
    std::fclose(f);
  }
  const double one_stream_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
      static_cast<double>(state.iterations());
  state.counters["pieces"] = static_cast<double>(pieces.size());
  if (run_seconds > 0 && open_each_seconds > 0) {
    state.counters["open_close_s"] = open_each_seconds - one_stream_seconds;
    state.counters["open_close_share_of_run"] =
        (open_each_seconds - one_stream_seconds) / run_seconds;
  }
}
BENCHMARK(BM_ReportPiecesOneStream)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

// mirax on STEP assemblies of 10,000, 50,000 and 100,000 instances, each written out
// (sub-assemblies of 99 pins each, a named csys in the pin): the whole mirax run (load and report)
// beside OCCT alone reading the 10,000-instance file into an XCAF document (STEPCAFControl_Reader),
// each in a process of its own so that both peaks of memory are measured alike. The time per 1,000
// instances shows whether mirax grows linearly.
#include <benchmark/benchmark.h>

#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <TDocStd_Document.hxx>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/program.h"
#include "step_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPins = 99;  // per sub-assembly: each sub-assembly and its pins are 100 instances

fs::path work_dir() { return fs::temp_directory_path() / "csyslist_bench_step"; }

fs::path model_file(int instances) {
  const int count = instances / (kPins + 1);
  const fs::path path = work_dir() / ("assembly_" + std::to_string(instances) + ".step");
  if (fs::exists(path)) return path;
  fs::create_directories(work_dir());
  stepgen::Writer w(false);
  const int pin = w.product("PIN", {{"mount", stepgen::turned({0, 0, 1}, 90, {0, 1, 0})}});
  std::vector<int> subs;
  for (int s = 0; s < count; ++s) {
    subs.push_back(w.product("SUB" + std::to_string(s), {}));
    for (int i = 0; i < kPins; ++i)
      w.use(subs.back(), pin, stepgen::turned({1, 0, 1}, i, {2.0 * i, 1.0 * s, 0}));
  }
  const int plant = w.product("PLANT", {});
  for (int s = 0; s < count; ++s)
    w.use(plant, subs[static_cast<size_t>(s)], stepgen::turned({0, 0, 1}, s, {1000.0 * s, 0, 0}));
  w.save(path.string());
  return path;
}

struct ChildRun {
  double seconds = 0;
  double cpu_seconds = 0;  // user and system: less sensitive to a busy machine than the wall time
  double peak_mib = 0;
  bool ok = false;
};

// Runs `body` in a forked process; its wall time, peak resident memory and whether it exited 0.
ChildRun in_child(const std::function<int()>& body) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  rusage usage{};
  const bool waited = pid > 0 && wait4(pid, &status, 0, &usage) == pid;
  ChildRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
  run.ok = waited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

double occt_seconds = 0, occt_cpu_seconds = 0;

void report(benchmark::State& state, const std::function<int()>& body, int instances, bool occt) {
  double total = 0, cpu = 0, peak = 0;
  for (auto _ : state) {
    const ChildRun run = in_child(body);
    if (!run.ok) {
      state.SkipWithError("the run failed");
      return;
    }
    state.SetIterationTime(run.seconds);
    total += run.seconds;
    cpu += run.cpu_seconds;
    peak = std::max(peak, run.peak_mib);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["instances"] = instances;
  state.counters["peak_MiB"] = peak;
  state.counters["cpu_s"] = cpu / n;
  state.counters["cpu_ms_per_1000"] = cpu / n * 1000 * 1000 / instances;
  if (occt) {
    occt_seconds = total / n;
    occt_cpu_seconds = cpu / n;
  } else if (occt_seconds > 0 && instances == 10000) {
    state.counters["occt_read_times_slower"] = occt_seconds / (total / n);
    state.counters["occt_read_cpu_times_more"] = occt_cpu_seconds / (cpu / n);
  }
}

void BM_OcctReadStep10000(benchmark::State& state) {
  const std::string file = model_file(10000).string();
  report(
      state,
      [&] {
        Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
        Handle(TDocStd_Document) doc = new TDocStd_Document("XmlXCAF");
        STEPCAFControl_Reader reader;
        return reader.ReadFile(file.c_str()) == IFSelect_RetDone && reader.Transfer(doc) ? 0 : 1;
      },
      10000, true);
}
BENCHMARK(BM_OcctReadStep10000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_MiraxStepReport(benchmark::State& state) {
  const int instances = static_cast<int>(state.range(0));
  char program[1024];
  const fs::path mirax = platform_program_path(program, sizeof program) > 0
                             ? fs::path(program).parent_path().parent_path() / "mirax"
                             : fs::path();  // build/<dir>/bench/.. = build/<dir>
  const std::string file = model_file(instances).string(), dir = work_dir().string();
  const std::string path = mirax.string();
  report(
      state,
      [&] {
        if (!freopen("/dev/null", "w", stdout)) return 1;
        execl(path.c_str(), path.c_str(), "--model", file.c_str(), "--name", "mount",
              "--no-reference", "--dir", dir.c_str(), static_cast<char*>(nullptr));
        return 1;
      },
      instances, false);
}
BENCHMARK(BM_MiraxStepReport)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

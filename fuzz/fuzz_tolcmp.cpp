// Splits the input into two files and runs the three tolerance comparisons on them. The first
// byte picks the blank check, loose numbers and the tolerances; the next two the split point.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "runtime/tolcmp/tolcmp.h"

namespace {

struct Workspace {
  std::string a, b, report;
  Workspace() {
    const auto dir =
        std::filesystem::temp_directory_path() / ("fuzz_tolcmp_" + std::to_string(rand()));
    std::filesystem::create_directories(dir);
    a = (dir / "a.txt").string();
    b = (dir / "b.txt").string();
    report = (dir / "dbgfile.dat").string();
    tolerance_report_file_set(report.c_str());
    tolerance_console_set(0);
  }
};

void write(const std::string& name, const uint8_t* data, size_t size) {
  FILE* f = fopen(name.c_str(), "wb");
  if (!f) abort();
  fwrite(data, 1, size, f);
  fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Workspace work;
  if (size < 3) return 0;
  const int flags = data[0];
  const size_t rest = size - 3;
  const size_t split = ((size_t)data[1] | (size_t)data[2] << 8) % (rest + 1);
  write(work.a, data + 3, split);
  write(work.b, data + 3 + split, rest - split);
  const double tolerances[4] = {0.0, 1e-6, 1e-3, 2.5};
  const double abs_eps = tolerances[(flags >> 2) & 3], rel_eps = tolerances[(flags >> 4) & 3];
  const int results[3] = {tolerance_compare_files(work.a.c_str(), work.b.c_str(), flags & 1,
                                                  (flags >> 1) & 1, abs_eps, rel_eps),
                          tolerance_compare_unordered(work.a.c_str(), work.b.c_str(), flags & 1,
                                                      (flags >> 1) & 1, abs_eps, rel_eps),
                          tolerance_compare_layout(work.a.c_str(), work.b.c_str())};
  for (int r : results)
    if (r != 0 && r != 1) abort();  // both files exist: 9 would be a fault
  // A file always equals itself, whatever it holds.
  if (tolerance_compare_files(work.a.c_str(), work.a.c_str(), flags & 1, (flags >> 1) & 1, 1e-6,
                              1e-3) != 0)
    abort();
  remove(work.report.c_str());
  return 0;
}

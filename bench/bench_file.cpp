// The portable file records beside the C library's streams with the same buffer size: writing
// and then reading a 64 MiB binary file in 64-byte and 64 KiB pieces, the same for a text file
// of short lines, and the highest version of a file in a directory of 10,000 entries.
// Files live in a folder of the system's temporary folder, removed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/file/pfu.h"
#include "runtime/version/version.h"

namespace {

constexpr int kFileBytes = 64 << 20;
constexpr int kBufferSize = 64 << 10;

struct Folder {
  std::filesystem::path path;
  Folder() {
    path = std::filesystem::temp_directory_path() /
           ("bench_file_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(path);
  }
  ~Folder() { std::filesystem::remove_all(path); }
  std::string file(const char* name) const { return (path / name).string(); }
};

Folder& folder() {
  static Folder f;
  return f;
}

// Text pieces: lines of 40 bytes ending in LF.
std::vector<char> piece(int size, bool text) {
  std::vector<char> data((size_t)size);
  for (int i = 0; i < size; ++i)
    data[(size_t)i] = text ? (i % 40 == 39 ? '\n' : (char)('a' + i % 26)) : (char)(i * 31);
  return data;
}

void BM_PfuWriteRead(benchmark::State& state) {
  const int size = (int)state.range(0);
  const bool text = state.range(1) != 0;
  const std::vector<char> data = piece(size, text);
  std::vector<char> in((size_t)size);
  const std::string name = folder().file("pfu.dat");
  const int kind = text ? PFU_Text : PFU_Binary;
  for (auto _ : state) {
    PF_File_Ptr file = nullptr;
    pfu_fopen(name.c_str(), 6, kind, kBufferSize, &file);
    for (int done = 0; done < kFileBytes; done += size) pfu_fwrite(file, size, data.data());
    pfu_fclose(&file);
    pfu_fopen(name.c_str(), 1, kind, kBufferSize, &file);
    int got = 0;
    while (pfu_fread(file, size, &got, in.data()) == PFU_SUCCESS)
      benchmark::DoNotOptimize(in.data());
    pfu_fclose(&file);
  }
  state.SetBytesProcessed(state.iterations() * 2LL * kFileBytes);
}

void BM_StdioWriteRead(benchmark::State& state) {
  const int size = (int)state.range(0);
  const bool text = state.range(1) != 0;
  const std::vector<char> data = piece(size, text);
  std::vector<char> in((size_t)size);
  const std::string name = folder().file("stdio.dat");
  for (auto _ : state) {
    FILE* file = fopen(name.c_str(), text ? "w" : "wb");
    setvbuf(file, nullptr, _IOFBF, kBufferSize);
    for (int done = 0; done < kFileBytes; done += size) fwrite(data.data(), 1, (size_t)size, file);
    fclose(file);
    file = fopen(name.c_str(), text ? "r" : "rb");
    setvbuf(file, nullptr, _IOFBF, kBufferSize);
    while (fread(in.data(), 1, (size_t)size, file) > 0) benchmark::DoNotOptimize(in.data());
    fclose(file);
  }
  state.SetBytesProcessed(state.iterations() * 2LL * kFileBytes);
}

void BM_HighestVersion10000(benchmark::State& state) {
  const std::filesystem::path dir = folder().path / "versions";
  if (!std::filesystem::exists(dir)) {
    std::filesystem::create_directories(dir);
    for (int i = 1; i <= 10000; ++i) {
      // Half the entries are versions of the file, half are other names.
      const std::string name =
          i % 2 ? "part.abc." + std::to_string(i) : "other" + std::to_string(i) + ".abc";
      fclose(fopen((dir / name).string().c_str(), "w"));
    }
  }
  std::string path = (dir / "part.abc").string();
  for (char& c : path)
    if (c == '/') c = '\\';
  const std::u16string wide(path.begin(), path.end());
  for (auto _ : state) benchmark::DoNotOptimize(kel_get_highest_version(wide.c_str()));
}

}  // namespace

BENCHMARK(BM_PfuWriteRead)
    ->Args({64, 0})
    ->Args({65536, 0})
    ->Args({64, 1})
    ->Args({65536, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_StdioWriteRead)
    ->Args({64, 0})
    ->Args({65536, 0})
    ->Args({64, 1})
    ->Args({65536, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_HighestVersion10000)->Unit(benchmark::kMillisecond);

// strtows / wstostr of 1 MiB of text in each regime beside one whole-buffer iconv call
// (the platform's conversion) on the same text. "ratio" is our time over iconv's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"

namespace {

struct Regime {
  int code;
  int cp;  // what iconv converts with
  const char16_t* sample;
};

const Regime kRegimes[] = {
    {LANG_CODE_USASCII, KEL_CP_WESTERN, u"Caf\u00e9 cr\u00e8me, na\u00efve \u00fcber \u20ac 42. "},
    {LANG_CODE_RUSSIAN, KEL_CP_CYRILLIC,
     u"\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440! "},
    {LANG_CODE_JAPANESE, KEL_CP_EUC_JP,
     u"\u65e5\u672c\u8a9e\u306e\u6587\u7ae0\u3068\uff83\uff7d\uff84 abc "},
    {LANG_CODE_KOREAN, KEL_CP_KOREAN, u"\ud55c\uae00 \ubb38\uc7a5\uc785\ub2c8\ub2e4. "},
    {LANG_CODE_CHINESE_TW, KEL_CP_TRADITIONAL_CHINESE, u"\u7e41\u9ad4\u4e2d\u6587\u6587\u7ae0 "},
    {LANG_CODE_CHINESE_CN, KEL_CP_SIMPLIFIED_CHINESE, u"\u7b80\u4f53\u4e2d\u6587\u6587\u7ae0 "},
};

constexpr size_t kTextBytes = 1 << 20;

struct Texts {
  std::u16string wide;
  std::string bytes;
};

// About 1 MiB of 8-bit text made of the sample, and its wide form.
Texts make_texts(const Regime& r) {
  lang_code_set(r.code);
  std::u16string sample = r.sample;
  std::string sample_bytes(4 * sample.size() + 1, '\0');
  wstostr(sample_bytes.data(), sample.c_str());
  sample_bytes.resize(strlen(sample_bytes.c_str()));
  Texts t;
  while (t.bytes.size() + sample_bytes.size() <= kTextBytes) {
    t.bytes += sample_bytes;
    t.wide += sample;
  }
  return t;
}

using Clock = std::chrono::steady_clock;

template <typename Ours, typename Peer>
void run_pair(benchmark::State& state, Ours ours, Peer peer, size_t bytes) {
  double ours_s = 0, peer_s = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    ours();
    auto t1 = Clock::now();
    peer();
    auto t2 = Clock::now();
    ours_s += std::chrono::duration<double>(t1 - t0).count();
    peer_s += std::chrono::duration<double>(t2 - t1).count();
  }
  state.counters["ours_MiB/s"] =
      benchmark::Counter(static_cast<double>(bytes) * state.iterations() / ours_s / (1 << 20));
  state.counters["iconv_MiB/s"] =
      benchmark::Counter(static_cast<double>(bytes) * state.iterations() / peer_s / (1 << 20));
  state.counters["ratio"] = ours_s / peer_s;
}

void BM_strtows(benchmark::State& state) {
  const Regime& r = kRegimes[state.range(0)];
  Texts t = make_texts(r);
  std::vector<kel_wchar> out(t.bytes.size() + 1);
  state.SetLabel(lang_name_from_code(r.code));
  run_pair(
      state, [&] { benchmark::DoNotOptimize(strtows(out.data(), t.bytes.c_str())); },
      [&] {
        benchmark::DoNotOptimize(
            platform_codepage_to_wide(r.cp, t.bytes.data(), static_cast<int>(t.bytes.size()),
                                      out.data(), static_cast<int>(out.size())));
      },
      t.bytes.size());
}

void BM_wstostr(benchmark::State& state) {
  const Regime& r = kRegimes[state.range(0)];
  Texts t = make_texts(r);
  std::vector<char> out(4 * t.wide.size() + 1);
  state.SetLabel(lang_name_from_code(r.code));
  run_pair(
      state, [&] { benchmark::DoNotOptimize(wstostr(out.data(), t.wide.c_str())); },
      [&] {
        benchmark::DoNotOptimize(
            platform_codepage_from_wide(r.cp, t.wide.data(), static_cast<int>(t.wide.size()),
                                        out.data(), static_cast<int>(out.size())));
      },
      t.bytes.size());
}

}  // namespace

BENCHMARK(BM_strtows)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_wstostr)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

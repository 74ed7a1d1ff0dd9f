// A recording host: one host function per row of host_functions.def, each taking exactly the
// words its stub forwards (plus the directory for the rows that add one), and a host function
// table built from them. Used inside the module's tests and by test hosts that load the module.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "binding/host_binding.h"

namespace recording_host {

enum class Kind { plain, no_result, truth, text_dir, menus_dir, gtolleaders_free, bare_name };

struct Row {
  const char* name;
  int words;
  Kind kind;
};

inline constexpr Row rows[] = {
#define KEL_HOST_FN(name, words)                  {#name, words, Kind::plain},
#define KEL_HOST_FN_VOID(name, words)             {#name, words, Kind::no_result},
#define KEL_HOST_FN_TRUTH(name, words)            {#name, words, Kind::truth},
#define KEL_HOST_FN_TEXT_DIR(name, words)         {#name, words, Kind::text_dir},
#define KEL_HOST_FN_MENUS_DIR(name, words)        {#name, words, Kind::menus_dir},
#define KEL_HOST_FN_GTOLLEADERS_FREE(name, words) {#name, words, Kind::gtolleaders_free},
#define KEL_HOST_FN_BARE_NAME(name, words)        {#name, words, Kind::bare_name},
#include "binding/host_functions.def"
};
inline constexpr size_t row_count = sizeof rows / sizeof rows[0];

constexpr bool adds_directory(Kind kind) {
  return kind == Kind::text_dir || kind == Kind::menus_dir;
}
constexpr int host_words(size_t row) {
  return rows[row].words + (adds_directory(rows[row].kind) ? 1 : 0);
}

// One call that reached the host.
struct Call {
  size_t row;
  int32_t handle;
  std::vector<uint32_t> words;
};

inline std::vector<Call> calls;
// What each row's host function returns; 1000 + row unless a test says otherwise.
inline std::array<int32_t, row_count> results = [] {
  std::array<int32_t, row_count> r{};
  for (size_t i = 0; i < row_count; ++i) r[i] = 1000 + static_cast<int32_t>(i);
  return r;
}();

template <size_t R, class Seq>
struct Recorder;
template <size_t R, size_t... I>
struct Recorder<R, std::index_sequence<I...>> {
  static int32_t call(int32_t handle, decltype(I, uint32_t{})... words) {
    calls.push_back({R, handle, {words...}});
    return results[R];
  }
};

template <size_t... R>
std::array<void*, row_count> make_recorders(std::index_sequence<R...>) {
  return {reinterpret_cast<void*>(&Recorder<R, std::make_index_sequence<host_words(R)>>::call)...};
}
inline const std::array<void*, row_count> recorders =
    make_recorders(std::make_index_sequence<row_count>{});

// A host function table over some rows (all by default), sorted as the host sorts it.
class Table {
 public:
  explicit Table(const std::vector<size_t>& which = all_rows()) {
    for (size_t row : which) add(std::string(rows[row].name) + "_v", recorders[row]);
  }
  void add(std::string name, void* function) {
    names_.push_back(std::move(name));
    functions_.push_back(function);
    entries_.clear();
  }
  // Sorted entries; valid until the next add().
  const std::vector<KelHostFunctionEntry>& entries() {
    if (!entries_.empty() || names_.empty()) return entries_;
    std::vector<size_t> order(names_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return names_[a] < names_[b]; });
    for (size_t i : order) entries_.push_back({functions_[i], names_[i].c_str()});
    return entries_;
  }
  static std::vector<size_t> all_rows() {
    std::vector<size_t> r(row_count);
    for (size_t i = 0; i < row_count; ++i) r[i] = i;
    return r;
  }

 private:
  std::vector<std::string> names_;
  std::vector<void*> functions_;
  std::vector<KelHostFunctionEntry> entries_;
};

// One hand-shake as a host makes it, with a context handle and marked words in the places the
// module keeps without reading.
struct HandShake {
  static constexpr int32_t kHandle = 0x0BADF00D;
  const char* release = "21";
  const char* build = "2002100";
  const char* text_root = "";
  int32_t language = 0;
  const KelHostFunctionEntry* table = nullptr;
  int32_t count = 0;
  kel_wchar* message = nullptr;

  // Calls the module linked into the test program, or the entry point of a loaded one.
  int32_t run(KelInitializeFn* initialize = user_initialize_plus) const {
    return initialize(reinterpret_cast<void*>(0x11), reinterpret_cast<void*>(0x22), release, build,
                      nullptr, message, text_root, reinterpret_cast<void*>(0x88),
                      "second host string", kHandle, reinterpret_cast<void*>(0xBB), table, count,
                      language);
  }
  HandShake& with(Table& t) {
    const auto& entries = t.entries();
    table = entries.data();
    count = static_cast<int32_t>(entries.size());
    return *this;
  }
};

inline size_t row_of(const char* name) {
  for (size_t i = 0; i < row_count; ++i)
    if (std::string(rows[i].name) == name) return i;
  return row_count;
}

}  // namespace recording_host

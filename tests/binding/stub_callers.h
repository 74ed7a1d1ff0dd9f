// Calls any stub by its row of host_functions.def, and installs a recording host's table in
// the binding record. For tests linked with the module's objects.
#pragma once
#include "binding/host_stubs.h"
#include "recording_host.h"

namespace recording_host {

// Calls row `row`'s stub with words w[0..words-1]; gives kNoResult for the rows without one.
inline constexpr int64_t kNoResult = INT64_MIN;
using Caller = int64_t (*)(const uint32_t* w);
#define KEL_TEST_ARGS_0
#define KEL_TEST_ARGS_1  w[0]
#define KEL_TEST_ARGS_2  KEL_TEST_ARGS_1, w[1]
#define KEL_TEST_ARGS_3  KEL_TEST_ARGS_2, w[2]
#define KEL_TEST_ARGS_4  KEL_TEST_ARGS_3, w[3]
#define KEL_TEST_ARGS_5  KEL_TEST_ARGS_4, w[4]
#define KEL_TEST_ARGS_6  KEL_TEST_ARGS_5, w[5]
#define KEL_TEST_ARGS_7  KEL_TEST_ARGS_6, w[6]
#define KEL_TEST_ARGS_8  KEL_TEST_ARGS_7, w[7]
#define KEL_TEST_ARGS_9  KEL_TEST_ARGS_8, w[8]
#define KEL_TEST_ARGS_10 KEL_TEST_ARGS_9, w[9]
#define KEL_TEST_ARGS_11 KEL_TEST_ARGS_10, w[10]
#define KEL_TEST_ARGS_12 KEL_TEST_ARGS_11, w[11]
#define KEL_TEST_ARGS_13 KEL_TEST_ARGS_12, w[12]
inline const Caller callers[] = {
#define KEL_HOST_FN(name, words)        \
  +[](const uint32_t* w) -> int64_t {   \
    (void)w;                            \
    return name(KEL_TEST_ARGS_##words); \
  },
#define KEL_HOST_FN_VOID(name, words) \
  +[](const uint32_t* w) -> int64_t { \
    (void)w;                          \
    name(KEL_TEST_ARGS_##words);      \
    return kNoResult;                 \
  },
// The typed calls are called through their words: every parameter is one word.
#define KEL_HOST_FN_TYPED(name, words)                              \
  +[](const uint32_t* w) -> int64_t {                               \
    return reinterpret_cast<KelError (*)(KEL_STUB_PARAMS_##words)>( \
        reinterpret_cast<void*>(&name))(KEL_TEST_ARGS_##words);     \
  },
#define KEL_HOST_FN_TYPED_MENUS_DIR(name, words) KEL_HOST_FN_TYPED(name, words)
#include "binding/host_functions.def"
};
static_assert(sizeof callers / sizeof callers[0] == row_count);

// Makes `table` the binding record's host function table.
inline void install(Table& table, int32_t handle) {
  const auto& e = table.entries();
  kel_binding.context_handle = handle;
  kel_binding.table = e.data();
  kel_binding.table_count = static_cast<int32_t>(e.size());
}

}  // namespace recording_host

// The host call stubs, generated from host_functions.def.
//
// Each stub keeps its host function's address in its own cache. Once bound, a call costs one
// test of the cache and one indirect call with the context handle in front of the words; an
// unbound stub looks its symbol up on every call until the look-up succeeds.
#include "binding/host_stubs.h"

#include "binding/host_binding.h"
#include "runtime/diag/diag.h"

// The words as forwarded, and their types in the host function's signature.
#define KEL_STUB_ARGS_0
#define KEL_STUB_ARGS_1 , a1.bits
#define KEL_STUB_ARGS_2 KEL_STUB_ARGS_1, a2.bits
#define KEL_STUB_ARGS_3 KEL_STUB_ARGS_2, a3.bits
#define KEL_STUB_ARGS_4 KEL_STUB_ARGS_3, a4.bits
#define KEL_STUB_ARGS_5 KEL_STUB_ARGS_4, a5.bits
#define KEL_STUB_ARGS_6 KEL_STUB_ARGS_5, a6.bits
#define KEL_STUB_ARGS_7 KEL_STUB_ARGS_6, a7.bits
#define KEL_STUB_ARGS_8 KEL_STUB_ARGS_7, a8.bits
#define KEL_STUB_ARGS_9 KEL_STUB_ARGS_8, a9.bits
#define KEL_STUB_ARGS_10 KEL_STUB_ARGS_9, a10.bits
#define KEL_STUB_ARGS_11 KEL_STUB_ARGS_10, a11.bits
#define KEL_STUB_ARGS_12 KEL_STUB_ARGS_11, a12.bits
#define KEL_STUB_ARGS_13 KEL_STUB_ARGS_12, a13.bits
#define KEL_STUB_ARGS_14 KEL_STUB_ARGS_13, a14.bits

#define KEL_STUB_TYPES_0
#define KEL_STUB_TYPES_1 , uint32_t
#define KEL_STUB_TYPES_2 KEL_STUB_TYPES_1, uint32_t
#define KEL_STUB_TYPES_3 KEL_STUB_TYPES_2, uint32_t
#define KEL_STUB_TYPES_4 KEL_STUB_TYPES_3, uint32_t
#define KEL_STUB_TYPES_5 KEL_STUB_TYPES_4, uint32_t
#define KEL_STUB_TYPES_6 KEL_STUB_TYPES_5, uint32_t
#define KEL_STUB_TYPES_7 KEL_STUB_TYPES_6, uint32_t
#define KEL_STUB_TYPES_8 KEL_STUB_TYPES_7, uint32_t
#define KEL_STUB_TYPES_9 KEL_STUB_TYPES_8, uint32_t
#define KEL_STUB_TYPES_10 KEL_STUB_TYPES_9, uint32_t
#define KEL_STUB_TYPES_11 KEL_STUB_TYPES_10, uint32_t
#define KEL_STUB_TYPES_12 KEL_STUB_TYPES_11, uint32_t
#define KEL_STUB_TYPES_13 KEL_STUB_TYPES_12, uint32_t
#define KEL_STUB_TYPES_14 KEL_STUB_TYPES_13, uint32_t

namespace {

// Looks `symbol` up in the host function table and stores the result, found or not, in the
// cache. A miss is reported under `report_name` and is not remembered.
[[gnu::noinline, gnu::cold]] void* bind_host_function(void** cache, const char* symbol,
                                                      const char* report_name) {
  void* function = host_function_find(symbol);
  *cache = function;
  if (!function) dbg_err_crash(report_name, "couldn't find pointer to Mirax-side function");
  return function;
}

// The bound address in the cache, binding it first when the cache is empty; null on a miss.
template <class Function>
inline Function bound(void*& cache, const char* symbol, const char* report_name) {
  void* function = cache;
  if (__builtin_expect(function == nullptr, 0))
    function = bind_host_function(&cache, symbol, report_name);
  return reinterpret_cast<Function>(function);
}

}  // namespace

// Host function signatures: the handle, the words, and for some a directory after them.
#define KEL_STUB_HOST(words) int32_t (*)(int32_t KEL_STUB_TYPES_##words)
#define KEL_STUB_HOST_DIR(words) int32_t (*)(int32_t KEL_STUB_TYPES_##words, const char*)
#define KEL_STUB_CALL(fn, words) fn(kel_binding.context_handle KEL_STUB_ARGS_##words)

// Forwards and returns the host's status; -1 when unbound.
#define KEL_HOST_FN(name, words)                                                   \
  KelError name(KEL_STUB_PARAMS_##words) {                                         \
    static void* cache;                                                            \
    auto fn = bound<KEL_STUB_HOST(words)>(cache, #name "_v", #name "_v");          \
    if (!fn) return KEL_TK_GENERAL_ERROR;                                          \
    return KEL_STUB_CALL(fn, words);                                               \
  }

// Same, but an unbound stub names itself without the suffix.
#define KEL_HOST_FN_BARE_NAME(name, words)                                         \
  KelError name(KEL_STUB_PARAMS_##words) {                                         \
    static void* cache;                                                            \
    auto fn = bound<KEL_STUB_HOST(words)>(cache, #name "_v", #name);               \
    if (!fn) return KEL_TK_GENERAL_ERROR;                                          \
    return KEL_STUB_CALL(fn, words);                                               \
  }

// Calls the host and returns nothing.
#define KEL_HOST_FN_VOID(name, words)                                              \
  void name(KEL_STUB_PARAMS_##words) {                                             \
    static void* cache;                                                            \
    auto fn = bound<KEL_STUB_HOST(words)>(cache, #name "_v", #name "_v");          \
    if (!fn) return;                                                               \
    KEL_STUB_CALL(fn, words);                                                      \
  }

// Returns the host's truth value; false when unbound.
#define KEL_HOST_FN_TRUTH(name, words)                                             \
  int name(KEL_STUB_PARAMS_##words) {                                              \
    static void* cache;                                                            \
    auto fn = bound<KEL_STUB_HOST(words)>(cache, #name "_v", #name "_v");          \
    if (!fn) return 0;                                                             \
    return KEL_STUB_CALL(fn, words);                                               \
  }

// The host finds the plug-in's message and label files in the text directory, passed last.
#define KEL_HOST_FN_TEXT_DIR(name, words)                                          \
  KelError name(KEL_STUB_PARAMS_##words) {                                         \
    static void* cache;                                                            \
    auto fn = bound<KEL_STUB_HOST_DIR(words)>(cache, #name "_v", #name "_v");      \
    if (!fn) return KEL_TK_GENERAL_ERROR;                                          \
    return fn(kel_binding.context_handle KEL_STUB_ARGS_##words,                    \
              kel_binding.text_directory);                                         \
  }

// The host finds the plug-in's menu files in the menus directory, passed last.
#define KEL_HOST_FN_MENUS_DIR(name, words)                                         \
  KelError name(KEL_STUB_PARAMS_##words) {                                         \
    static void* cache;                                                            \
    auto fn = bound<KEL_STUB_HOST_DIR(words)>(cache, #name "_v", #name "_v");      \
    if (!fn) return KEL_TK_GENERAL_ERROR;                                          \
    return fn(kel_binding.context_handle KEL_STUB_ARGS_##words,                    \
              kel_binding.menus_directory);                                        \
  }

// The host frees the leaders; on success the array holding them is freed too.
#define KEL_HOST_FN_GTOLLEADERS_FREE(name, words)                                  \
  static_assert(words == 1, #name " frees the one array it is given");             \
  KelError name(KEL_STUB_PARAMS_##words) {                                         \
    static void* cache;                                                            \
    auto fn = bound<KEL_STUB_HOST(words)>(cache, #name "_v", #name "_v");          \
    if (!fn) return KEL_TK_GENERAL_ERROR;                                          \
    KelError status = KEL_STUB_CALL(fn, words);                                    \
    return status == KEL_TK_NO_ERROR ? KelArrayFree(a1) : status;                  \
  }

#include "binding/host_functions.def"

// The host's termination entry takes the context handle as its only argument.
KelError KelPlusTerminate(void) {
  static void* cache;
  auto fn = bound<int32_t (*)(int32_t)>(cache, "kel_term_plus", "kel_term_plus");
  if (!fn) return KEL_TK_GENERAL_ERROR;
  return fn(kel_binding.context_handle);
}

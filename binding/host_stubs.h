// The host call stubs (one per row of host_functions.def) and the toolkit calls of the binding
// layer that are carried out in the plug-in. Applications call all of them like host functions.
//
// A stub `KelX` taking n words forwards (host context handle, a1 ... an) to the host function
// "KelX_v", binding it by name on first use. Arguments are KelWord, so callers pass 32-bit
// integers, pointers, function pointers and nullptr directly; a 64-bit value is passed as two
// words and a 12-byte record as three. In C a word is a uint32_t (a pointer is passed through
// uintptr_t) and the typed calls of host_calls.h take their arguments as in C++.
#pragma once
#include "binding/kel_error.h"
#include "binding/host_binding.h"
#include "binding/host_records.h"
#include "binding/kel_word.h"

#ifdef __cplusplus
// Each row's number of words, by name, for the typed calls' checks.
namespace kel_stub::row_words {
enum : int {
#define KEL_HOST_FN(name, words) name = words,
#include "binding/host_functions.def"
};
}  // namespace kel_stub::row_words
#endif

// Parameter lists of 0 to 14 words, shared by the declarations and the stub definitions.
#define KEL_STUB_PARAMS_0  void
#define KEL_STUB_PARAMS_1  KelWord a1
#define KEL_STUB_PARAMS_2  KEL_STUB_PARAMS_1, KelWord a2
#define KEL_STUB_PARAMS_3  KEL_STUB_PARAMS_2, KelWord a3
#define KEL_STUB_PARAMS_4  KEL_STUB_PARAMS_3, KelWord a4
#define KEL_STUB_PARAMS_5  KEL_STUB_PARAMS_4, KelWord a5
#define KEL_STUB_PARAMS_6  KEL_STUB_PARAMS_5, KelWord a6
#define KEL_STUB_PARAMS_7  KEL_STUB_PARAMS_6, KelWord a7
#define KEL_STUB_PARAMS_8  KEL_STUB_PARAMS_7, KelWord a8
#define KEL_STUB_PARAMS_9  KEL_STUB_PARAMS_8, KelWord a9
#define KEL_STUB_PARAMS_10 KEL_STUB_PARAMS_9, KelWord a10
#define KEL_STUB_PARAMS_11 KEL_STUB_PARAMS_10, KelWord a11
#define KEL_STUB_PARAMS_12 KEL_STUB_PARAMS_11, KelWord a12
#define KEL_STUB_PARAMS_13 KEL_STUB_PARAMS_12, KelWord a13
#define KEL_STUB_PARAMS_14 KEL_STUB_PARAMS_13, KelWord a14

#ifdef __cplusplus

// The stubs are defined inline, so that a bound call costs the caller one test of the cached
// address and one indirect call; every stub is also emitted into the module (host_stubs.cpp).
// The words as forwarded, and their types in the host function's signature.
#define KEL_STUB_ARGS_0
#define KEL_STUB_ARGS_1  , a1.bits
#define KEL_STUB_ARGS_2  KEL_STUB_ARGS_1, a2.bits
#define KEL_STUB_ARGS_3  KEL_STUB_ARGS_2, a3.bits
#define KEL_STUB_ARGS_4  KEL_STUB_ARGS_3, a4.bits
#define KEL_STUB_ARGS_5  KEL_STUB_ARGS_4, a5.bits
#define KEL_STUB_ARGS_6  KEL_STUB_ARGS_5, a6.bits
#define KEL_STUB_ARGS_7  KEL_STUB_ARGS_6, a7.bits
#define KEL_STUB_ARGS_8  KEL_STUB_ARGS_7, a8.bits
#define KEL_STUB_ARGS_9  KEL_STUB_ARGS_8, a9.bits
#define KEL_STUB_ARGS_10 KEL_STUB_ARGS_9, a10.bits
#define KEL_STUB_ARGS_11 KEL_STUB_ARGS_10, a11.bits
#define KEL_STUB_ARGS_12 KEL_STUB_ARGS_11, a12.bits
#define KEL_STUB_ARGS_13 KEL_STUB_ARGS_12, a13.bits
#define KEL_STUB_ARGS_14 KEL_STUB_ARGS_13, a14.bits

#define KEL_STUB_TYPES_0
#define KEL_STUB_TYPES_1  , uint32_t
#define KEL_STUB_TYPES_2  KEL_STUB_TYPES_1, uint32_t
#define KEL_STUB_TYPES_3  KEL_STUB_TYPES_2, uint32_t
#define KEL_STUB_TYPES_4  KEL_STUB_TYPES_3, uint32_t
#define KEL_STUB_TYPES_5  KEL_STUB_TYPES_4, uint32_t
#define KEL_STUB_TYPES_6  KEL_STUB_TYPES_5, uint32_t
#define KEL_STUB_TYPES_7  KEL_STUB_TYPES_6, uint32_t
#define KEL_STUB_TYPES_8  KEL_STUB_TYPES_7, uint32_t
#define KEL_STUB_TYPES_9  KEL_STUB_TYPES_8, uint32_t
#define KEL_STUB_TYPES_10 KEL_STUB_TYPES_9, uint32_t
#define KEL_STUB_TYPES_11 KEL_STUB_TYPES_10, uint32_t
#define KEL_STUB_TYPES_12 KEL_STUB_TYPES_11, uint32_t
#define KEL_STUB_TYPES_13 KEL_STUB_TYPES_12, uint32_t
#define KEL_STUB_TYPES_14 KEL_STUB_TYPES_13, uint32_t

namespace kel_stub {

// Looks `symbol` up in the host function table and stores the result, found or not, in the
// cache. A miss is reported under `report_name` and is not remembered. Out of line and cold:
// it runs once per stub.
KEL_COLD void* bind_host_function(void** cache, const char* symbol, const char* report_name);

// The bound address in the cache, binding it first when the cache is empty; null on a miss.
template <class Function>
inline Function bound(void*& cache, const char* symbol, const char* report_name) {
  void* function = cache;
  if (KEL_UNLIKELY(function == nullptr)) function = bind_host_function(&cache, symbol, report_name);
  return reinterpret_cast<Function>(function);
}

}  // namespace kel_stub

// Host function signatures: the handle, the words, and for some a directory after them.
#define KEL_STUB_HOST(words)     int32_t (*)(int32_t KEL_STUB_TYPES_##words)
#define KEL_STUB_HOST_DIR(words) int32_t (*)(int32_t KEL_STUB_TYPES_##words, const char*)
#define KEL_STUB_CALL(fn, words) fn(kel_binding.context_handle KEL_STUB_ARGS_##words)
#define KEL_STUB_CALL_DIR(fn, words, dir) \
  fn(kel_binding.context_handle KEL_STUB_ARGS_##words, kel_binding.dir)

// The one stub shape every row kind below is made of: a stub `name` of `words` words returning
// `type`, bound through `signature`, reporting a miss under `report_name`; `unbound` is what it
// returns when unbound, `forward` the statement that calls the bound function `fn`.
#define KEL_STUB(type, name, words, signature, report_name, unbound, forward) \
  inline type name(KEL_STUB_PARAMS_##words) {                                 \
    static void* cache;                                                       \
    auto fn = kel_stub::bound<signature>(cache, #name "_v", report_name);     \
    if (!fn) return unbound;                                                  \
    forward;                                                                  \
  }

// Forwards and returns the host's status; -1 when unbound.
#define KEL_HOST_FN(name, words)                                                          \
  KEL_STUB(KelError, name, words, KEL_STUB_HOST(words), #name "_v", KEL_TK_GENERAL_ERROR, \
           return KEL_STUB_CALL(fn, words))

// Same, but an unbound stub names itself without the suffix.
#define KEL_HOST_FN_BARE_NAME(name, words)                                           \
  KEL_STUB(KelError, name, words, KEL_STUB_HOST(words), #name, KEL_TK_GENERAL_ERROR, \
           return KEL_STUB_CALL(fn, words))

// Calls the host and returns nothing.
#define KEL_HOST_FN_VOID(name, words) \
  KEL_STUB(void, name, words, KEL_STUB_HOST(words), #name "_v", , KEL_STUB_CALL(fn, words))

// Returns the host's truth value; false when unbound.
#define KEL_HOST_FN_TRUTH(name, words) \
  KEL_STUB(int, name, words, KEL_STUB_HOST(words), #name "_v", 0, return KEL_STUB_CALL(fn, words))

// The host finds the plug-in's message and label files in the text directory, passed last.
#define KEL_HOST_FN_TEXT_DIR(name, words)                                                     \
  KEL_STUB(KelError, name, words, KEL_STUB_HOST_DIR(words), #name "_v", KEL_TK_GENERAL_ERROR, \
           return KEL_STUB_CALL_DIR(fn, words, text_directory))

// The host finds the plug-in's menu files in the menus directory, passed last.
#define KEL_HOST_FN_MENUS_DIR(name, words)                                                    \
  KEL_STUB(KelError, name, words, KEL_STUB_HOST_DIR(words), #name "_v", KEL_TK_GENERAL_ERROR, \
           return KEL_STUB_CALL_DIR(fn, words, menus_directory))

// The host frees the leaders; on success the array holding them is freed too.
#define KEL_HOST_FN_GTOLLEADERS_FREE(name, words)                                         \
  static_assert(words == 1, #name " frees the one array it is given");                    \
  KEL_STUB(KelError, name, words, KEL_STUB_HOST(words), #name "_v", KEL_TK_GENERAL_ERROR, \
           KelError status = KEL_STUB_CALL(fn, words);                                    \
           return status == KEL_TK_NO_ERROR ? KelArrayFree(a1) : status)

#else
// In C the stubs are declared only: a C caller links to the module's copies (host_stubs.cpp),
// which behave as above. Every other row kind returns a status, as KEL_HOST_FN.
#define KEL_HOST_FN(name, words)       KelError name(KEL_STUB_PARAMS_##words);
#define KEL_HOST_FN_VOID(name, words)  void name(KEL_STUB_PARAMS_##words);
#define KEL_HOST_FN_TRUTH(name, words) int name(KEL_STUB_PARAMS_##words);
#endif

// The typed rows are defined with their types in host_calls.h.
#define KEL_HOST_FN_TYPED(name, words)
#define KEL_HOST_FN_TYPED_MENUS_DIR(name, words)

KEL_BEGIN_C

#include "binding/host_functions.def"

// Calls the host entry "kel_term_plus" with the host context handle as its only argument;
// -1 when the host has no such entry.
KelError KelPlusTerminate(void);

// Not supported inside a plug-in: each prints "function <name> is not supported" to the
// standard output. KelToolkitMain and KelEventProcess return the number of characters printed,
// KelMiraxStart returns KEL_TK_BAD_CONTEXT.
KelError KelToolkitMain(void);
KelError KelMiraxStart(void);
KelError KelEventProcess(void);

// Copy the text root directory / the second host string of the hand-shake, converted to wide
// text, into `buffer` (nothing happens when it is null). Return 0.
KelError KelApplTextRootGet(kel_wchar* buffer);
KelError KelApplPathGet(kel_wchar* buffer);

KEL_END_C

#include "binding/host_calls.h"

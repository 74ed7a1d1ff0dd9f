// The host call stubs' binding, and the module's copy of every stub.
//
// Each stub keeps its host function's address in its own cache. Once bound, a call costs one
// test of the cache and one indirect call with the context handle in front of the words; an
// unbound stub looks its symbol up on every call until the look-up succeeds.
#include "binding/host_stubs.h"

#include "binding/host_binding.h"
#include "runtime/diag/diag.h"

void* kel_stub::bind_host_function(void** cache, const char* symbol, const char* report_name) {
  void* function = host_function_find(symbol);
  *cache = function;
  if (!function) dbg_err_crash(report_name, "couldn't find pointer to Mirax-side function");
  return function;
}

// Taking every stub's address makes the module carry all of them, whether or not the module's
// own code calls them.
namespace {
[[gnu::used]] const void* const every_stub[] = {
#define KEL_HOST_FN(name, words) reinterpret_cast<const void*>(&name),
#include "binding/host_functions.def"
};
}  // namespace

// The host's termination entry takes the context handle as its only argument.
KelError KelPlusTerminate(void) {
  static void* cache;
  auto fn = kel_stub::bound<int32_t (*)(int32_t)>(cache, "kel_term_plus", "kel_term_plus");
  if (!fn) return KEL_TK_GENERAL_ERROR;
  return fn(kel_binding.context_handle);
}

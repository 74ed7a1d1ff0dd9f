// Toolkit calls about the way the plug-in runs, carried out inside the module.
#include "binding/host_binding.h"
#include "binding/host_stubs.h"
#include "binding/local_calls.h"
#include "runtime/text/kel_printf.h"

namespace {
int not_supported(const char* call) {
  return message_print("function %s is not supported\n", call);
}
}  // namespace

// A plug-in runs inside the host's own main loop: these belong to stand-alone programs.
KelError KelToolkitMain(void) { return not_supported("KelToolkitMain"); }

KelError KelMiraxStart(void) {
  not_supported("KelMiraxStart");
  return KEL_TK_BAD_CONTEXT;
}

KelError KelEventProcess(void) { return not_supported("KelEventProcess"); }

KelError KelApplTextRootGet(kel_wchar* buffer) {
  KelTextToWide(buffer, kel_binding.text_root ? kel_binding.text_root : "");
  return KEL_TK_NO_ERROR;
}

KelError KelApplPathGet(kel_wchar* buffer) {
  KelTextToWide(buffer, kel_binding.second_string ? kel_binding.second_string : "");
  return KEL_TK_NO_ERROR;
}

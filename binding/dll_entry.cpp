// The Windows library entry: turns off thread attach and detach notifications, and makes an
// exception that leaves the module uncaught say what it was. The module carries its own C++
// runtime, so such an exception cannot reach the host's handlers: it ends in this runtime's
// terminate handler, which raises it to the host as a structured exception naming it.
#if defined(_WIN32)
#include <stdio.h>

#include <exception>

#include "binding/exception_text.h"
#include "platform/exceptions.h"

extern "C" __declspec(dllimport) int __stdcall DisableThreadLibraryCalls(void* module);

namespace {

[[noreturn]] void raise_uncaught() {
  static char text[512];
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (...) {
      kel_describe_current_exception(text, sizeof text);
    }
  } else {
    snprintf(text, sizeof text, "std::terminate() called without an exception");
  }
  platform_raise_uncaught(text);
}

}  // namespace

extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* /*reserved*/) {
  const unsigned long process_attach = 1;
  if (reason == process_attach) {
    DisableThreadLibraryCalls(instance);
    std::set_terminate(raise_uncaught);
  }
  return 1;
}
#endif

// A plug-in that misbehaves in one way a button, for the bench's own test: each button's press
// must end mirax with its status and a message naming the button. "-CsysList" announces its
// report without writing it; "-Good" behaves (it keeps only a record whose release failed).
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "binding/host_records.h"
#include "binding/host_stubs.h"
#include "binding/plugin_hooks.h"

namespace {

struct PluginError : std::exception {
  const char* what() const noexcept override { return "the plug-in's own failure"; }
};

KelCsys top_csys() {
  KelMdl model = nullptr;
  KelCsys csys = nullptr;
  if (KelMdlCurrentGet(&model) != KEL_TK_NO_ERROR || KelCsysInit(model, 1, &csys) != 0) return {};
  return csys;
}

// Two records of the top csys; the first release fails when the run says so (--fail).
int release(bool retry_first, bool release_second) {
  const KelCsys csys = top_csys();
  KelGeomitemdata* first = nullptr;
  KelGeomitemdata* second = nullptr;
  if (KelCsysDataGet(csys, &first) != 0 || KelCsysDataGet(csys, &second) != 0) return 0;
  if (KelGeomitemdataFree(&first) != KEL_TK_NO_ERROR && retry_first) KelGeomitemdataFree(&first);
  if (release_second) KelGeomitemdataFree(&second);
  return 0;
}

KelError throwing_filter(KelCsys, void*) { throw std::runtime_error("a filter that throws"); }
KelError accept(KelCsys, KelError, void*) { return KEL_TK_NO_ERROR; }

using Action = int (*)();
struct Button {
  const char* name;
  Action action;
};
const Button kButtons[] = {
    {"-CsysList", [] { return 1; }},
    {"-Good", [] { return release(false, true); }},
    {"-ThrowOwn", []() -> int { throw PluginError(); }},
    {"-ThrowInt", []() -> int { throw 42; }},
    {"-Crash",
     [] {
       top_csys();
       // No memory is mapped at address 8 (a null pointer would be caught by the sanitizers).
       static volatile uintptr_t unmapped = 8;
       return *reinterpret_cast<volatile int*>(unmapped);
     }},
    {"-Abort", []() -> int { std::abort(); }},
    {"-Hang",
     []() -> int {
       for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(50));
     }},
    {"-Exit", []() -> int { std::exit(0); }},
    {"-LeakAfterRetry", [] { return release(true, false); }},
    {"-VisitThrow",
     [] {
       KelMdl model = nullptr;
       KelMdlCurrentGet(&model);
       return KelSolidCsysVisit(model, accept, throwing_filter, nullptr) == KEL_TK_NO_ERROR ? 1 : 0;
     }},
};

int press(void* button, int) { return static_cast<const Button*>(button)->action(); }

}  // namespace

int kel_app_initialize(void*, void*, const char*, const char*, kel_wchar*) {
  int menu_id = 0;
  KelError status = KelMenuFileRegister("assembly", "misbehave.mnu", &menu_id);
  for (const Button& button : kButtons)
    if (status == KEL_TK_NO_ERROR)
      status =
          KelMenubuttonActionSet("assembly", button.name, press, const_cast<Button*>(&button), 0);
  return status;
}

int kel_app_terminate(void) { return 0; }

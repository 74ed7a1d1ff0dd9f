// The exchangeable exit function and the exit handlers run once before a fatal exit.
#include <stdlib.h>

#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/xar/xar.h"

namespace {

constexpr int kHandlerGrowth = 3;

ozt_exit_fn exit_function = nullptr;
exit_handler_fn* exit_handlers = nullptr;  // xarray, newest first
bool exit_handlers_have_run = false;

}  // namespace

void set_ozt_exit_func(ozt_exit_fn function) {
  if (exit_function && !order_debug_level_is(0))
    report_info("set_ozt_exit_func", "ozt_exit_func already set!");
  exit_function = function;
}

int ozt_exit(int code) {
  if (exit_function) return exit_function(code);
  exit(code);
}

int exit_handler_add(exit_handler_fn function) {
  if (!function) {
    report_fatal("exit_handler_add", "null handler.");
    return 0;
  }
  if (!exit_handlers)
    exit_handlers = static_cast<exit_handler_fn*>(XAR_ALLOC(0, sizeof function, kHandlerGrowth));
  if (!exit_handlers) return 0;
  return xar_insert(&exit_handlers, 0, 1, &function) != nullptr;
}

int exit_handler_remove(exit_handler_fn function) {
  const int count = XAR_COUNT(&exit_handlers);
  for (int i = 0; i < count; ++i) {
    if (exit_handlers[i] == function) {
      xar_remove(&exit_handlers, i, 1);
      return 1;
    }
  }
  return 0;
}

int exit_handlers_run(int code) {
  if (exit_handlers_have_run) return 0;
  exit_handlers_have_run = true;
  // The list is taken over first, so handlers that add or remove entries cannot move it
  // under this loop; nothing added now would run anyway. It is detached, not released: the
  // process is ending, often because the memory chain is broken, and a release would stop it
  // a second time.
  exit_handler_fn* handlers = exit_handlers;
  exit_handlers = nullptr;
  const int count = XAR_COUNT(&handlers);
  for (int i = 0; i < count; ++i) handlers[i](code);
  return count;
}

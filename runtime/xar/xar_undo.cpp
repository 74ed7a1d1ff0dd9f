// Undo registrations on the innermost trap frame.
#include "runtime/xar/xar_undo.h"

#include "runtime/diag/trap.h"

namespace {

void run_undo(intptr_t fn, intptr_t arg, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
              intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
  reinterpret_cast<void (*)(void*)>(fn)(reinterpret_cast<void*>(arg));
}

}  // namespace

namespace kel::xar {

int undo_begin(void (*undo)(void* arg), void* arg) {
  intptr_t args[16] = {reinterpret_cast<intptr_t>(undo), reinterpret_cast<intptr_t>(arg)};
  return trap_cleanup_add(run_undo, args);
}

void undo_end(int registered) {
  if (registered) trap_cleanup_drop();
}

}  // namespace kel::xar

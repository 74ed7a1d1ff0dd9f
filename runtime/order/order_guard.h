// Undoing a routine's half-done work when a trap's jump leaves it (internal to runtime/order).
//
// A routine that holds scratch blocks or a busy slot across calls that may fire (allocations,
// caller callbacks) opens a guard before its first such call and closes it when the work is
// done. A fire that passes the routine runs the guard's undo function while the routine's frame
// is still on the stack, so the undo may read the routine's locals through `context`.
#pragma once
#include <stdint.h>
#include "runtime/diag/trap.h"

namespace kel::order {

struct Guard {
  void (*undo)(void* context);
  void* context;
  int armed;  // a cleanup is registered on the top trap frame
};

inline void guard_fire(intptr_t guard, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                       intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                       intptr_t, intptr_t) {
  Guard* g = reinterpret_cast<Guard*>(guard);
  g->undo(g->context);
}

// Without a trap frame no jump can leave the routine, and nothing is registered.
inline void guard_open(Guard* g, void (*undo)(void*), void* context) {
  g->undo = undo;
  g->context = context;
  g->armed = 0;
  const intptr_t args[16] = {reinterpret_cast<intptr_t>(g)};
  g->armed = trap_cleanup_add(guard_fire, args);
}

inline void guard_close(Guard* g) {
  if (g->armed) trap_cleanup_drop();
  g->armed = 0;
}

}  // namespace kel::order

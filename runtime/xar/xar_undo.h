// Undo on a memory break: work that takes several allocations registers what restores the state
// it started from, and drops it once every allocation has been made.
#pragma once

namespace kel::xar {

// Registers `undo(arg)` to run when a trap's jump passes the current trap frame. Returns 1 when
// registered, 0 when there is no frame (then no jump can leave the caller). May itself raise the
// memory break, so call it before the work changes anything.
int undo_begin(void (*undo)(void* arg), void* arg);
// Drops the registration made by undo_begin (when it returned 1) without running it.
void undo_end(int registered);

}  // namespace kel::xar

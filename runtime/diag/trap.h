// Recovery from serious errors by non-local jumps, the exchangeable exit function and the
// exit handlers.
//
// A routine that can survive a failure below it saves a jump buffer with setjmp and pushes a
// trap frame naming the error classes it handles (a bit mask):
//
//     jmp_buf resume;
//     if (setjmp(resume) == 0) {
//       trap_push(resume, 2);
//       ... guarded work, which may register cleanups on the frame ...
//       trap_pop();
//     } else {
//       trap_pop();          // a fire of class 2 came back here; the frame is still pushed
//       ... recover ...
//     }
//
// A fire runs the cleanups of every frame it passes, newest first, and jumps back with
// longjmp. The jump does not run C++ destructors: between the push and any call that may
// fire, the guarding function must not hold objects with non-trivial destructors (the jump
// would skip them, which is undefined), and locals it changes after setjmp and reads after
// the jump must be volatile. For the same reason there is no scope guard for frames: its
// destructor would be skipped by exactly the jump it guards. A frame must be popped before
// its routine returns.
#pragma once
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include "runtime/kel_base.h"

KEL_BEGIN_C
// Error classes raised by the runtime itself.
#define TRAP_CLASS_SERIOUS_ERROR 2   // error_break
#define TRAP_CLASS_WRITE_FAILED 8    // fputs_or_trap

// A cleanup receives the 16 words it was registered with.
typedef void (*trap_cleanup_fn)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                                intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                                intptr_t, intptr_t, intptr_t, intptr_t);

// Moves the trap context into a thread-local slot; prints the reason and keeps the
// process-wide context when the slot cannot be made. Called by the memory manager's start-up.
void init_trap_tls(void);

// Pushes a frame handling the classes in `mask`, with a copy of `buffer`. Returns 0.
int trap_push(jmp_buf buffer, uint32_t mask);
// Pops the top frame, dropping its cleanups unrun: 1, or 0 when there is no frame or a fire
// is running (a fire only lets go of frames pushed by its own cleanups).
int trap_pop(void);
// Raises class `code`: cleanups run newest first and control jumps to the innermost frame
// whose mask shares a bit with `code`. Returns 0 only when no frame takes it (or firing is
// disabled, another fire is running, or there is no frame).
int trap_fire(uint32_t code);
// Registers a cleanup on the top frame (args may be null for sixteen zeros): 1, or 0 when
// there is no frame or a fire is running.
int trap_cleanup_add(trap_cleanup_fn function, const intptr_t args[16]);
// Releases the newest cleanup of the top frame without running it: 1, or 0 when there is
// none or a fire is running.
int trap_cleanup_drop(void);
// Enables firing; a fire held back while disabled happens now.
void traps_enable(void);
void traps_disable(void);
int traps_enabled(void);
// Formats with kel_vsprintf and writes with fputs; the text's length. A failed format or
// write fires class 8 and returns what trap_fire returns.
int fputs_or_trap(FILE* stream, const char* format, ...);

// ---- Exit -----------------------------------------------------------------------------

typedef int (*ozt_exit_fn)(int code);
typedef void (*exit_handler_fn)(int code);

// Replaces the exit function (null restores the standard exit).
void set_ozt_exit_func(ozt_exit_fn function);
// The runtime's one way out: the exit function's result, or the standard exit with `code`.
int ozt_exit(int code);
// Adds a handler at the front: 1, or 0 when the list cannot be made or grown.
int exit_handler_add(exit_handler_fn function);
// Removes the first entry equal to `function`: 1, else 0.
int exit_handler_remove(exit_handler_fn function);
// Runs the handlers newest first with `code`, once per process; the number run (0 later).
int exit_handlers_run(int code);
KEL_END_C

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
// longjmp. Locals the guarding function changes after setjmp and reads after the jump must be
// volatile. A frame must be popped before its routine returns.
//
// The rule of every runtime frame. A jump does not run C++ destructors, so every frame that a
// jump may leave -- any frame between a trap frame and a call that may fire, which is every
// routine that allocates, formats or calls one that does -- holds only trivially destructible
// objects. What such a frame must undo when it is left is undone by the jump itself:
//   - heap scratch it owns is taken with trap_block_get and given back with
//     trap_block_release; a jump that leaves the frame releases it;
//   - a process-wide word that follows the call stack (a nesting depth, a busy flag) is
//     registered with trap_word_register, and a jump puts back the value it had when the
//     target frame was pushed;
//   - anything else is undone by a cleanup (trap_cleanup_add), or the work is ordered so that
//     nothing is half-done when a call fires: allocate first, then change shared data.
// For the same reason there are no scope guards for frames, locks or blocks in the runtime.
// The runtime_frame_rule test looks for destructors in the runtime's sources.
#pragma once
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include "platform/kel_base.h"

KEL_BEGIN_C
// Error classes raised by the runtime itself.
#define TRAP_CLASS_SERIOUS_ERROR 2  // error_break
#define TRAP_CLASS_WRITE_FAILED  8  // fputs_or_trap

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

// ---- State that a jump puts back --------------------------------------------------------

// Registers a process-wide word that follows the call stack: each frame pushed from now on
// remembers the word's value, and a jump back to the frame restores it (frames pushed before
// the registration restore the value the word had then). 1, or 0 when the 8 places are taken.
// Registering a word again changes nothing.
int trap_word_register(int* word);

// A heap block held by the calling frame: a jump that leaves the frame releases it. The record
// lives in the frame; trap_block_get takes the block (zero-filled, as getmem; out of memory
// fires as getmem does, leaving nothing held), trap_block_release gives it back. Between the
// two, cleanups added later must be dropped again before the release.
typedef struct trap_block {
  void* data;
  int guarded;  // a cleanup of the top frame releases the block if a jump leaves the frame
} trap_block;
void* trap_block_get(trap_block* held, int size);
void trap_block_release(trap_block* held);
// Ends the hold without releasing: the block now belongs where the caller puts it.
void* trap_block_keep(trap_block* held);

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

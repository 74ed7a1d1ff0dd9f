// Handles of processes and threads that can be waited on: threads started with an exit code,
// processes opened by id, termination, a zero wait, a wait for the first of several to end and
// their exit codes.
//
// Windows: thread and process handles (CreateThread, OpenProcess, WaitForMultipleObjects, which
// takes at most 64 handles). Linux: a process handle is a process descriptor (pidfd), a thread
// handle a record with an event descriptor that is signalled when the thread ends, so one poll
// waits for the first of several to end. A process that is not the caller's child has no exit
// code there; a child killed by a signal ends with 128 + the signal's number; a thread is
// terminated by cancellation (it ends at its next cancellation point, a sleep or a wait).
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
enum { PLATFORM_HANDLE_PROCESS = 1, PLATFORM_HANDLE_THREAD = 2 };

typedef int (*platform_thread_fn)(void* argument);

// 1 and the new thread's handle and id, or 0.
int platform_thread_create(platform_thread_fn function, void* argument, intptr_t* handle,
                           uint32_t* id);
// Ends the calling thread with `code`.
KEL_NORETURN void platform_thread_exit(int code);
// 1 and a handle of the process `pid` that can be waited on and terminated, or 0.
int platform_process_open(uint32_t pid, intptr_t* handle);
void platform_handle_close(int kind, intptr_t handle);
uint32_t platform_current_pid(void);
// Ends the process or thread with exit code -1 (see above for Linux); 1, or 0.
int platform_handle_terminate(int kind, intptr_t handle);
// Waits at most `milliseconds` (-1: no limit) for the first of `count` handles to be signalled
// (ended): its index (the lowest of those signalled), -2 on time-out, -1 on failure.
int platform_handle_wait_any(int count, const int* kinds, const intptr_t* handles,
                             int milliseconds);
// 1 and the exit code of an ended process or thread, or 0.
int platform_handle_exit_code(int kind, intptr_t handle, int* code);
KEL_END_C

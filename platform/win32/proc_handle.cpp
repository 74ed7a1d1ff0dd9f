#include "platform/proc_handle.h"

#include <stdlib.h>
#include <windows.h>

namespace {

// Synchronisation, termination and the standard rights, and the query right that reading the
// exit code needs.
constexpr DWORD kProcessAccess = 0x1F0001 | PROCESS_QUERY_LIMITED_INFORMATION;

struct Start {
  platform_thread_fn function;
  void* argument;
};

DWORD WINAPI thread_main(LPVOID data) {
  Start start = *static_cast<Start*>(data);
  free(data);
  return (DWORD)start.function(start.argument);
}

}  // namespace

int platform_thread_create(platform_thread_fn function, void* argument, intptr_t* handle,
                           uint32_t* id) {
  Start* start = static_cast<Start*>(malloc(sizeof(Start)));
  if (!start) return 0;
  *start = Start{function, argument};
  DWORD thread_id = 0;
  HANDLE thread = CreateThread(nullptr, 0, thread_main, start, 0, &thread_id);
  if (!thread) {
    free(start);
    return 0;
  }
  *handle = reinterpret_cast<intptr_t>(thread);
  *id = thread_id;
  return 1;
}

void platform_thread_exit(int code) { ExitThread((DWORD)code); }

int platform_process_open(uint32_t pid, intptr_t* handle) {
  HANDLE process = OpenProcess(kProcessAccess, FALSE, pid);
  if (!process) return 0;
  *handle = reinterpret_cast<intptr_t>(process);
  return 1;
}

void platform_handle_close(int, intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

uint32_t platform_current_pid(void) { return GetCurrentProcessId(); }

int platform_handle_terminate(int kind, intptr_t handle) {
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  return kind == PLATFORM_HANDLE_THREAD ? TerminateThread(h, (DWORD)-1) != 0
                                        : TerminateProcess(h, (UINT)-1) != 0;
}

int platform_handle_wait_any(int count, const int*, const intptr_t* handles, int milliseconds) {
  DWORD result = WaitForMultipleObjects((DWORD)count, reinterpret_cast<const HANDLE*>(handles),
                                        FALSE, milliseconds < 0 ? INFINITE : (DWORD)milliseconds);
  if (result == WAIT_TIMEOUT) return -2;
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + (DWORD)count)
    return (int)(result - WAIT_OBJECT_0);
  return -1;
}

int platform_handle_exit_code(int kind, intptr_t handle, int* code) {
  DWORD value = 0;
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  BOOL ok =
      kind == PLATFORM_HANDLE_THREAD ? GetExitCodeThread(h, &value) : GetExitCodeProcess(h, &value);
  if (!ok) return 0;
  *code = (int)value;
  return 1;
}

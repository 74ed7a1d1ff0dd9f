// Process records: handles of other processes and of threads.
#include "platform/proc_handle.h"
#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/shm/shm.h"

namespace {
intptr_t handle_of(const proc_record* record) { return (intptr_t)record->handle; }
}  // namespace

KEL_BEGIN_C

proc_record* thread_start(int kind, thread_function function, void* argument) {
  if (!function) {
    report_fatal("thread_start", "null function.");
    return nullptr;
  }
  if (kind == PROC_RECORD_PROCESS) crash();  // new processes are not started this way
  proc_record* record = static_cast<proc_record*>(getmem(sizeof(proc_record)));
  intptr_t handle;
  uint32_t id;
  if (!platform_thread_create(function, argument, &handle, &id)) {
    rlsmem(record);
    return nullptr;
  }
  *record = proc_record{PROC_RECORD_THREAD, (int32_t)id, (int32_t)handle};
  return record;
}

void thread_exit(int code) { platform_thread_exit(code); }

proc_record* proc_record_open(int pid) {
  proc_record* record = static_cast<proc_record*>(getmem(sizeof(proc_record)));
  intptr_t handle;
  if (!platform_process_open((uint32_t)pid, &handle)) {
    rlsmem(record);
    return nullptr;
  }
  *record = proc_record{PROC_RECORD_PROCESS, pid, (int32_t)handle};
  return record;
}

int process_exists(int pid) {
  proc_record* record = proc_record_open(pid);
  if (!record) return 0;
  proc_record_close(&record);
  return 1;
}

void proc_record_close(proc_record** record) {
  if (!record || !*record) return;
  platform_handle_close((*record)->kind, handle_of(*record));
  rlsmem(*record);
  *record = nullptr;
}

int proc_record_pid(const proc_record* record) { return record ? record->id : current_pid(); }

int current_pid(void) { return (int)platform_current_pid(); }

int proc_record_terminate(proc_record* record) {
  if (!record || (record->kind != PROC_RECORD_PROCESS && record->kind != PROC_RECORD_THREAD))
    return 0;
  return platform_handle_terminate(record->kind, handle_of(record));
}

int proc_record_is_running(const proc_record* record) {
  if (!record) {
    report_fatal("proc_record_is_running", "null record.");
    return 0;
  }
  const int kind = record->kind;
  const intptr_t handle = handle_of(record);
  int result = platform_handle_wait_any(1, &kind, &handle, 0);
  if (result == -1) crash();
  return result == -2 ? 1 : 0;
}

int kel_wait_for_subproc(int count, proc_record* const* records, int* exit_code) {
  if (count > KEL_WAIT_MAX_RECORDS) {
    report_fatal("kel_wait_for_subproc", "too many processes.");
    return -1;
  }
  for (int i = 0; i < count; i++) {
    if (!records || !records[i]) {
      report_fatal("kel_wait_for_subproc", "null record.");
      return -1;
    }
  }
  int kinds[KEL_WAIT_MAX_RECORDS];
  intptr_t handles[KEL_WAIT_MAX_RECORDS];
  for (int i = 0; i < count; i++) kinds[i] = records[i]->kind, handles[i] = handle_of(records[i]);
  const int index = count > 0 ? platform_handle_wait_any(count, kinds, handles, -1) : -1;
  if (index < 0) {
    report_fatal("kel_wait_for_subproc", "WaitForMultipleObjects () failed.");
    return -1;
  }
  int code = 0;
  if (!platform_handle_exit_code(kinds[index], handles[index], &code)) {
    report_fatal("kel_wait_for_subproc", kinds[index] == PROC_RECORD_THREAD
                                             ? "GetExitCodeThread () failed."
                                             : "GetExitCodeProcess () failed.");
  } else if (exit_code) {
    *exit_code = code;
  }
  return index;
}

KEL_END_C

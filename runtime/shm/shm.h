// Shared channels, resource locks and process records.
//
// Memory is handed out as shared pointers: channel number (1-255) in the top byte, the offset
// from the channel's base in the low 24 bits, 0 for none. Each channel is a vm segment of one
// mebibyte. Beside the channels stand 255 resource locks (0 unlocked, 1 shared, 2 exclusive),
// which record states and never wait. Process records wrap the handles of other processes and
// of threads.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
enum {
  KELSHM_RECORDS = 255,
  KELSHM_CHANNEL_SIZE = 0x100000,
  KELSHM_KIND_CHANNEL = 0,
  KELSHM_KIND_LOCK = 1,
  KELSHM_UNLOCKED = 0,
  KELSHM_SHARED = 1,
  KELSHM_EXCLUSIVE = 2,
  KELSHM_NAME_SIZE = 256,
};

typedef struct kelshm_record {
  int32_t lock_id;     // resource lock n - 1; -1 after initialisation and reset
  int32_t lock_state;  // KELSHM_UNLOCKED, _SHARED or _EXCLUSIVE
  int32_t chan_id;     // channel n; -1 after initialisation and reset
  void* base;          // the channel's segment, or null
} kelshm_record;

int kelshm_init(const kel_wchar* name);
// The name given at initialisation.
const kel_wchar* kelshm_name(void);
// Releases every channel's segment and clears every lock.
void kelshm_reset(void);
// Record n (1-255) as a channel (kind 0: its segment is made on first use) or as a resource
// lock (kind 1); null after a report for another kind or a number out of range.
kelshm_record* kelshm_get_ipc_chan(int n, int kind, int create);
// Sets resource lock `resource` (0-254) to `state`: 1, or 0 after a report (resource or state out
// of range, or a shared lock asked to become exclusive). `wait` is not used: nothing waits.
int kelshm_gen_lock_op(int resource, int state, int wait);
int kelshm_get_lock_status(int resource, int* state, int* other);
// Waiting for a lock held by another process and waking another process are not provided:
// both stop through crash().
void kelshm_wait_for_lock(int resource);
void kelshm_wake_process(int pid);

// A zero-filled block of `size` bytes in the first channel with room; 0 after a report when no
// channel can take it.
uint32_t kelshm_getmem(int size);
// Frees a block kelshm_getmem handed out; anything else is reported and left alone. Returns the
// result of unlocking resource 0.
int kelshm_free(uint32_t pointer);
// The address of a shared pointer; null for 0 and, after a report, for a bad channel or offset.
void* kelshm_get_ptr(uint32_t pointer);

// ---- Process records ----------------------------------------------------------------------
enum { PROC_RECORD_PROCESS = 1, PROC_RECORD_THREAD = 2, KEL_WAIT_MAX_RECORDS = 1000 };
typedef struct proc_record {
  int32_t kind;    // PROC_RECORD_PROCESS or PROC_RECORD_THREAD
  int32_t id;      // process or thread id
  int32_t handle;  // the platform's handle
} proc_record;
typedef int (*thread_function)(void* argument);

// Kind 1 (a new process) is not provided and stops through crash(); otherwise a thread running
// function(argument), or null when it cannot be created.
proc_record* thread_start(int kind, thread_function function, void* argument);
KEL_NORETURN void thread_exit(int code);
proc_record* proc_record_open(int pid);
int process_exists(int pid);
void proc_record_close(proc_record** record);
int proc_record_pid(const proc_record* record);
int current_pid(void);
int proc_record_terminate(proc_record* record);
int proc_record_is_running(const proc_record* record);
// Waits without time-out for the first of `count` records to end: its index and its exit code,
// or -1 after a report.
int kel_wait_for_subproc(int count, proc_record* const* records, int* exit_code);
KEL_END_C

#include "platform/proc_handle.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

namespace {

// A thread started here. Two owners (the thread and the handle) release it; the last frees it.
struct ThreadBlock {
  pthread_t thread;
  int event;  // readable once the thread has ended
  std::atomic<int> owners;
  std::atomic<uint32_t> id;
  std::atomic<int> terminated;
  int code;
  std::atomic<bool> ended;
  platform_thread_fn function;
  void* argument;
};

thread_local ThreadBlock* t_current = nullptr;

void release(ThreadBlock* block) {
  if (block->owners.fetch_sub(1) == 1) {
    close(block->event);
    free(block);
  }
}

// Runs when the thread ends, by return, exit or cancellation.
void thread_ended(void* data) {
  ThreadBlock* block = static_cast<ThreadBlock*>(data);
  if (block->terminated.load()) block->code = -1;
  block->ended = true;
  uint64_t one = 1;
  ssize_t written = write(block->event, &one, sizeof one);
  (void)written;
  release(block);
}

void* thread_main(void* data) {
  ThreadBlock* block = static_cast<ThreadBlock*>(data);
  t_current = block;
  block->id.store((uint32_t)syscall(SYS_gettid));
  pthread_cleanup_push(thread_ended, block);
  block->code = block->function(block->argument);
  pthread_cleanup_pop(1);
  return nullptr;
}

int pidfd_open(uint32_t pid) { return (int)syscall(SYS_pidfd_open, (pid_t)pid, 0); }

int status_code(const siginfo_t& info) {
  return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

}  // namespace

int platform_thread_create(platform_thread_fn function, void* argument, intptr_t* handle,
                           uint32_t* id) {
  ThreadBlock* block = static_cast<ThreadBlock*>(calloc(1, sizeof(ThreadBlock)));
  if (!block) return 0;
  block->event = eventfd(0, EFD_CLOEXEC);
  block->owners.store(2);
  block->function = function;
  block->argument = argument;
  if (block->event < 0 || pthread_create(&block->thread, nullptr, thread_main, block) != 0) {
    if (block->event >= 0) close(block->event);
    free(block);
    return 0;
  }
  pthread_detach(block->thread);
  while (block->id.load() == 0) sched_yield();
  *handle = reinterpret_cast<intptr_t>(block);
  *id = block->id.load();
  return 1;
}

void platform_thread_exit(int code) {
  if (t_current) t_current->code = code;
  pthread_exit(nullptr);
}

int platform_process_open(uint32_t pid, intptr_t* handle) {
  int fd = pidfd_open(pid);
  if (fd < 0) return 0;
  *handle = fd;
  return 1;
}

void platform_handle_close(int kind, intptr_t handle) {
  if (kind == PLATFORM_HANDLE_THREAD) {
    release(reinterpret_cast<ThreadBlock*>(handle));
    return;
  }
  // An ended child is reaped, so that its id is free again.
  siginfo_t info = {};
  waitid((idtype_t)P_PIDFD, (id_t)handle, &info, WEXITED | WNOHANG);
  close((int)handle);
}

uint32_t platform_current_pid(void) { return (uint32_t)getpid(); }

int platform_handle_terminate(int kind, intptr_t handle) {
  if (kind == PLATFORM_HANDLE_THREAD) {
    ThreadBlock* block = reinterpret_cast<ThreadBlock*>(handle);
    if (block->ended) return 0;
    block->terminated.store(1);
    return pthread_cancel(block->thread) == 0;
  }
  return syscall(SYS_pidfd_send_signal, (int)handle, SIGKILL, nullptr, 0) == 0;
}

int platform_handle_wait_any(int count, const int* kinds, const intptr_t* handles,
                             int milliseconds) {
  struct pollfd* fds =
      static_cast<struct pollfd*>(calloc((size_t)(count > 0 ? count : 1), sizeof(struct pollfd)));
  if (!fds) return -1;
  for (int i = 0; i < count; i++) {
    fds[i].fd = kinds[i] == PLATFORM_HANDLE_THREAD
                    ? reinterpret_cast<ThreadBlock*>(handles[i])->event
                    : (int)handles[i];
    fds[i].events = POLLIN;
  }
  int ready;
  do {
    ready = poll(fds, (nfds_t)count, milliseconds);
  } while (ready < 0 && errno == EINTR);
  int index = ready < 0 ? -1 : -2;
  for (int i = 0; i < count && ready > 0; i++) {
    if (fds[i].revents & (POLLNVAL | POLLERR)) {
      index = -1;
      break;
    }
    if (fds[i].revents & POLLIN) {
      index = i;
      break;
    }
  }
  free(fds);
  return index;
}

int platform_handle_exit_code(int kind, intptr_t handle, int* code) {
  if (kind == PLATFORM_HANDLE_THREAD) {
    ThreadBlock* block = reinterpret_cast<ThreadBlock*>(handle);
    if (!block->ended) return 0;
    *code = block->code;
    return 1;
  }
  siginfo_t info = {};
  if (waitid((idtype_t)P_PIDFD, (id_t)handle, &info, WEXITED | WNOWAIT | WNOHANG) != 0 ||
      info.si_pid == 0)
    return 0;
  *code = status_code(info);
  return 1;
}

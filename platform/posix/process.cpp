#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

int status_code(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int wait_code(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status_code(status);
}

// Runs in the child: the working directory, then the interpreter.
[[noreturn]] void exec_child(const char* line, int flags, const char* workdir) {
  if (workdir && chdir(workdir) != 0) _exit(127);
  if (flags & PLATFORM_RUN_SHELL) {
    execl("/bin/sh", "sh", "-c", line, (char*)nullptr);
  } else {
    // "exec <line>": the shell splits the words and is replaced by the program.
    size_t n = strlen(line);
    char* direct = static_cast<char*>(malloc(n + 6));
    if (direct) {
      memcpy(direct, "exec ", 5);
      memcpy(direct + 5, line, n + 1);
      execl("/bin/sh", "sh", "-c", direct, (char*)nullptr);
    }
  }
  _exit(127);
}

}  // namespace

int platform_system(const char* line) {
  int status = system(line);
  if (status == -1) return -1;
  return status_code(status);
}

int platform_process_run(const char* line, int flags, const char* workdir, int* exit_code,
                         uint32_t* pid) {
  const bool wait = (flags & PLATFORM_RUN_WAIT) != 0;
  const bool detached = (flags & PLATFORM_RUN_DETACHED) != 0;
  pid_t child = fork();
  if (child < 0) {
    if (exit_code) *exit_code = 0;
    return 0;
  }
  if (child == 0) {
    if (detached) {
      setsid();
      if (!wait) {
        // A grandchild runs the line, so that nobody has to wait for it.
        pid_t grandchild = fork();
        if (grandchild != 0) _exit(grandchild < 0 ? 127 : 0);
      }
    }
    exec_child(line, flags, workdir);
  }
  if (pid) *pid = (uint32_t)child;
  if (exit_code) *exit_code = 1;
  if (detached && !wait) {
    if (wait_code(child) != 0) {  // the intermediate child could not start the grandchild
      if (exit_code) *exit_code = 0;
      return 0;
    }
  } else if (wait && exit_code) {
    *exit_code = wait_code(child);
  } else if (wait) {
    wait_code(child);
  }
  return 1;
}

int platform_spawn_wait(char* const* argv) {
  pid_t child;
  int error = posix_spawnp(&child, argv[0], nullptr, nullptr, argv, environ);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return wait_code(child);
}

int platform_is_program_file(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode) && access(path, X_OK) == 0;
}

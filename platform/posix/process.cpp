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

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The words of a direct start, split as the Windows C runtime splits a command line into
// arguments: blanks and tabs separate words; double quotes group (in the first word, the
// program, they do nothing else); 2n backslashes before a quote give n and the quote groups,
// 2n + 1 give n and a literal quote; "" inside a group is a literal quote; other backslashes
// stay. One block (free it): the null-terminated pointers, then their text, which never outgrows
// the line. Null when memory runs out.
char** split_words(const char* line) {
  const size_t n = strlen(line), slots = n / 2 + 2;
  char** words = static_cast<char**>(malloc(slots * sizeof(char*) + n + 1));
  if (!words) return nullptr;
  char* out = reinterpret_cast<char*>(words + slots);
  size_t count = 0;
  const char* p = line;
  while (is_blank(*p)) ++p;
  for (bool quoted = false; *p; quoted = false) {
    words[count] = out;
    if (count++ == 0) {
      for (; *p && (quoted || !is_blank(*p)); ++p) {
        if (*p == '"') {
          quoted = !quoted;
        } else {
          *out++ = *p;
        }
      }
    } else {
      for (;; ++p) {
        size_t slashes = 0;
        for (; *p == '\\'; ++p) ++slashes;
        bool literal = true;
        if (*p == '"') {
          if (slashes % 2 == 0 && quoted && p[1] == '"') {
            ++p;
          } else if (slashes % 2 == 0) {
            literal = false;
            quoted = !quoted;
          }
          slashes /= 2;
        }
        for (; slashes; --slashes) *out++ = '\\';
        if (!*p || (!quoted && is_blank(*p))) break;
        if (literal) *out++ = *p;
      }
    }
    *out++ = 0;
    while (is_blank(*p)) ++p;
  }
  words[count] = nullptr;
  return words;
}

// Starts the program from an intermediate child that ends at once and is reaped here: the
// program is then nobody's child here and leaves no zombie when it ends. 1 when it started. The
// intermediate tells through a close-on-exec pipe, read to its end: the caller's own handling of
// SIGCHLD (ignored, or a handler reaping every child) may take its exit status before waitpid.
int spawn_unowned(const char* program, const posix_spawn_file_actions_t* actions,
                  const posix_spawnattr_t* attributes, char* const* argv) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return 0;
  const pid_t middle = fork();
  if (middle == 0) {
    close(report[0]);
    pid_t child;
    const char started = posix_spawnp(&child, program, actions, attributes, argv, environ) == 0;
    const bool told = write(report[1], &started, 1) == 1;
    _exit(told && started ? 0 : 127);
  }
  close(report[1]);
  char started = 0;
  if (middle > 0) {
    char byte;
    ssize_t n;
    while ((n = read(report[0], &byte, 1)) != 0)
      if (n == 1)
        started = byte;
      else if (errno != EINTR)
        break;
    // Fails with ECHILD where the intermediate was reaped already: the pipe has told.
    while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  close(report[0]);
  return started == 1;
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
  if (exit_code) *exit_code = 0;
  char* shell[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(line),
                   nullptr};
  char** words = (flags & PLATFORM_RUN_SHELL) ? nullptr : split_words(line);
  char* const* argv = (flags & PLATFORM_RUN_SHELL) ? shell : words;
  const char* program = argv == shell ? "/bin/sh" : words ? words[0] : nullptr;
  if (!program) {  // no memory, or a line of blanks
    free(words);
    return 0;
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  if (workdir) posix_spawn_file_actions_addchdir_np(&actions, workdir);
  if (flags & PLATFORM_RUN_DETACHED) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int started = (wait || pid)
                          ? posix_spawnp(&child, program, &actions, &attributes, argv, environ) == 0
                          : spawn_unowned(program, &actions, &attributes, argv);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  free(words);
  if (!started) return 0;
  if (pid) *pid = (uint32_t)child;
  if (exit_code) *exit_code = 1;
  if (wait) {
    const int code = wait_code(child);
    if (exit_code) *exit_code = code;
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

size_t platform_shell_quote(const char* word, size_t n, char* out) {
  size_t length = 2;
  for (size_t i = 0; i < n; i++) length += word[i] == '\'' ? 4 : 1;
  if (!out) return length;
  *out++ = '\'';
  for (size_t i = 0; i < n; i++) {
    if (word[i] == '\'') {
      memcpy(out, "'\\''", 4);
      out += 4;
    } else {
      *out++ = word[i];
    }
  }
  memcpy(out, "'", 2);
  return length;
}

int platform_is_program_file(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode) && access(path, X_OK) == 0;
}

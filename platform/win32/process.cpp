#include "platform/process.h"

#include <errno.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "platform/ascii.h"

namespace {

constexpr DWORD kStartupRecordSize = 68;

BOOL CALLBACK hide_first_of_thread(HWND window, LPARAM) {
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    ShowWindow(window, SW_HIDE);
    return FALSE;
  }
  return TRUE;
}

// One argument as the C runtime's start-up code splits it back: quoted when empty or when it
// holds blanks or quotes, with the backslashes before a quote doubled.
char* quote_argument(const char* arg) {
  if (*arg && !strpbrk(arg, " \t\"")) return _strdup(arg);
  size_t n = strlen(arg);
  char* out = static_cast<char*>(malloc(2 * n + 3));
  if (!out) return nullptr;
  char* w = out;
  *w++ = '"';
  size_t slashes = 0;
  for (const char* p = arg;; ++p) {
    if (*p == '\\') {
      ++slashes;
      *w++ = '\\';
      continue;
    }
    if (*p == '"' || *p == 0) {
      for (size_t i = 0; i < slashes; i++) *w++ = '\\';
      if (*p == 0) break;
      *w++ = '\\';
    }
    slashes = 0;
    *w++ = *p;
  }
  *w++ = '"';
  *w = 0;
  return out;
}

}  // namespace

int platform_system(const char* line) { return system(line); }

int platform_process_run(const char* line, int flags, const char* workdir, int* exit_code,
                         uint32_t* pid) {
  const bool shell = (flags & PLATFORM_RUN_SHELL) != 0;
  const bool wait = (flags & PLATFORM_RUN_WAIT) != 0;
  if (exit_code) *exit_code = 0;
  char* command = nullptr;
  bool console = false;
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = kStartupRecordSize;
  if (shell) {
    const char* interpreter = getenv("COMSPEC");
    if (!interpreter) return 0;
    size_t n = strlen(interpreter) + strlen(line) + 5;
    command = static_cast<char*>(malloc(n));
    if (!command) return 0;
    snprintf(command, n, "%s /c %s", interpreter, line);
    console = AllocConsole() != 0;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (startup.hStdInput == INVALID_HANDLE_VALUE || startup.hStdOutput == INVALID_HANDLE_VALUE ||
        startup.hStdError == INVALID_HANDLE_VALUE) {
      if (console) FreeConsole();
      free(command);
      return 0;
    }
    if (flags & PLATFORM_RUN_STD_HANDLES) startup.dwFlags = STARTF_USESTDHANDLES;
  } else {
    command = _strdup(line);
    if (!command) return 0;
  }
  PROCESS_INFORMATION info;
  memset(&info, 0, sizeof info);
  const DWORD creation = (flags & PLATFORM_RUN_DETACHED) ? DETACHED_PROCESS : 0;
  BOOL created = CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, creation, nullptr,
                                workdir, &startup, &info);
  free(command);
  if (exit_code) *exit_code = created;
  if (created && pid) *pid = info.dwProcessId;
  if (console && (flags & PLATFORM_RUN_HIDE_WINDOW)) EnumWindows(hide_first_of_thread, 0);
  if (created && wait) {
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    if (exit_code) *exit_code = (int)code;
  }
  if (created) {
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  if (console) {
    if (wait) {
      SetStdHandle(STD_INPUT_HANDLE, nullptr);
      SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
      SetStdHandle(STD_ERROR_HANDLE, nullptr);
    }
    FreeConsole();
  }
  return created ? 1 : 0;
}

int platform_spawn_wait(char* const* argv) {
  int count = 0;
  while (argv[count]) ++count;
  char** quoted = static_cast<char**>(calloc((size_t)count + 1, sizeof(char*)));
  if (!quoted) {
    errno = ENOMEM;
    return -1;
  }
  bool ok = true;
  for (int i = 0; i < count && ok; i++) ok = (quoted[i] = quote_argument(argv[i])) != nullptr;
  intptr_t result = -1;
  if (ok) {
    result = _spawnvp(_P_WAIT, argv[0], quoted);
  } else {
    errno = ENOMEM;
  }
  for (int i = 0; i < count; i++) free(quoted[i]);
  free(quoted);
  return (int)result;
}

size_t platform_shell_quote(const char* word, size_t n, char* out) {
  if (out) {
    out[0] = '"';
    memcpy(out + 1, word, n);
    memcpy(out + n + 1, "\"", 2);
  }
  return n + 2;
}

int platform_is_program_file(const char* path) {
  const char* dot = strrchr(path, '.');
  const char* slash = strrchr(path, '\\');
  if (!dot || (slash && slash > dot)) return 0;
  if (!ascii_equal_ignoring_case(dot, ".bat") && !ascii_equal_ignoring_case(dot, ".com") &&
      !ascii_equal_ignoring_case(dot, ".exe"))
    return 0;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

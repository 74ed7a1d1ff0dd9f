// Running commands: the standard library's system, process creation (through the command
// interpreter or directly, waiting or not, detached), spawning with an argument array, quoting
// for the interpreter, and the program-file test.
//
// Windows: the interpreter is the program named by COMSPEC, run as "<COMSPEC> /c <line>", and a
// line is started with CreateProcess; the started program's C runtime splits the line into its
// arguments. Linux: the interpreter is /bin/sh -c; a direct start splits the line as that C
// runtime would and starts the program with those words (posix_spawnp, searched on the path), so
// no shell sees them; a detached process is a new session; there is no console to allocate and
// no window to hide.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
enum {
  PLATFORM_RUN_SHELL = 1,        // through the command interpreter
  PLATFORM_RUN_WAIT = 2,         // wait for the end and deliver the exit code
  PLATFORM_RUN_DETACHED = 4,     // detached from the caller's console (new session)
  PLATFORM_RUN_STD_HANDLES = 8,  // pass the caller's standard handles (with the interpreter)
  PLATFORM_RUN_HIDE_WINDOW =
      16,  // hide the calling thread's first top-level window when a console was allocated
};

// The standard library's system(): the command's exit status, or -1 when it could not be run.
// A command ended by a signal gives 128 + the signal's number on Linux.
int platform_system(const char* line);

// Starts `line` (in `workdir` when not null). Non-zero when the process was created; 0 also when
// the interpreter is not named (COMSPEC missing) or a standard handle is invalid, and for a
// direct start when the program cannot be found or the folder entered. *exit_code (when given)
// receives the creation result and, after a wait, the exit code; *pid (when given) the process
// id. Not waited for and with no id asked for, the process is nobody's to wait for: on Linux a
// short-lived intermediate process, reaped at once, starts it, so it never lingers as the
// caller's zombie; the result does not depend on the caller's handling of SIGCHLD. With an id asked
// for, it is the caller's child there (closing its handle from platform_process_open reaps it).
int platform_process_run(const char* line, int flags, const char* workdir, int* exit_code,
                         uint32_t* pid);

// Spawns argv[0] (searched on the path) with the null-terminated argument array and waits for it:
// its exit status, or -1 with errno set when it could not be started. Empty arguments and
// arguments with blanks arrive as they are.
int platform_spawn_wait(char* const* argv);

// `word` (n bytes) as the command interpreter reads one literal word, into `out` (when not null;
// room for 4 * n + 3 bytes), terminated; its length. Windows: between double quotes (callers
// quote no word holding one). Linux: between single quotes, a single quote inside written as
// '\'' (between double quotes sh would still expand $, ` and \).
size_t platform_shell_quote(const char* word, size_t n, char* out);

// 1 when `path` names an existing file that is a program: on Windows not a directory and with the
// extension BAT, COM or EXE (any letter case); elsewhere a regular file that may be executed.
int platform_is_program_file(const char* path);
KEL_END_C

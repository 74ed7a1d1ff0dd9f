// Command execution: command lines formatted with kel_sprintf, run through the command
// interpreter or directly, waiting or in the background, with pre- and post-exec hooks.
//
// Lines of kel_system_call hold at most 2046 characters; those of the other entries at most 511.
// A longer line is refused with "resulting command string too long" and nothing runs.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
enum { KEL_EXEC_LINE_SIZE = 512, KEL_SYSTEM_CALL_SIZE = 2048 };

typedef void (*kel_pre_exec_fn)(void);
typedef int (*kel_post_exec_fn)(void);
// Each setter returns the hook it replaces; none is set at start.
kel_pre_exec_fn kel_set_pre_exec_hook(kel_pre_exec_fn hook);
kel_post_exec_fn kel_set_post_exec_hook(kel_post_exec_fn hook);

// Mode 2 starts the line through the interpreter without waiting (result: started or not);
// any other mode runs it with system() and returns its status. -1 on a bad format or long line.
int kel_exec_command(int mode, const char* format, ...) KEL_PRINTF_LIKE(2, 3);
// As kel_exec_command; 0 when the status is >= 0, else 100. *status (when given) = the status,
// negative ones as -1 (left 0 in mode 2); -1 with result 100 on a bad format or long line.
int kel_system_call(int* status, int mode, const char* format, ...) KEL_PRINTF_LIKE(3, 4);
// Background starts through the interpreter or directly (in TMP when it is writable):
// non-zero when started.
int kel_exec_background_shell(const char* format, ...) KEL_PRINTF_LIKE(1, 2);
int kel_start_background_process(const char* format, ...) KEL_PRINTF_LIKE(1, 2);
// Runs the unquoted line through the interpreter, waiting when asked: non-zero when started,
// -1 on a bad format or long line.
int kel_exec_command_new(int wait, const char* format, ...) KEL_PRINTF_LIKE(2, 3);

typedef struct kel_exec_options {
  int wait;          // wait for the end (the interpreter is then not used)
  int shell;         // through the interpreter
  int keep_windows;  // leave the interpreter's console window visible
  int use_tmp;       // run in TMP when it is set
  int* exit_code;    // creation result, then the exit code after a wait; may be null
} kel_exec_options;
int kel_exec_command_opts(kel_exec_options* options, const char* format, ...) KEL_PRINTF_LIKE(2, 3);

// Splits `line` in place at each white-space character and runs the program with those
// arguments, waiting: 0, or -1 when it could not be spawned.
int kel_spawn_for_version_check(char* line);
// kel_exec_command(1, "%s", command).
int Dcl_com(const char* command);

// The line with its leading program path quoted for the command interpreter when that path holds
// blanks (a new block from getmem; the caller releases it). *found (when given) = 1 when the line
// needed no quoting or a program file was found, else 0. Direct starts split their line as the
// C runtime splits a command line (double quotes group, backslashes escape only quotes), so no
// shell ever expands their words.
char* executable_quote(const char* line, int* found);
// A copy of `path`, quoted for the command interpreter when it holds a blank and no double quote:
// between double quotes on Windows, single quotes on Linux (a single quote inside as '\'').
char* path_quote(const char* path);
int is_program_file(const char* path);
KEL_END_C

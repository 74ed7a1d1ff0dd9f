// Command execution.
#include "runtime/sys/exec.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/pfile.h"
#include "platform/process.h"
#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf.h"

namespace {

kel_pre_exec_fn g_pre_exec = nullptr;
kel_post_exec_fn g_post_exec = nullptr;

void pre_exec() {
  if (g_pre_exec) g_pre_exec();
}
void post_exec() {
  if (g_post_exec) g_post_exec();
}

// How a command line ends in its buffer: filling it, terminator included, or short of a last
// byte held back as a guard (a line that reaches the guard is too long).
enum class LineEnd { Fill, Guard };

// Formats into `line` (`size` bytes, ending as `end` says): 1, or 0 after reporting a bad format
// or a line that does not fit, under `name`.
int format_line(char* line, int size, LineEnd end, const char* name, const char* format,
                va_list args) {
  const char* text = format ? kel_vsprintf(nullptr, format, args) : nullptr;
  if (!text) {
    report_fatal(name, "bad format %s", format ? format : "(null)");
    return 0;
  }
  const size_t n = strlen(text);
  const size_t room = (size_t)size - (end == LineEnd::Guard ? 1 : 0);  // text and terminator
  if (n >= room) {
    report_fatal(name, "resulting command string too long");
    return 0;
  }
  memcpy(line, text, n + 1);
  return 1;
}

// What every entry point does first: its command line formatted from `format` and `args` into a
// buffer of `Size` bytes, for `run`; `run` gets null after a bad format or a line that does not
// fit, both reported under `name`. Returns what `run` returns.
template <int Size, class Run>
int with_line(LineEnd end, const char* name, const char* format, va_list args, Run run) {
  char line[Size];
  return run(format_line(line, Size, end, name, format, args) ? line : nullptr);
}

char* copy_into(trap_block* held, const char* text, size_t n) {
  char* out = static_cast<char*>(trap_block_get(held, (int)n + 1));
  memcpy(out, text, n);
  out[n] = 0;
  return out;
}

// Whom a quoted line goes to: the command interpreter, or a direct start, whose line is split
// into words as the C runtime splits a command line (double quotes group, on both platforms).
enum class QuoteFor { Shell, Direct };

// path_quote into a held block, followed by a blank and `rest` when given.
char* quote_path(trap_block* held, const char* path, size_t n, const char* rest, QuoteFor to) {
  const bool wrap = memchr(path, '"', n) == nullptr && memchr(path, ' ', n) != nullptr;
  const bool shell = wrap && to == QuoteFor::Shell;
  const size_t path_n = shell ? platform_shell_quote(path, n, nullptr) : wrap ? n + 2 : n;
  const size_t rest_n = rest ? strlen(rest) + 1 : 0;
  char* out = static_cast<char*>(trap_block_get(held, (int)(path_n + rest_n + 1)));
  if (shell) {
    platform_shell_quote(path, n, out);
  } else {
    memcpy(out + (wrap ? 1 : 0), path, n);
    if (wrap) out[0] = out[n + 1] = '"';
  }
  if (rest) {
    out[path_n] = ' ';
    memcpy(out + path_n + 1, rest, rest_n - 1);
  }
  return out;
}

// executable_quote into a held block.
char* quote_line(trap_block* held, const char* line, int* found, QuoteFor to) {
  if (found) *found = 1;
  const size_t n = strlen(line);
  if (!strchr(line, ' ') || strchr(line, '"')) return copy_into(held, line, n);
  // Every proper prefix of whole words, shortest first.
  char prefix[KEL_SYSTEM_CALL_SIZE + 8];
  if (n < sizeof prefix) {
    for (const char* blank = strchr(line, ' '); blank; blank = strchr(blank + 1, ' ')) {
      size_t k = (size_t)(blank - line);
      memcpy(prefix, line, k);
      prefix[k] = 0;
      if (is_program_file(prefix)) return quote_path(held, line, k, blank + 1, to);
    }
  }
  if (is_program_file(line)) return quote_path(held, line, n, nullptr, to);
  if (found) *found = 0;
  return copy_into(held, line, n);
}

// Starts a line without waiting; the creation result.
int process_start(const char* line, int through_shell, int use_tmp) {
  trap_block held = {nullptr, 0};
  char* quoted =
      quote_line(&held, line, nullptr, through_shell ? QuoteFor::Shell : QuoteFor::Direct);
  const char* tmp = use_tmp ? getenv("TMP") : nullptr;
  if (tmp && platform_path_access(tmp, 2) != 0) tmp = nullptr;
  int flags =
      PLATFORM_RUN_DETACHED | (through_shell ? PLATFORM_RUN_SHELL | PLATFORM_RUN_STD_HANDLES : 0);
  int started = platform_process_run(quoted, flags, tmp, nullptr, nullptr);
  trap_block_release(&held);
  return started;
}

int command_run(const char* line, int mode, int* status) {
  if (status) *status = 0;
  trap_block held = {nullptr, 0};
  char* quoted = quote_line(&held, line, nullptr, QuoteFor::Shell);
  pre_exec();
  int result = mode == 2 ? process_start(line, 1, 0) : platform_system(quoted);
  post_exec();
  trap_block_release(&held);
  if (mode != 2 && status) *status = result < 0 ? -1 : result;
  return result;
}

// The run of kel_exec_command_opts, on its formatted line.
int run_with_options(kel_exec_options* options, const char* line) {
  if (options->wait) options->shell = 0;
  trap_block held = {nullptr, 0};
  char* quoted =
      quote_line(&held, line, nullptr, options->shell ? QuoteFor::Shell : QuoteFor::Direct);
  pre_exec();
  int flags = options->wait ? PLATFORM_RUN_WAIT : 0;
  if (options->shell) flags |= PLATFORM_RUN_SHELL | PLATFORM_RUN_STD_HANDLES;
  if (!options->keep_windows) flags |= PLATFORM_RUN_HIDE_WINDOW;
  const char* tmp = options->use_tmp ? getenv("TMP") : nullptr;
  int started = platform_process_run(quoted, flags, tmp, options->exit_code, nullptr);
  post_exec();
  trap_block_release(&held);
  return started;
}

}  // namespace

KEL_BEGIN_C

kel_pre_exec_fn kel_set_pre_exec_hook(kel_pre_exec_fn hook) {
  kel_pre_exec_fn old = g_pre_exec;
  g_pre_exec = hook;
  return old;
}

kel_post_exec_fn kel_set_post_exec_hook(kel_post_exec_fn hook) {
  kel_post_exec_fn old = g_post_exec;
  g_post_exec = hook;
  return old;
}

int is_program_file(const char* path) { return path && *path && platform_is_program_file(path); }

char* path_quote(const char* path) {
  trap_block held = {nullptr, 0};
  quote_path(&held, path, strlen(path), nullptr, QuoteFor::Shell);
  return static_cast<char*>(trap_block_keep(&held));
}

char* executable_quote(const char* line, int* found) {
  trap_block held = {nullptr, 0};
  quote_line(&held, line, found, QuoteFor::Shell);
  return static_cast<char*>(trap_block_keep(&held));
}

int kel_exec_command(int mode, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = with_line<KEL_EXEC_LINE_SIZE>(
      LineEnd::Fill, "kel_exec_command", format, args,
      [&](const char* line) { return line ? command_run(line, mode, nullptr) : -1; });
  va_end(args);
  return result;
}

int kel_system_call(int* status, int mode, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = with_line<KEL_SYSTEM_CALL_SIZE>(
      LineEnd::Guard, "kel_system_call", format, args, [&](const char* line) {
        if (line) return command_run(line, mode, status) >= 0 ? 0 : 100;
        if (status) *status = -1;
        return 100;
      });
  va_end(args);
  return result;
}

int kel_exec_background_shell(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int started = with_line<KEL_EXEC_LINE_SIZE>(
      LineEnd::Fill, "kel_exec_background_shell", format, args,
      [](const char* line) { return line ? process_start(line, 1, 0) : 0; });
  va_end(args);
  return started;
}

int kel_start_background_process(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int started = with_line<KEL_EXEC_LINE_SIZE>(
      LineEnd::Fill, "kel_start_background_process", format, args,
      [](const char* line) { return line ? process_start(line, 0, 1) : 0; });
  va_end(args);
  return started;
}

int kel_exec_command_new(int wait, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int started = with_line<KEL_EXEC_LINE_SIZE>(
      LineEnd::Fill, "kel_exec_command_new", format, args, [&](const char* line) {
        if (!line) return -1;
        pre_exec();
        int flags = PLATFORM_RUN_SHELL | PLATFORM_RUN_STD_HANDLES | PLATFORM_RUN_HIDE_WINDOW;
        flags |= wait ? PLATFORM_RUN_WAIT : PLATFORM_RUN_DETACHED;
        const int result = platform_process_run(line, flags, nullptr, nullptr, nullptr);
        post_exec();
        return result;
      });
  va_end(args);
  return started;
}

int kel_exec_command_opts(kel_exec_options* options, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int started = with_line<KEL_EXEC_LINE_SIZE>(
      LineEnd::Fill, "kel_exec_command_new", format, args,
      [&](const char* line) { return line ? run_with_options(options, line) : -1; });
  va_end(args);
  return started;
}

int kel_spawn_for_version_check(char* line) {
  int blanks = 0;
  for (const char* p = line; *p; p++) blanks += isspace((unsigned char)*p) != 0;
  trap_block held = {nullptr, 0};
  char** argv = static_cast<char**>(trap_block_get(&held, (blanks + 2) * (int)sizeof(char*)));
  int count = 0;
  argv[count++] = line;
  for (char* p = line; *p; p++) {
    if (isspace((unsigned char)*p)) {
      *p = 0;
      argv[count++] = p + 1;
    }
  }
  argv[count] = nullptr;
  pre_exec();
  int status = platform_spawn_wait(argv);
  post_exec();
  trap_block_release(&held);
  if (status == -1) {
    perror("kel_spawn_for_version_check() : SPAWN FAILED");
    return -1;
  }
  if (status != 0) {
    perror("kel_spawn_for_version_check() : ");
    fputs("SPAWNED PROCESS DID NOT EXIT NORMALLY\n", stderr);
  }
  return 0;
}

int Dcl_com(const char* command) {
  if (order_debug_level_is(98765)) {
    printf("Dcl_com:  %s\n", command);
    fflush(stdout);
  }
  return kel_exec_command(1, "%s", command);
}

KEL_END_C

// Serious-error reporting: the settings, dbg_err_crash and the notes, the banner reports,
// error_break, crash and the function-table look-ups.
#include "runtime/diag/diag.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "platform/exceptions.h"
#include "platform/pfile.h"
#include "runtime/diag/trap.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/mbconv.h"
#include "runtime/xar/xar.h"

namespace {

constexpr int kNotDecided = -1;
constexpr int kWideTextMax = 255;  // characters of a report handed to the wide-message hook
constexpr int kMessageBufferSize = 1000;
constexpr int kLogNameSize = 256;
constexpr const char* kCrashingOut = "dbg_err_crash() -- crashing out in ORDER_DEBUG ONLY.";

struct Settings {
  bool serious_error_reporting = false;
  int order_debug_level = 0;
  // Made on the first report of dbg_err_crash and kept for the process.
  int debug_note = kNotDecided;
  int show_dialog = kNotDecided;
  int host_dialog_mode = 0;
  serious_error_callback_fn serious_error_callback = nullptr;
  keyed_message_hook_fn keyed_hook = nullptr;
  plain_message_hook_fn plain_hook = nullptr;
  wide_message_hook_fn wide_hook = nullptr;
  bool message_output = false;
  bool stop_on_fatal = false;
  fatal_hook_fn fatal_hook = nullptr;
  char message_log_file[kLogNameSize] = "";
  bool log_file_written = false;  // the log file has had its first message
  bool raise_on_crash = false;
};
Settings settings;

template <class T>
T exchange_value(T& place, T value) {
  T previous = place;
  place = value;
  return previous;
}

const char* or_empty(const char* text) { return text ? text : ""; }

// Writes the parts to the standard output, or to a log file through the file layer: false when a
// part did not reach the log (the rest is then left out).
bool print_parts(std::initializer_list<const char*> parts, FILE* out = stdout) {
  for (const char* part : parts) {
    const char* text = or_empty(part);
    if (out == stdout)
      fputs(text, out);
    else if (!platform_stream_write(out, text, (int)strlen(text)))
      return false;
  }
  return true;
}

// Formats a report's message in the print engine's buffer; "" without a format or when the
// engine refuses it. The text lives until the print engine is used again.
const char* format_message(const char* format, va_list args) {
  if (!format) return "";
  return or_empty(kel_vsprintf(nullptr, format, args));
}

// Appends `text` to the zero-terminated `buffer` of `size` bytes, cutting what does not fit.
void append_cut(char* buffer, size_t size, const char* text) {
  size_t used = strlen(buffer);
  size_t room = size - 1 - used;
  size_t length = strnlen(text, room);
  memcpy(buffer + used, text, length);
  buffer[used + length] = '\0';
}

void call_wide_hook(const char* text) {
  if (!settings.wide_hook) return;
  kel_wchar wide[kWideTextMax + 1];
  strtows(wide, text);
  const intptr_t words[9] = {};
  settings.wide_hook(wide, 'E', words);
}

void call_keyed_hook(const char* key, intptr_t first_word) {
  if (!settings.keyed_hook) return;
  const intptr_t words[10] = {first_word};
  settings.keyed_hook(key, words);
}

void make_first_decisions() {
  if (settings.debug_note != kNotDecided) return;
  const int level = settings.order_debug_level;
  settings.debug_note = level != 0;
  if (settings.host_dialog_mode != 1)
    settings.show_dialog = 1;
  else if (level == 9029 || level == -151)
    settings.show_dialog = 0;
  else
    settings.show_dialog = getenv("DBG_ERR_SHOW_DIALOG") ? 1 : 0;
}

}  // namespace

// ---- Settings -------------------------------------------------------------------------

void serious_error_reporting_set(int on) { settings.serious_error_reporting = on != 0; }
int serious_error_reporting_get(void) { return settings.serious_error_reporting; }
void host_dialog_mode_set(int mode) { settings.host_dialog_mode = mode; }
int host_dialog_mode_get(void) { return settings.host_dialog_mode; }

serious_error_callback_fn serious_error_callback_set(serious_error_callback_fn callback) {
  return exchange_value(settings.serious_error_callback, callback);
}
keyed_message_hook_fn keyed_message_hook_set(keyed_message_hook_fn hook) {
  return exchange_value(settings.keyed_hook, hook);
}
plain_message_hook_fn plain_message_hook_set(plain_message_hook_fn hook) {
  return exchange_value(settings.plain_hook, hook);
}
wide_message_hook_fn wide_message_hook_set(wide_message_hook_fn hook) {
  return exchange_value(settings.wide_hook, hook);
}
fatal_hook_fn fatal_hook_set(fatal_hook_fn hook) {
  return exchange_value(settings.fatal_hook, hook);
}

void message_log_file_set(const char* name) {
  char fresh[kLogNameSize] = "";
  append_cut(fresh, sizeof fresh, or_empty(name));
  if (strcmp(fresh, settings.message_log_file) != 0) settings.log_file_written = false;
  memcpy(settings.message_log_file, fresh, sizeof fresh);
}

int order_debug_level_set(int level) { return exchange_value(settings.order_debug_level, level); }
int order_debug_level_get(void) { return settings.order_debug_level; }
int order_debug_level_is(int level) { return settings.order_debug_level == level; }
int order_debug_level_is_special(void) {
  switch (settings.order_debug_level) {
    case 9029:
    case 9129:
    case 9229:
    case 9329: return 1;
    default: return 0;
  }
}

void debug_setup(int on) {
  settings.message_output = on != 0;
  settings.raise_on_crash = on != 0;
  settings.stop_on_fatal = on != 0;
  xar_set_ignore_ext(on);
  settings.order_debug_level = on ? -1 : 0;
}

// ---- Reports --------------------------------------------------------------------------

int dbg_err_crash(const char* where, const char* format, ...) {
  if (!settings.serious_error_reporting) return 0;
  make_first_decisions();

  const char* message = "";
  char stop_text[kWideTextMax + 1] = "";  // "<where>  :<message>", for the wide-message hook
  if (where) {
    va_list args;
    va_start(args, format);
    message = format_message(format, args);
    va_end(args);
    print_parts({where, ":  ", message, "\n"});
    append_cut(stop_text, sizeof stop_text, where);
    append_cut(stop_text, sizeof stop_text, "  :");
    append_cut(stop_text, sizeof stop_text, message);
  }

  const bool go_on =
      settings.debug_note == 0 || (settings.show_dialog == 1 && settings.serious_error_callback &&
                                   settings.serious_error_callback(or_empty(where), message) == 0);
  if (!go_on) {
    if (where) call_wide_hook(stop_text);
    call_wide_hook(kCrashingOut);
    print_parts({kCrashingOut, "\n"});
    crash();
    return 1;
  }
  message_print("dbg_err_crash() -- continuing from serious error (%s).\n", "ORDER_DEBUG");
  call_keyed_hook(
      "dummy message",
      reinterpret_cast<intptr_t>("dbg_err_crash() - continuing from serious error (ORDER_DEBUG)."));
  return 1;
}

int order_debug_note(const char* where, const char* format, ...) {
  if (!settings.serious_error_reporting) return 0;
  if (settings.order_debug_level != 0 && where) {
    va_list args;
    va_start(args, format);
    const char* message = format_message(format, args);
    va_end(args);
    print_parts({where, ":  ", message, " (ORDER_DEBUG)\n"});
  }
  return 1;
}

int info_note(const char* where, const char* format, ...) {
  if (settings.order_debug_level == 0) return 0;
  if (where) print_parts({where, ":  "});
  if (format) {
    va_list args;
    va_start(args, format);
    print_parts({format_message(format, args)});
    va_end(args);
  }
  print_parts({where ? " (INFO MESSAGE)\n" : "\n"});
  return 1;
}

void error_break(const char* message) {
  call_keyed_hook(or_empty(message), 0);
  // The message is text, not a format: a "%" in it must not read arguments that are not there.
  dbg_err_crash("error_break", "%s", or_empty(message));
  trap_fire(TRAP_CLASS_SERIOUS_ERROR);
}

void report_message(int level, const char* name, char letter, const char* format, va_list args) {
  if (level < 0 || level > 2) return;
  name = or_empty(name);
  const bool stop = level == 2 && settings.stop_on_fatal &&
                    (!settings.fatal_hook || settings.fatal_hook(name) != 0);

  if (settings.message_output) {
    // The message is the one text formatted by the print engine, so that an argument that is
    // the caller's last engine result is still whole when it is read. Messages are kept to the
    // report's 1000-byte buffer: longer ones are cut, not overrun.
    char message[kMessageBufferSize] = "";
    append_cut(message, sizeof message, format_message(format, args));
    const char letter_text[2] = {letter, 0};
    auto write_to = [&](FILE* out) {
      bool written;
      switch (level) {
        case 0: written = print_parts({"\n*** INFO MESSAGE from ", name, " : ***\n\t"}, out); break;
        case 1:
          written =
              print_parts({"\n*** ", letter_text, "-LEVEL ERROR in ", name, " : ***\n\t"}, out);
          break;
        default: written = print_parts({"\n*** FATAL ERROR in ", name, " : ***\n\t"}, out); break;
      }
      return written && print_parts({message, "\n"}, out);
    };
    FILE* log = nullptr;
    if (settings.message_log_file[0]) {
      log = platform_path_fopen(settings.message_log_file, settings.log_file_written ? "a" : "w");
      if (log) settings.log_file_written = true;
    }
    // A log that cannot be opened or did not take the message: it goes to the standard output,
    // so that no report is lost.
    bool logged = false;
    if (log) {
      const bool written = write_to(log);
      logged = platform_stream_close(log) && written;
    }
    if (!logged) write_to(stdout);
  }
  if (stop) crash();
}

void report_info(const char* name, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_message(0, name, ' ', format, args);
  va_end(args);
}

void report_error_level(const char* name, char letter, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_message(1, name, letter, format, args);
  va_end(args);
}

void report_fatal(const char* name, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_message(2, name, ' ', format, args);
  va_end(args);
}

int crash(void) {
  if (getenv("ALLOW_CRASH")) {
    print_parts({"Allowing crash: crash()\n"});
    fflush(stdout);  // the abnormal end below does not flush the streams
    platform_raise_noncontinuable(PLATFORM_NONCONTINUABLE_EXCEPTION);
  }
  if (settings.raise_on_crash) {
    fflush(stdout);
    platform_raise_signal(11);
    return 0;
  }
  print_parts({"Serious internal error; cannot continue.\n"});
  exit_handlers_run(2);
  ozt_exit(2);
  // An exchanged exit function that returns must not bring a fatal stop back to its caller.
  exit(2);
}

void misuse_stop(const char* where, const char* message) {
  print_parts({where, ":  ", message, "\n"});
  crash();
}

void memory_break(const char* where, const char* message) {
  print_parts({where, ":  ", message, "\n"});
  error_break("Memory error.");
}

// ---- Function tables ------------------------------------------------------------------

functab_func get_func_from_functab(const functab_entry* table, int key) {
  if (!table) return nullptr;
  // Index `key` is read only when it lies inside the table, i.e. no end entry comes first.
  bool inside = key >= 0;
  for (int i = 0; inside && i < key; ++i) inside = table[i].key != -1;
  if (inside && table[key].key == key) return table[key].func;

  dbg_err_crash("get_func_from_functab", "functable[key].key != key:  fix the fucntable.");
  for (const functab_entry* entry = table; entry->key != -1; ++entry)
    if (entry->key == key) return entry->func;
  return nullptr;
}

functab_func find_func_in_functab(const functab_entry* table, int key) {
  if (!table) return nullptr;
  for (const functab_entry* entry = table; entry->func; ++entry)
    if (entry->key == key) return entry->func;
  return nullptr;
}

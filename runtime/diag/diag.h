// Serious-error reporting: dbg_err_crash, notes, message banners, error_break and crash.
//
// Every switch starts off, so with the start values every report here is silent and returns.
// A debugging build or a test driver turns them on through the setters below.
#pragma once
#include <stdarg.h>
#include <stdint.h>
#include "platform/kel_base.h"

KEL_BEGIN_C
// ---- Settings -------------------------------------------------------------------------

// Asked, when the show-dialog decision is 1, whether a serious error stops (non-zero) or
// continues (0). Receives the reporting routine and the formatted message ("" when absent).
typedef int (*serious_error_callback_fn)(const char* where, const char* message);
// Output hooks. Keyed: a message key and ten argument words. Plain: ten words. Wide: a wide
// text, a level letter ('E' for errors) and nine further words. Unset hooks are skipped.
typedef void (*keyed_message_hook_fn)(const char* key, const intptr_t words[10]);
typedef void (*plain_message_hook_fn)(const intptr_t words[10]);
typedef void (*wide_message_hook_fn)(const kel_wchar* text, char level, const intptr_t words[9]);
// With stop_on_fatal on, decides whether a fatal report for `name` stops (non-zero).
typedef int (*fatal_hook_fn)(const char* name);

void serious_error_reporting_set(int on);
int serious_error_reporting_get(void);
void host_dialog_mode_set(int mode);
int host_dialog_mode_get(void);
// Each hook setter returns the hook it replaces.
serious_error_callback_fn serious_error_callback_set(serious_error_callback_fn callback);
keyed_message_hook_fn keyed_message_hook_set(keyed_message_hook_fn hook);
plain_message_hook_fn plain_message_hook_set(plain_message_hook_fn hook);
wide_message_hook_fn wide_message_hook_set(wide_message_hook_fn hook);
fatal_hook_fn fatal_hook_set(fatal_hook_fn hook);
// The file report_message writes to; null or "" means standard output. Names are kept in a
// 256-byte buffer (longer ones are cut). A new name is opened for writing anew by its first
// message and for appending afterwards.
void message_log_file_set(const char* name);

// The runtime's debug level: 0 when not debugging. The setter returns the previous level.
int order_debug_level_set(int level);
int order_debug_level_get(void);
int order_debug_level_is(int level);
// True for the special levels 9029, 9129, 9229 and 9329.
int order_debug_level_is_special(void);

// Turns message output, raise_on_crash and stop_on_fatal on or off together, passes `on` to
// xar_set_ignore_ext and sets the debug level to -1 (on) or 0 (off).
void debug_setup(int on);

// ---- Reports --------------------------------------------------------------------------

// Reports a serious inconsistency found in `where` (format: a kel_sprintf format or null).
// Returns 0 at once when serious_error_reporting is off; 1 when it reported and continues.
// When it decides to stop it calls crash(), and returns 1 only if crash() returned.
int dbg_err_crash(const char* where, const char* format, ...);
// A debugging note: 0 when serious_error_reporting is off; else 1, printed only when the
// debug level is non-zero and `where` is given.
int order_debug_note(const char* where, const char* format, ...);
// An information note: 0 when the debug level is 0, else printed and 1.
int info_note(const char* where, const char* format, ...);
// Stop at a serious error: the keyed-message hook, then dbg_err_crash, then the traps fire
// with class 2. Returns only when no trap takes the class.
void error_break(const char* message);

// Banner message report. level 0: info, 1: error of class `letter`, 2: fatal (may stop).
// Other levels are refused without output.
void report_message(int level, const char* name, char letter, const char* format, va_list args);
void report_info(const char* name, const char* format, ...);
void report_error_level(const char* name, char letter, const char* format, ...);
void report_fatal(const char* name, const char* format, ...);

// The fatal stop. Does not return, except with 0 when raise_on_crash is on and a handler
// of the raised signal returns.
int crash(void);

// Misuse stop: prints "<where>:  <message>" and calls crash().
void misuse_stop(const char* where, const char* message);
// Memory break: prints "<where>:  <message>" and calls error_break("Memory error.").
void memory_break(const char* where, const char* message);

// ---- Function tables ------------------------------------------------------------------

typedef void (*functab_func)(void);
// One entry of a key-indexed function table. get_func_from_functab tables hold key i at
// index i and end with key -1; find_func_in_functab tables end with a null function.
typedef struct functab_entry {
  int32_t key;
  functab_func func;
} functab_entry;

// The function stored under `key`, looked up by index; a table whose entry does not match
// is reported once per call and searched instead. Null when not found or for a null table.
functab_func get_func_from_functab(const functab_entry* table, int key);
// The function of the first entry with `key`, by search alone; null when not found.
functab_func find_func_in_functab(const functab_entry* table, int key);
KEL_END_C

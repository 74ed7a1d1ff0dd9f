// Lines of a compared file: the whole-line reader, directives, and the line comparison.
#define _FILE_OFFSET_BITS 64  // files beyond 2 GiB read on 32-bit Linux as well
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "platform/pfile.h"
#include "runtime/mem/mem.h"
#include "runtime/tolcmp/tolcmp_internal.h"

namespace tolcmp {
namespace {

constexpr int kBufferSize = 1 << 17;
int line_limit = 1 << 30;  // a buffer this large is not doubled again

// The byte under the NUL that ends the line handed out last goes back.
void restore_after_line(LineReader* reader) {
  if (reader->nul_at) *reader->nul_at = reader->nul_over;
  reader->nul_at = nullptr;
}

// Moves the bytes not yet handed out to the front, doubles the buffer when they fill it, and
// reads more: 1, or 0 when the file cannot be read or memory runs out.
bool refill(LineReader* reader) {
  const int kept = reader->end - reader->pos;
  if (reader->buffer && reader->pos > 0)
    memmove(reader->buffer, reader->buffer + reader->pos, (size_t)kept);
  reader->pos = 0;
  reader->end = kept;
  if (kept == reader->capacity) {
    if (reader->capacity >= line_limit) {  // errno tells the reason, not a left-over
      errno = EFBIG;
      return false;
    }
    const int capacity = reader->capacity ? reader->capacity * 2 : kBufferSize;
    char* buffer = static_cast<char*>(relocmem(reader->buffer, capacity + 2));
    if (!buffer) {
      errno = ENOMEM;
      return false;
    }
    reader->buffer = buffer;
    reader->capacity = capacity;
  }
  const size_t got =
      fread(reader->buffer + kept, 1, (size_t)(reader->capacity - kept), reader->file);
  if (got == 0) {
    if (ferror(reader->file)) return false;
    reader->at_end = 1;
  }
  reader->end += (int)got;
  return true;
}

// The next line, whatever its length: LINE_CONTENT, LINE_END_OF_FILE or LINE_FAILED. "\r\n"
// reads as "\n", and a last line without a line end gets one.
int read_line(LineReader* reader) {
  restore_after_line(reader);
  const char* found;
  int searched = 0;  // bytes from pos on that hold no line end: a long line is searched once
  for (;;) {
    const int from = reader->pos + searched;
    found = from < reader->end ? static_cast<const char*>(memchr(reader->buffer + from, '\n',
                                                                 (size_t)(reader->end - from)))
                               : nullptr;
    if (found || reader->at_end) break;
    searched = reader->end - reader->pos;
    if (!refill(reader)) {
      reader->error = errno ? errno : EIO;  // kept: reading the other file may change errno
      return LINE_FAILED;
    }
  }
  if (!found && reader->pos == reader->end) return LINE_END_OF_FILE;
  char* line = reader->buffer + reader->pos;
  int n = found ? (int)(found - line) + 1 : reader->end - reader->pos;
  reader->pos += n;
  ++reader->line_no;
  if (line[n - 1] == '\n') {
    if (n >= 2 && line[n - 2] == '\r') line[--n - 1] = '\n';
  } else if (line[n - 1] == '\r') {
    line[n - 1] = '\n';
  } else {
    line[n++] = '\n';  // the last line, at the end of the data: the buffer has room
  }
  reader->nul_at = line + n;
  reader->nul_over = *reader->nul_at;
  *reader->nul_at = 0;
  reader->line = line;
  reader->length = n;
  return LINE_CONTENT;
}

}  // namespace

int reader_line_limit(int bytes) {
  const int previous = line_limit;
  line_limit = bytes > 0 && bytes <= (1 << 30) ? bytes : 1 << 30;
  return previous;
}

int reader_open(LineReader* reader, const char* name) {
#ifdef _WIN32
  // Shared for deletion too, so that a file created to vanish on close (a copy of the standard
  // input) can be read by name.
  const HANDLE handle =
      CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const int fd = handle == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle((intptr_t)handle, _O_RDONLY);
  if (handle != INVALID_HANDLE_VALUE && fd < 0) CloseHandle(handle);
  FILE* file = fd >= 0 ? _fdopen(fd, "rb") : nullptr;
  if (fd >= 0 && !file) _close(fd);
  if (handle == INVALID_HANDLE_VALUE)
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
#else
  FILE* file = fopen(name, "rb");
#endif
  if (!file) {
    reader->error = errno;
    return 0;
  }
  restore_after_line(reader);
  reader->file = file;
  reader->pos = reader->end = 0;
  reader->at_end = 0;
  reader->line = nullptr;
  reader->length = 0;
  reader->line_no = 0;
  reader->error = 0;
  return 1;
}

void reader_close(LineReader* reader) {
  if (reader->file) fclose(reader->file);
  reader->file = nullptr;
}

void reader_release(LineReader* reader) {
  reader_close(reader);
  rlsmem(reader->buffer);
  memset(reader, 0, sizeof *reader);
}

int read_content_line(LineReader* reader) {
  for (;;) {
    const int status = read_line(reader);
    if (status != LINE_CONTENT) return status;
    const char* line = reader->line;
    int i = 0;
    while (line[i] == ' ' || line[i] == '\t') ++i;
    const char first = line[i];
    const char second = first == '\n' ? '\n' : line[i + 1];
    if (first == '<' && second == '<') return LINE_DIRECTIVE;
    if (first == '!' || first == '\n' || first == '<' || second == '<') continue;
    return LINE_CONTENT;
  }
}

int scratch_fit(Scratch* scratch, int length) {
  if (length > INT_MAX / 2) return 0;
  const int needed = length + 2;
  if (needed <= scratch->capacity) return 1;
  int capacity = scratch->capacity ? scratch->capacity : 256;
  while (capacity < needed) capacity *= 2;
  char* a = static_cast<char*>(relocmem(scratch->token_a, capacity));
  if (!a) return 0;
  scratch->token_a = a;
  char* b = static_cast<char*>(relocmem(scratch->token_b, capacity));
  if (!b) return 0;
  scratch->token_b = b;
  scratch->capacity = capacity;
  return 1;
}

void scratch_release(Scratch* scratch) {
  rlsmem(scratch->token_a);
  rlsmem(scratch->token_b);
  memset(scratch, 0, sizeof *scratch);
}

void read_tolerance_directive(Text line, Tolerances* tolerances, Scratch* scratch) {
  if (!scratch_fit(scratch, line.length)) return;
  int index = 0, abs_at = -1, rel_at = -1, reals = 0;
  double value[2] = {0, 0};
  int position = 0, length = 0, skipped = 0, taken;
  char* token = scratch->token_a;
  while ((taken = next_token(line, position, token, &length, &skipped)) > 0) {
    position += skipped + taken;
    const Text t{token, length};
    const int kind = token_kind(t);
    if (kind == TOKEN_TEXT) {
      if (!strcmp(token, "ABS_EPS") || !strcmp(token, "abs_eps")) {
        if (abs_at < 0) abs_at = index;
      } else if (!strcmp(token, "REL_EPS") || !strcmp(token, "rel_eps") ||
                 !strcmp(token, "mp_eps")) {
        if (rel_at < 0) rel_at = index;
      }
    } else if (kind == TOKEN_REAL) {
      if (reals < 2) value[reals] = token_value(t);
      ++reals;
    }
    ++index;
  }
  if (abs_at >= 0 && rel_at >= 0) {
    if (reals != 2) return;
    tolerances->abs_eps = abs_at < rel_at ? value[0] : value[1];
    tolerances->rel_eps = abs_at < rel_at ? value[1] : value[0];
  } else if (abs_at >= 0 && reals == 1) {
    tolerances->abs_eps = value[0];
  } else if (rel_at >= 0 && reals == 1) {
    tolerances->rel_eps = value[0];
  }
}

int lines_differ(Text a, Text b, int64_t line_no, int blank_check, int loose_numbers,
                 Tolerances tolerances, int report, Scratch* scratch) {
  if (is_continuation_line(a) || is_continuation_line(b)) return 0;
  if (!scratch_fit(scratch, a.length > b.length ? a.length : b.length)) return -1;
  // An observer sees every differing field; the report file only the first of a line.
  const bool every = report && observing();
  int at_a = 0, at_b = 0, field = 0, found = 0;
  Token ta{}, tb{};
  const Tolerances line_tolerances = tolerances;
  const bool rules = field_rules_present();
  for (;;) {
    const int taken_a = scan_token(a, at_a, scratch->token_a, &ta);
    const int taken_b = scan_token(b, at_b, scratch->token_b, &tb);
    if (taken_a == 0 || taken_b == 0) break;
    ++field;
    if (rules) {
      if (field_skipped(field)) {
        at_a += ta.skipped + taken_a;
        at_b += tb.skipped + taken_b;
        continue;
      }
      tolerances = field_tolerances(field, line_tolerances);
    }
    if (blank_check && report && ta.skipped != tb.skipped) {
      char blanks_a[32], blanks_b[32];
      const int na = snprintf(blanks_a, sizeof blanks_a, " %d blanks ", ta.skipped);
      const int nb = snprintf(blanks_b, sizeof blanks_b, " %d blanks ", tb.skipped);
      report_field(TOLCMP_DIFF_BLANKS, Text{blanks_a, na}, Text{blanks_b, nb}, TOKEN_TEXT,
                   TOKEN_TEXT, field, line_no, !found);
      found = 1;
      if (!every) return 1;
    }
    const int kind_a = ta.kind, kind_b = tb.kind;
    int differ = 0;
    if (kind_a == TOKEN_WILDCARD || kind_b == TOKEN_WILDCARD) {
      differ = 0;
    } else if (kind_a != kind_b &&
               !(loose_numbers && (kind_a == TOKEN_INTEGER || kind_a == TOKEN_REAL ||
                                   kind_b == TOKEN_INTEGER || kind_b == TOKEN_REAL))) {
      differ = 1;
    } else if (kind_a == TOKEN_REAL) {
      differ = numbers_differ(ta.text, tb.text, kind_b, tolerances);
    } else if (kind_a == TOKEN_TEXT) {
      differ = texts_differ(ta.text, tb.text);
    } else if (kind_b == TOKEN_REAL) {
      differ = numbers_differ(tb.text, ta.text, kind_a, tolerances);
    } else {
      differ = integers_differ(ta.text, tb.text, loose_numbers, tolerances);
    }
    if (differ) {
      if (report)
        report_field(TOLCMP_DIFF_FIELD, ta.text, tb.text, kind_a, kind_b, field, line_no, !found);
      found = 1;
      if (!every) return 1;
    }
    at_a += ta.skipped + taken_a;
    at_b += tb.skipped + taken_b;
  }
  // One line has tokens left: the rest of it (without its line end) against " ".
  const bool left_a = ta.taken > 0, left_b = tb.taken > 0;
  if (report && (left_a || left_b)) {
    const Text blank{" ", 1};
    const Text rest_a{a.text + at_a + ta.skipped, a.length - 1 - at_a - ta.skipped};
    const Text rest_b{b.text + at_b + tb.skipped, b.length - 1 - at_b - tb.skipped};
    report_field(TOLCMP_DIFF_REST, left_a ? rest_a : blank, left_a ? blank : rest_b, TOKEN_TEXT,
                 TOKEN_TEXT, field + 1, line_no, !found);
  }
  return found || left_a || left_b;
}

int line_in_file(const char* file, Text line, int blank_check, int loose_numbers,
                 Tolerances tolerances, LineReader* reader, Scratch* scratch) {
  if (!reader_open(reader, file)) return TOLCMP_CANNOT_OPEN;
  int found = 0;
  for (;;) {
    const int kind = read_content_line(reader);
    if (kind == LINE_END_OF_FILE) break;
    if (kind == LINE_FAILED) {
      found = TOLCMP_CANNOT_OPEN;
      break;
    }
    if (kind == LINE_DIRECTIVE) {
      read_tolerance_directive(reader_text(reader), &tolerances, scratch);
      continue;
    }
    const int differ = lines_differ(line, reader_text(reader), 0, blank_check, loose_numbers,
                                    tolerances, 0, scratch);
    if (differ < 0) {
      found = TOLCMP_CANNOT_OPEN;
      break;
    }
    if (!differ) {
      found = 1;
      break;
    }
  }
  reader_close(reader);
  return found;
}

// ---- Field rules ------------------------------------------------------------------------

namespace {
TolcmpFieldRule* field_rules = nullptr;
int field_rule_count = 0;

bool covers(const TolcmpFieldRule& rule, int field) {
  return field >= rule.first && (rule.last == 0 || field <= rule.last);
}
}  // namespace

bool field_rules_present() { return field_rule_count > 0; }

bool field_skipped(int field) {
  for (int i = field_rule_count - 1; i >= 0; --i)
    if (field_rules[i].skip >= 0 && covers(field_rules[i], field)) return field_rules[i].skip;
  return false;
}

Tolerances field_tolerances(int field, Tolerances tolerances) {
  bool abs_set = false, rel_set = false;
  for (int i = field_rule_count - 1; i >= 0 && !(abs_set && rel_set); --i) {
    const TolcmpFieldRule& rule = field_rules[i];
    if (!covers(rule, field)) continue;
    if (!abs_set && !isnan(rule.abs_eps)) abs_set = true, tolerances.abs_eps = rule.abs_eps;
    if (!rel_set && !isnan(rule.rel_eps)) rel_set = true, tolerances.rel_eps = rule.rel_eps;
  }
  return tolerances;
}

double field_abs_bound(int field) {
  double bound = -1;
  for (int i = 0; i < field_rule_count; ++i)
    if (covers(field_rules[i], field) && !isnan(field_rules[i].abs_eps))
      bound = fmax(bound, field_rules[i].abs_eps);
  return bound;
}

// ---- The report ------------------------------------------------------------------------

namespace {
FILE* report_stream = nullptr;
bool report_refused = false;  // the report file could not be opened in this comparison
bool report_lost = false;     // a part of this comparison's report did not reach the file
const char* report_names[2] = {"", ""};
char* report_file = nullptr;  // null: "dbgfile.dat"
int console_on = 1;
int report_on = 1;
const char* shown_names[2] = {nullptr, nullptr};  // the caller's names for the report file
TolcmpObserver observer{};
int64_t pair_lines[2] = {0, 0};
int failed_file = 0, failed_errno = 0;

const char* report_file_name() { return report_file ? report_file : "dbgfile.dat"; }

// The report file is written through the file layer, and a write it did not take makes the report
// incomplete; the console is written as the C library does.
void put_text(FILE* stream, Text t) {
  if (stream == stdout)
    fwrite(t.text, 1, (size_t)t.length, stream);
  else if (!platform_stream_write(stream, t.text, t.length))
    report_lost = true;
}

KEL_PRINTF_LIKE(2, 3) void put(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (stream == stdout)
    vfprintf(stream, format, args);
  else if (!platform_stream_vprintf(stream, format, args))
    report_lost = true;
  va_end(args);
}

const char kBanner[] = "\n\n\n      ***** Tolerance Compare File *****\n";

bool report_started = false;  // the report file was opened in this comparison

// The report file for appending, emptied first when it is opened the first time in a comparison
// with TOLCMP_REPORT_FRESH.
FILE* report_fopen() {
  const bool empty_it = report_on == TOLCMP_REPORT_FRESH && !report_started;
  FILE* stream = platform_path_fopen(report_file_name(), empty_it ? "w" : "a");
  report_started = report_started || stream;
  return stream;
}

// The stream, opened with its heading on the first difference of a comparison.
FILE* report_open() {
  if (report_stream || report_refused || !report_on) return report_stream;
  report_stream = report_fopen();
  if (!report_stream) {
    report_refused = report_lost = true;
    return nullptr;
  }
  put(report_stream, "%s", kBanner);
  put(report_stream, "\n  File_1: %s     File_2: %s\n", report_names[0], report_names[1]);
  return report_stream;
}
}  // namespace

FILE* console() { return console_on ? stdout : nullptr; }

void report_begin(const char* file_1, const char* file_2) {
  report_end();
  report_lost = report_started = false;
  report_names[0] = shown_names[0] ? shown_names[0] : file_1;
  report_names[1] = shown_names[1] ? shown_names[1] : file_2;
  pair_lines[0] = pair_lines[1] = 0;
  failed_file = failed_errno = 0;
}

void report_end() {
  if (report_stream && !platform_stream_close(report_stream)) report_lost = true;
  report_stream = nullptr;
  report_refused = false;
}

void report_token_difference(Text a, Text b, int64_t line_no) {
  FILE* stream = report_open();
  if (!stream) return;
  put(stream, "\nLine: %lld    Differ: ", (long long)line_no);
  put_text(stream, a);
  put(stream, "   ");
  put_text(stream, b);
}

void report_line_difference(Text a, Text b, int64_t line_no) {
  if (observing()) {  // without the line ends
    const Text bare_a{a.text, a.length - (a.length > 0 && a.text[a.length - 1] == '\n')};
    const Text bare_b{b.text, b.length - (b.length > 0 && b.text[b.length - 1] == '\n')};
    report_field(TOLCMP_DIFF_LINE, bare_a, bare_b, TOKEN_TEXT, TOKEN_TEXT, 0, line_no, false);
  }
  FILE* stream = report_open();
  if (!stream) return;
  put(stream, "\nLine: %lld Differ: \n", (long long)line_no);
  put(stream, "  ");
  put_text(stream, a);
  put(stream, "             VS \n");
  put(stream, "  ");
  put_text(stream, b);
  put(stream, "\n");
}

void report_summary(const char* file_1, const char* file_2, int64_t count_1, int64_t count_2,
                    int64_t total) {
  if (observer.summary) observer.summary(observer.context, count_1, count_2);
  if (count_1 == count_2 && total == 0) return;
  FILE* out[2] = {report_on ? report_fopen() : nullptr, console()};
  if (!out[0] && report_on) report_lost = true;
  file_1 = shown_names[0] ? shown_names[0] : file_1;
  file_2 = shown_names[1] ? shown_names[1] : file_2;
  if (out[0] && total == 0) {
    put(out[0], "%s", kBanner);
    put(out[0], "\n     File_1: %s     File_2: %s\n", file_1, file_2);
  }
  if (out[0]) put(out[0], "\n\n\n      **********************************\n");
  for (FILE* stream : out) {
    if (!stream) continue;
    if (count_1 != count_2) {
      put(stream, "     !!! Line Counts Are Different !!!\n");
      put(stream, "     File_1 : %lld    File_2 = %lld\n", (long long)count_1, (long long)count_2);
    }
    if (total) put(stream, "     Total num of diff lines: %lld\n", (long long)total);
  }
  if (out[0] && !platform_stream_close(out[0])) report_lost = true;
  if (report_lost && out[1])
    put(out[1], "     The report %s is not complete.\n", report_file_name());
}

bool observing() { return observer.difference != nullptr; }

void report_at(int64_t line_1, int64_t line_2) {
  pair_lines[0] = line_1;
  pair_lines[1] = line_2;
}

void report_field(int kind, Text a, Text b, int kind_a, int kind_b, int field, int64_t line_no,
                  bool to_file) {
  if (to_file) report_token_difference(a, b, line_no);
  if (!observing()) return;
  TolcmpDifference d{};
  d.kind = kind;
  d.line[0] = pair_lines[0];
  d.line[1] = pair_lines[1];
  d.field = field;
  const Text side[2] = {a, b};
  for (int f = 0; f < 2; ++f) {
    // The report file writes " " for the side that has no fields left; the observer gets "".
    const bool none = kind == TOLCMP_DIFF_REST && side[f].length == 1 && side[f].text[0] == ' ';
    d.text[f] = side[f].text;
    d.length[f] = none ? 0 : side[f].length;
  }
  const bool number_a = kind_a == TOKEN_INTEGER || kind_a == TOKEN_REAL;
  const bool number_b = kind_b == TOKEN_INTEGER || kind_b == TOKEN_REAL;
  if (kind == TOLCMP_DIFF_FIELD && number_a && number_b) {
    d.numeric = 1;
    d.value[0] = token_value(a);
    d.value[1] = token_value(b);
    double larger;
    if (!integer_difference(a, b, &d.abs_diff, &larger)) {  // integers: exact beyond 2^53 too
      d.abs_diff = fabs(d.value[0] - d.value[1]);
      larger = fmax(fabs(d.value[0]), fabs(d.value[1]));
    }
    d.rel_diff = larger > 0 ? d.abs_diff / larger : 0;
  }
  observer.difference(observer.context, &d);
}

void report_only(int side, Text line, int64_t file_line) {
  if (!observing()) return;
  TolcmpDifference d{};
  d.kind = TOLCMP_DIFF_ONLY;
  d.line[side] = file_line;
  d.text[side] = line.text;
  d.length[side] = line.length - (line.length > 0 && line.text[line.length - 1] == '\n');
  d.text[1 - side] = "";
  observer.difference(observer.context, &d);
}

void report_failure(int file, int error) {
  failed_errno = file ? error : 0;
  failed_file = file;
}

}  // namespace tolcmp

using namespace tolcmp;

int tolerance_report_file_set(const char* name) {
  char* copy = nullptr;
  if (name && *name) {
    const size_t length = strlen(name);
    if (length > INT_MAX / 2 || !(copy = static_cast<char*>(getmem((int)length + 1)))) return 0;
    memcpy(copy, name, length + 1);
  }
  rlsmem(report_file);
  report_file = copy;
  return 1;
}

int tolerance_fields_set(const TolcmpFieldRule* rules, int count) {
  if (!rules || count < 0) count = 0;
  for (int i = 0; i < count; ++i) {
    const TolcmpFieldRule& r = rules[i];
    if (r.first < 1 || (r.last != 0 && r.last < r.first) || r.skip < -1 || r.skip > 1 ||
        r.abs_eps < 0 || r.rel_eps < 0)
      return 0;
  }
  TolcmpFieldRule* copy = nullptr;
  if (count > 0) {
    if (count > INT_MAX / 2 / (int)sizeof *copy) return 0;
    copy = static_cast<TolcmpFieldRule*>(getmem(count * (int)sizeof *copy));
    if (!copy) return 0;
    memcpy(copy, rules, (size_t)count * sizeof *copy);
  }
  rlsmem(field_rules);
  field_rules = copy;
  field_rule_count = count;
  return 1;
}

int tolerance_report_written(void) { return !report_lost; }

int tolerance_report_on(int on) {
  const int previous = report_on;
  report_on = on == TOLCMP_REPORT_FRESH ? on : on ? 1 : 0;
  return previous;
}

void tolerance_report_names_set(const char* name_1, const char* name_2) {
  shown_names[0] = name_1;
  shown_names[1] = name_2;
}

void tolerance_observer_set(const TolcmpObserver* watcher) {
  observer = watcher ? *watcher : TolcmpObserver{};
}

int tolerance_failed_file(int* error) {
  if (error) *error = failed_errno;
  return failed_file;
}

int tolerance_console_set(int on) {
  const int previous = console_on;
  console_on = on ? 1 : 0;
  return previous;
}

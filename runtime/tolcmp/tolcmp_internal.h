// The tolerance comparison's inner operations, shared by its source files and its tests.
//
// Lines and tokens are counted byte strings (Text): a line may hold NUL bytes, which are ordinary
// characters here. Every line handed to these operations ends with one "\n" (the reader makes
// sure of it) and has a NUL byte after its length.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include "runtime/tolcmp/tolcmp.h"

namespace tolcmp {

enum TokenKind {
  TOKEN_EMPTY = 0,
  TOKEN_INTEGER = 1,
  TOKEN_REAL = 2,
  TOKEN_TEXT = 3,
  TOKEN_WILDCARD = 4
};
enum LineKind { LINE_FAILED = -1, LINE_END_OF_FILE = 0, LINE_CONTENT = 1, LINE_DIRECTIVE = 10 };

struct Text {
  const char* text;
  int length;
};

struct Tolerances {
  double abs_eps;
  double rel_eps;
};

// Reads whole lines of any length from a file opened in binary mode, numbering them as the file
// does (a last line without a line end counts). The file passes once through one large buffer
// and a line is handed out where it lies there, until the next read; only a line longer than
// the buffer makes it grow. All blocks are the runtime's; a reader that was never opened is all
// zeros.
struct LineReader {
  FILE* file;
  char* buffer;  // `capacity` bytes and two more: room for an added line end and a NUL
  int capacity;
  int pos, end;  // the bytes not yet handed out
  int at_end;
  char* line;  // the current line, in the buffer, "\n"-ended and NUL-terminated
  int length;
  char* nul_at;  // where the NUL after the line stands, over the byte `nul_over`
  char nul_over;
  int64_t line_no;  // the current line's number in its file, from 1, skipped lines counted
  int error;        // why opening or reading failed (errno; EFBIG: a line over the limit)
};
// 1, or 0 when the file cannot be opened (the reader stays closed).
int reader_open(LineReader* reader, const char* name);
// The longest line a reader takes (1 GiB, or less for a test; 0 restores 1 GiB): a longer one
// fails with errno EFBIG. Returns the previous limit.
int reader_line_limit(int bytes);
// Closes the file; the buffer stays for the next open.
void reader_close(LineReader* reader);
// Closes the file and releases the buffer.
void reader_release(LineReader* reader);
// LINE_CONTENT, LINE_DIRECTIVE ("<<" first after blanks), LINE_END_OF_FILE, or LINE_FAILED when
// the file cannot be read or memory runs out. Comment lines ("!"), empty lines and lines starting
// with "<" (or whose second character is "<") are passed over.
int read_content_line(LineReader* reader);
inline Text reader_text(const LineReader* reader) { return Text{reader->line, reader->length}; }

// Token buffers for the lines in hand: each holds a token of a line of `capacity` - 2 bytes.
struct Scratch {
  char* token_a;
  char* token_b;
  int capacity;
};
// Makes room for tokens of lines of `length` bytes: 1, or 0 when memory runs out.
int scratch_fit(Scratch* scratch, int length);
void scratch_release(Scratch* scratch);

// The token after `start`: separators (blank , tab ( ) ) are skipped and counted in *skipped; the
// token is copied to `token` (room for line.length - start + 2 bytes), exponent letters written
// as "e" with a sign. Returns the count of line characters the token took (0: no token left).
int next_token(Text line, int start, char* token, int* token_length, int* skipped);
int token_kind(Text token);
// A token as the comparison reads it: in place in its line, or in a buffer when the splitter
// rewrote it; its kind; the separators before it and the line bytes it took.
struct Token {
  Text text;
  int kind;
  int skipped, taken;
};
// The token after `start`, as next_token and token_kind give it (`buffer` as for next_token):
// returns the line bytes it took, 0 when no token is left.
int scan_token(Text line, int start, char* buffer, Token* token);
int is_continuation_line(Text line);
// 1 when the tokens differ as numbers; `b_kind` says whether b is read as a real or an integer.
int numbers_differ(Text a, Text b, int b_kind, Tolerances tolerances);
// Integer first token against an integer, or (loose_numbers) a text: 1 when they differ.
int integers_differ(Text a, Text b, int loose_numbers, Tolerances tolerances);
// Two integer tokens: |a-b| and max(|a|,|b|) computed exactly and rounded once to double; false
// when either is no integer or too long for that.
bool integer_difference(Text a, Text b, double* abs_diff, double* larger);
// The number at the front of a real token, as atof reads it.
double token_value(Text token);
// The value a comparison reads from a numeric token of `kind`: real tokens as reals, integers and
// texts as integers. *infinite: beyond the range of double.
double token_number(Text token, int kind, bool* infinite);
// 1 when the texts differ; a text holding "*" or "?" is a pattern for the other.
int texts_differ(Text a, Text b);
// Applies a directive line ("<< ABS_EPS = 1e-4 REL_EPS 1e-2") to the tolerances.
void read_tolerance_directive(Text line, Tolerances* tolerances, Scratch* scratch);
// The rules of tolerance_fields_set for field `field` (from 1): whether it is skipped, and the
// tolerances it is compared under (`tolerances` where no rule says otherwise).
bool field_skipped(int field);
Tolerances field_tolerances(int field, Tolerances tolerances);
// The largest absolute tolerance a rule gives field `field`, -1 when none does.
double field_abs_bound(int field);
bool field_rules_present();
// 1 when the lines differ; with `report` the first difference goes to the report.
int lines_differ(Text a, Text b, int64_t line_no, int blank_check, int loose_numbers,
                 Tolerances tolerances, int report, Scratch* scratch);
// 1 when some content line of `file` equals `line`, 0 when none does, 9 when the file cannot be
// read. `reader` is the caller's (closed again on return).
// The plain look-up that the unordered comparison's index stands in for (the tests hold the
// two side by side).
int line_in_file(const char* file, Text line, int blank_check, int loose_numbers,
                 Tolerances tolerances, LineReader* reader, Scratch* scratch);

// ---- The unordered comparison's view of a file -------------------------------------------
// Each file is read once and its content lines are held with an index, so that looking a line up
// costs about the lines that could match it, not the whole file. A line can only match lines of
// its shape (token count; numbers as numbers, other texts as they are); within a shape the lines
// are ordered by the values of their numeric columns, the most varied column first and constant
// ones left out, and a look-up descends column by column into the lines within the largest
// absolute tolerance of the looked-up values: a grid "i j k value" or constant columns cost a few
// steps, not a scan. Lines that no shape describes (a wildcard or a pattern in them) are compared
// with every line, and a continuation line matches any line.
enum { kHeldColumns = 8 };  // numeric columns an ordering may use

struct HeldLine {
  int offset, length;  // in the file's text, "\n" included, a NUL after it
  int64_t line_no;
  int64_t content_no;  // its count among the file's content lines
  Tolerances set;      // what the file's directives set before it; NaN: not set
  uint32_t text_hash, shape_hash;
  int kind;                    // HELD_PLAIN, HELD_FREE or HELD_ANY
  double value[kHeldColumns];  // its first numeric tokens' values (NaN: none), skipped fields
                               // left out
  int field[kHeldColumns];     // the field each of those values stands in
};
enum { HELD_PLAIN = 0, HELD_FREE = 1, HELD_ANY = 2 };

struct ShapeGroup {
  uint32_t shape_hash;
  int first, count;           // in HeldFile::order
  int columns[kHeldColumns];  // the columns its lines are ordered by, the first one first
  int column_count;
  double max_abs;  // the largest absolute tolerance its lines' directives set (-1: none)
  int inherits;    // some line takes the absolute tolerance of the looked-up line
};

struct HeldFile {
  char* text;
  int text_length, text_capacity;
  HeldLine* lines;
  int count, capacity;
  int* by_text;  // open addressing: line index + 1, 0 empty
  int by_text_size;
  int* order;  // line indices, plain lines grouped by shape, each group ordered by its column
  ShapeGroup* groups;
  int group_count;
  int* free_lines;  // lines compared with every line
  int free_count;
  int any_count;  // continuation lines
  double* work;   // scratch for choosing the columns
};

// Reads the file once through `reader` (the caller's, closed again) and indexes it: 1, 0 when it
// cannot be read or memory runs out.
int held_file_read(HeldFile* held, LineReader* reader, const char* name, int loose_numbers,
                   Scratch* scratch);
void held_file_release(HeldFile* held);
// 1 when some line of `held` equals the line `line` of `from` (whose tolerances are `tolerances`)
// as line_in_file would find it, 0 when none does, -1 when memory runs out.
int held_file_has(const HeldFile* held, const HeldFile* from, const HeldLine* line,
                  int loose_numbers, Tolerances tolerances, Scratch* scratch);
inline Text held_text(const HeldFile* held, const HeldLine* line) {
  return Text{held->text + line->offset, line->length};
}
// The tolerances a held line is compared under: what its file's directives set, the rest from
// `from` (the caller's, or the looked-up line's).
inline Tolerances held_tolerances(const HeldLine* line, Tolerances from) {
  return Tolerances{line->set.abs_eps != line->set.abs_eps ? from.abs_eps : line->set.abs_eps,
                    line->set.rel_eps != line->set.rel_eps ? from.rel_eps : line->set.rel_eps};
}

// The real tokens of a line: stores up to `max` in `values`, returns how many the line holds.
int line_values(Text line, double* values, int max, Scratch* scratch);
int layout_line_differ(Text a, Text b, int64_t line_no, double t, Scratch* scratch);
struct Matrix {
  double value[3][3];
  int count[3];     // real values found on each row's line
  int64_t line[3];  // each row's line number in its file
};
int matrix_rows_differ(const Matrix* m1, const Matrix* m2, double t, int64_t first_line);
double layout_scale_get();

// The report: the names of the files under comparison, the difference entries, the summary, and
// the end of a comparison (closes the stream).
void report_begin(const char* file_1, const char* file_2);
void report_token_difference(Text a, Text b, int64_t line_no);
void report_line_difference(Text a, Text b, int64_t line_no);
void report_summary(const char* file_1, const char* file_2, int64_t count_1, int64_t count_2,
                    int64_t total);
void report_end();
// The observer's part: whether there is one; the file lines of the pair compared next; a field
// difference (kinds of TOLCMP_DIFF_*, token kinds for the values) that goes to the report file
// too when `to_file`; a line of file `side` (0 or 1) that the other lacks, to the observer only.
bool observing();
void report_at(int64_t line_1, int64_t line_2);
void report_field(int kind, Text a, Text b, int kind_a, int kind_b, int field, int64_t line_no,
                  bool to_file);
void report_only(int side, Text line, int64_t file_line);
// A comparison that cannot go on: the file (1 or 2, 0 for memory) and why (an errno).
void report_failure(int file, int error);
// Standard output unless turned off.
FILE* console();

inline Text text_of(const char* s) {
  int n = 0;
  while (s[n]) ++n;
  return Text{s, n};
}

}  // namespace tolcmp

// Tolerance comparison of numeric text files: two files compared line by line and token by
// token, numbers equal within an absolute and a relative tolerance, directive lines in the files
// changing the tolerances, every difference appended to a report file ("dbgfile.dat" in the
// current directory unless set otherwise) and a summary on the standard output.
//
// Lines are compared whole, whatever their length; "\r\n" and "\n" end lines alike and a last
// line without a line end counts as ended. One comparison at a time: the report stream and the
// fixed layout's scale are process-wide.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
#define TOLCMP_SAME        0
#define TOLCMP_DIFFERENT   1
#define TOLCMP_CANNOT_OPEN 9  // a file cannot be opened or read (or memory ran out)

// Ordered comparison. blank_check: the separator counts before each token must agree too.
// loose_numbers: integers, reals and texts that hold numbers are compared as numbers.
// Numbers a, b differ when |a-b| >= abs_eps, or when max(|a|,|b|) > abs_eps and
// |a-b| > rel_eps * max(|a|,|b|); so abs_eps 0 asks for identical number texts.
int tolerance_compare_files(const char* file_1, const char* file_2, int blank_check,
                            int loose_numbers, double abs_eps, double rel_eps);
// Every content line of each file must occur, within the tolerances, somewhere in the other.
int tolerance_compare_unordered(const char* file_1, const char* file_2, int blank_check,
                                int loose_numbers, double abs_eps, double rel_eps);
// A fixed-layout numeric report whose lines 10-12 and 16-18 hold 3x3 matrices (relative
// tolerance 1e-5, absolute 1e-6 unless directives change them).
int tolerance_compare_layout(const char* file_1, const char* file_2);

// The report file; null or "" restores "dbgfile.dat". Returns 1, or 0 (name unchanged) when the
// name cannot be kept.
int tolerance_report_file_set(const char* name);
// 1 when every difference of the last comparison reached the report file, 0 when some could not
// be written there (then the summary on the standard output ends with a line saying so).
int tolerance_report_written(void);
// Standard-output lines on (1, the start value) or off (0). Returns the previous setting.
int tolerance_console_set(int on);
// The report file on (1, the start value: appended to), off (0), or TOLCMP_REPORT_FRESH (emptied
// when a comparison first writes to it, so never before its inputs are open). Returns the
// previous setting.
#define TOLCMP_REPORT_FRESH 2
int tolerance_report_on(int on);
// The names the report file gives the compared files (null: the names the comparison was given),
// for a caller that compares a copy of its input. The names are kept as given, not copied.
void tolerance_report_names_set(const char* name_1, const char* name_2);

// A number written as the compared files write one (a tolerance on a command line, say), read to
// the nearest double: 1, or 0 when the text is not one finite number in full.
int tolerance_parse_number(const char* text, double* value);

// ---- Fields: which are compared, and under which tolerances ----------------------------

typedef struct TolcmpFieldRule {
  int first, last;          // fields of a line from 1; last 0: to the end of the line
  int skip;                 // 1 not compared, 0 compared, -1 no say
  double abs_eps, rel_eps;  // NaN: no say
} TolcmpFieldRule;
// Rules for the fields of the following ordered and unordered comparisons (copied; null or 0
// rules: none). For each field the last rule that has a say decides whether it is compared and
// each of its tolerances, over the comparison's own and its files' directives. A skipped field
// still counts: lines of different field counts differ. Returns 1, or 0 (rules unchanged) when
// a rule is malformed (first < 1, last < first but not 0, a negative tolerance) or memory runs out.
int tolerance_fields_set(const TolcmpFieldRule* rules, int count);

// ---- Every difference, for callers that show the differences themselves ----

#define TOLCMP_DIFF_FIELD  1  // two fields of a line pair differ
#define TOLCMP_DIFF_BLANKS 2  // the separator counts before a field differ (blank check)
#define TOLCMP_DIFF_REST   3  // one line has fields left from `field` on; the other text is ""
#define TOLCMP_DIFF_LINE   4  // whole lines or matrix rows differ (fixed layout)
#define TOLCMP_DIFF_ONLY \
  5  // a content line of one file only: past the other file's last one,
     // or (unordered) equal to none of its lines; the other text is ""

typedef struct TolcmpDifference {
  int kind;
  int64_t line[2];      // the line in each file, numbered as the file numbers them from 1; 0: none
  int field;            // the field's position in its line from 1; 0 for a whole line
  const char* text[2];  // both sides as written (not NUL-terminated, no line end)
  int length[2];
  int numeric;  // both fields are numbers: the values and differences below hold
  double value[2];
  double abs_diff;  // |value[0] - value[1]|
  double rel_diff;  // abs_diff / max(|value[0]|, |value[1]|); 0 when both are 0
} TolcmpDifference;

typedef struct TolcmpObserver {
  // Each difference, in the order found; the texts live until the call returns.
  void (*difference)(void* context, const TolcmpDifference* difference);
  // At the end of each comparison that read both files: their content line counts.
  void (*summary)(void* context, int64_t lines_1, int64_t lines_2);
  void* context;
} TolcmpObserver;
// The observer of the following comparisons (copied; null: none). With an observer every
// differing field of a line pair is passed on, where the report file keeps the first.
void tolerance_observer_set(const TolcmpObserver* observer);
// After TOLCMP_CANNOT_OPEN: the file that could not be read (1 or 2; 0 when memory ran out), and
// in *error the errno of the failure (EFBIG: a line longer than 1 GiB).
int tolerance_failed_file(int* error);
KEL_END_C

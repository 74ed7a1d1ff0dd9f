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
KEL_END_C

// The fixed-layout report: per-line tolerances and the two 3x3 matrices.
#include <math.h>
#include <string.h>

#include "runtime/tolcmp/tolcmp_internal.h"

namespace tolcmp {
namespace {

double layout_scale = 1.0;

// The next real token of a line from *at on: 1 and its value, or 0 at the line's end.
int next_real(Text line, int* at, char* token, double* value) {
  int length = 0, skipped = 0, taken;
  while ((taken = next_token(line, *at, token, &length, &skipped)) > 0) {
    *at += skipped + taken;
    const Text t{token, length};
    if (token_kind(t) == TOKEN_REAL) {
      *value = token_value(t);
      return 1;
    }
  }
  return 0;
}

// Values beyond double are equal only to the same infinity.
bool values_differ(double a, double b, double t) {
  if (isinf(a) || isinf(b)) return a != b;
  const double d = fabs(a - b);
  return fmin(fabs(a), fabs(b)) > t ? d > t * fmax(fabs(a), fabs(b)) : d > t;
}

}  // namespace

double layout_scale_get() { return layout_scale; }

int line_values(Text line, double* values, int max, Scratch* scratch) {
  if (!scratch_fit(scratch, line.length)) return -1;
  int at = 0, count = 0;
  double value;
  while (next_real(line, &at, scratch->token_a, &value)) {
    if (count < max) values[count] = value;
    ++count;
  }
  return count;
}

int layout_line_differ(Text a, Text b, int64_t line_no, double t, Scratch* scratch) {
  if (!scratch_fit(scratch, a.length > b.length ? a.length : b.length)) return -1;
  double first = 0;
  const int count_a = line_values(a, &first, 1, scratch);
  const int count_b = line_values(b, nullptr, 0, scratch);
  if (line_no == 2) layout_scale = (count_a > 0 && fabs(first) > 1e-9) ? cbrt(first) : t;
  if (line_no == 7) t *= layout_scale;
  if (line_no >= 22 && line_no <= 24) t = fmax(t, 2e-5);
  if (line_no == 26) t = fmax(t * 180.0 / 3.14159265358979323846, 0.002);
  bool differ =
      count_a != count_b ||
      (count_a == 0 && (a.length != b.length || memcmp(a.text, b.text, (size_t)a.length) != 0));
  int at_a = 0, at_b = 0;
  double x, y;
  while (!differ && next_real(a, &at_a, scratch->token_a, &x) &&
         next_real(b, &at_b, scratch->token_b, &y))
    differ = values_differ(x, y, t);
  if (!differ) return 0;
  report_line_difference(a, b, line_no);
  return 1;
}

int matrix_rows_differ(const Matrix* m1, const Matrix* m2, double t, int64_t first_line) {
  int rows = 0;
  for (int p = 0; p < 3; ++p) {
    bool differ = m1->count[p] != m2->count[p];
    for (int q = 0; q < 3; ++q) {
      const double g1 = sqrt(fabs(m1->value[p][p] * m1->value[q][q]));
      const double g2 = sqrt(fabs(m2->value[p][p] * m2->value[q][q]));
      const double s = fmax(g1, g2), r = fmin(g1, g2);
      const double a = m1->value[p][q], b = m2->value[p][q];
      const double d = fabs(a - b);
      if (isinf(a) || isinf(b))
        differ |= a != b;
      else
        differ |= r > 1e-9 ? d > t * s : d > t;
    }
    if (!differ) continue;
    ++rows;
    char row_1[160], row_2[160];
    const int n1 = snprintf(row_1, sizeof row_1, "\t\t  %e  %e  %e\n", m1->value[p][0],
                            m1->value[p][1], m1->value[p][2]);
    const int n2 = snprintf(row_2, sizeof row_2, "\t\t  %e  %e  %e\n", m2->value[p][0],
                            m2->value[p][1], m2->value[p][2]);
    report_at(m1->line[p], m2->line[p]);
    report_line_difference(Text{row_1, n1}, Text{row_2, n2}, first_line + p);
  }
  return rows;
}

}  // namespace tolcmp

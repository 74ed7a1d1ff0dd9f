// Numbers at the bounds of the tolerances: the verdict follows the rule in IEEE double (|a-b| and
// REL * max(|a|,|b|) each rounded once to the nearest double) whatever the compiler keeps in its
// registers, checked against exact arithmetic on the doubles' integer mantissas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "runtime/tolcmp/tolcmp_internal.h"

namespace {

// x = m * 2^e exactly, m an integer of at most 53 bits (fewer when x has trailing zero bits).
int64_t mantissa(double x, int* e) {
  int64_t m = (int64_t)std::ldexp(std::frexp(std::fabs(x), e), 53);
  *e -= 53;
  while (m && !(m & 1)) m >>= 1, ++*e;
  return m;
}

// m * 2^e rounded once: an integer converts to double in one rounding, ldexp is exact.
double rounded(int64_t m, int e) {
  const volatile double v = (double)m;
  return std::ldexp(v, e);
}

// The rule decided exactly, for `rel` of at most 10 significant bits; false in *exact when the
// operands' exponents lie more than 9 apart (then 64-bit integers would not hold them).
bool expected_differ(double x, double y, double abs, double rel, bool* exact) {
  int ex, ey, em, er;
  int64_t mx = mantissa(x, &ex), my = mantissa(y, &ey);
  const int e = std::min(ex, ey);
  *exact = ex - e <= 9 && ey - e <= 9;
  if (!*exact) return false;
  mx = (x < 0 ? -mx : mx) << (ex - e);
  my = (y < 0 ? -my : my) << (ey - e);
  const double d = rounded(mx > my ? mx - my : my - mx, e);
  const double m = std::max(std::fabs(x), std::fabs(y));
  const int64_t mm = mantissa(m, &em), mr = mantissa(rel, &er);
  return d >= abs || (m > abs && d > rounded(mm * mr, em + er));
}

std::string text(double x) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", x);
  return std::strchr(buffer, '.') || std::strchr(buffer, 'e') ? buffer : std::string(buffer) + ".0";
}

int differ(double x, double y, double abs, double rel) {
  const std::string a = text(x), b = text(y);
  return tolcmp::numbers_differ(tolcmp::text_of(a.c_str()), tolcmp::text_of(b.c_str()),
                                tolcmp::TOKEN_REAL, tolcmp::Tolerances{abs, rel});
}

TEST(Bounds, VerdictsAtTheBoundsAreThoseOfDouble) {
  EXPECT_EQ(differ(-0.1, 2.9, 3, 0), 1);  // 2.9 + 0.1 rounds to 3
  std::mt19937_64 random(32);
  std::uniform_real_distribution<double> unit(-1, 1);
  int failures = 0, verdicts[2] = {0, 0};
  for (int i = 0; i < 60000; ++i) {
    const double a = unit(random) * std::pow(10.0, (int)(random() % 9) - 4);
    const double abs = std::pow(10.0, (int)(random() % 9) - 6) * (1 + (int)(random() % 9));
    const double rel = std::ldexp(1 + (int)(random() % 1023), -(int)(random() % 20) - 10);
    // b a bound away from a (by the absolute or the relative tolerance), moved a few units.
    double b = random() % 2 ? a + (random() % 2 ? abs : -abs) : a + a * rel;
    for (int k = (int)(random() % 7) - 3; k != 0; k += k > 0 ? -1 : 1)
      b = std::nextafter(b, k > 0 ? INFINITY : -INFINITY);
    bool exact;
    const int expected = expected_differ(a, b, abs, rel, &exact);
    if (!exact) continue;
    ++verdicts[expected];
    if (differ(a, b, abs, rel) != expected && ++failures <= 10)
      ADD_FAILURE() << text(a) << " " << text(b) << " abs " << abs << " rel " << rel;
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(verdicts[0], 5000);
  EXPECT_GT(verdicts[1], 5000);
}

}  // namespace

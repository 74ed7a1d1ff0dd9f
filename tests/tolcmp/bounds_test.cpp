// Numbers at the bounds of the tolerances: the verdict follows the rule in IEEE double (|a-b| and
// REL * max(|a|,|b|) each rounded once to the nearest double) whatever the compiler keeps in its
// registers, checked against exact binary arithmetic done in integers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/tolcmp/tolcmp_internal.h"

namespace {

// A non-negative binary number n * 2^shift, n in 32-bit limbs, lowest first.
struct Exact {
  std::vector<uint32_t> n;
  int shift = 0;
};

Exact exact(double x) {
  int e = 0;
  const uint64_t m = (uint64_t)std::ldexp(std::frexp(std::fabs(x), &e), 53);
  return Exact{{(uint32_t)m, (uint32_t)(m >> 32)}, e - 53};
}

Exact shifted_to(Exact a, int shift) {  // the same value with a lower shift
  for (int k = a.shift - shift; k > 0; --k) {
    uint32_t carry = 0;
    for (uint32_t& limb : a.n) {
      const uint32_t next = limb >> 31;
      limb = (limb << 1) | carry;
      carry = next;
    }
    if (carry) a.n.push_back(carry);
  }
  a.shift = shift;
  return a;
}

int compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  for (size_t i = std::max(a.size(), b.size()); i-- > 0;) {
    const uint32_t x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// |a - b| when `subtract`, else a + b.
Exact combine(Exact a, Exact b, bool subtract) {
  const int shift = std::min(a.shift, b.shift);
  a = shifted_to(a, shift);
  b = shifted_to(b, shift);
  if (subtract && compare(a.n, b.n) < 0) std::swap(a, b);
  a.n.resize(std::max(a.n.size(), b.n.size()) + 1);
  int64_t carry = 0;
  for (size_t i = 0; i < a.n.size(); ++i) {
    const int64_t y = i < b.n.size() ? b.n[i] : 0;
    const int64_t sum = (int64_t)a.n[i] + (subtract ? -y : y) + carry;
    a.n[i] = (uint32_t)sum;
    carry = sum >> 32;
  }
  return a;
}

Exact multiply(const Exact& a, const Exact& b) {
  Exact p{std::vector<uint32_t>(a.n.size() + b.n.size() + 1), a.shift + b.shift};
  for (size_t i = 0; i < a.n.size(); ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.n.size(); ++j) {
      const uint64_t t = (uint64_t)a.n[i] * b.n[j] + p.n[i + j] + carry;
      p.n[i + j] = (uint32_t)t;
      carry = t >> 32;
    }
    p.n[i + b.n.size()] += (uint32_t)carry;
  }
  return p;
}

// The nearest double, ties to even.
double rounded(const Exact& a) {
  auto bit = [&a](int i) { return i >= 0 && (a.n[(size_t)i / 32] >> (i % 32)) & 1; };
  int length = (int)a.n.size() * 32;
  while (length > 0 && !bit(length - 1)) --length;
  const int drop = std::max(length - 53, 0);
  uint64_t m = 0;
  for (int i = length - 1; i >= drop; --i) m = 2 * m + bit(i);
  bool below = false;
  for (int i = 0; i < drop - 1; ++i) below = below || bit(i);
  if (bit(drop - 1) && (below || (m & 1))) ++m;
  return std::ldexp((double)m, a.shift + drop);
}

// The rule, every operation exact and each result rounded once.
bool expected_differ(double x, double y, double abs, double rel) {
  const double d = rounded(combine(exact(x), exact(y), std::signbit(x) == std::signbit(y)));
  const double m = std::max(std::fabs(x), std::fabs(y));
  return d >= abs || (m > abs && d > rounded(multiply(exact(rel), exact(m))));
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
  struct Case {
    double a, b, abs, rel;
  };
  // Differences that round onto the absolute bound or the relative one, or just beside them.
  const Case table[] = {
      {-0.1, 2.9, 3, 0},           {0.1, 0.3, 0.2, 0},
      {1e16, 1e16 + 2, 2, 0},      {1.0, 1.0 + 0x1p-52, 0x1p-52, 0},
      {0.7, 0.7 * 1.1, 1e-9, 0.1}, {3.0, 3.3, 1e-9, 0.1},
      {1e300, -1e300, 1e308, 0},   {1e-300, 2e-300, 1e-300, 0},
  };
  for (const Case& c : table)
    EXPECT_EQ(differ(c.a, c.b, c.abs, c.rel), expected_differ(c.a, c.b, c.abs, c.rel))
        << text(c.a) << " " << text(c.b) << " abs " << c.abs << " rel " << c.rel;
  EXPECT_EQ(differ(-0.1, 2.9, 3, 0), 1);  // 2.9 + 0.1 rounds to 3
  std::mt19937_64 random(32);
  std::uniform_real_distribution<double> unit(-1, 1);
  int failures = 0, verdicts[2] = {0, 0};
  for (int i = 0; i < 40000; ++i) {
    const double a = unit(random) * std::pow(10.0, (int)(random() % 9) - 4);
    const double abs = std::pow(10.0, (int)(random() % 9) - 6) * (1 + (int)(random() % 9));
    const double rel = random() % 2 ? 0.1 * (1 + (int)(random() % 9)) : 1e-5;
    // b a bound away from a (by the absolute or the relative tolerance), moved a few units.
    double b = random() % 2 ? a + (random() % 2 ? abs : -abs) : a + a * rel;
    for (int k = (int)(random() % 7) - 3; k != 0; k += k > 0 ? -1 : 1)
      b = std::nextafter(b, k > 0 ? INFINITY : -INFINITY);
    const int expected = expected_differ(a, b, abs, rel);
    ++verdicts[expected];
    if (differ(a, b, abs, rel) != expected && ++failures <= 10)
      ADD_FAILURE() << text(a) << " " << text(b) << " abs " << abs << " rel " << rel;
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(verdicts[0], 5000);
  EXPECT_GT(verdicts[1], 5000);
}

}  // namespace

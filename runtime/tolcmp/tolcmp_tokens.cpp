// Tokens of a compared line: splitting, kinds, and the number and text rules.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <charconv>

#include "runtime/tolcmp/tolcmp_internal.h"

namespace tolcmp {
namespace {

bool is_separator(char c) { return c == ' ' || c == ',' || c == '\t' || c == '(' || c == ')'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_exponent_letter(char c) { return c == 'e' || c == 'E' || c == 'd' || c == 'D'; }
bool is_sign(char c) { return c == '+' || c == '-'; }

bool same_text(Text a, Text b) {
  return a.length == b.length && memcmp(a.text, b.text, (size_t)a.length) == 0;
}

// A number read from the front of a token, as atof or atoi would, without wrapping: `consumed`
// bytes were read (0: no number, value 0); the rest of the token is its tail.
struct Number {
  double value;
  int64_t integer;  // integers only: the exact value unless `wide`
  int consumed;
  bool wide;      // an integer beyond 64 bits
  bool infinite;  // a real beyond the range of double
};

Number parse_real(Text t) {
  Number n{};
  int skip = 0;  // from_chars takes no "+"
  if (t.length > 1 && t.text[0] == '+' && !is_sign(t.text[1])) skip = 1;
  const char* s = t.text + skip;
  const char* end = t.text + t.length;
  // Exponent letters d and D read as e (the splitter writes e; callers may not have split).
  char mapped[128];
  if (memchr(s, 'd', (size_t)(end - s)) || memchr(s, 'D', (size_t)(end - s))) {
    const int count = (int)(end - s) < (int)sizeof mapped ? (int)(end - s) : (int)sizeof mapped;
    for (int i = 0; i < count; ++i) mapped[i] = (s[i] == 'd' || s[i] == 'D') ? 'e' : s[i];
    s = mapped;
    end = mapped + count;
  }
  double value = 0;
  const auto [ptr, ec] = std::from_chars(s, end, value, std::chars_format::general);
  if (ec == std::errc::invalid_argument) return n;
  n.consumed = skip + (int)(ptr - s);
  if (ec == std::errc::result_out_of_range) {
    // Too large, or too small: strtod tells which, as atof would see it.
    char copy[512];
    const int length = (int)(ptr - s) < (int)sizeof copy ? (int)(ptr - s) : (int)sizeof copy - 1;
    memcpy(copy, s, (size_t)length);
    copy[length] = 0;
    value = strtod(copy, nullptr);
    n.infinite = isinf(value) || length == (int)sizeof copy - 1;
  }
  n.value = value;
  return n;
}

Number parse_integer(Text t) {
  Number n{};
  int i = 0;
  const bool negative = t.length > 0 && t.text[0] == '-';
  if (t.length > 0 && is_sign(t.text[0])) i = 1;
  const int first_digit = i;
  uint64_t magnitude = 0;
  for (; i < t.length && is_digit(t.text[i]); ++i) {
    const unsigned d = (unsigned)(t.text[i] - '0');
    if (magnitude > (UINT64_MAX - d) / 10) n.wide = true;
    magnitude = magnitude * 10 + d;
  }
  if (i == first_digit) return n;
  n.consumed = i;
  if (magnitude > (uint64_t)INT64_MAX) n.wide = true;
  if (n.wide) {
    std::from_chars(t.text + first_digit, t.text + i, n.value);
    if (negative) n.value = -n.value;
  } else {
    n.integer = negative ? -(int64_t)magnitude : (int64_t)magnitude;
    n.value = (double)n.integer;
  }
  return n;
}

Text tail(Text t, const Number& n) { return Text{t.text + n.consumed, t.length - n.consumed}; }

// Two integer texts with the same value: sign and digits without leading zeros.
bool same_integer(Text a, Text b) {
  auto digits = [](Text t, bool* negative) {
    int i = 0;
    *negative = t.length > 0 && t.text[0] == '-';
    if (t.length > 0 && is_sign(t.text[0])) i = 1;
    while (i < t.length - 1 && t.text[i] == '0') ++i;
    return Text{t.text + i, t.length - i};
  };
  bool neg_a, neg_b;
  const Text da = digits(a, &neg_a), db = digits(b, &neg_b);
  return neg_a == neg_b && same_text(da, db);
}

// "*" any sequence, "?" one character; iterative, so no input makes it slow beyond |p|*|s|.
bool pattern_matches(Text pattern, Text s) {
  int p = 0, i = 0, star = -1, mark = 0;
  while (i < s.length) {
    if (p < pattern.length && (pattern.text[p] == '?' || pattern.text[p] == s.text[i])) {
      ++p;
      ++i;
    } else if (p < pattern.length && pattern.text[p] == '*') {
      star = p++;
      mark = i;
    } else if (star >= 0) {
      p = star + 1;
      i = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.length && pattern.text[p] == '*') ++p;
  return p == pattern.length;
}

bool is_pattern(Text t) {
  return memchr(t.text, '*', (size_t)t.length) != nullptr ||
         memchr(t.text, '?', (size_t)t.length) != nullptr;
}

}  // namespace

int token_kind(Text token) {
  if (token.length == 0) return TOKEN_EMPTY;
  if (token.length == 1 && token.text[0] == '*') return TOKEN_WILDCARD;
  int digits = 0, dots = 0, signs = 0, others = 0, other_at = 0;
  for (int i = 0; i < token.length; ++i) {
    const char c = token.text[i];
    if (is_digit(c)) {
      ++digits;
    } else if (c == '.') {
      ++dots;
    } else if (is_sign(c)) {
      if (i > 0 && !is_exponent_letter(token.text[i - 1])) return TOKEN_TEXT;
      ++signs;
    } else {
      ++others;
      other_at = i;
    }
  }
  if (digits == 0 || others > 1 || dots > 2 || signs >= 3) return TOKEN_TEXT;
  if (others == 0) return dots ? TOKEN_REAL : TOKEN_INTEGER;
  const bool exponent = is_exponent_letter(token.text[other_at]) && other_at + 1 < token.length &&
                        is_sign(token.text[other_at + 1]);
  return exponent ? TOKEN_REAL : TOKEN_TEXT;
}

int next_token(Text line, int start, char* token, int* token_length, int* skipped) {
  int i = start;
  while (i < line.length && is_separator(line.text[i])) ++i;
  *skipped = i - start;
  const int first = i;
  int n = 0;
  while (i < line.length) {
    const char c = line.text[i];
    if (is_separator(c) || c == '\n') break;
    if (is_sign(c) && n > 0 && (is_digit(token[n - 1]) || token[n - 1] == '.') &&
        i + 1 < line.length && (is_digit(line.text[i + 1]) || line.text[i + 1] == '.'))
      break;  // 1.5-2.5 is two numbers
    if (is_exponent_letter(c) && n > 0) {
      int j = i + 1;
      const char sign = (j < line.length && is_sign(line.text[j])) ? line.text[j] : 0;
      if (sign) ++j;
      if (j < line.length && is_digit(line.text[j])) {
        const int kind = token_kind(Text{token, n});
        if (kind == TOKEN_INTEGER || kind == TOKEN_REAL) {
          int k = j;
          while (k < line.length && is_digit(line.text[k])) ++k;
          if (k < line.length && line.text[k] == '.')
            --k;  // the digit before a "." starts the next token
          token[n++] = 'e';
          token[n++] = sign ? sign : '+';
          memcpy(token + n, line.text + j, (size_t)(k - j));
          n += k - j;
          i = k;
          break;
        }
      }
    }
    token[n++] = c;
    ++i;
  }
  token[n] = 0;
  *token_length = n;
  return i - first;
}

int is_continuation_line(Text line) {
  int ampersands = 0;
  for (int i = 0; i < line.length; ++i) {
    const char c = line.text[i];
    if (c == '&')
      ++ampersands;
    else if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != ',')
      return 0;
  }
  return ampersands == 1;
}

int numbers_differ(Text a, Text b, int b_kind, Tolerances tolerances) {
  if (same_text(a, b)) return 0;
  const Number x = parse_real(a);
  const Number y = b_kind == TOKEN_REAL ? parse_real(b) : parse_integer(b);
  // What follows the numbers must agree: 1.2.3 is not 1.2.9, and a text is no zero.
  if (!same_text(tail(a, x), tail(b, y))) return 1;
  if (x.infinite || y.infinite) return 1;  // beyond double: only identical texts are equal
  const double d = fabs(x.value - y.value);
  const double m = fmax(fabs(x.value), fabs(y.value));
  return d >= tolerances.abs_eps || (m > tolerances.abs_eps && d > tolerances.rel_eps * m);
}

// Integer first token against an integer (or, loosely, a text): read as integers.
int integers_differ(Text a, Text b, int loose_numbers, Tolerances tolerances) {
  const Number i = parse_integer(a);
  const Number j = parse_integer(b);
  if (!same_text(tail(a, i), tail(b, j))) return 1;
  if (i.wide || j.wide) return !same_integer(Text{a.text, i.consumed}, Text{b.text, j.consumed});
  if (i.integer == 0 && j.integer == 0) return 0;
  if (loose_numbers && tolerances.abs_eps > 1.0) {
    const double d = fabs(i.value - j.value);
    const double m = fmax(fabs(i.value), fabs(j.value));
    return d > tolerances.abs_eps || d > tolerances.rel_eps * m;
  }
  return i.integer != j.integer;
}

int texts_differ(Text a, Text b) {
  const bool pattern_a = is_pattern(a), pattern_b = is_pattern(b);
  if (pattern_a == pattern_b) return !same_text(a, b);
  return pattern_a ? !pattern_matches(a, b) : !pattern_matches(b, a);
}

double token_value(Text token) { return parse_real(token).value; }

}  // namespace tolcmp

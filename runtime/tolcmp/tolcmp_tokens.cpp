// Tokens of a compared line: splitting, kinds, and the number and text rules.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <array>
#include <charconv>

#include "runtime/tolcmp/tolcmp_internal.h"

// Verdicts at a bound are those of IEEE double only where every operation rounds to double once
// (the build gives these sources SSE2 arithmetic on 32-bit x86).
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
#error "the tolerance comparison needs double arithmetic without excess precision"
#endif

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

// ---- Exact decimal to double without floating-point arithmetic -------------------------------
// A decimal w * 10^q with at most 19 significant digits and q in [-27, 27] is rounded to the
// nearest double (ties to even) in integers alone, so every toolchain and every x87 precision
// setting gets the same bits (from_chars does not: on x87 its fast path rounds twice, and
// 17827035e20 comes out one unit too high). w, shifted to fill 64 bits, times a 128-bit power of
// ten (5^q exactly, or 2^k / 5^-q cut to 128 bits) gives the leading bits of the value. A cut
// power leaves the product short by less than 2^65; when that could move the rounding (a run of
// ones, or exactly half way) the decimal is set against the midpoint of the two candidates on
// exact 128-bit products.

struct U128 {
  uint64_t hi, lo;
};

inline U128 multiply(uint64_t a, uint64_t b) {
  const uint32_t a0 = (uint32_t)a, a1 = (uint32_t)(a >> 32);
  const uint32_t b0 = (uint32_t)b, b1 = (uint32_t)(b >> 32);
  const uint64_t p00 = (uint64_t)a0 * b0, p01 = (uint64_t)a0 * b1;
  const uint64_t p10 = (uint64_t)a1 * b0, p11 = (uint64_t)a1 * b1;
  const uint64_t middle = (p00 >> 32) + (uint32_t)p01 + (uint32_t)p10;
  return U128{p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (uint32_t)p00};
}

inline int bit_length(U128 x) {
  if (x.hi) return 128 - __builtin_clzll(x.hi);
  return x.lo ? 64 - __builtin_clzll(x.lo) : 0;
}

// The sign of l * 2^d - r, for d >= 0 and r below 2^127.
int compare_shifted(U128 l, int d, U128 r) {
  if (d > 0) {
    if (bit_length(l) + d > 127) return 1;
    l = d >= 64 ? U128{l.lo << (d - 64), 0} : U128{(l.hi << d) | (l.lo >> (64 - d)), l.lo << d};
  }
  if (l.hi != r.hi) return l.hi < r.hi ? -1 : 1;
  return l.lo < r.lo ? -1 : l.lo > r.lo;
}

// The sign of w * 10^q - h * 2^k, for h below 2^55 and |q| <= 27 (both products below 2^127).
int compare_decimal(uint64_t w, int q, uint64_t h, int k) {
  uint64_t five = 1;
  for (int i = 0; i < (q < 0 ? -q : q); ++i) five *= 5;
  const U128 l = q >= 0 ? multiply(w, five) : U128{0, w};
  const U128 r = q >= 0 ? U128{0, h} : multiply(h, five);
  return q >= k ? compare_shifted(l, q - k, r) : -compare_shifted(r, k - q, l);
}

constexpr int kMaxScale = 27;  // 5^27 < 2^63

// 10^q = power * 2^exponent, power a 128-bit number with its top bit set (cut for q < 0).
struct PowerOf10 {
  U128 power;
  int exponent;
};

constexpr PowerOf10 power_of_10(int q) {
  uint64_t five = 1;
  for (int i = 0; i < (q < 0 ? -q : q); ++i) five *= 5;
  int length = 0;
  while (length < 64 && (five >> length)) ++length;
  if (q >= 0) {  // 5^q shifted to the top, exact
    return PowerOf10{U128{five << (64 - length), 0}, q - (128 - length)};
  }
  // floor(2^b / 5^-q) with b = 127 + length, by long division: between 2^127 and 2^128.
  const int b = 127 + length;
  U128 quotient{0, 0};
  uint64_t remainder = 0;
  for (int bit = b; bit >= 0; --bit) {
    remainder = 2 * remainder + (bit == b);
    if (remainder >= five) {
      remainder -= five;
      if (bit >= 64)
        quotient.hi |= 1ull << (bit - 64);
      else
        quotient.lo |= 1ull << bit;
    }
  }
  return PowerOf10{quotient, -b + q};
}

constexpr std::array<PowerOf10, 2 * kMaxScale + 1> powers_of_10() {
  std::array<PowerOf10, 2 * kMaxScale + 1> table{};
  for (int q = -kMaxScale; q <= kMaxScale; ++q) table[q + kMaxScale] = power_of_10(q);
  return table;
}
constexpr auto kPowersOf10 = powers_of_10();

// The double nearest to w * 10^q (w > 0, |q| <= kMaxScale).
double nearest_double(uint64_t w, int q) {
  const uint64_t decimal = w;
  const int zeros = __builtin_clzll(w);
  w <<= zeros;
  const PowerOf10& p = kPowersOf10[q + kMaxScale];
  const U128 high = multiply(w, p.power.hi), low = multiply(w, p.power.lo);
  // The 192-bit product: top (bits 191-128), middle (127-64), bottom (63-0).
  uint64_t middle = high.lo + low.hi;
  uint64_t top = high.hi + (middle < high.lo);
  uint64_t bottom = low.lo;
  int exponent = p.exponent - zeros;
  if (!(top >> 63)) {  // at least 2^190: one shift puts the leading bit on top
    top = (top << 1) | (middle >> 63);
    middle = (middle << 1) | (bottom >> 63);
    --exponent;
  }
  // 53 bits, the rounding bit, and ten bits above `middle`; what the cut lost is below 2^65.
  const uint64_t tail = top & 0x3ff;
  bool round_up = (top >> 10) & 1;
  uint64_t mantissa = top >> 11;  // the value is mantissa * 2^exponent, rounded
  exponent += 128 + 11;
  if ((tail == 0x3ff && middle > ~0ull - 4) || (round_up && tail == 0 && middle == 0)) {
    const int side = compare_decimal(decimal, q, 2 * mantissa + 1, exponent - 1);
    round_up = side > 0 || (side == 0 && (mantissa & 1));
  }
  mantissa += round_up;
  if (mantissa >> 53) {
    mantissa >>= 1;
    ++exponent;
  }
  // |q| <= 27 keeps the exponent far inside the normal range.
  const uint64_t bits = ((uint64_t)(exponent + 52 + 1023) << 52) | (mantissa & ((1ull << 52) - 1));
  double value;
  memcpy(&value, &bits, sizeof bits);
  return value;
}

// Appends the digits from `p` on to *w, four at a time while it can; returns where they end and
// adds their count to *count (w wraps beyond 19 digits: the caller checks the count).
inline const char* take_digits(const char* p, const char* end, uint64_t* w, int* count) {
  const char* start = p;
  uint64_t value = *w;
  while (end - p >= 4) {
    uint32_t four;
    memcpy(&four, p, sizeof four);  // the first digit in the lowest byte
    if ((four & 0xf0f0f0f0u) != 0x30303030u || ((four + 0x06060606u) & 0xf0f0f0f0u) != 0x30303030u)
      break;
    four -= 0x30303030u;
    four = (four * 10 + (four >> 8)) & 0x00ff00ffu;
    four = (four * 100 + (four >> 16)) & 0xffffu;
    value = value * 10000 + four;
    p += 4;
  }
  uint32_t rest = 0, scale = 1;  // at most three digits are left
  for (; p < end && is_digit(*p); ++p, scale *= 10) rest = rest * 10 + (uint32_t)(*p - '0');
  *w = value * scale + rest;
  *count += (int)(p - start);
  return p;
}

// A token that is all one decimal ([+-] digits [. digits] [e|E [+-] digits], a digit in the
// mantissa), read exactly as from_chars reads it; false for anything else, left to from_chars.
bool parse_plain_decimal(Text t, double* value) {
  const char* s = t.text;
  const char* end = s + t.length;
  const bool negative = s < end && *s == '-';
  if (s < end && is_sign(*s)) ++s;
  const char* mantissa = s;
  while (s < end && *s == '0') ++s;  // leading zeros add nothing
  uint64_t w = 0;
  int significant = 0, scale = 0;
  s = take_digits(s, end, &w, &significant);
  bool digits = s != mantissa;
  if (s < end && *s == '.') {
    const char* fraction = ++s;
    if (significant == 0)
      while (s < end && *s == '0') ++s;
    int count = 0;
    s = take_digits(s, end, &w, &count);
    significant += count;
    scale = -(int)(s - fraction);
    digits = digits || s != fraction;
  }
  if (!digits || significant > 19) return false;
  if (s < end && (*s == 'e' || *s == 'E')) {
    ++s;
    const bool negative_exponent = s < end && *s == '-';
    if (s < end && is_sign(*s)) ++s;
    if (s == end) return false;
    int exponent = 0;
    for (; s < end && is_digit(*s); ++s)
      if ((exponent = exponent * 10 + (*s - '0')) > 100000) return false;
    scale += negative_exponent ? -exponent : exponent;
  }
  if (s != end) return false;
  if (w != 0 && (scale < -kMaxScale || scale > kMaxScale)) return false;
  const double magnitude = w ? nearest_double(w, scale) : 0.0;
  *value = negative ? -magnitude : magnitude;
  return true;
}

Number parse_real(Text t) {
  Number n{};
  if (parse_plain_decimal(t, &n.value)) {
    n.consumed = t.length;
    return n;
  }
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

// ---- Exact integers for the loose comparison and the differences shown --------------------
// Integers of up to kExactDigits digits are compared with the tolerances exactly, beyond 64 bits
// too: |i-j| > abs and |i-j| > rel * max(|i|,|j|) are decided on binary integers, the tolerances
// taken as the exact values of their doubles. Longer integers are equal only when equal.
constexpr int kExactDigits = 1000;
constexpr int kLimbs = 160;  // 5120 bits: 1000 digits times a tolerance's 53 bits and 2^1074

struct Big {
  uint32_t limb[kLimbs];  // lowest first; the first `size` hold the value
  int size;
};

void big_multiply_add(Big* a, uint32_t factor, uint32_t add) {
  uint64_t carry = add;
  for (int i = 0; i < a->size; ++i) {
    const uint64_t t = (uint64_t)a->limb[i] * factor + carry;
    a->limb[i] = (uint32_t)t;
    carry = t >> 32;
  }
  if (carry) a->limb[a->size++] = (uint32_t)carry;
  while (a->size > 0 && a->limb[a->size - 1] == 0) --a->size;
}

void big_shift_left(Big* a, int bits) {
  if (a->size == 0) return;
  const int words = bits / 32, rest = bits % 32;
  a->limb[a->size] = 0;
  for (int i = a->size; i >= 0; --i) {
    const uint32_t low = rest && i > 0 ? a->limb[i - 1] >> (32 - rest) : 0;
    a->limb[i + words] = (rest ? a->limb[i] << rest : a->limb[i]) | low;
  }
  for (int i = 0; i < words; ++i) a->limb[i] = 0;
  a->size += words + 1;
  while (a->size > 0 && a->limb[a->size - 1] == 0) --a->size;
}

int big_compare(const Big& a, const Big& b) {
  if (a.size != b.size) return a.size < b.size ? -1 : 1;
  for (int i = a.size - 1; i >= 0; --i)
    if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
  return 0;
}

// a = a + b, or a = a - b (a >= b).
void big_add(Big* a, const Big& b, bool subtract) {
  int64_t carry = 0;
  const int size = a->size > b.size ? a->size : b.size;
  for (int i = 0; i < size; ++i) {
    const int64_t x = i < a->size ? a->limb[i] : 0, y = i < b.size ? b.limb[i] : 0;
    const int64_t t = x + (subtract ? -y : y) + carry;
    a->limb[i] = (uint32_t)t;
    carry = t >> 32;  // arithmetic: -1 borrows
  }
  a->size = size;
  if (carry > 0) a->limb[a->size++] = (uint32_t)carry;
  while (a->size > 0 && a->limb[a->size - 1] == 0) --a->size;
}

// The magnitude of an integer token ([+-] digits): false beyond kExactDigits digits.
bool big_from_integer(Text t, Big* a, bool* negative) {
  int i = t.length > 0 && is_sign(t.text[0]);
  *negative = i && t.text[0] == '-';
  while (i < t.length - 1 && t.text[i] == '0') ++i;
  if (t.length - i > kExactDigits) return false;
  a->size = 0;
  for (; i < t.length; ++i) big_multiply_add(a, 10, (uint32_t)(t.text[i] - '0'));
  return true;
}

// x * factor for a finite double factor >= 0, as m * 2^shift with m a Big (exact).
int big_times_double(Big* x, double factor) {
  int exponent = 0;
  const uint64_t m = (uint64_t)ldexp(frexp(factor, &exponent), 53);
  Big high = *x;
  big_multiply_add(&high, (uint32_t)(m >> 32), 0);
  big_shift_left(&high, 32);
  big_multiply_add(x, (uint32_t)m, 0);
  big_add(x, high, false);
  return exponent - 53;
}

// d > factor * x, exactly.
bool big_exceeds(Big d, Big x, double factor) {
  const int shift = big_times_double(&x, factor);
  if (shift > 0) big_shift_left(&x, shift);
  if (shift < 0) big_shift_left(&d, -shift);
  return big_compare(d, x) > 0;
}

// The nearest double to a (ties to even).
double big_to_double(const Big& a) {
  if (a.size == 0) return 0;
  int bits = 32 * a.size - __builtin_clz(a.limb[a.size - 1]);
  auto bit = [&a](int i) { return i >= 0 && ((a.limb[i / 32] >> (i % 32)) & 1); };
  const int drop = bits > 53 ? bits - 53 : 0;
  uint64_t m = 0;
  for (int i = bits - 1; i >= drop; --i) m = 2 * m + (uint64_t)bit(i);
  bool below = false;
  for (int i = 0; i < drop - 1 && !below; ++i) below = bit(i);
  if (bit(drop - 1) && (below || (m & 1))) ++m;
  return ldexp((double)m, drop);
}

// |i - j| and max(|i|, |j|) of two integer tokens: false when either is too long.
bool big_difference(Text a, Text b, Big* difference, Big* larger) {
  bool negative_a, negative_b;
  if (!big_from_integer(a, difference, &negative_a) || !big_from_integer(b, larger, &negative_b))
    return false;
  if (big_compare(*difference, *larger) > 0) {
    const Big t = *difference;
    *difference = *larger;
    *larger = t;
  }
  // difference holds the smaller magnitude, larger the larger one.
  Big d = *larger;
  big_add(&d, *difference, negative_a == negative_b);
  *difference = d;
  return true;
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

int scan_token(Text line, int start, char* buffer, Token* token) {
  // Plain numbers, most tokens of numeric files, are taken where they stand: [+-] digits
  // [. digits], a digit among them, then "e", a sign and digits (not followed by "."), or the end
  // of the token. Every line ends with "\n", so no look-ahead below passes the line's end.
  const char* c = line.text;
  int i = start;
  while (is_separator(c[i])) ++i;
  const int first = i;
  if (is_sign(c[i])) ++i;
  int digits = 0;
  while (is_digit(c[i])) ++i, ++digits;
  const bool dot = c[i] == '.';
  if (dot)
    for (++i; is_digit(c[i]); ++i) ++digits;
  bool plain = digits > 0;
  int kind = dot ? TOKEN_REAL : TOKEN_INTEGER;
  if (plain && c[i] == 'e' && is_sign(c[i + 1]) && is_digit(c[i + 2])) {
    int k = i + 2;
    while (is_digit(c[k])) ++k;
    plain = c[k] != '.';
    kind = TOKEN_REAL;
    i = k;
  } else if (plain) {
    plain = is_separator(c[i]) || c[i] == '\n' ||
            (is_sign(c[i]) && (is_digit(c[i + 1]) || c[i + 1] == '.'));
  }
  if (plain && i < line.length) {
    *token = Token{Text{c + first, i - first}, kind, first - start, i - first};
    return i - first;
  }
  int length = 0;
  token->taken = next_token(line, start, buffer, &length, &token->skipped);
  token->text = Text{buffer, length};
  token->kind = token_kind(token->text);
  return token->taken;
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
  // A token that is not one number in full (a version 2.10.0, a date 1.10.2020) is a text.
  if (x.consumed != a.length || y.consumed != b.length) return 1;
  if (x.infinite || y.infinite) return 1;  // beyond double: only identical texts are equal
  const double d = fabs(x.value - y.value);
  const double m = fmax(fabs(x.value), fabs(y.value));
  return d >= tolerances.abs_eps || (m > tolerances.abs_eps && d > tolerances.rel_eps * m);
}

// Integer first token against an integer (or, loosely, a text): read as integers.
int integers_differ(Text a, Text b, int loose_numbers, Tolerances tolerances) {
  const Number i = parse_integer(a);
  const Number j = parse_integer(b);
  if (i.consumed != a.length || j.consumed != b.length) return !same_text(a, b);
  if (!loose_numbers || !(tolerances.abs_eps > 1.0))
    return i.wide || j.wide ? !same_integer(a, b) : i.integer != j.integer;
  Big d, m;
  if (!big_difference(a, b, &d, &m)) return !same_integer(a, b);
  if (d.size == 0) return 0;
  Big one;
  one.limb[0] = 1;
  one.size = 1;
  // An infinite tolerance bounds nothing.
  return (isfinite(tolerances.abs_eps) && big_exceeds(d, one, tolerances.abs_eps)) ||
         (isfinite(tolerances.rel_eps) && big_exceeds(d, m, tolerances.rel_eps));
}

int texts_differ(Text a, Text b) {
  const bool pattern_a = is_pattern(a), pattern_b = is_pattern(b);
  if (pattern_a == pattern_b) return !same_text(a, b);
  return pattern_a ? !pattern_matches(a, b) : !pattern_matches(b, a);
}

double token_value(Text token) { return parse_real(token).value; }

bool integer_difference(Text a, Text b, double* abs_diff, double* larger) {
  if (token_kind(a) != TOKEN_INTEGER || token_kind(b) != TOKEN_INTEGER) return false;
  Big d, m;
  if (!big_difference(a, b, &d, &m)) return false;
  *abs_diff = big_to_double(d);
  *larger = big_to_double(m);
  return true;
}

}  // namespace tolcmp

int tolerance_parse_number(const char* text, double* value) {
  const tolcmp::Text t = tolcmp::text_of(text);
  const tolcmp::Number n = tolcmp::parse_real(t);
  *value = n.value;
  return t.length > 0 && n.consumed == t.length && !n.infinite;
}

namespace tolcmp {

double token_number(Text token, int kind, bool* infinite) {
  const Number n = kind == TOKEN_REAL ? parse_real(token) : parse_integer(token);
  *infinite = n.infinite;
  return n.value;
}

}  // namespace tolcmp

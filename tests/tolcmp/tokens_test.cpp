// Splitting lines into tokens, token kinds, and the text patterns against a regular-expression
// oracle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "runtime/tolcmp/tolcmp_internal.h"

namespace {

using tolcmp::Text;
using tolcmp::text_of;

// The tokens of a line, each followed by its separator count and kind: "3:1.5e+3/2".
std::string tokens(const std::string& line) {
  std::vector<char> token(line.size() + 2);
  const Text t{line.c_str(), (int)line.size()};
  std::string out;
  int at = 0, length, skipped, taken;
  while ((taken = tolcmp::next_token(t, at, token.data(), &length, &skipped)) > 0) {
    at += skipped + taken;
    const std::string text(token.data(), (size_t)length);
    out += (out.empty() ? "" : " ") + std::to_string(skipped) + ":" + text + "/" +
           std::to_string(tolcmp::token_kind(Text{token.data(), length}));
  }
  return out;
}

TEST(Tokens, SplittingAndKinds) {
  EXPECT_EQ(tokens("  1.5D+03, (2d3)\t-7 x\n"), "2:1.5e+03/2 3:2e+3/2 2:-7/1 1:x/3");
  EXPECT_EQ(tokens("1.5-2.5 3e-1.5 1e5.5 a1-2\n"),
            "0:1.5/2 0:-2.5/2 1:3e-/2 0:1.5/2 1:1e+/2 0:5.5/2 1:a1/3 0:-2/1");
  EXPECT_EQ(
      tokens("abc1e5 * 1.2.3 1.2.3.4 +.5 -e5 e+5 +-1 1e5x\n"),
      "0:abc1e5/3 1:*/4 1:1.2.3/2 1:1.2.3.4/3 1:+.5/2 1:-e5/3 1:e+5/2 1:+-1/3 1:1e+5/2 0:x/3");
  EXPECT_EQ(tokens(" ,\t\n"), "");
  EXPECT_TRUE(tolcmp::is_continuation_line(text_of("  & ,\r\n")));
  EXPECT_FALSE(tolcmp::is_continuation_line(text_of("& &\n")));
  EXPECT_FALSE(tolcmp::is_continuation_line(text_of("& 1\n")));
  EXPECT_FALSE(tolcmp::is_continuation_line(text_of("\n")));
}

// Tokens taken where they stand give what the splitter copies: text, kind, separators, length.
TEST(Tokens, InPlaceTokensAsTheSplitterGivesThem) {
  std::mt19937 random(7);
  const char alphabet[] = "0123456789012345.+-eEdD x,(\t*";
  for (int i = 0; i < 50000; ++i) {
    std::string line;
    for (int n = (int)(random() % 24); n > 0; --n)
      line += alphabet[random() % (sizeof alphabet - 1)];
    line += '\n';
    const Text t{line.c_str(), (int)line.size()};
    std::vector<char> copied(line.size() + 2), scanned(line.size() + 2);
    int at = 0, length, skipped, taken;
    do {
      taken = tolcmp::next_token(t, at, copied.data(), &length, &skipped);
      tolcmp::Token token;
      ASSERT_EQ(tolcmp::scan_token(t, at, scanned.data(), &token), taken) << line;
      ASSERT_EQ(std::string(token.text.text, (size_t)token.text.length),
                std::string(copied.data(), (size_t)length))
          << line;
      ASSERT_EQ(token.skipped, skipped) << line;
      ASSERT_EQ(token.kind, tolcmp::token_kind(Text{copied.data(), length})) << line;
      at += skipped + taken;
    } while (taken > 0);
  }
}

// A pattern as the regular expression it stands for.
std::regex as_regex(const std::string& pattern) {
  std::string re;
  for (char c : pattern)
    re += c == '*' ? std::string(".*") : c == '?' ? std::string(".") : std::string(1, c);
  return std::regex(re);
}

TEST(Tokens, PatternsMatchLikeRegularExpressions) {
  std::mt19937 random(14);
  const char alphabet[] = "ab*?";
  auto word = [&](int letters, bool pattern) {
    std::string w;
    const int n = (int)(random() % (unsigned)(letters + 1));
    for (int i = 0; i < n; ++i) w += alphabet[random() % (pattern ? 4 : 2)];
    return w;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string p = word(7, true), s = word(9, false);
    const bool is_pattern = p.find_first_of("*?") != std::string::npos;
    const bool expected = is_pattern ? !std::regex_match(s, as_regex(p)) : p != s;
    EXPECT_EQ(tolcmp::texts_differ(text_of(p.c_str()), text_of(s.c_str())), expected)
        << p << " " << s;
    EXPECT_EQ(tolcmp::texts_differ(text_of(s.c_str()), text_of(p.c_str())), expected)
        << s << " " << p;
  }
  // Two patterns compare as texts.
  EXPECT_FALSE(tolcmp::texts_differ(text_of("a*"), text_of("a*")));
  EXPECT_TRUE(tolcmp::texts_differ(text_of("a*"), text_of("a?")));
}

// Decimals of every shape (1 to 20 digits, the point anywhere, exponents, signs, ties between two
// doubles) read as the C library's strtod reads them (correctly rounded), bit for bit, on every
// toolchain.
TEST(Tokens, DecimalsReadExactly) {
  std::mt19937_64 random(23);
  int failures = 0;
  auto check = [&failures](const std::string& text) {
    const double expected = std::strtod(text.c_str(), nullptr);
    const double got = tolcmp::token_value(Text{text.c_str(), (int)text.size()});
    uint64_t bits[2];
    std::memcpy(&bits[0], &got, 8);
    std::memcpy(&bits[1], &expected, 8);
    if (bits[0] != bits[1] && ++failures < 10) ADD_FAILURE() << text << " " << got;
  };
  for (int i = 0; i < 300000; ++i) {
    std::string digits = std::to_string(random());
    digits.resize(1 + random() % digits.size());
    if (random() % 4 == 0) digits.insert(0, random() % 3 + 1, '0');
    const size_t point = random() % (digits.size() + 1);
    std::string text =
        (random() % 3 == 0   ? "-"
         : random() % 5 == 0 ? "+"
                             : "") +
        (random() % 4 ? digits.substr(0, point) + "." + digits.substr(point) : digits);
    if (random() % 2)
      text += (random() % 2 ? "e" : "E") + std::to_string((int)(random() % 81) - 40);
    check(text);
  }
  // Exactly half way between two doubles: odd n in [2^53, 2^54) over 2, 4 and 8, and beside it.
  for (int i = 0; i < 100000; ++i) {
    const uint64_t n = (1ull << 53) | random() | 1;
    const int j = 1 + (int)(random() % 3);
    uint64_t scaled = (n & ((1ull << 54) - 1)) * (j == 1 ? 5 : j == 2 ? 25 : 125);
    scaled += (uint64_t)(random() % 3) - 1;
    std::string text = std::to_string(scaled);
    text.insert(text.size() - (size_t)j, ".");
    check(text);
    check(std::to_string(scaled) + "e-" + std::to_string(j));
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace

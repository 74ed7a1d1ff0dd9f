// Splitting lines into tokens, token kinds, and the text patterns against a regular-expression
// oracle.
#include <gtest/gtest.h>

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

}  // namespace

// The wide-string library's edge cases.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "runtime/text/wstr.h"
#include "text_test_support.h"

using texttest::wide_text;
using U = std::u16string;

TEST(WideCase, CopiesAndCapitalization) {
  kel_wchar out[64];
  EXPECT_EQ(wide_toupper(u'q'), u'Q');
  EXPECT_EQ(wide_toupper(0xE9), 0xE9);  // only a to z change
  EXPECT_EQ(wide_tolower(u'Q'), u'q');
  EXPECT_EQ(U(wide_upper_copy(u"abC-\u00e9z", out)), u"ABC-\u00e9Z");
  EXPECT_EQ(U(wide_lower_copy(u"ABc-Z", out)), u"abc-z");

  kel_wchar small[4];
  memset(small, 0x55, sizeof small);
  kel_wchar* end = wide_upper_ncopy(u"abcdef", small, 4);
  EXPECT_EQ(U(small), u"ABC");
  EXPECT_EQ(end, small + 3);
  EXPECT_EQ(wide_lower_ncopy(u"XYZ", small, 1), small);
  EXPECT_EQ(small[0], 0);
  small[0] = u'k';
  EXPECT_EQ(wide_lower_ncopy(u"XYZ", small, 0), small);  // no room even for the terminator
  EXPECT_EQ(small[0], u'k');

  EXPECT_EQ(U(wide_capitalize(u"hello wORLD 3rd-x_y", out)), u"Hello World 3rd-X_Y");
  EXPECT_EQ(U(wide_capitalize(u"\u00e9LAN vital", out)), u"\u00e9lan Vital");
}

TEST(WideBasics, CopyCatLengthSearch) {
  kel_wchar buf[32] = {};
  EXPECT_EQ(wide_cpy(buf, u"ab"), buf);
  EXPECT_EQ(wide_cat(buf, u"cd"), buf);
  EXPECT_EQ(U(buf), u"abcd");
  EXPECT_EQ(wide_len(buf), 4);
  EXPECT_EQ(wide_len(u""), 0);
  const kel_wchar* s = u"a/b/c";
  EXPECT_EQ(wide_chr(s, u'/'), s + 1);
  EXPECT_EQ(wide_rchr(s, u'/'), s + 3);
  EXPECT_EQ(wide_chr(s, 0), s + 5);
  EXPECT_EQ(wide_rchr(s, 0), s + 5);
  EXPECT_EQ(wide_chr(s, u'x'), nullptr);
  EXPECT_EQ(wide_rchr(s, u'x'), nullptr);

  EXPECT_EQ(wide_ncat(buf, u"xyz", 0), buf);
  EXPECT_EQ(U(buf), u"abcd");
  wide_ncat(buf, u"xyz", 2);
  EXPECT_EQ(U(buf), u"abcdxy");
  wide_ncat(buf, u"!", 5);
  EXPECT_EQ(U(buf), u"abcdxy!");
}

TEST(WideBasics, BoundedCopyFillsWithZeros) {
  kel_wchar buf[6];
  for (auto& c : buf) c = u'#';
  wide_ncpy(buf, u"ab", 4);
  EXPECT_EQ(U(buf, 5), U(u"ab\0\0#", 5));
  for (auto& c : buf) c = u'#';
  wide_ncpy(buf, u"abcd", 2);
  EXPECT_EQ(U(buf, 3), u"ab#");  // no terminator
}

TEST(WideCompare, OrderAndCase) {
  EXPECT_EQ(wide_cmp(u"abc", u"abc"), 0);
  EXPECT_LT(wide_cmp(u"abc", u"abd"), 0);
  EXPECT_LT(wide_cmp(u"ab", u"abc"), 0);
  EXPECT_EQ(wide_cmp(u"\uffff", u"a"), 0xFFFF - 'a');  // unsigned units
  EXPECT_EQ(wide_ncmp(u"abcX", u"abcY", 3), 0);
  EXPECT_NE(wide_ncmp(u"abcX", u"abcY", 4), 0);
  EXPECT_EQ(wide_ncmp(u"ab", u"ab", 10), 0);
  EXPECT_EQ(wide_ncmp(u"a", u"b", 0), 0);
  EXPECT_EQ(wide_icmp(u"HeLLo", u"hEllO"), 0);
  EXPECT_GT(wide_icmp(u"b", u"A"), 0);
  EXPECT_EQ(wide_nicmp(u"HELLO there", u"hello THEM", 8), 0);
  EXPECT_NE(wide_nicmp(u"HELLO there", u"hello THEM", 10), 0);
}

TEST(WideText, MixedOperandsAndNumbers) {
  kel_wchar buf[400] = u"ab";
  wide_cat_text(buf, "cd");
  EXPECT_EQ(U(buf), u"abcd");
  wide_ncat_text(buf, "efgh", 2);
  EXPECT_EQ(U(buf), u"abcdef");
  EXPECT_EQ(wide_cmp_text(buf, "abcdef"), 0);
  EXPECT_GT(wide_cmp_text(buf, "abcde"), 0);
  EXPECT_EQ(wide_ncmp_text(buf, "abcXX", 3), 0);
  // A text longer than the 256-unit area still converts whole.
  const std::string long_text(300, 'k');
  buf[0] = 0;
  wide_cat_text(buf, long_text.c_str());
  EXPECT_EQ(U(buf), U(300, u'k'));
  EXPECT_EQ(wide_cmp_text(buf, long_text.c_str()), 0);

  EXPECT_EQ(wide_icmp_text(u"Hello World", "hELLO wORLD"), 0);
  EXPECT_LT(wide_icmp_text(u"abc", "ABD"), 0);
  EXPECT_GT(wide_icmp_text(u"abcd", "ABC"), 0);
  EXPECT_EQ(wide_icmp_text(u"tab\there", "TAB\tHERE"),
            0);  // the rest goes through the case-blind compare
  EXPECT_EQ(wide_nicmp_text(u"PREFIX-rest", "prefix-other", 7), 0);
  EXPECT_NE(wide_nicmp_text(u"PREFIX-rest", "prefix-other", 8), 0);
  EXPECT_EQ(wide_nicmp_text(u"a\tB", "A\tbzz", 3), 0);

  EXPECT_DOUBLE_EQ(wide_to_double(u"  2.5e3xyz"), 2500.0);
  EXPECT_EQ(wide_to_long(u"-42x"), -42);
  EXPECT_EQ(wide_to_long(u"0x10"), 0);  // base 10
  const U padded = U(200, u' ') + u"77";
  EXPECT_EQ(wide_to_long(padded.c_str()), 77);  // longer than 256 bytes in 8-bit form
}

TEST(WideText, PoolOfFourBuffers) {
  kel_wchar* first = text_to_wide_pool("one");
  kel_wchar* second = text_to_wide_pool("two");
  kel_wchar* third = text_to_wide_pool("three");
  kel_wchar* fourth = text_to_wide_pool("four");
  EXPECT_EQ(U(first), u"one");
  EXPECT_EQ(U(second), u"two");
  EXPECT_EQ(U(third), u"three");
  EXPECT_EQ(U(fourth), u"four");
  EXPECT_NE(first, second);
  EXPECT_NE(third, fourth);
  EXPECT_EQ(text_to_wide_pool("five"), first);  // used in turn
  const std::string long_text(1000, 'z');
  kel_wchar* grown = text_to_wide_pool(long_text.c_str());
  EXPECT_EQ(U(grown), U(1000, u'z'));
  EXPECT_EQ(U(third), u"three");
}

TEST(WideTok, EmptyTokensBetweenDelimiters) {
  kel_wchar s[] = u",a,b";
  EXPECT_EQ(wide_text(wide_tok(s, u",")), u"");
  EXPECT_EQ(wide_text(wide_tok(nullptr, u",")), u"a");
  EXPECT_EQ(wide_text(wide_tok(nullptr, u",")), u"b");
  EXPECT_EQ(wide_tok(nullptr, u","), nullptr);
  EXPECT_EQ(wide_tok(nullptr, u","), nullptr);

  kel_wchar t[] = u"x;;y,";
  EXPECT_EQ(wide_text(wide_tok(t, u",;")), u"x");
  EXPECT_EQ(wide_text(wide_tok(nullptr, u",;")), u"");
  EXPECT_EQ(wide_text(wide_tok(nullptr, u",;")), u"y");
  EXPECT_EQ(wide_tok(nullptr, u",;"), nullptr);  // empty remainder
  kel_wchar empty[] = u"";
  EXPECT_EQ(wide_tok(empty, u","), nullptr);
}

TEST(WideReplace, FirstAllAndCharacters) {
  kel_wchar out[64];
  EXPECT_EQ(wide_find(u"hello", u"ll"), 2);
  EXPECT_EQ(wide_find(u"hello", u"lo!"), -1);

  kel_wchar* at = wide_replace_first(out, u"a-b-c", u"-", u"+=");
  EXPECT_EQ(U(out), u"a+=b-c");
  EXPECT_EQ(at, out + 1);
  at = wide_replace_all(out, u"a-b-c-", u"-", u"..");
  EXPECT_EQ(U(out), u"a..b..c..");
  EXPECT_EQ(at, out + 1);
  // The replacement may contain what is replaced: it is not scanned again.
  wide_replace_all(out, u"aXa", u"a", u"aa");
  EXPECT_EQ(U(out), u"aaXaa");
  // No occurrence (or nothing to look for): null, and out is a copy of src.
  EXPECT_EQ(wide_replace_all(out, u"plain", u"zz", u"y"), nullptr);
  EXPECT_EQ(U(out), u"plain");
  EXPECT_EQ(wide_replace_first(out, u"plain", u"", u"y"), nullptr);
  EXPECT_EQ(wide_replace_all(out, u"plain", u"", u"y"), nullptr);
  EXPECT_EQ(U(out), u"plain");
  // out may be src itself.
  kel_wchar same[64] = u"one two one";
  wide_replace_all(same, same, u"one", u"1");
  EXPECT_EQ(U(same), u"1 two 1");
  // Results longer than the 512-unit work area.
  std::u16string src(400, u'x'), big(1000, u'#');
  wide_replace_all(&big[0], src.c_str(), u"x", u"yy");
  EXPECT_EQ(U(big.c_str()), U(800, u'y'));

  EXPECT_EQ(wide_replace_char(u"a/b/c", out, u'/', u'|'), out);
  EXPECT_EQ(U(out), u"a|b|c");
  out[0] = u'q';
  EXPECT_EQ(wide_replace_char(nullptr, out, u'/', u'|'), nullptr);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(wide_replace_char(u"a", nullptr, u'/', u'|'), nullptr);
}

TEST(WideCopyBounded, OverflowLeavesTheBufferEmpty) {
  char buf[8];
  EXPECT_EQ(WSTRCOPY_X(buf, "1234567", sizeof buf), 1);
  EXPECT_STREQ(buf, "1234567");
  EXPECT_EQ(WSTRCOPY_X(buf, "12345678", sizeof buf), 0);
  EXPECT_STREQ(buf, "");
  kel_wchar wide[4];
  EXPECT_EQ(WSTRCOPY_X_WIDE(wide, u"abc", 4), 1);
  EXPECT_EQ(U(wide), u"abc");
  EXPECT_EQ(WSTRCOPY_X_WIDE(wide, u"abcd", 4), 0);
  EXPECT_EQ(U(wide), u"");
}

TEST(StrRet, QuickConversion) {
  EXPECT_STREQ(str_ret(u"Quick"), "Quick");
  const U longest(STR_LEN, u'm');
  EXPECT_EQ(std::string(str_ret(longest.c_str())), std::string(STR_LEN, 'm'));
  // Longer strings are reported; only the first STR_LEN units are converted.
  const U too_long(STR_LEN + 50, u'n');
  EXPECT_EQ(std::string(str_ret(too_long.c_str())), std::string(STR_LEN, 'n'));
}

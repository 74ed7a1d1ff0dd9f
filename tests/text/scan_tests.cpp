// The scan family: wide-string and count targets, scan sets, suppressed conversions, the limits,
// and the line-based variants.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "runtime/text/kel_printf.h"
#include "text_test_support.h"

using texttest::stdout_of;

TEST(Scan, NumberAndWideString) {
  int number = 0;
  kel_wchar name[32] = {};
  EXPECT_EQ(kel_sscanf("42 name", "%d %ws", &number, name), 2);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(std::u16string(name), u"name");

  // A count target is stepped over without using up an assignment.
  int consumed = -1;
  kel_wchar other[32] = {};
  EXPECT_EQ(kel_sscanf("42 name", "%d%n %WS", &number, &consumed, other), 2);
  EXPECT_EQ(consumed, 2);
  EXPECT_EQ(std::u16string(other), u"name");
}

TEST(Scan, SeveralWideTargetsAmongOthers) {
  kel_wchar a[16] = {}, b[16] = {};
  char plain[16] = {};
  double real = 0;
  int n1 = -1, n2 = -1;
  EXPECT_EQ(
      kel_sscanf("alpha 2.5 beta gamma", "%15ws%n %lf %15s%n %15ws", a, &n1, &real, plain, &n2, b),
      4);
  EXPECT_EQ(std::u16string(a), u"alpha");
  EXPECT_EQ(real, 2.5);
  EXPECT_STREQ(plain, "beta");
  EXPECT_EQ(n1, 5);
  EXPECT_EQ(n2, 14);
  EXPECT_EQ(std::u16string(b), u"gamma");
}

TEST(Scan, TargetsPastTheLastAssignmentAreLeftAlone) {
  int number = 0;
  kel_wchar first[16] = {}, second[16] = {u'x', u'y', 0};
  EXPECT_EQ(kel_sscanf("one 12", "%15ws %d %15ws", first, &number, second), 2);
  EXPECT_EQ(std::u16string(first), u"one");
  EXPECT_EQ(std::u16string(second), u"xy");
  EXPECT_EQ(kel_sscanf("", "%15ws", first), EOF);
  EXPECT_EQ(std::u16string(first), u"one");
}

TEST(Scan, RealAndIntegerRows) {
  float f = 0, e = 0, g = 0;
  double lf = 0, le = 0, lg = 0;
  EXPECT_EQ(
      kel_sscanf("1.5 2.5 3.5 4.5 5.5 6.5", "%f %e %g %lf %le %lg", &f, &e, &g, &lf, &le, &lg), 6);
  EXPECT_EQ(f + e + g, 7.5f);
  EXPECT_EQ(lf + le + lg, 16.5);
  int d = 0, i = 0, o = 0, x = 0;
  unsigned u = 0;
  long ld = 0;
  char c = 0;
  EXPECT_EQ(
      kel_sscanf("-3 0x10 17 9 ff -77 Z", "%d %i %o %u %x %ld %c", &d, &i, &o, &u, &x, &ld, &c), 7);
  EXPECT_EQ(d, -3);
  EXPECT_EQ(i, 16);
  EXPECT_EQ(o, 15);
  EXPECT_EQ(u, 9u);
  EXPECT_EQ(x, 255);
  EXPECT_EQ(ld, -77);
  EXPECT_EQ(c, 'Z');
  double capital = 0;
  EXPECT_EQ(kel_sscanf("8.25", "%LF", &capital), 1);  // read as a double, never a long double
  EXPECT_EQ(capital, 8.25);
}

TEST(Scan, ScanSetsAndSuppressedConversions) {
  char word[16] = {};
  int number = 0;
  EXPECT_EQ(kel_sscanf("abc123", "%15[a-z]%d", word, &number), 2);
  EXPECT_STREQ(word, "abc");
  EXPECT_EQ(number, 123);
  // Letters inside a set are part of the set, even "ws".
  kel_wchar wide[16] = {};
  EXPECT_EQ(kel_sscanf("wsw,tail", "%15[ws],%15ws", word, wide), 2);
  EXPECT_STREQ(word, "wsw");
  EXPECT_EQ(std::u16string(wide), u"tail");
  EXPECT_EQ(kel_sscanf("]x]y", "%15[]x]", word), 1);
  EXPECT_STREQ(word, "]x]");
  // A suppressed conversion takes no argument.
  EXPECT_EQ(kel_sscanf("5 6 name", "%*d %d %15ws", &number, wide), 2);
  EXPECT_EQ(number, 6);
  EXPECT_EQ(std::u16string(wide), u"name");
  EXPECT_EQ(kel_sscanf("100%", "%d%%", &number), 1);
  EXPECT_EQ(number, 100);
}

TEST(Scan, TwentyTargetsAtMost) {
  int v[21] = {};
  std::string twenty, text;
  for (int i = 0; i < 20; ++i) twenty += "%d ", text += std::to_string(i + 1) + " ";
  int result = -5;
  EXPECT_EQ(stdout_of([&] {
              result = kel_sscanf(text.c_str(), twenty.c_str(), &v[0], &v[1], &v[2], &v[3], &v[4],
                                  &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13],
                                  &v[14], &v[15], &v[16], &v[17], &v[18], &v[19]);
            }),
            "");
  EXPECT_EQ(result, 20);
  EXPECT_EQ(v[19], 20);
  v[0] = -1;
  EXPECT_EQ(stdout_of([&] {
              result = kel_sscanf((text + "21").c_str(), (twenty + "%d").c_str(), &v[0], &v[1],
                                  &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10],
                                  &v[11], &v[12], &v[13], &v[14], &v[15], &v[16], &v[17], &v[18],
                                  &v[19], &v[20]);
            }),
            "Too many arguments to be processed by kel_scanf\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(v[0], -1);
}

TEST(Scan, FormatsLongerThan512BytesAreRefused) {
  int number = 0;
  const std::string accepted = std::string(510, ' ') + "%d";
  const std::string refused = std::string(511, ' ') + "%d";
  EXPECT_EQ(kel_sscanf("9", accepted.c_str(), &number), 1);
  EXPECT_EQ(number, 9);
  int result = -5;
  EXPECT_EQ(stdout_of([&] { result = kel_sscanf("8", refused.c_str(), &number); }),
            "kel_scanf   format too long \n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(number, 9);
}

TEST(Scan, LongWideTargetsArriveWhole) {
  const std::string text(1500, 'q');
  std::u16string target(1600, u'#');
  EXPECT_EQ(kel_sscanf(text.c_str(), "%1599ws", &target[0]), 1);
  EXPECT_EQ(std::u16string(target.c_str()), std::u16string(1500, u'q'));
}

TEST(Scan, WideInput) {
  int number = 0;
  kel_wchar word[16] = {};
  EXPECT_EQ(kel_wsscanf(u"  7 abc", "%d %15ws", &number, word), 2);
  EXPECT_EQ(number, 7);
  EXPECT_EQ(std::u16string(word), u"abc");
  std::u16string big(2000, u'5');
  char digits[2100] = {};
  EXPECT_EQ(kel_wsscanf(big.c_str(), "%2099s", digits), 1);
  EXPECT_EQ(strlen(digits), 2000u);
  // Texts whose 8-bit form does not fit an xarray (four bytes a unit from 511,996 units on) are
  // scanned whole, the largest first, without a word on the standard output.
  for (int length : {3000000, 511995, 511996}) {
    const std::u16string text = std::u16string(static_cast<size_t>(length), u'w') + u" 9";
    int scanned = number = 0;
    EXPECT_EQ(stdout_of([&] { kel_wsscanf(text.c_str(), "%*s%n %d", &scanned, &number); }), "");
    EXPECT_EQ(scanned + number, length + 9);
  }
}

TEST(Scan, OneLineOfAStream) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  fputs("3 first\n", f);
  fputs(std::string(600, 'L').c_str(), f);
  rewind(f);
  int number = 0;
  kel_wchar word[16] = {};
  EXPECT_EQ(kel_fscanf(f, "%d %15ws", &number, word), 2);
  EXPECT_EQ(number, 3);
  EXPECT_EQ(std::u16string(word), u"first");
  // A line longer than 511 bytes is read in pieces of 511.
  char piece[700] = {};
  EXPECT_EQ(kel_fscanf(f, "%699s", piece), 1);
  EXPECT_EQ(strlen(piece), 511u);
  EXPECT_EQ(kel_fscanf(f, "%699s", piece), 1);
  EXPECT_EQ(strlen(piece), 89u);
  EXPECT_EQ(kel_fscanf(f, "%699s", piece), -1);
  fclose(f);
}

TEST(Scan, HighBytesBeforeAConversionKeepIt) {
  int n = 0;
  EXPECT_EQ(kel_sscanf("\xe9"
                       "12",
                       "\xe9%d", &n),
            1);
  EXPECT_EQ(n, 12);
}

// The ordered and unordered comparisons on files: the rules, the report file and the standard
// output, and inputs that are not plain text.
#include <cmath>
#include <string>
#include <vector>

#include "runtime/tolcmp/tolcmp_internal.h"
#include "tolcmp_fixture.h"

using namespace std::string_literals;

namespace {

struct Case {
  std::string a, b;
  int expected;
  int blank_check = 0, loose = 0;
  double abs_eps = 1e-6, rel_eps = 1e-3;
};

using Ordered = ToleranceTest;

TEST_F(Ordered, RulesOfTheComparison) {
  const std::vector<Case> cases = {
      // comments, empty lines and continuation marks
      {"! run 1\n\n1 2.5 x\n", "1 2.5 x\n  \n! run 2\n", 0},
      {"1 2\n  &\n3\n", "1 2\n4 5 6\n3\n", 0},
      // the absolute bound applies at every magnitude, the relative one above it
      {"1.0000001\n", "1.0\n", 0},
      {"1000.0\n", "1000.0005\n", 1},
      {"1000.0\n", "1000.5\n", 0, 0, 0, 1.0, 1e-3},
      {"1000.0\n", "1002.0\n", 1, 0, 0, 1.0, 1e-3},
      {"1.0e-9\n", "9.0e-9\n", 0, 0, 0, 1e-8, 1e-3},
      // exponent letters, signs inside tokens, separators
      {"1.5D+03 2d-3 7E2\n", "1500.0 0.002 700.0\n", 0},
      {"1.5-2.5\n", "1.5 -2.5\n", 0},
      {"f(1.0,2.0)\n", "f 1.0 2.0\n", 0},
      // the wildcard and patterns
      {"a * 3\n", "a 7.5 3\n", 0},
      {"ab*d a?c\n", "abXYZd abc\n", 0},
      {"a?c\n", "abbc\n", 1},
      {"Abc\n", "abc\n", 1},
      // kinds: an integer is no real unless loose
      {"1\n", "1.0\n", 1},
      {"1\n", "1.0\n", 0, 0, 1},
      {"100\n", "102\n", 0, 0, 1, 3.0, 0.1},
      {"100\n", "102\n", 1, 0, 1, 1.5, 0.1},
      {"0012 -0\n", "12 0\n", 0},
      // blank check
      {"1  2\n", "1 2\n", 1, 1},
      {"1  2\n", "1 2\n", 0, 0},
      // a zero absolute tolerance asks for identical number texts
      {"1.0\n", "1.00\n", 1, 0, 0, 0.0, 1e-3},
      {"1.0 7\n", "1.0 7\n", 0, 0, 0, 0.0, 1e-3},
      // directives: both orders, in either file, several in a row, malformed ones
      {"<< ABS_EPS = 1.0e-4 REL_EPS 1.0e-2\n1.00005\n", "1.0\n", 0},
      {"<< REL_EPS = 1.0e-4 ABS_EPS 1.0e-2\n1.005\n", "1.0\n", 1},
      {"<< REL_EPS = 1.0e-2 ABS_EPS 1.0e-2\n1.005\n", "1.0\n", 0},
      {"1.00005\n", "!!\n<< abs_eps 1.0e-4\n1.0\n", 0},
      {"<< abs_eps 1.0e-1\n<< mp_eps 1.0e-1\n1.05\n", "1.0\n", 0},
      {"<< ABS_EPS 1\n1.00005\n", "1.0\n", 1},
      {"<< ABS_EPS 1.0e-1 2.0e-1\n1.00005\n", "1.0\n", 1},
      // numbers that only look alike to atof/atoi
      {"1.2.3\n", "1.2.9\n", 1},
      {"e+5\n", "e+6\n", 1},
      {"0\n", "abc\n", 1, 0, 1},
      {"1e999\n", "2e999\n", 1},
      {"123456789012345678901\n", "123456789012345678902\n", 1},
      {"123456789012345678901\n", "+0123456789012345678901\n", 0},
      // a token that is not one number in full is a text: versions, dates
      {"2.10.0 1.10.2020\n", "2.10.0 1.10.2020\n", 0},
      {"2.10.0\n", "2.1.0\n", 1},
      {"1.10.2020\n", "1.1.2020\n", 1},
      {"1.10.2020\n", "1.1.2020\n", 1, 0, 1, 2.0, 0.5},
      // loose integers against the tolerances exactly, beyond 2^53 and 64 bits too
      {"9007199254740993\n", "9007199254740992\n", 1, 0, 1, 1.5, 1e-20},
      {"9007199254740993\n", "9007199254740992\n", 0, 0, 1, 1.5, 1e-15},
      {"123456789012345678901234\n", "123456789012345678901239\n", 0, 0, 1, 5.0, 1e-20},
      {"123456789012345678901234\n", "123456789012345678901240\n", 1, 0, 1, 5.0, 1e-20},
      {"-123456789012345678901234\n", "123456789012345678901234\n", 1, 0, 1, 1e30, 1.0},
      {"-123456789012345678901234\n", "123456789012345678901234\n", 0, 0, 1, 1e30, 2.0},
      // line ends, NUL and other bytes, empty files
      {"1.0 2.0\r\n3\r\n", "1.0 2.0\n3", 0},
      {"a\0b 1.0\n"s, "a\0b 1.0\n"s, 0},
      {"a\0b\n"s, "a\0c\n"s, 1},
      {"\xff\xfe 1.0\n", "\xff\xfe 1.0\n", 0},
      {"\xff\xfe\n", "\xff\xfd\n", 1},
      {"", "", 0},
      {"", "1\n", 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.blank_check, c.loose, c.abs_eps, c.rel_eps), c.expected)
        << "a=" << c.a << " b=" << c.b;
}

TEST_F(Ordered, ReportFileAndStandardOutput) {
  ::testing::internal::CaptureStdout();
  tolerance_console_set(1);
  EXPECT_EQ(compare("1.0 2.0 3.0\nx y\n7 8 9\n", "1.0 2.5 3.0\nx\n7 8 9\n10\n"), 1);
  tolerance_console_set(0);
  std::string out = ::testing::internal::GetCapturedStdout();
  std::erase(out, '\r');
  EXPECT_EQ(out,
            "\n   File_1 is: a.txt\n   File_2 is: b.txt\n     !!! Line Counts Are Different !!!\n"
            "     File_1 : 3    File_2 = 4\n     Total num of diff lines: 2\n");
  const std::string first =
      "\n\n\n      ***** Tolerance Compare File *****\n\n  File_1: a.txt     File_2: b.txt\n"
      "\nLine: 1    Differ: 2.0   2.5\nLine: 2    Differ: y    "
      "\n\n\n      **********************************\n     !!! Line Counts Are Different !!!\n"
      "     File_1 : 3    File_2 = 4\n     Total num of diff lines: 2\n";
  EXPECT_EQ(report(), first);
  // The report grows; a blank-check difference, then line counts alone with their own banner.
  EXPECT_EQ(compare("1  2\n", "1 2\n", 1), 1);
  EXPECT_EQ(compare("1\n", "1\n2\n"), 1);
  EXPECT_EQ(
      report(),
      first +
          "\n\n\n      ***** Tolerance Compare File *****\n\n  File_1: a.txt     File_2: b.txt\n"
          "\nLine: 1    Differ:  2 blanks     1 blanks "
          "\n\n\n      **********************************\n     Total num of diff lines: 1\n"
          "\n\n\n      ***** Tolerance Compare File *****\n\n     File_1: a.txt     File_2: b.txt\n"
          "\n\n\n      **********************************\n     !!! Line Counts Are Different !!!\n"
          "     File_1 : 1    File_2 = 2\n");
  // Nothing reported for equal files, and a missing file is 9.
  std::filesystem::remove("dbgfile.dat");
  EXPECT_EQ(compare("1\n", "1\n"), 0);
  EXPECT_FALSE(std::filesystem::exists("dbgfile.dat"));
  EXPECT_EQ(tolerance_compare_files("a.txt", "missing.txt", 0, 0, 1e-6, 1e-3), 9);
  EXPECT_EQ(tolerance_compare_unordered("missing.txt", "a.txt", 0, 0, 1e-6, 1e-3), 9);
  EXPECT_EQ(tolerance_compare_layout("missing.txt", "a.txt"), 9);
}

// Fields left out or compared under their own tolerances, in order and (on more lines than a
// look-up scans whole) in any order.
TEST_F(Ordered, FieldRules) {
  struct Rules {
    std::vector<TolcmpFieldRule> rules;
    std::string a, b;
    int expected;
  };
  const double no = NAN;
  std::string grid_a, grid_b;
  for (int i = 0; i < 12; ++i) {
    grid_a += "1 " + std::to_string(i) + ".0\n";
    grid_b += "1 " + std::to_string(11 - i) + ".3\n";
  }
  const Rules cases[] = {
      {{{3, 3, 1, no, no}}, "1 2 3\n", "1 2 x\n", 0},
      {{{3, 3, 1, no, no}}, "1 2 3\n", "1 9 3\n", 1},
      {{{2, 0, 1, no, no}}, "x 1\n", "x 1 2\n", 1},  // the field count still counts
      {{{1, 0, 1, no, no}, {1, 1, 0, no, no}}, "x 1\n", "x 2\n", 0},
      {{{1, 0, 1, no, no}, {1, 1, 0, no, no}}, "x 1\n", "y 1\n", 1},
      {{{2, 0, -1, 0.5, 1.0}}, "1 1.0\n", "1 1.4\n", 0},
      {{{2, 0, -1, 0.5, 1.0}}, "1.0 1.0\n", "1.4 1.4\n", 1},
      {{{2, 2, -1, 0.5, 1.0}}, grid_a, grid_b, 0},
      {{{2, 2, -1, 0.2, 1.0}}, grid_a, grid_b, 1},
  };
  for (const Rules& c : cases) {
    ASSERT_EQ(tolerance_fields_set(c.rules.data(), (int)c.rules.size()), 1);
    const int ordered = compare(c.a, c.b);
    const int unordered = tolerance_compare_unordered("a.txt", "b.txt", 0, 0, 1e-6, 1e-3);
    tolerance_fields_set(nullptr, 0);
    if (c.a != grid_a) {  // the grid's lines come in another order
      EXPECT_EQ(ordered, c.expected) << c.a << c.b;
    }
    EXPECT_EQ(unordered, c.expected) << c.a << c.b;
  }
  const TolcmpFieldRule bad[] = {{2, 1, 1, no, no}, {0, 0, 1, no, no}, {1, 0, -1, -1.0, no}};
  for (const TolcmpFieldRule& rule : bad) EXPECT_EQ(tolerance_fields_set(&rule, 1), 0);
}

// Lines are compared whole: a number that a 300-byte read would cut in two is still one number,
// and a long line counts once.
TEST_F(Ordered, LongLinesCompareWhole) {
  const std::string pad(296, 'x');
  EXPECT_EQ(compare(pad + " 1.0000001 5\n2\n", pad + " 1.0 5\n2\n"), 0);
  EXPECT_EQ(compare(pad + " 1.0001 5\n2\n", pad + " 1.0 5\n2\n"), 1);
  EXPECT_EQ(report().find("\nLine: 1    Differ: 1.0001   1.0") != std::string::npos, true);
  std::string many_a, many_b;
  for (int i = 0; i < 20000; ++i) {
    many_a += std::to_string(i) + ".5 ";
    many_b += std::to_string(i) + (i == 19999 ? ".6 " : ".5 ");
  }
  EXPECT_EQ(compare(many_a + "\n", many_b + "\n"), 1);
  EXPECT_EQ(compare(many_a + "\n", many_a + "\n"), 0);
}

// Line numbers are not cut to 32 bits in the report.
TEST_F(Ordered, LineNumbersBeyond32Bits) {
  tolcmp::report_begin("a", "b");
  tolcmp::report_token_difference(tolcmp::text_of("1"), tolcmp::text_of("2"), 3000000000LL);
  tolcmp::report_end();
  EXPECT_NE(report().find("\nLine: 3000000000    Differ: 1   2"), std::string::npos);
}

using Unordered = ToleranceTest;

TEST_F(Unordered, LinesInAnyOrder) {
  write("a.txt", "1.0 2.0\n<< ABS_EPS 1.0e-2\n3.0 4.0\nx y\n");
  write("b.txt", "x y\n3.001 4.0\n1.0 2.0\n");
  EXPECT_EQ(tolerance_compare_unordered("a.txt", "b.txt", 0, 0, 1e-6, 1e-3), 0);
  // 3.001 is only near 3.0 under file a's directive: missing on the way back from b.
  write("b.txt", "x y\n3.001 4.0\n1.0 2.0\n");
  write("a.txt", "1.0 2.0\n3.0 4.0\nx y\n");
  EXPECT_EQ(tolerance_compare_unordered("a.txt", "b.txt", 0, 0, 1e-6, 1e-3), 1);
  EXPECT_EQ(report(),
            "\n\n\n      ***** Tolerance Compare File *****\n\n  File_1: a.txt     File_2: b.txt\n"
            "\nLine: 2    Differ: <   3.0 4.0\nLine: 2    Differ: >   3.001 4.0"
            "\n\n\n      **********************************\n     Total num of diff lines: 1\n");
  // One line missing on one side only still shows in the total.
  write("a.txt", "1.0\n1.0000001\n");
  write("b.txt", "1.0\n5.0\n");
  EXPECT_EQ(tolerance_compare_unordered("a.txt", "b.txt", 0, 0, 1e-6, 1e-3), 1);
  EXPECT_NE(report().find("Differ: >   5.0\n\n\n      ****"), std::string::npos);
  EXPECT_NE(report().rfind("     Total num of diff lines: 1\n"), std::string::npos);
  write("b.txt", "1.0\n1.0\n2.0\n");
  EXPECT_EQ(tolerance_compare_unordered("a.txt", "b.txt", 0, 0, 1e-6, 1e-3), 1);
}

}  // namespace

// Every line the comparison sees carries its number in its own file, skipped lines counted.
TEST_F(Ordered, LinesKeepTheirNumbersInTheirFile) {
  write("a.txt", "! c\n\n1.0\r\n<< ABS_EPS 1.0e-2\n< x\n  2.0\n3.0");
  tolcmp::LineReader reader{};
  ASSERT_EQ(tolcmp::reader_open(&reader, "a.txt"), 1);
  std::string seen;
  for (int kind; (kind = tolcmp::read_content_line(&reader)) > 0;)
    seen += std::to_string(kind) + "@" + std::to_string(reader.line_no) + " ";
  tolcmp::reader_release(&reader);
  EXPECT_EQ(seen, "1@3 10@4 1@6 1@7 ");
}

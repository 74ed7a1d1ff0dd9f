// The fixed-layout comparison: per-line tolerances, the two matrices and the whole-line report.
#include <cstdio>
#include <map>
#include <string>

#include "runtime/tolcmp/tolcmp_internal.h"
#include "tolcmp_fixture.h"

namespace {

std::string reals(double a, double b, double c) {
  char line[128];
  std::snprintf(line, sizeof line, "row %.10e %.10e %.10e\n", a, b, c);
  return line;
}

// 26 lines; lines 10-12 hold a matrix with unit diagonal, lines 16-18 one with diagonal 1000.
// `changed` replaces whole lines; `count` cuts the file short.
std::string layout_file(const std::map<int, std::string>& changed = {}, int count = 26) {
  const double m[3][3] = {{1.0, 0.1, 0.2}, {0.1, 1.0, 0.3}, {0.2, 0.3, 1.0}};
  std::string text = "! header comment\n";
  for (int n = 1; n <= count; ++n) {
    if (changed.count(n)) {
      text += changed.at(n);
    } else if (n >= 10 && n <= 12) {
      text += reals(m[n - 10][0], m[n - 10][1], m[n - 10][2]);
    } else if (n >= 16 && n <= 18) {
      text += reals(1000 * m[n - 16][0], 1000 * m[n - 16][1], 1000 * m[n - 16][2]);
    } else {
      text += reals(n + 0.5, 2.25 * n, -n / 4.0 - 0.125);
    }
  }
  return text;
}

using Layout = ToleranceTest;

int layout_compare(const std::string& a, const std::string& b) {
  ToleranceTest::write("a.txt", a);
  ToleranceTest::write("b.txt", b);
  return tolerance_compare_layout("a.txt", "b.txt");
}

TEST_F(Layout, LineTolerancesAndMatrices) {
  struct Case {
    std::map<int, std::string> a, b;
    int expected;
  };
  const std::string line2_scale8 = reals(8.0, 0, 0), line2_scale1 = reals(1.0, 0, 0);
  const Case cases[] = {
      {{}, {}, 0},
      {{}, {{1, reals(1.500001, 2.25, -0.375)}}, 0},
      {{}, {{1, reals(1.5002, 2.25, -0.375)}}, 1},
      // line 7: t times the cube root of line 2's first value
      {{{2, line2_scale8}}, {{2, line2_scale8}, {7, reals(7.5 * (1 + 1.5e-5), 15.75, -1.875)}}, 0},
      {{{2, line2_scale1}}, {{2, line2_scale1}, {7, reals(7.5 * (1 + 1.5e-5), 15.75, -1.875)}}, 1},
      // lines 22-24 at least 2e-5, line 26 in degrees and at least 0.002
      {{}, {{22, reals(22.5 * (1 + 1.5e-5), 49.5, -5.625)}}, 0},
      {{}, {{21, reals(21.5 * (1 + 1.5e-5), 47.25, -5.375)}}, 1},
      {{}, {{26, reals(26.5 * (1 + 1e-3), 58.5, -6.625)}}, 0},
      {{}, {{26, reals(26.5 * (1 + 3e-3), 58.5, -6.625)}}, 1},
      // values at most t are compared absolutely
      {{{3, reals(1e-7, 0, 0)}}, {{3, reals(5e-6, 0, 0)}}, 0},
      {{{3, reals(1e-7, 0, 0)}}, {{3, reals(2e-5, 0, 0)}}, 1},
      // matrices: element tolerance t times the larger geometric mean of the diagonals
      {{}, {{10, reals(1.0, 0.100005, 0.2)}}, 0},
      {{}, {{17, reals(100.0, 1000.0, 300.005)}}, 0},
      {{}, {{17, reals(100.0, 1000.0, 300.05)}}, 1},
      // texts without values, value counts, values past the sixth
      {{{1, "HEADER A\n"}}, {{1, "HEADER B\n"}}, 1},
      {{{1, "HEADER A\n"}}, {{1, "HEADER A\r\n"}}, 0},
      {{{3, "1.0 2.0\n"}}, {{3, "1.0 2.0 3.0\n"}}, 1},
      {{{4, "1.0 2.0 3.0 4.0 5.0 6.0 7.0\n"}}, {{4, "1.0 2.0 3.0 4.0 5.0 6.0 7.5\n"}}, 1},
      {{{11, reals(0.1, 1.0, 0.3) + "9.0\n"}}, {}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(layout_compare(layout_file(c.a), layout_file(c.b)), c.expected)
        << "a:\n"
        << layout_file(c.a) << "b:\n"
        << layout_file(c.b);
  }
  layout_compare(layout_file({{2, line2_scale8}}), layout_file({{2, line2_scale8}}));
  EXPECT_DOUBLE_EQ(tolcmp::layout_scale_get(), 2.0);
  // Both files ending inside a matrix still have its rows compared.
  EXPECT_EQ(layout_compare(layout_file({}, 11), layout_file({{10, reals(1.0, 0.2, 0.2)}}, 11)), 1);
  EXPECT_EQ(layout_compare(layout_file({}, 17), layout_file({}, 17)), 0);
}

TEST_F(Layout, WholeLinesInTheReport) {
  const std::string moved = reals(1.5002, 2.25, -0.375);
  EXPECT_EQ(
      layout_compare(layout_file(), layout_file({{1, moved}, {10, reals(1.0, 0.10005, 0.2)}})), 1);
  EXPECT_EQ(
      report(),
      "\n\n\n      ***** Tolerance Compare File *****\n\n  File_1: a.txt     File_2: b.txt\n"
      "\nLine: 1 Differ: \n  " +
          reals(1.5, 2.25, -0.375) + "             VS \n  " + moved + "\n" +
          "\nLine: 10 Differ: \n  \t\t  1.000000e+00  1.000000e-01  2.000000e-01\n             VS \n"
          "  \t\t  1.000000e+00  1.000500e-01  2.000000e-01\n\n"
          "\n\n\n      **********************************\n     Total num of diff lines: 2\n");
  // An observer gets the same lines at their numbers in the files, the heading line counted.
  std::string seen;
  const TolcmpObserver observer{[](void* context, const TolcmpDifference* d) {
                                  *static_cast<std::string*>(context) +=
                                      std::to_string(d->kind) + ":" + std::to_string(d->line[0]) +
                                      "/" + std::to_string(d->line[1]) + " ";
                                },
                                nullptr, &seen};
  tolerance_observer_set(&observer);
  layout_compare(layout_file(), layout_file({{1, moved}, {10, reals(1.0, 0.10005, 0.2)}}));
  tolerance_observer_set(nullptr);
  EXPECT_EQ(seen, "4:2/2 4:11/11 ");
}

}  // namespace

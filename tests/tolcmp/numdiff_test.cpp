// The ordered comparison and the tolcmp command against numdiff on a generated corpus of numeric
// file pairs: integers and reals in every notation, perturbed just inside or just outside the
// tolerances. numdiff -2 (both bounds must hold) is the same rule wherever the magnitudes lie
// above the absolute tolerance and no difference sits right on a bound. Both give the same
// verdict and exit status, from files and from the standard input, and list the same fields.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <utility>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "tolcmp_fixture.h"

namespace {

constexpr double kAbs = 1e-6, kRel = 1e-4;  // the relative bound holds below |x| = kAbs / kRel

int exit_status(int status) {
#ifdef _WIN32
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool numdiff_installed() {
#ifdef _WIN32
  return std::system("numdiff --version > NUL 2>&1") == 0;
#else
  return exit_status(std::system("numdiff --version > /dev/null 2>&1")) == 0;
#endif
}

// A real in one of the notations both tools read, with every digit that matters.
std::string notation(double v, int which) {
  char text[64];
  const int magnitude = (int)std::floor(std::log10(std::fabs(v)));
  switch (which) {
    case 0: std::snprintf(text, sizeof text, "%.*f", std::max(1, 16 - magnitude), v); break;
    case 1: std::snprintf(text, sizeof text, "%.16e", v); break;
    case 2: std::snprintf(text, sizeof text, "%.16E", v); break;
    case 3: std::snprintf(text, sizeof text, "%+.16e", v); break;
    default: {  // without the zero before the point: .25, -.25
      std::snprintf(text, sizeof text, "%.*f", std::max(1, 16 - magnitude), v);
      std::string s = text;
      if (std::fabs(v) < 1) s.erase(s.find("0."), 1);
      return s;
    }
  }
  return text;
}

// The (line, field) places a listing names: numdiff's "##3  #:2" and "#>2", tolcmp's JSON lines.
std::set<std::pair<int, int>> places(const std::string& listing, const std::regex& place) {
  std::set<std::pair<int, int>> found;
  for (std::sregex_iterator m(listing.begin(), listing.end(), place), end; m != end; ++m)
    found.emplace(std::stoi((*m)[1]), std::stoi((*m)[2]));
  return found;
}

using Numdiff = ToleranceTest;

TEST_F(Numdiff, SameVerdictOnAGeneratedCorpus) {
  if (!numdiff_installed())
    GTEST_SKIP() << "numdiff is not installed here (Debian package numdiff)";
  std::mt19937 random(1414);
  std::uniform_real_distribution<double> unit(0, 1);
  int verdicts[2] = {0, 0};
  for (int pair = 0; pair < 240; ++pair) {
    const bool outside = pair % 2;  // one number of the pair just outside, all others just inside
    const int numbers = 12, chosen = (int)(random() % numbers);
    std::string a, b;
    for (int i = 0; i < numbers; ++i) {
      const char* separator = i % 4 == 3 ? "\n" : (random() % 2 ? " " : "\t ");
      if (random() % 4 == 0) {  // an integer, the same or one apart
        const long long n = (long long)(random() % 2000000) - 1000000;
        a += std::to_string(n) + separator;
        const long long m = n + (outside && i == chosen);
        b += (m >= 0 && random() % 2 ? "+" : "") + std::to_string(m) + separator;
        continue;
      }
      const double x = std::pow(10.0, -4.5 + 12 * unit(random)) * (random() % 2 ? 1 : -1);
      const double bound = std::fabs(x) < kAbs / kRel ? kRel * std::fabs(x) : kAbs;
      const double d = (outside && i == chosen ? 2.0 : 0.5) * bound * (random() % 2 ? 1 : -1);
      a += notation(x, (int)(random() % 5)) + separator;
      b += notation(x + d, (int)(random() % 5)) + separator;
    }
    if (pair % 8 == 4) b.insert(b.size() - 1, " 7");  // a field more at the end
    write("a.txt", a);
    write("b.txt", b);
    const int ours = tolerance_compare_files("a.txt", "b.txt", 0, 0, kAbs, kRel);
    // The command and numdiff, every other pair with the first file on the standard input.
    const char* first = pair % 2 ? "- b.txt < a.txt" : "a.txt b.txt";
    char command[256];
    std::snprintf(command, sizeof command, "numdiff -2 -a %g -r %g %s > theirs.txt", kAbs, kRel,
                  first);
    const int theirs = exit_status(std::system(command));
    std::snprintf(command, sizeof command, "%s --json -a %g -r %g %s > ours.txt", TOLCMP_COMMAND,
                  kAbs, kRel, first);
    const int command_status = exit_status(std::system(command));
    ASSERT_EQ(ours, theirs) << "pair " << pair << "\na.txt:\n" << a << "b.txt:\n" << b;
    ASSERT_EQ(command_status, theirs) << "pair " << pair;
    const auto listed =
        places(testsupport::read_text("theirs.txt"), std::regex(R"(##(\d+) +#[:>](\d+))"));
    EXPECT_EQ(listed.empty(), theirs == 0) << "pair " << pair;
    EXPECT_EQ(places(testsupport::read_text("ours.txt"),
                     std::regex(R"re("line1":(\d+),"line2":\d+,"field":(\d+))re")),
              listed)
        << "pair " << pair << "\na.txt:\n"
        << a << "b.txt:\n"
        << b;
    ++verdicts[ours];
  }
  EXPECT_EQ(verdicts[0], 90);  // the pairs with a field more differ
  EXPECT_EQ(verdicts[1], 150);
}

}  // namespace

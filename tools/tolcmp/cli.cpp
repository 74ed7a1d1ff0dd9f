// Command-line front of the tolerance comparison: options, the files' readability, exit status.
#include "cli.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <CLI/CLI.hpp>

#include "kel_version.h"
#include "runtime/tolcmp/tolcmp.h"

namespace {

constexpr int kExitSame = 0, kExitDifferent = 1, kExitUsage = 2;

const char kRules[] = R"(
Two files are compared line by line and token by token (tokens are separated by blanks, tabs,
commas and parentheses). Two numbers a and b differ when
    |a-b| >= ABS,  or  max(|a|,|b|) > ABS  and  |a-b| > REL * max(|a|,|b|),
so the absolute tolerance bounds the difference at every magnitude and the relative one bounds
it too above ABS. --abs 0 asks for identical number texts: 1.0 and 1.00 then differ.
Integers are compared exactly, and an integer never equals a real, unless --loose is given
(with --loose and ABS > 1, integers differ when more than ABS or REL * max(|i|,|j|) apart).
Exponents may be written with e, E, d or D; a token "*" matches anything; a text holding * or ?
is a pattern for the other file's text.

Empty lines and lines starting with "!" or a single "<" are skipped. A line starting with "<<" is
a directive that changes the tolerances for what follows, in both files:
    << ABS_EPS = 1.0e-4   REL_EPS = 1.0e-2
(names ABS_EPS/abs_eps and REL_EPS/rel_eps/mp_eps; the values must be written as reals).
A line holding only "&" is a continuation mark and equals any line.

--layout compares a fixed-layout report (lines 10-12 and 16-18 are 3x3 matrices) with
relative tolerance 1e-5 unless directives say otherwise.

Every difference is appended to the report file (default dbgfile.dat in the current
directory); a summary goes to the standard output.

Exit status: 0 same, 1 different, 2 bad usage or a file that cannot be read.)";

// A tolerance: a finite number, not negative.
struct ToleranceValidator : CLI::Validator {
  ToleranceValidator() : CLI::Validator("EPS") {
    func_ = [](std::string& text) -> std::string {
      double value = 0;
      if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < 0)
        return "tolerance must be a finite number >= 0: " + text;
      return {};
    };
  }
};

// Empty when the file can be opened and read, else why not.
std::string unreadable(const std::string& name) {
  FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) return std::strerror(errno);
  errno = 0;
  std::fgetc(file);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  return failed ? std::string(error ? std::strerror(error) : "read error") : std::string();
}

}  // namespace

int tolcmp_main(int argc, char** argv) {
  CLI::App app{"Compares two numeric text files within absolute and relative tolerances.",
               "tolcmp"};
  app.footer(kRules);
  app.set_version_flag("--version", "tolcmp " KEL_VERSION);
  std::string files[2], report;
  double abs_eps = 1e-6, rel_eps = 1e-5;
  bool blanks = false, loose = false, unordered = false, layout = false, quiet = false;
  app.add_option("FILE1", files[0], "First file")->required();
  app.add_option("FILE2", files[1], "Second file")->required();
  auto* abs_option = app.add_option("--abs", abs_eps, "Absolute tolerance")
                         ->capture_default_str()
                         ->check(ToleranceValidator());
  auto* rel_option = app.add_option("--rel", rel_eps, "Relative tolerance")
                         ->capture_default_str()
                         ->check(ToleranceValidator());
  auto* blanks_flag =
      app.add_flag("--blanks", blanks, "The separators before each token must agree too");
  auto* loose_flag =
      app.add_flag("--loose", loose, "Compare integers, reals and numeric texts as numbers");
  auto* unordered_flag = app.add_flag("--unordered", unordered,
                                      "Every line of each file must occur somewhere in the other");
  auto* layout_flag = app.add_flag("--layout", layout,
                                   "Compare a fixed-layout report (no other comparison option)");
  app.add_option("--report", report,
                 "Where the difference report is appended (default dbgfile.dat)");
  app.add_flag("--quiet", quiet, "Nothing on the standard output");
  layout_flag->excludes(abs_option, rel_option, blanks_flag, loose_flag, unordered_flag);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kExitSame : kExitUsage;
  }

  for (const std::string& name : files) {
    const std::string why = unreadable(name);
    if (!why.empty()) {
      std::fprintf(stderr, "tolcmp: cannot read %s: %s\n", name.c_str(), why.c_str());
      return kExitUsage;
    }
  }
  if (!tolerance_report_file_set(report.c_str())) {
    std::fprintf(stderr, "tolcmp: cannot keep the report name %s\n", report.c_str());
    return kExitUsage;
  }
  const int previous_console = tolerance_console_set(quiet ? 0 : 1);
  const char* a = files[0].c_str();
  const char* b = files[1].c_str();
  const int result = layout ? tolerance_compare_layout(a, b)
                     : unordered
                         ? tolerance_compare_unordered(a, b, blanks, loose, abs_eps, rel_eps)
                         : tolerance_compare_files(a, b, blanks, loose, abs_eps, rel_eps);
  std::fflush(stdout);
  tolerance_console_set(previous_console);
  tolerance_report_file_set(nullptr);
  if (result == TOLCMP_CANNOT_OPEN) {
    std::fprintf(stderr, "tolcmp: cannot read %s or %s\n", a, b);
    return kExitUsage;
  }
  if (!tolerance_report_written()) {
    std::fprintf(stderr, "tolcmp: the report %s could not be written whole\n",
                 report.empty() ? "dbgfile.dat" : report.c_str());
    return kExitUsage;
  }
  return result == TOLCMP_SAME ? kExitSame : kExitDifferent;
}

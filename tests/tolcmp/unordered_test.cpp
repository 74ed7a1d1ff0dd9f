// The indexed unordered comparison against the algorithm it stands in for (every line of each
// file looked up by reading the other file from its start), written out here on its own from
// the rules, on a random corpus of small files and on grid and constant-column layouts: same
// result, same report byte for byte.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/tolcmp/tolcmp_internal.h"
#include "tolcmp_fixture.h"

namespace {

using namespace tolcmp;
using Tokens = std::vector<std::string>;

// ---- The rules, from their description -------------------------------------------------

int kind_of(const std::string& t) {
  if (t.empty()) return 0;
  if (t == "*") return 4;
  int digits = 0, dots = 0, signs = 0, others = 0;
  size_t other_at = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (std::isdigit((unsigned char)c)) {
      ++digits;
    } else if (c == '.') {
      ++dots;
    } else if (c == '+' || c == '-') {
      if (i > 0 && !std::strchr("eEdD", t[i - 1])) return 3;
      ++signs;
    } else {
      ++others;
      other_at = i;
    }
  }
  if (!digits || others > 1 || dots > 2 || signs >= 3) return 3;
  if (!others) return dots ? 2 : 1;
  return std::strchr("eEdD", t[other_at]) && other_at + 1 < t.size() &&
                 (t[other_at + 1] == '+' || t[other_at + 1] == '-')
             ? 2
             : 3;
}

// The fields of a line, with the exponent letters d and D written as e (as in 1.5D+03).
Tokens fields(const std::string& line) {
  Tokens out;
  std::string t;
  for (size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || std::strchr(" ,\t()", line[i])) {
      if (!t.empty()) out.push_back(t);
      t.clear();
    } else {
      const bool exponent =
          (line[i] == 'D' || line[i] == 'd') && !t.empty() && std::isdigit((unsigned char)t.back());
      t += exponent ? 'e' : line[i];
    }
  }
  return out;
}

bool glob(const char* p, const char* s) {
  if (!*p) return !*s;
  if (*p == '*') return glob(p + 1, s) || (*s && glob(p, s + 1));
  return *s && (*p == '?' || *p == *s) && glob(p + 1, s + 1);
}

bool texts_differ_(const std::string& a, const std::string& b) {
  const bool pa = a.find_first_of("*?") != std::string::npos;
  const bool pb = b.find_first_of("*?") != std::string::npos;
  if (pa == pb) return a != b;
  return pa ? !glob(a.c_str(), b.c_str()) : !glob(b.c_str(), a.c_str());
}

// The value when the text is one number in full.
bool number(const std::string& t, double* value) {
  char* end;
  *value = std::strtod(t.c_str(), &end);
  return !t.empty() && *end == 0 && std::isfinite(*value);
}

bool numbers_differ_(const std::string& a, const std::string& b, Tolerances t) {
  double x, y;
  if (a == b) return false;
  if (!number(a, &x) || !number(b, &y)) return true;
  const volatile double d = std::fabs(x - y), m = std::max(std::fabs(x), std::fabs(y));
  const volatile double r = t.rel_eps * m;
  return d >= t.abs_eps || (m > t.abs_eps && d > r);
}

bool fields_differ(const std::string& a, const std::string& b, int ka, int kb, bool loose,
                   Tolerances t) {
  const bool numeric_a = ka == 1 || ka == 2, numeric_b = kb == 1 || kb == 2;
  if (ka == 4 || kb == 4) return false;
  if (ka != kb && !(loose && (numeric_a || numeric_b))) return true;
  if (ka == 2) return numbers_differ_(a, b, t);
  if (ka == 3) return texts_differ_(a, b);
  if (kb == 2) return numbers_differ_(b, a, t);
  double i, j;  // integers of the corpus: equal texts, or far apart, or below 2^53
  const std::string bare_a = a[0] == '+' ? a.substr(1) : a, bare_b = b[0] == '+' ? b.substr(1) : b;
  if (bare_a == bare_b) return false;
  if (!number(bare_a, &i) || !number(bare_b, &j)) return true;
  if (i == 0 && j == 0) return false;
  if (loose && t.abs_eps > 1.0)
    return std::fabs(i - j) > t.abs_eps ||
           std::fabs(i - j) > t.rel_eps * std::max(std::fabs(i), std::fabs(j));
  return i != j;
}

bool continuation(const std::string& line) {
  return std::count(line.begin(), line.end(), '&') == 1 &&
         line.find_first_not_of(" \t,&") == std::string::npos;
}

bool lines_differ_(const std::string& a, const std::string& b, bool loose, Tolerances t) {
  if (continuation(a) || continuation(b)) return false;
  const Tokens fa = fields(a), fb = fields(b);
  for (size_t k = 0; k < fa.size() && k < fb.size(); ++k)
    if (fields_differ(fa[k], fb[k], kind_of(fa[k]), kind_of(fb[k]), loose, t)) return true;
  return fa.size() != fb.size();
}

void directive(const std::string& line, Tolerances* t) {
  int abs_at = -1, rel_at = -1, index = 0;
  std::vector<double> reals;
  for (const std::string& f : fields(line)) {
    if ((f == "ABS_EPS" || f == "abs_eps") && abs_at < 0) abs_at = index;
    if ((f == "REL_EPS" || f == "rel_eps" || f == "mp_eps") && rel_at < 0) rel_at = index;
    if (kind_of(f) == 2) reals.push_back(std::strtod(f.c_str(), nullptr));
    ++index;
  }
  if (abs_at >= 0 && rel_at >= 0 && reals.size() == 2) {
    t->abs_eps = reals[abs_at < rel_at ? 0 : 1];
    t->rel_eps = reals[abs_at < rel_at ? 1 : 0];
  } else if (abs_at >= 0 && rel_at < 0 && reals.size() == 1) {
    t->abs_eps = reals[0];
  } else if (rel_at >= 0 && abs_at < 0 && reals.size() == 1) {
    t->rel_eps = reals[0];
  }
}

// A file's lines as read: 1 content, 10 directive (comments and empty lines left out).
std::vector<std::pair<int, std::string>> read_lines(const std::string& text) {
  std::vector<std::pair<int, std::string>> out;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t i = line.find_first_not_of(" \t");
    const char first = i == std::string::npos ? 0 : line[i];
    const char second = first && i + 1 < line.size() ? line[i + 1] : 0;
    if (first == '<' && second == '<')
      out.push_back({10, line});
    else if (first && first != '!' && first != '<' && second != '<')
      out.push_back({1, line});
  }
  return out;
}

// Both passes of the unordered comparison and its report, as the report file holds it.
int expected_unordered(const std::string& a, const std::string& b, bool loose, Tolerances start,
                       std::string* report) {
  const std::vector<std::pair<int, std::string>> file[2] = {read_lines(a), read_lines(b)};
  std::string entries;
  int64_t count[2] = {0, 0}, missing = 0;
  for (int pass = 0; pass < 2; ++pass) {
    Tolerances t = start;
    for (const auto& [kind, line] : file[pass]) {
      if (kind == 10) {
        directive(line, &t);
        continue;
      }
      ++count[pass];
      Tolerances search = t;
      bool found = false;
      for (const auto& [other_kind, other] : file[1 - pass]) {
        if (other_kind == 10)
          directive(other, &search);
        else if (!lines_differ_(line, other, loose, search))
          found = true;
        if (found) break;
      }
      if (!found) {
        ++missing;
        entries += "\nLine: " + std::to_string(count[pass]) + "    Differ: " + (pass ? ">" : "<") +
                   "   " + line;
      }
    }
  }
  const std::string banner = "\n\n\n      ***** Tolerance Compare File *****\n";
  const std::string names = "File_1: a.txt     File_2: b.txt\n";
  *report = entries.empty() ? "" : banner + "\n  " + names + entries;
  const int64_t total = (missing + 1) / 2;
  if (count[0] == count[1] && total == 0) return 0;
  if (total == 0) *report += banner + "\n     " + names;
  *report += "\n\n\n      **********************************\n";
  if (count[0] != count[1])
    *report += "     !!! Line Counts Are Different !!!\n     File_1 : " + std::to_string(count[0]) +
               "    File_2 = " + std::to_string(count[1]) + "\n";
  if (total) *report += "     Total num of diff lines: " + std::to_string(total) + "\n";
  return 1;
}

// ---- The corpus ------------------------------------------------------------------------

struct Corpus {
  std::mt19937 random{2323};
  template <size_t N>
  const char* pick(const char* const (&items)[N]) {
    return items[random() % N];
  }
  std::string number() {
    static const char* const bases[] = {"0",     "1",      "-2",     "100",    "1.0",     "1.5",
                                        "-2.25", "1000.0", "1.0e-7", "3.5e+2", "1.5D+03", "0.0"};
    static const char* const nudges[] = {"", "", "0000001", "00001", "3", "999999"};
    std::string n = pick(bases);
    const size_t point = n.find('.');
    if (point != std::string::npos && n.find_first_of("eD") == std::string::npos)
      n += pick(nudges);  // more digits: the same value, or one just inside or outside a bound
    return n;
  }
  std::string token() {
    static const char* const texts[] = {"x",  "abc", "1.2.3", "e+", "1e+",
                                        "5-", "+7",  "*",     "?b", "12345678901234567890123"};
    return random() % 3 ? number() : std::string(pick(texts));
  }
  // A line as its tokens, or a line that holds none ("" then stands for one of the others).
  Tokens line() {
    Tokens tokens;
    for (int n = random() % 8 ? 1 + (int)(random() % 3) : 0; n > 0; --n) tokens.push_back(token());
    return tokens;
  }
  // A token some comparisons find equal to the given one.
  std::string partner(const std::string& t) {
    static const char* const pairs[][2] = {
        {"1e+", "e+"},    {"1", "1.0"}, {"+7", "7"},   {"1.5", "1.50000001"}, {"100", "101"},
        {"1.0", "0.999"}, {"x", "*"},   {"abc", "a*"}, {"1.5", "1.*"}};
    for (const auto& p : pairs) {
      if (t == p[0] && random() % 2) return p[1];
      if (t == p[1] && random() % 2) return p[0];
    }
    return t;
  }
  std::string render(const Tokens& tokens) {
    static const char* const others[] = {"  &\n",
                                         "! comment\n",
                                         "\n",
                                         "< skipped\n",
                                         "<< ABS_EPS 1.0e-3\n",
                                         "<< REL_EPS = 1.0e-1\n",
                                         "<< abs_eps 2.0 rel_eps 0.5\n",
                                         "<< ABS_EPS 1.0e-9\n"};
    static const char* const separators[] = {" ", ",", "\t", "  ", " ( "};
    if (tokens.empty()) return pick(others);
    std::string l;
    for (size_t i = 0; i < tokens.size(); ++i) l += (i ? pick(separators) : "") + tokens[i];
    return l + (random() % 5 ? "\n" : "\r\n");
  }
  // A file, and a second one made of its lines shuffled, some tokens traded for partners, some
  // lines changed, added or dropped.
  void pair(std::string* a, std::string* b) {
    std::vector<Tokens> lines;
    for (int n = (int)(random() % 7); n > 0; --n) lines.push_back(line());
    shuffled(lines, a, b);
  }
  void shuffled(std::vector<Tokens> lines, std::string* a, std::string* b) {
    *a = "";
    for (const auto& l : lines) *a += render(l);
    std::shuffle(lines.begin(), lines.end(), random);
    for (auto& l : lines)
      for (std::string& t : l) t = partner(t);
    if (!lines.empty() && random() % 2) lines[random() % lines.size()] = line();
    if (random() % 4 == 0) lines.push_back(line());
    if (!lines.empty() && random() % 4 == 0) lines.pop_back();
    *b = "";
    for (const auto& l : lines) *b += render(l);
  }
  // A grid "i j k value" or rows "1.0 2.0 3.0 value" whose values repeat, shuffled likewise.
  void layout(std::string* a, std::string* b) {
    static const char* const values[] = {"0.0", "1.5", "1.50000001", "100", "-2.25", "x"};
    std::vector<Tokens> lines;
    const bool grid = random() % 2;
    for (int n = 10 + (int)(random() % 30); n > 0; --n) {
      const std::string v = pick(values);
      if (grid)
        lines.push_back(
            {std::to_string(n % 3), std::to_string(n / 3 % 3), std::to_string(n / 9), v});
      else
        lines.push_back({"1.0", "2.0", "3.0", v});
    }
    shuffled(lines, a, b);
  }
};

using Unordered = ToleranceTest;

TEST_F(Unordered, SameResultAndReportAsTheRules) {
  Corpus corpus;
  const double abs_values[] = {1e-6, 0.0, 1e-3, 2.0, -1.0};
  const double rel_values[] = {1e-3, 0.0, 0.5};
  int results[2] = {0, 0};
  tolerance_report_file_set("indexed.dat");
  for (int round = 0; round < 1300; ++round) {
    std::string a, b, expected_report;
    if (round < 1000)
      corpus.pair(&a, &b);
    else
      corpus.layout(&a, &b);
    write("a.txt", a);
    write("b.txt", b);
    const int loose = (int)(corpus.random() % 2);
    const Tolerances t{abs_values[corpus.random() % 5], rel_values[corpus.random() % 3]};
    const int expected = expected_unordered(a, b, loose, t, &expected_report);
    const int got = tolerance_compare_unordered("a.txt", "b.txt", 0, loose, t.abs_eps, t.rel_eps);
    ASSERT_EQ(got, expected) << "round " << round << " loose " << loose << " abs " << t.abs_eps
                             << " rel " << t.rel_eps << "\na.txt:\n"
                             << a << "b.txt:\n"
                             << b;
    ASSERT_EQ(testsupport::read_text("indexed.dat"), expected_report) << "round " << round;
    ++results[got];
    std::filesystem::remove("indexed.dat");
  }
  tolerance_report_file_set(nullptr);
  EXPECT_GT(results[0], 200);
  EXPECT_GT(results[1], 200);
}

}  // namespace

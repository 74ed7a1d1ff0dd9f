// The indexed unordered comparison against the plain one it replaces (every line looked up by
// reading the other file from its start), on a random corpus of small files: same result, same
// report byte for byte.
#include <random>
#include <string>
#include <vector>

#include "runtime/tolcmp/tolcmp_internal.h"
#include "tolcmp_fixture.h"

namespace {

using namespace tolcmp;

// The plain algorithm: both passes with line_in_file, reported as the comparison reports.
int plain_unordered(const char* file_1, const char* file_2, int loose, Tolerances start) {
  const char* names[2] = {file_1, file_2};
  const char* markers[2] = {"<", ">"};
  LineReader reader{}, search{};
  Scratch scratch{};
  int64_t count[2] = {0, 0}, missing = 0;
  report_begin(file_1, file_2);
  for (int pass = 0; pass < 2; ++pass) {
    Tolerances tolerances = start;
    EXPECT_EQ(reader_open(&reader, names[pass]), 1);
    for (int kind; (kind = read_content_line(&reader)) > 0;) {
      const Text line = reader_text(&reader);
      if (kind == LINE_DIRECTIVE) {
        read_tolerance_directive(line, &tolerances, &scratch);
        continue;
      }
      ++count[pass];
      if (line_in_file(names[1 - pass], line, 0, loose, tolerances, &search, &scratch) == 0) {
        ++missing;
        report_token_difference(text_of(markers[pass]), Text{line.text, line.length - 1},
                                count[pass]);
      }
    }
    reader_close(&reader);
  }
  reader_release(&reader);
  reader_release(&search);
  scratch_release(&scratch);
  report_end();
  report_summary(file_1, file_2, count[0], count[1], (missing + 1) / 2);
  return missing || count[0] != count[1];
}

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
  std::vector<std::string> line() {
    std::vector<std::string> tokens;
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
  std::string render(const std::vector<std::string>& tokens) {
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
    std::vector<std::vector<std::string>> lines;
    for (int n = (int)(random() % 7); n > 0; --n) lines.push_back(line());
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
};

using Unordered = ToleranceTest;

TEST_F(Unordered, SameResultAndReportAsThePlainAlgorithm) {
  Corpus corpus;
  const double abs_values[] = {1e-6, 0.0, 1e-3, 2.0, -1.0};
  const double rel_values[] = {1e-3, 0.0, 0.5};
  int results[2] = {0, 0};
  for (int round = 0; round < 1000; ++round) {
    std::string a, b;
    corpus.pair(&a, &b);
    write("a.txt", a);
    write("b.txt", b);
    const int loose = (int)(corpus.random() % 2);
    const Tolerances t{abs_values[corpus.random() % 5], rel_values[corpus.random() % 3]};
    tolerance_report_file_set("plain.dat");
    const int expected = plain_unordered("a.txt", "b.txt", loose, t);
    tolerance_report_file_set("indexed.dat");
    const int got = tolerance_compare_unordered("a.txt", "b.txt", corpus.random() % 2, loose,
                                                t.abs_eps, t.rel_eps);
    ASSERT_EQ(got, expected) << "round " << round << " loose " << loose << " abs " << t.abs_eps
                             << " rel " << t.rel_eps << "\na.txt:\n"
                             << a << "b.txt:\n"
                             << b;
    ASSERT_EQ(testsupport::read_text("indexed.dat"), testsupport::read_text("plain.dat"))
        << "round " << round;
    ++results[got];
    std::filesystem::remove("plain.dat");
    std::filesystem::remove("indexed.dat");
  }
  tolerance_report_file_set(nullptr);
  EXPECT_GT(results[0], 200);
  EXPECT_GT(results[1], 200);
}

}  // namespace

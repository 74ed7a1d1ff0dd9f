// The report against a host that fails: mirax runs the report on a nested example once to learn
// which host functions it calls and how often, then again with each call of each function
// failing in turn (and with every call of it failing). Every run must end with status 0 or 1 and
// mirax's own complaint, never a crash or a hang; the module must unload and print its end line;
// a report that is written must be well formed, every row one of the full run's (a name or kind
// the host did not give shown as "?"), and every value one the full run (or, when the reference
// could not be read, the run without a reference) wrote for that row.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "child_output.h"
#include "platform/program.h"

namespace {

namespace fs = std::filesystem;

fs::path build_root() {
  char program[1024];
  EXPECT_GT(platform_program_path(program, sizeof program), 0u);
  return fs::path(program).parent_path() / KEL_E2E_BUILD_ROOT_REL;
}

struct MiraxRun {
  int status = -1;  // -1: no exit status (a signal)
  std::string out, err;
  bool has_report = false;
  std::string report;
};

const std::string kPick = "--reference LEVEL1/LEVEL2/RefSub ";

// Runs mirax in `dir` on the sweep's model with the reply "datum" and `extra` options.
MiraxRun run_mirax(const fs::path& dir, const std::string& extra) {
  fs::create_directories(dir);
  const std::string example = std::string(KEL_E2E_EXAMPLES) + "/deep.json";
  const fs::path out = dir / "out.txt", err = dir / "err.txt";
#ifdef _WIN32
  const std::string mirax = (build_root() / "mirax.exe").string(), no_input = "NUL", limit;
#else
  const std::string mirax = (build_root() / "mirax").string(), no_input = "/dev/null", limit = "timeout 60 ";
#endif
  std::string command = limit + "\"" + mirax + "\" --model \"" + example +
                        "\" --name datum --dir \"" + dir.string() + "\" " + extra +
                        " < " + no_input + " > \"" + out.string() + "\" 2> \"" + err.string() + "\"";
#ifdef _WIN32
  command = "\"" + command + "\"";  // cmd /c keeps the inner quotes then
#endif
  const int status = std::system(command.c_str());
  MiraxRun run;
#ifdef _WIN32
  run.status = status;
#else
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  run.out = testsupport::read_text(out.string());
  run.err = testsupport::read_text(err.string());
  run.has_report = fs::exists(dir / "csyspos.txt");
  run.report = testsupport::read_text((dir / "csyspos.txt").string());
  return run;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Row {
  std::string level, name, kind;
  std::vector<std::string> values;  // the twelve value texts, or none
};

// The report's rows; "" when it is well formed, else what is wrong.
std::string parse_report(const std::string& text, std::vector<Row>& rows) {
  static const std::string listing = " Csys Name(Listing) = datum \n", original = " Csys Name(Original) = RefSub  \n",
                           header = "\nLebel Name  Type  Tx   Ty   Tz   x1   x2   x3   y1   y2   y3   z1   z2   z3\n";
  if (text.rfind(listing, 0) != 0) return "no listing line";
  size_t at = listing.size();
  if (text.compare(at, original.size(), original) == 0) at += original.size();
  if (text.compare(at, header.size(), header) != 0) return "no header";
  at += header.size();
  if (at == text.size()) return "";
  if (text.compare(at, 2, " \n") != 0) return "no blank line before the rows";
  static const std::regex row_form(R"((\d+) (\S+) (ASSEMBLY|PART|\?) (.*))");
  static const std::regex number(R"(-?\d+\.\d{3})");
  const auto lines = lines_of(text.substr(at + 2));
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch m;
    if (!std::regex_match(lines[i], m, row_form)) return "row " + std::to_string(i + 1) + " malformed: " + lines[i];
    Row row{m[1], m[2], m[3], {}};
    std::istringstream tokens(m[4].str());
    for (std::string token; tokens >> token;) row.values.push_back(token);
    const bool none = row.values.empty() && i + 1 == lines.size();
    const bool not_available = row.values == std::vector<std::string>(12, "N/A");
    bool numbers = row.values.size() == 12;
    for (const std::string& v : row.values) numbers = numbers && std::regex_match(v, number);
    if (!none && !not_available && !numbers) return "row " + std::to_string(i + 1) + " has bad values: " + lines[i];
    if (not_available) row.values.clear();
    rows.push_back(row);
  }
  return "";
}

// "" when every row is one of the full run's in order, with its values or none.
std::string rows_match(const std::vector<Row>& rows, const std::vector<Row>& full) {
  size_t next = 0;
  for (const Row& row : rows) {
    while (next < full.size() &&
           !(full[next].level == row.level && (row.name == "?" || row.name == full[next].name) &&
             (row.kind == "?" || row.kind == full[next].kind)))
      ++next;
    if (next == full.size()) return "row " + row.level + " " + row.name + " " + row.kind + " is not the full run's";
    if (!row.values.empty() && row.values != full[next].values)
      return "row " + row.level + " " + row.name + " holds values the full run did not write";
    ++next;
  }
  return "";
}

TEST(FaultSweep, EveryFailingHostCallEndsCleanly) {
  testsupport::set_env("KEL_LANG", "usascii");
  const fs::path work = fs::current_path();
  const MiraxRun full = run_mirax(work / "full", kPick + "--list-calls");
  const MiraxRun unreferenced = run_mirax(work / "unreferenced", "--no-reference");
  ASSERT_EQ(full.status, 0) << full.err;
  ASSERT_EQ(unreferenced.status, 0) << unreferenced.err;
  std::vector<Row> full_rows, unreferenced_rows;
  ASSERT_EQ(parse_report(full.report, full_rows), "");
  ASSERT_EQ(parse_report(unreferenced.report, unreferenced_rows), "");
  ASSERT_EQ(full_rows.size(), 6u);

  // The calls: the lines after the title.
  std::map<std::string, int> calls;
  const auto out_lines = lines_of(full.out);
  for (auto it = std::find(out_lines.begin(), out_lines.end(), "Host functions called:"); it != out_lines.end(); ++it) {
    std::istringstream line(*it);
    std::string name;
    int count = 0;
    if (line >> name >> count) calls[name] = count;
  }
  ASSERT_GE(calls.size(), 20u) << full.out;
  EXPECT_EQ(calls["KelMdlNameGet"], 6);
  EXPECT_EQ(calls["KelMessageDisplay"], 3);

  std::vector<std::string> cases;
  for (const auto& [name, count] : calls) {
    cases.push_back(name);
    for (int call = 1; call <= count; ++call) cases.push_back(name + ":" + std::to_string(call));
  }
#ifdef _WIN32
  const size_t stride = 8;  // each run costs a process start under the emulator
#else
  const size_t stride = 1;
#endif
  int runs = 0, reports = 0;
  for (size_t i = 0; i < cases.size(); i += stride) {
    const std::string& fail = cases[i];
    SCOPED_TRACE(kPick + "--fail " + fail);
    const MiraxRun run = run_mirax(work / ("case" + std::to_string(i)), kPick + "--fail " + fail);
    ++runs;
    const std::string diagnostics = "\n[stdout]\n" + run.out + "[stderr]\n" + run.err;
    EXPECT_TRUE(run.status == 0 || (run.status == 1 && !run.err.empty())) << "status " << run.status << diagnostics;
    for (const std::string& line : lines_of(run.err)) {
      EXPECT_EQ(line.rfind("mirax: ", 0), 0u) << "not mirax's complaint" << diagnostics;
      if (line.find("did not release") != std::string::npos) {
        EXPECT_EQ(fail.rfind("KelGeomitemdataFree", 0), 0u) << diagnostics;
      }
    }
    EXPECT_NE(run.out.find("sample END \n"), std::string::npos) << "the module did not unload" << diagnostics;
    EXPECT_EQ(run.has_report, run.out.find("Report: ") != std::string::npos) << diagnostics;
    if (!run.has_report) continue;
    ++reports;
    std::vector<Row> rows;
    const std::string form = parse_report(run.report, rows);
    EXPECT_EQ(form, "") << run.report;
    if (!form.empty()) continue;
    const std::string referenced = rows_match(rows, full_rows);
    if (!referenced.empty()) {
      EXPECT_EQ(rows_match(rows, unreferenced_rows), "") << referenced << "\n" << run.report;
    }
  }
  EXPECT_GT(reports, 0);
  EXPECT_EQ(runs, static_cast<int>((cases.size() + stride - 1) / stride));
}

}  // namespace

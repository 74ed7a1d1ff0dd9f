// Numeric checks of the report's values: the real module runs inside the simulated host on
// models with arbitrary rotations and with rotated and uniformly scaled references, and every
// listed value is compared with the product computed here (own matrix product, Gauss-Jordan
// inverse).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "child_output.h"
#include "host/host.h"
#include "mirax_model.h"
#include "platform/program.h"

namespace mirax {
namespace {

using M4 = std::array<std::array<double, 4>, 4>;

M4 product(const M4& a, const M4& b) {
  M4 out{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) out[i][j] += a[i][k] * b[k][j];
  return out;
}

M4 gauss_jordan_inverse(M4 a) {
  M4 inv{};
  for (int i = 0; i < 4; ++i) inv[i][i] = 1;
  for (int c = 0; c < 4; ++c) {
    int p = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    std::swap(inv[c], inv[p]);
    const double pivot = a[c][c];
    for (int j = 0; j < 4; ++j) a[c][j] /= pivot, inv[c][j] /= pivot;
    for (int r = 0; r < 4; ++r) {
      if (r == c) continue;
      const double f = a[r][c];
      for (int j = 0; j < 4; ++j) a[r][j] -= f * a[c][j], inv[r][j] -= f * inv[c][j];
    }
  }
  return inv;
}

M4 as_matrix(const Frame& f) {
  return {{{f.x[0], f.x[1], f.x[2], 0},
           {f.y[0], f.y[1], f.y[2], 0},
           {f.z[0], f.z[1], f.z[2], 0},
           {f.origin[0], f.origin[1], f.origin[2], 1}}};
}

// A frame turned by `degrees` about the unit axis `u`, axes scaled by `scale`, at `origin`.
Frame turned(Vec3 u, double degrees, Vec3 origin, double scale = 1.0) {
  const double n = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  for (double& v : u) v /= n;
  const double a = degrees * std::acos(-1.0) / 180.0, c = std::cos(a), s = std::sin(a), t = 1 - c;
  const double r[3][3] = {
      {t * u[0] * u[0] + c, t * u[0] * u[1] - s * u[2], t * u[0] * u[2] + s * u[1]},
      {t * u[0] * u[1] + s * u[2], t * u[1] * u[1] + c, t * u[1] * u[2] - s * u[0]},
      {t * u[0] * u[2] - s * u[1], t * u[1] * u[2] + s * u[0], t * u[2] * u[2] + c}};
  Frame f;
  f.x = {r[0][0] * scale, r[1][0] * scale, r[2][0] * scale};
  f.y = {r[0][1] * scale, r[1][1] * scale, r[2][1] * scale};
  f.z = {r[0][2] * scale, r[1][2] * scale, r[2][2] * scale};
  f.origin = origin;
  return f;
}

// TOP { csys top_ref (scaled by 2, turned), probe; A { csys probe, a_ref (scaled by 0.5);
// B { probe }, D { E { probe, e_ref } } }, C { probe } }.
Assembly test_assembly() {
  return testsupport::AssemblyBuilder()
      .model("TOP", ModelType::assembly)
      .csys("top_ref", turned({1, 2, 3}, 33, {4, -7, 12}, 2.0))
      .csys("probe", turned({0, 0, 1}, 10, {1, 1, 1}))
      .component("A", turned({0, 0, 1}, 30, {100, 20, -5}))
      .component("C", turned({1, -1, 1}, 75, {-40, 0, 8}))
      .model("A", ModelType::assembly)
      .csys("Probe", turned({1, 0, 0}, 25, {3, 0, -2}))
      .csys("a_ref", turned({-2, 1, 5}, 140, {-6, 9, 2}, 0.5))
      .component("B", turned({0, 1, 1}, 120, {10, -3, 6}))
      .component("D", turned({1, 0, 0}, -60, {0, 50, 0}))
      .model("B")
      .csys("PROBE", turned({1, 1, 0}, 70, {0, 5, 5}))
      .model("C")
      .csys("probe", turned({0, 1, 0}, -45, {2, 2, 0}))
      .model("D", ModelType::assembly)
      .component("E", turned({2, 2, 1}, 15, {-5, 5, 25}))
      .model("E")
      .csys("probe", turned({3, -1, 2}, 200, {7, 1, -3}))
      .csys("e_ref", turned({3, -1, 2}, 200, {7, 1, -3}))
      .build();
}

std::filesystem::path build_root() {
  char program[1024];
  EXPECT_GT(platform_program_path(program, sizeof program), 0u);
  return std::filesystem::path(program).parent_path() / KEL_E2E_BUILD_ROOT_REL;
}

#ifdef _WIN32
constexpr const char* kModule = "test.dll";
#else
constexpr const char* kModule = "test.so";
#endif

// One session with the reply "probe" and the given pick, writing its report into `dir`.
void run_session_into(const Assembly& a, const std::string& reference, const std::string& dir) {
  ScriptedAnswers scripted;
  scripted.name = u"probe";
  scripted.reference = resolve_reference(a, reference);
  std::istringstream no_input;
  std::ostringstream out, err;
  auto answers = make_answers(std::move(scripted), no_input, out);
  SessionOptions options;
  options.module = (build_root() / kModule).string();
  options.text_root = build_root().string();
  options.directory = dir;
  const SessionResult result = run_session(options, a, *answers, out, err);
  EXPECT_EQ(result.status, kExitOk) << err.str();
  EXPECT_TRUE(result.report_written) << err.str();
}

struct Row {
  std::string name;
  std::vector<double> values;
};

std::vector<Row> read_rows(const std::filesystem::path& report) {
  std::ifstream in(report);
  std::string line;
  std::vector<Row> rows;
  while (std::getline(in, line)) {
    if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
    std::istringstream fields(line);
    Row row;
    std::string level, kind, token;
    fields >> level >> row.name >> kind;
    while (fields >> token)
      if (token != "N/A") row.values.push_back(std::stod(token));
    rows.push_back(row);
  }
  return rows;
}

// The twelve values of `csys` (placed by `world`) in the reference `ref`, in report order.
std::vector<double> expected_values(const M4& csys_world, const M4& ref) {
  const M4 r = product(csys_world, gauss_jordan_inverse(ref));
  return {r[3][0], r[3][1], r[3][2], r[0][0], r[1][0], r[2][0],
          r[0][1], r[1][1], r[2][1], r[0][2], r[1][2], r[2][2]};
}

class Transforms : public ::testing::Test {
 protected:
  // Runs the command in a new process (the module's state is process-wide) and checks every row
  // against the independently computed values.
  void check(const std::string& reference, const M4& ref_world) {
    const Assembly a = test_assembly();
    dir_ = std::filesystem::absolute("report").string();
    std::filesystem::create_directories(dir_);
    testsupport::run_child([&] { run_session_into(a, reference, dir_); }, testsupport::exits(0),
                           {.start = testsupport::ChildStart::Fresh});

    const auto& m = a.models;
    const M4 pa = as_matrix(m[0].components[0].placement);
    const M4 pc = as_matrix(m[0].components[1].placement);
    const M4 pb = product(as_matrix(m[1].components[0].placement), pa);
    const M4 pd = product(as_matrix(m[1].components[1].placement), pa);
    const M4 pe = product(as_matrix(m[4].components[0].placement), pd);
    // Listing order: A, B, D, E, C; D owns no probe.
    const std::vector<std::pair<std::string, std::vector<double>>> want = {
        {"A", expected_values(product(as_matrix(m[1].csys[0].frame), pa), ref_world)},
        {"B", expected_values(product(as_matrix(m[2].csys[0].frame), pb), ref_world)},
        {"D", {}},
        {"E", expected_values(product(as_matrix(m[5].csys[0].frame), pe), ref_world)},
        {"C", expected_values(product(as_matrix(m[3].csys[0].frame), pc), ref_world)}};
    const auto rows = read_rows(std::filesystem::path(dir_) / "csyspos.txt");
    ASSERT_EQ(rows.size(), want.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(rows[i].name);
      EXPECT_EQ(rows[i].name, want[i].first);
      ASSERT_EQ(rows[i].values.size(), want[i].second.size());
      for (size_t k = 0; k < rows[i].values.size(); ++k)
        EXPECT_NEAR(rows[i].values[k], want[i].second[k], 0.0006) << "value " << k;
    }
  }

  std::string dir_;
};

TEST_F(Transforms, ScaledTurnedReferenceOfTheTopModel) {
  const Assembly a = test_assembly();
  check("top_ref", as_matrix(a.models[0].csys[0].frame));
}

TEST_F(Transforms, ScaledTurnedReferenceInsideASubAssembly) {
  const Assembly a = test_assembly();
  const M4 pa = as_matrix(a.models[0].components[0].placement);
  check("A/a_ref", product(as_matrix(a.models[1].csys[1].frame), pa));
}

TEST_F(Transforms, ReferenceThreeLevelsDownListsItsTwinAsIdentity) {
  const Assembly a = test_assembly();
  const M4 pa = as_matrix(a.models[0].components[0].placement);
  const M4 pd = product(as_matrix(a.models[1].components[1].placement), pa);
  const M4 pe = product(as_matrix(a.models[4].components[0].placement), pd);
  check("A/D/E/e_ref", product(as_matrix(a.models[5].csys[1].frame), pe));
  // E's probe coincides with the reference: origin 0 and identity axes.
  const auto rows = read_rows(std::filesystem::path(dir_) / "csyspos.txt");
  ASSERT_EQ(rows.size(), 5u);
  const std::vector<double> identity = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
  ASSERT_EQ(rows[3].values.size(), identity.size());
  for (size_t k = 0; k < identity.size(); ++k) EXPECT_NEAR(rows[3].values[k], identity[k], 0.0006);
}

}  // namespace
}  // namespace mirax

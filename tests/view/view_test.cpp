// mirax --view: the page against the report, names as text, and (Linux) drawn by headless Chromium.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "child_output.h"
#include "platform/program.h"
#include "step_writer.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
const std::string kExamples = KEL_VIEW_EXAMPLES;
const std::string kGearbox =
    "--model " + kExamples + "/gearbox.json --name Mount_CS --reference HOUSING/Housing_Ref";

#ifdef _WIN32
const char *kMirax = "mirax.exe", *kNoInput = "NUL";
int shell(const std::string& command) { return std::system(("\"" + command + "\"").c_str()); }
#else
const char *kMirax = "mirax", *kNoInput = "/dev/null";
int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

// mirax in the current folder; its output goes to out.txt and err.txt.
int mirax(const std::string& args, const std::string& input = kNoInput) {
  char program[1024];
  EXPECT_GT(platform_program_path(program, sizeof program), 0u);
  const fs::path exe = fs::path(program).parent_path() / KEL_VIEW_BUILD_ROOT_REL / kMirax;
  return shell("\"" + exe.string() + "\" " + args + " < " + input + " > out.txt 2> err.txt");
}

// The page's data: the JSON text, and parsed.
std::string data_text(const std::string& page) {
  const std::string open = "<script type=\"application/json\" id=\"report-data\">";
  const size_t at = page.find(open), end = page.find("</script>", at);
  return at == std::string::npos ? "" : page.substr(at + open.size(), end - at - open.size());
}
json page_data(const std::string& file) {
  return json::parse(data_text(testsupport::read_file(file)), nullptr, false);
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// The report's component rows as words: level, name, kind, then the numbers or twelve "N/A".
std::vector<std::vector<std::string>> report_rows(const std::string& report) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(report);
  bool listing = false;
  for (std::string line; std::getline(in, line);) {
    if (listing && !words(line).empty()) rows.push_back(words(line));
    listing = listing || line.starts_with("Lebel Name");
  }
  return rows;
}

// Every row of the report reaches the page: level, name and kind, and the numbers as written.
// Returns the number of csys listed.
size_t expect_rows_match(const json& data, const std::string& report) {
  const auto rows = report_rows(report);
  size_t numbers = 0;
  EXPECT_EQ(data["nodes"].size(), rows.size() + 1);
  for (size_t i = 0; i < rows.size() && i + 1 < data["nodes"].size(); ++i) {
    const json& node = data["nodes"][i + 1];
    const json& model = data["models"][node[1].get<size_t>()];
    std::vector<std::string> row{std::to_string(node[0].get<int>()), model[0], model[1]};
    for (const std::string& w : words(node[2])) row.push_back(w);
    if (row.size() == 3) row.resize(15, "N/A");
    if (i + 1 == rows.size() && rows[i].size() == 3) row.resize(3);  // the last row ends bare
    EXPECT_EQ(row, rows[i]) << "row " << i + 1;
    if (row.size() > 3 && row[3] != "N/A") numbers += row.size() - 3;
  }
  EXPECT_EQ(data["triads"], numbers / 12);
  return numbers / 12;
}

TEST(View, ThePageCarriesTheReportRowByRow) {
  struct Case {
    const char *folder, *args;  // args: the model in examples/, the answers
    size_t triads;
  };
  const Case cases[] = {
      {"gearbox", "gearbox.json --name Mount_CS --reference HOUSING/Housing_Ref", 8},
      {"deep", "deep.json --name DATUM --reference LEVEL1/LEVEL2/RefSub", 6},
      {"two_in_a_row", "mixed_case.json --name pin_CS --reference Arm_Asm/pIN_cS", 4},
      {"no_match", "no_match.json --name anchor --reference SPACER[2]/Centre", 2},
      {"no_reference", "layout.json --name cs0 --no-reference", 3},
      {"single_part", "single_part.json --name cs --reference CS", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    fs::create_directory(c.folder);
    const std::string page = fs::absolute(fs::path(c.folder) / "page.html").string();
    const std::string args = "--model " + kExamples + "/" + c.args + " --dir " + c.folder;
    ASSERT_EQ(mirax(args + " --view " + page), 0) << testsupport::read_file("err.txt");
    const std::string report = testsupport::read_text(std::string(c.folder) + "/csyspos.txt");
    EXPECT_EQ(expect_rows_match(page_data(page), report), c.triads);
  }
  // The same page on every platform: the rest of the page is embedded in mirax at build time, the
  // data are those a Linux run wrote, and no line end is written in text mode.
  const std::string page = testsupport::read_file("gearbox/page.html");
  EXPECT_EQ(page.find('\r'), std::string::npos);
  EXPECT_EQ(data_text(page) + "\n",
            testsupport::read_text(std::string(KEL_VIEW_SOURCE) + "/expected/gearbox_data.json"));
}

// With --export-model nothing is pressed: mirax presses on its own, in a folder of its own, and
// draws the same numbers, for a STEP model too.
TEST(View, ARunThatPressesNothingDrawsTheSameReport) {
  ASSERT_EQ(mirax(kGearbox + " --view pressed.html"), 0);
  fs::create_directory("export");
  ASSERT_EQ(mirax(kGearbox + " --export-model export/g.json --view export/page.html"), 0)
      << testsupport::read_file("err.txt");
  EXPECT_EQ(testsupport::read_file("export/page.html"), testsupport::read_file("pressed.html"));
  for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
    EXPECT_FALSE(entry.path().filename().string().starts_with("mirax-view-")) << entry.path();
  ASSERT_EQ(mirax("--model export/g.json --view unnamed.html --export-model again.json"), 0);
  EXPECT_EQ(page_data("unnamed.html")["note"], "No csys name was given (--name): the tree only.");
#ifdef KEL_VIEW_STEP
  stepgen::Writer w(false);
  const int pin = w.product("PIN", {{"mount", stepgen::turned({0, 0, 1}, 90, {0, 1, 0})}});
  const int top = w.product("TOP", {});
  for (int i = 0; i < 3; ++i)
    w.use(top, pin, stepgen::turned({1, 0, 1}, 30.0 * i, {5.0 * i, 1, 2}));
  w.save("a.step");
  const std::string step = "--model a.step --name mount --no-reference --view ";
  ASSERT_EQ(mirax(step + "step.html"), 0);
  ASSERT_EQ(mirax(step + "private.html --export-model a.json"), 0);
  EXPECT_EQ(testsupport::read_file("private.html"), testsupport::read_file("step.html"));
  EXPECT_EQ(expect_rows_match(page_data("step.html"), testsupport::read_text("csyspos.txt")), 3u);
#endif
}

// Names reach the page as text; a name that matches no csys still gives the tree.
const char kOddNames[] = R"({"top": "ASM", "models": {
  "ASM": {"type": "assembly", "components": [
    {"model": "<b id=\"inj\">&\"Zahnräder'", "origin": [1, 2, 3], "x": [1, 0, 0], "y": [0, 1, 0]},
    {"model": "Ünïcödé", "origin": [0, 0, 0], "x": [0, 1, 0], "y": [-1, 0, 0]}]},
  "<b id=\"inj\">&\"Zahnräder'": {"type": "part", "csys": [
    {"name": "<i>&\"ü'", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0]}]},
  "Ünïcödé": {"type": "part"}}})";

#ifdef KEL_VIEW_CHROMIUM
// Headless Chromium opens the page file (software WebGL): the DOM as drawn, or a screenshot.
std::string chromium(const std::string& what, const std::string& page,
                     const std::string& hash = "") {
  static int profile = 0;
  const std::string command =
      std::string("timeout 180 ") + KEL_VIEW_CHROMIUM +
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --use-angle=swiftshader --enable-unsafe-swiftshader --window-size=1000,650"
      " --user-data-dir=" +
      (fs::current_path() / ("profile" + std::to_string(++profile))).string() + " " + what +
      " \"file://" + fs::absolute(page).string() + hash + "\" > dom.html 2> chrome.txt";
  EXPECT_EQ(shell(command), 0) << KEL_VIEW_CHROMIUM << " (scripts/setup installs chromium): "
                               << testsupport::read_file("chrome.txt");
  return testsupport::read_file("dom.html");
}
#endif

TEST(View, NamesAreTextAndAMissingCsysStillGivesTheTree) {
  std::ofstream("odd.json", std::ios::binary) << kOddNames;
  std::ofstream("answers.txt", std::ios::binary) << "<i>&\"\u00fc'\n\n";
  ASSERT_EQ(mirax("--model odd.json --view odd.html", "answers.txt"), 0)
      << testsupport::read_file("err.txt");
#ifdef KEL_VIEW_CHROMIUM
  const std::string dom = chromium("--dump-dom", "odd.html");
  EXPECT_NE(dom.find("data-ready=\"1\""), std::string::npos);
  EXPECT_NE(dom.find("&lt;b id=\"inj\"&gt;&amp;\"Zahnr\u00e4der'"), std::string::npos);
  EXPECT_EQ(dom.find("<b id"), std::string::npos);
#endif
  const std::string page = testsupport::read_file("odd.html");
  EXPECT_EQ(page.find("<b id"), std::string::npos);
  EXPECT_EQ(page.find("<i>&"), std::string::npos);
  const json data = page_data("odd.html");
  EXPECT_EQ(data["models"][0][0], "<b id=\"inj\">&\"Zahnr\u00e4der'");
  EXPECT_EQ(data["listing"], "<i>&\"\u00fc'");
  EXPECT_EQ(data["triads"], 1);
  ASSERT_EQ(mirax("--model odd.json --name nothing_here --no-reference --view none.html"), 0);
  const json none = page_data("none.html");
  EXPECT_EQ(none["nodes"].size(), 3u);
  EXPECT_EQ(none["triads"], 0);
  EXPECT_EQ(none["note"], "No csys named \"nothing_here\" in this model: the tree only.");
}

#ifdef KEL_VIEW_CHROMIUM
TEST(View, ChromiumDrawsEveryCsysOfTheReport) {
  ASSERT_EQ(mirax(kGearbox + " --view gear.html"), 0);
  const std::string report = testsupport::read_text("csyspos.txt");
  const size_t triads = expect_rows_match(page_data("gear.html"), report);
  // Node 5 is the pinion: chosen as a click would, its row shows as written in the report.
  const std::string dom = chromium("--dump-dom", "gear.html", "#node=5");
  EXPECT_NE(dom.find("data-ready=\"" + std::to_string(triads) + "\""), std::string::npos) << dom;
  EXPECT_NE(dom.find("data-selected-triads=\"1\""), std::string::npos);
  EXPECT_NE(dom.find("class=\"line selected\" data-node=\"5\""), std::string::npos);
  const size_t row = report.find("2 PINION_Z17 PART ");
  ASSERT_NE(row, std::string::npos);
  EXPECT_NE(dom.find(report.substr(row, report.find(" \n", row) - row)), std::string::npos);
  chromium("--screenshot=" + (fs::current_path() / "shot.png").string(), "gear.html");
  shell(std::string(KEL_VIEW_PYTHON) + " " + KEL_VIEW_SOURCE +
        "/png_colours.py shot.png > rgb.txt");
  const std::string rgb = testsupport::read_file("rgb.txt");
  int red = 0, green = 0, blue = 0;
  EXPECT_EQ(std::sscanf(rgb.c_str(), "red %d green %d blue %d", &red, &green, &blue), 3) << rgb;
  EXPECT_GT(std::min({red, green, blue}), 200) << rgb;
}

// 10,000 csys in one drawing (instanced), in a page under 10 MB.
TEST(View, TenThousandCsysDrawInOnePageUnderTenMegabytes) {
  // A hundred uses of one sub-assembly of 99 pins, each of the 10,000 with a csys "mount".
  const std::string axes = R"(, "x": [1, 0, 0], "y": [0, 1, 0]})", pin = R"({"model": "PIN")";
  const std::string mount = R"("csys": [{"name": "mount", "origin": [0, 0, 1])" + axes + "]";
  std::string pins, subs;
  for (int i = 0; i < 100; ++i) {
    const std::string at = R"(, "origin": [)" + std::to_string(2 * i) + ", 0, 0]" + axes;
    if (i < 99) pins += (i ? "," : "") + pin + at;
    subs += (i ? "," : "") + std::string(R"({"model": "SUB")") + at;
  }
  std::ofstream("plant.json") << R"({"top": "PLANT", "models": {"PIN": {"type": "part", )" + mount +
                                     R"(}, "SUB": {"type": "assembly", )" + mount +
                                     R"(, "components": [)" + pins +
                                     R"(]}, "PLANT": {"type": "assembly", "components": [)" + subs +
                                     "]}}}";
  ASSERT_EQ(mirax("--model plant.json --name mount --no-reference --view plant.html"), 0);
  EXPECT_LT(fs::file_size("plant.html"), 10u << 20);
  EXPECT_EQ(page_data("plant.html")["triads"], 10000);
  EXPECT_NE(chromium("--dump-dom", "plant.html").find("data-ready=\"10000\""), std::string::npos);
}
#endif

}  // namespace

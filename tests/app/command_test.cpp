// The CsysList command run in-process: mirax's host session drives the module linked into this
// program; the report is compared byte for byte, the messages shown with the message file's texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/csys_app.h"
#include "child_output.h"
#include "host/host.h"
#include "host/text_files.h"
#include "mirax_model.h"
#include "platform/program.h"

namespace {

using namespace mirax;
using testsupport::at;

// The report is written through text-mode streams: expect the platform's line end.
std::string platform_text(const std::string& text) {
#ifdef _WIN32
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
#else
  return text;
#endif
}

// The build folder, where the text tree lies beside the module.
std::string build_root() {
  char program[1024];
  EXPECT_GT(platform_program_path(program, sizeof program), 0u);
  return (std::filesystem::path(program).parent_path() / KEL_APP_BUILD_ROOT_REL).string();
}

// A frame turned by quarter turns about z (exactly, and without negative zeros) at `origin`.
Frame turned_z(int quarter_turns, const Vec3& origin) {
  static const double cosines[4] = {1, 0, -1, 0};
  const double c = cosines[quarter_turns & 3], s = cosines[(quarter_turns + 3) & 3];
  Frame f = at(origin);
  f.x = {c, s, 0};
  f.y = {s == 0 ? 0.0 : -s, c, 0};
  return f;
}

// The sample assembly: ASM holds SUB (SUB holds P1 and P2) and P3. The reference csys REF lies in
// P1, turned a quarter about z.
Assembly example() {
  return testsupport::AssemblyBuilder()
      .model("ASM", ModelType::assembly)
      .csys("cs0", at({5, 5, 5}))  // the current model's own csys never appear
      .csys("TOP")
      .component("SUB", at({100, 0, 0}))
      .component("P3", turned_z(1, {0, 50, 0}))
      .model("SUB", ModelType::assembly)
      .csys("CS0", at({1, 2, 3}))
      .component("P1", at({0, 0, 10}))
      .component("P2", at({0, 10, 0}))
      .model("P1")
      .csys("OTHER", at({1, 2, 3}))
      .csys("REF", turned_z(1, {0, 0, 0}))
      .model("P2")
      .csys("Cs0")
      .model("P3")
      .csys("cs0", at({1, 0, 0}))
      .build();
}
constexpr const char* kRef = "SUB/P1/REF";

const std::string kHead =
    "\n"
    "Lebel Name  Type  Tx   Ty   Tz   x1   x2   x3   y1   y2   y3   z1   z2   z3\n";
const std::string kNoValues = "N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A\n";

// The example listed against REF.
const std::string kExampleAgainstRef =
    kHead +
    " \n"
    "1 SUB ASSEMBLY     2.000    -1.000    -7.000     0.000     1.000     0.000    -1.000     0.000     0.000     0.000     0.000     1.000 \n"
    "2 P1 PART " +
    kNoValues +
    "2 P2 PART    10.000     0.000   -10.000     0.000     1.000     0.000    -1.000     0.000     0.000     0.000     0.000     1.000 \n"
    "1 P3 PART    51.000   100.000   -10.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000";

// The example listed in the current model's own coordinates.
const std::string kExampleInModel =
    kHead +
    " \n"
    "1 SUB ASSEMBLY   101.000     2.000     3.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000 \n"
    "2 P1 PART " +
    kNoValues +
    "2 P2 PART   100.000    10.000     0.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000 \n"
    "1 P3 PART     0.000    51.000     0.000     0.000    -1.000     0.000     1.000     0.000     0.000     0.000     0.000     1.000";

const std::string kListing = " Csys Name(Listing) = cs0 \n";
const std::string kOriginalRef = " Csys Name(Original) = REF  \n";

// What the user answers and which host calls fail.
struct Press {
  std::optional<std::u16string> reply = u"cs0";  // none: the prompt is cancelled
  std::optional<std::string> pick;               // reference path; none: the pick is aborted
  std::vector<FailRule> fails{};
  KelError fail_status = KEL_TK_GENERAL_ERROR;
};

// One session: hand-shake, button press, termination.
struct Outcome {
  SessionResult result;
  std::string shown;  // the message texts the host showed, one a line
  std::string err;    // the host's complaints (a csys data record not released, a missing text)
  std::string report;
};

Outcome run(const Assembly& assembly, const Press& press) {
  testsupport::FixedAnswers answers;
  answers.reply = press.reply;
  if (press.pick) answers.picked = resolve_reference(assembly, *press.pick);
  SessionOptions options;
  options.text_root = build_root();
  options.faults = {press.fails, press.fail_status};
  std::ostringstream out, err;
  Outcome r;
  r.result =
      run_module({user_initialize_plus, user_terminate_plus}, options, assembly, answers, out, err);
  // The session's own last line says where the report is, or that none was written.
  const std::string printed = out.str();
  r.shown = printed.substr(0, printed.rfind('\n', printed.size() - 2) + 1);
  r.err = err.str();
  r.report = testsupport::read_file("csyspos.txt");
  return r;
}

// The texts of the message file's keys, one a line, as the host shows them.
std::string texts(std::initializer_list<const char*> keys) {
  const auto catalog = parse_messages(
      read_file(build_root() + "/text/usascii/my_msg.txt").value_or("(no message file)"));
  std::string shown;
  for (const char* key : keys)
    shown += (catalog && catalog->count(key) ? catalog->at(key) : std::string("(no text)")) + "\n";
  return shown;
}

TEST(Command, ExampleAssemblyAgainstRotatedReference) {
  const Outcome r = run(example(), {.reply = u"CS0", .pick = kRef});
  EXPECT_EQ(r.result.status, kExitOk);
  EXPECT_EQ(r.err, "");
  // Both menu files registered and the button bound: the session pressed it.
  EXPECT_EQ(r.result.calls.at("KelMenuFileRegister"), 1);
  EXPECT_EQ(r.result.calls.at("KelMenuAuxfileRegister"), 1);
  EXPECT_EQ(r.result.calls.at("KelMenubuttonActionSet"), 1);
  EXPECT_TRUE(r.result.report_written);
  EXPECT_EQ(platform_text(kListing + kOriginalRef + kExampleAgainstRef), r.report);
  EXPECT_EQ(r.shown, texts({"InputCsys", "SelectCsys", "EndCsys"}));
}

TEST(Command, ListingTheReferenceItselfGivesUnitAxesAtZero) {
  const Outcome r = run(example(), {.reply = u"Ref", .pick = kRef});
  const std::string expected =
      " Csys Name(Listing) = ref \n" + kOriginalRef + kHead +
      " \n"
      "1 SUB ASSEMBLY " +
      kNoValues +
      "2 P1 PART     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000 \n"
      "2 P2 PART " +
      kNoValues + "1 P3 PART ";
  EXPECT_EQ(platform_text(expected), r.report);
}

TEST(Command, NoNameLeavesExistingReportUntouched) {
  const Press cancelled{.reply = std::nullopt, .pick = kRef},
      failed{.pick = kRef, .fails = {{.function = "KelMessageStringRead"}}};
  for (const Press& press : {cancelled, failed}) {
    SCOPED_TRACE(press.reply ? "failed" : "cancelled");
    const std::string previous = "previous report\nkept\n";
    std::ofstream("csyspos.txt", std::ios::binary) << previous;
    const Outcome r = run(example(), press);
    EXPECT_FALSE(r.result.report_written);
    EXPECT_EQ(previous, r.report);
    EXPECT_EQ(r.shown, texts({"InputCsys"}));
  }
}

TEST(Command, ModelWithoutComponentsGivesHeaderOnly) {
  const Assembly part = testsupport::AssemblyBuilder().model("P").csys("cs0").csys("REF").build();
  EXPECT_EQ(platform_text(kListing + kOriginalRef + kHead), run(part, {.pick = "REF"}).report);
}

TEST(Command, LastComponentWithoutMatchEndsAfterItsKind) {
  const Assembly top = testsupport::AssemblyBuilder()
                           .model("TOP", ModelType::assembly)
                           .csys("ORIGIN")
                           .component("P3", at({1, 2, 3}))
                           .component("P1", at({1, 2, 3}))
                           .model("P3")
                           .csys("cs0", at({1, 0, 0}))
                           .model("P1")
                           .csys("OTHER", at({1, 2, 3}))
                           .build();
  const std::string expected =
      kListing + " Csys Name(Original) = ORIGIN  \n" + kHead +
      " \n"
      "1 P3 PART     2.000     2.000     3.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000 \n"
      "1 P1 PART ";
  EXPECT_EQ(platform_text(expected), run(top, {.reply = u"CS0", .pick = "ORIGIN"}).report);
}

TEST(Command, OverlongReplyKeepsTheFirst31Characters) {
  const std::string name31 = "abcdefghijklmnopqrstuvwxyz01234";
  const Assembly top = testsupport::AssemblyBuilder()
                           .model("TOP", ModelType::assembly)
                           .csys("ORIGIN")
                           .component("LONG")
                           .model("LONG")
                           .csys(name31)
                           .csys("abcdefghijklmnopqrstuvwxyz0123")  // one shorter: no match
                           .build();
  // 52 characters: the host hands over as many as the command asks for (50), the command keeps
  // 31 of them.
  const Outcome r = run(
      top, {.reply = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnop", .pick = "ORIGIN"});
  const std::string expected =
      " Csys Name(Listing) = " + name31 + " \n Csys Name(Original) = ORIGIN  \n" + kHead +
      " \n"
      "1 LONG PART     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000";
  EXPECT_EQ(platform_text(expected), r.report);
}

TEST(Command, FailingHostCallsLeaveSensibleRows) {
  const std::string sub_values =
      "    2.000    -1.000    -7.000     0.000     1.000     0.000    -1.000     0.000     0.000     0.000     0.000     1.000";
  const std::string p2_values =
      "   10.000     0.000   -10.000     0.000     1.000     0.000    -1.000     0.000     0.000     0.000     0.000     1.000";
  const std::string p3_values =
      "   51.000   100.000   -10.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000";
  struct Case {
    std::vector<FailRule> fails;
    std::string rows;
  };
  const Case cases[] = {
      {{{.function = "KelMdlNameGet", .subject = "P1"}},
       " \n1 SUB ASSEMBLY " + sub_values + " \n2 ? PART " + kNoValues + "2 P2 PART " + p2_values +
           " \n1 P3 PART " + p3_values},
      {{{.function = "KelCsysDataGet", .subject = "Cs0"}},
       " \n1 SUB ASSEMBLY " + sub_values + " \n2 P1 PART " + kNoValues + "2 P2 PART " + kNoValues +
           "1 P3 PART " + p3_values},
      {{{.function = "KelModelitemNameGet", .subject = "CS0"},
        {.function = "KelCsysIdGet", .subject = "cs0"}},
       " \n1 SUB ASSEMBLY " + kNoValues + "2 P1 PART " + kNoValues + "2 P2 PART " + p2_values +
           " \n1 P3 PART "},
      // An unknown kind is shown as such, and the sub-assembly is still listed.
      {{{.function = "KelMdlTypeGet", .subject = "SUB"}},
       " \n1 SUB ? " + sub_values + " \n2 P1 PART " + kNoValues + "2 P2 PART " + p2_values +
           " \n1 P3 PART " + p3_values},
      {{{.function = "KelAsmcompMdlGet", .subject = "SUB"}},
       " \n1 ? ? " + kNoValues + "1 P3 PART " + p3_values},
      {{{.function = "KelMdlCurrentGet"}}, ""},
      // The filter's failure stops the host's visit at the first feature.
      {{{.function = "KelFeatureTypeGet"}}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fails[0].function + "@" + c.fails[0].subject);
    const Outcome r = run(example(), {.pick = kRef, .fails = c.fails});
    EXPECT_EQ(platform_text(kListing + kOriginalRef + kHead + c.rows), r.report);
    EXPECT_EQ(r.shown, texts({"InputCsys", "SelectCsys", "EndCsys"}));
    // Each failed call is said, and nothing else is.
    EXPECT_EQ(r.err.find("mirax: injected: " + c.fails[0].function + " call "), 0u) << r.err;
    EXPECT_EQ(std::regex_replace(r.err,
                                 std::regex("mirax: injected: [A-Za-z]+ call [0-9]+ -> "
                                            "KEL_TK_GENERAL_ERROR\n"),
                                 ""),
              "");
  }

  // No component can be placed: no values anywhere, and the reference (picked in the current
  // model itself, which needs no placement) is still named.
  const Outcome r =
      run(example(), {.pick = "TOP", .fails = {{.function = "KelAsmcomppathTrfGet"}}});
  const std::string rows = " \n1 SUB ASSEMBLY " + kNoValues + "2 P1 PART " + kNoValues +
                           "2 P2 PART " + kNoValues + "1 P3 PART ";
  EXPECT_EQ(platform_text(kListing + " Csys Name(Original) = TOP  \n" + kHead + rows), r.report);
}

TEST(Command, AssemblyDeeperThanThePathStopsAtItsDepth) {
  constexpr int kLevels = 28;
  testsupport::AssemblyBuilder chain;
  for (int i = 0; i <= kLevels; ++i) {
    chain.model("A" + std::to_string(i), ModelType::assembly).csys("cs0");
    if (i < kLevels) chain.component("A" + std::to_string(i + 1), at({1, 0, 0}));
  }
  const Outcome r = run(chain.build(), {.pick = "cs0"});

  // Levels 1 to 25 fit the path and carry values; level 26 is listed without values and its
  // contents are not visited.
  std::string rows = " \n";
  for (int level = 1; level <= KEL_PATH_MAX_DEPTH; ++level) {
    char values[128];
    std::snprintf(values, sizeof values, "%9.3f %9.3f %9.3f", static_cast<double>(level), 0.0, 0.0);
    rows +=
        std::to_string(level) + " A" + std::to_string(level) + " ASSEMBLY " + values +
        "     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000 \n";
  }
  rows += "26 A26 ASSEMBLY ";
  EXPECT_EQ(platform_text(kListing + " Csys Name(Original) = cs0  \n" + kHead + rows), r.report);
}

// The reference is module state: these runs need a process in which no reference was picked.
TEST(CommandFirstRun, UnpickedReferenceListsInModelCoordinates) {
  testsupport::run_child(
      [] {
        const Assembly ex = example();
        EXPECT_EQ(run(ex, {.pick = std::nullopt}).report, platform_text(kListing + kExampleInModel))
            << "aborted first pick";
        // The host answers the pick with success and nothing picked.
        EXPECT_EQ(run(ex, {.pick = kRef,
                           .fails = {{.function = "KelSelect"}},
                           .fail_status = KEL_TK_NO_ERROR})
                      .report,
                  platform_text(kListing + kExampleInModel))
            << "nothing picked";
        EXPECT_EQ(run(ex, {.pick = kRef}).report,
                  platform_text(kListing + kOriginalRef + kExampleAgainstRef))
            << "picked";
        // Later failed picks keep the last reference.
        EXPECT_EQ(run(ex, {.pick = std::nullopt}).report,
                  platform_text(kListing + kExampleAgainstRef))
            << "aborted later pick";
        const Outcome unreadable =
            run(ex, {.pick = "TOP", .fails = {{.function = "KelCsysDataGet", .subject = "TOP"}}});
        EXPECT_EQ(unreadable.report,
                  platform_text(kListing + " Csys Name(Original) = TOP  \n" + kExampleAgainstRef))
            << "reference data unreadable";
        EXPECT_EQ(unreadable.err,
                  "mirax: injected: KelCsysDataGet call 1 -> KEL_TK_GENERAL_ERROR\n");
      },
      testsupport::exits(0), {.start = testsupport::ChildStart::Fresh});
}

TEST(CommandEnd, TerminationPrintsEndLine) {
  ::testing::internal::CaptureStdout();
  const int printed = csys_app_terminate();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(12, printed);
  EXPECT_EQ(0u, out.find("sample END "));
}

}  // namespace

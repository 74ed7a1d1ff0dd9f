// The CsysList command run in-process against the fake host, its report compared byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <sstream>

#include "app/csys_app.h"
#include "child_output.h"
#include "fake_host.h"

namespace {

using fake::host;

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

constexpr Vector3 kZero = {0, 0, 0};

// The sample assembly: ASM holds SUB (SUB holds P1 and P2) and P3. The reference csys REF
// lies in P1, turned a quarter about z.
struct Example {
  fake::Model asm_{"ASM", KEL_MDL_ASSEMBLY}, sub{"SUB", KEL_MDL_ASSEMBLY}, p1{"P1"}, p2{"P2"},
      p3{"P3"};
  Example() {
    const Vector3 o_asm = {5, 5, 5}, o_sub = {1, 2, 3}, o_p3 = {1, 0, 0};
    const Vector3 s_sub = {100, 0, 0}, s_p1 = {0, 0, 10}, s_p2 = {0, 10, 0}, s_p3 = {0, 50, 0};
    const Vector3 rx = {0, 1, 0}, ry = {-1, 0, 0}, rz = {0, 0, 1};
    asm_.add_csys("cs0", o_asm);  // the current model's own csys never appear
    asm_.add_csys("TOP", kZero);
    asm_.add_other_feature(1, 923);
    asm_.add_component(sub, 11, 0, s_sub);
    asm_.add_component(p3, 12, 1, s_p3);
    sub.add_csys("CS0", o_sub);
    sub.add_component(p1, 21, 0, s_p1);
    sub.add_component(p2, 22, 0, s_p2);
    p1.add_csys("OTHER", o_sub);
    p1.add_csys("REF", kZero, rx, ry, rz);
    p2.add_csys("Cs0", kZero);
    p3.add_csys("cs0", o_p3);
  }
  // Picks REF in P1.
  void pick_ref(fake::Script& s) {
    s.pick_owner = &p1;
    s.pick_csys_id = p1.csys[1]->id;
    s.pick_path = {11, 21};
  }
  // Picks TOP, the identity csys of the current model.
  void pick_top(fake::Script& s) {
    s.pick_owner = &asm_;
    s.pick_csys_id = asm_.csys[1]->id;
    s.pick_path = {};
  }
};

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

int run(fake::Model& current, const fake::Script& script) {
  fake::handshake();
  host().current = &current;
  host().script = script;
  host().messages.clear();
  return fake::press_button();
}

std::string report() { return testsupport::read_file("csyspos.txt"); }

class Command : public ::testing::Test {
 protected:
  void SetUp() override { fake::handshake(); }
  void TearDown() override { EXPECT_EQ(0, host().open_data) << "geometry data not released"; }
};

TEST_F(Command, InitialisationRegistersMenusAndBindsButton) {
  ASSERT_EQ(2u, host().registrations.size());
  EXPECT_EQ(0u, host().registrations[0].rfind("assembly assembly.mnu ", 0));
  EXPECT_EQ(0u, host().registrations[1].rfind("assembly assembly.aux ", 0));
  EXPECT_EQ("assembly -CsysList", host().button_name);
  EXPECT_EQ(&csys_list_command, host().button);
}

TEST_F(Command, ExampleAssemblyAgainstRotatedReference) {
  Example ex;
  fake::Script s;
  s.reply = u"CS0";
  ex.pick_ref(s);
  EXPECT_EQ(1, run(ex.asm_, s));
  EXPECT_EQ(platform_text(kListing + kOriginalRef + kExampleAgainstRef), report());
  EXPECT_EQ(50, host().reply_limit);
  const std::vector<std::string> shown = {"my_msg.txt:InputCsys", "my_msg.txt:SelectCsys",
                                          "my_msg.txt:EndCsys"};
  EXPECT_EQ(shown, host().messages);
}

TEST_F(Command, ListingTheReferenceItselfGivesUnitAxesAtZero) {
  Example ex;
  fake::Script s;
  s.reply = u"Ref";
  ex.pick_ref(s);
  EXPECT_EQ(1, run(ex.asm_, s));
  const std::string expected =
      " Csys Name(Listing) = ref \n" + kOriginalRef + kHead +
      " \n"
      "1 SUB ASSEMBLY " +
      kNoValues +
      "2 P1 PART     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000 \n"
      "2 P2 PART " +
      kNoValues + "1 P3 PART ";
  EXPECT_EQ(platform_text(expected), report());
}

TEST_F(Command, NoNameLeavesExistingReportUntouched) {
  for (int status : {KEL_TK_USER_ABORT, KEL_TK_GENERAL_ERROR}) {
    SCOPED_TRACE(status);
    const std::string previous = "previous report\nkept\n";
    std::ofstream("csyspos.txt", std::ios::binary) << previous;
    Example ex;
    fake::Script s;
    s.read_status = status;
    s.reply = u"cs0";
    EXPECT_EQ(0, run(ex.asm_, s));
    EXPECT_EQ(previous, report());
    EXPECT_EQ(std::vector<std::string>{"my_msg.txt:InputCsys"}, host().messages);
  }
}

TEST_F(Command, ModelWithoutComponentsGivesHeaderOnly) {
  Example ex;
  fake::Script s;
  s.reply = u"cs0";
  ex.pick_ref(s);
  EXPECT_EQ(1, run(ex.p3, s));
  EXPECT_EQ(platform_text(kListing + kOriginalRef + kHead), report());
}

TEST_F(Command, LastComponentWithoutMatchEndsAfterItsKind) {
  Example ex;
  fake::Model top{"TOP", KEL_MDL_ASSEMBLY};
  const Vector3 shift = {1, 2, 3};
  top.add_csys("ORIGIN", kZero);
  top.add_component(ex.p3, 31, 0, shift);
  top.add_component(ex.p1, 32, 0, shift);
  fake::Script s;
  s.reply = u"CS0";
  s.pick_owner = &top;
  s.pick_csys_id = top.csys[0]->id;
  EXPECT_EQ(1, run(top, s));
  const std::string expected =
      kListing + " Csys Name(Original) = ORIGIN  \n" + kHead +
      " \n"
      "1 P3 PART     2.000     2.000     3.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000 \n"
      "1 P1 PART ";
  EXPECT_EQ(platform_text(expected), report());
}

TEST_F(Command, OverlongReplyKeepsTheFirst31Characters) {
  fake::Model top{"TOP", KEL_MDL_ASSEMBLY}, part{"LONG"};
  const std::string name31 = "abcdefghijklmnopqrstuvwxyz01234";
  part.add_csys(name31, kZero);
  part.add_csys("abcdefghijklmnopqrstuvwxyz0123", kZero);  // one shorter: no match
  top.add_csys("ORIGIN", kZero);
  top.add_component(part, 41, 0, kZero);
  fake::Script s;
  s.reply = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnop";  // 52, the host sends 50
  s.pick_owner = &top;
  s.pick_csys_id = top.csys[0]->id;
  EXPECT_EQ(1, run(top, s));
  const std::string expected =
      " Csys Name(Listing) = " + name31 + " \n Csys Name(Original) = ORIGIN  \n" + kHead +
      " \n"
      "1 LONG PART     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000";
  EXPECT_EQ(platform_text(expected), report());
}

TEST_F(Command, FailingHostCallsLeaveSensibleRows) {
  const std::string sub_values =
      "    2.000    -1.000    -7.000     0.000     1.000     0.000    -1.000     0.000     0.000     0.000     0.000     1.000";
  const std::string p2_values =
      "   10.000     0.000   -10.000     0.000     1.000     0.000    -1.000     0.000     0.000     0.000     0.000     1.000";
  const std::string p3_values =
      "   51.000   100.000   -10.000     1.000     0.000     0.000     0.000     1.000     0.000     0.000     0.000     1.000";
  struct Case {
    std::set<std::string> failing;
    std::string rows;
  };
  const Case cases[] = {
      {{"KelMdlNameGet:P1"},
       " \n1 SUB ASSEMBLY " + sub_values + " \n2 ? PART " + kNoValues + "2 P2 PART " + p2_values +
           " \n1 P3 PART " + p3_values},
      {{"KelCsysDataGet:Cs0"},
       " \n1 SUB ASSEMBLY " + sub_values + " \n2 P1 PART " + kNoValues + "2 P2 PART " + kNoValues +
           "1 P3 PART " + p3_values},
      {{"KelModelitemNameGet:CS0", "KelCsysIdGet:cs0"},
       " \n1 SUB ASSEMBLY " + kNoValues + "2 P1 PART " + kNoValues + "2 P2 PART " + p2_values +
           " \n1 P3 PART "},
      // An unknown kind is shown as such, and the sub-assembly is still listed.
      {{"KelMdlTypeGet:SUB"},
       " \n1 SUB ? " + sub_values + " \n2 P1 PART " + kNoValues + "2 P2 PART " + p2_values +
           " \n1 P3 PART " + p3_values},
      {{"KelAsmcompMdlGet:SUB"}, " \n1 ? ? " + kNoValues + "1 P3 PART " + p3_values},
      {{"KelMdlCurrentGet"}, ""},
      // The filter's failure stops the host's visit at the first feature.
      {{"KelFeatureTypeGet"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(*c.failing.begin());
    Example ex;
    fake::Script s;
    s.reply = u"cs0";
    ex.pick_ref(s);
    s.failing = c.failing;
    EXPECT_EQ(1, run(ex.asm_, s));
    EXPECT_EQ(platform_text(kListing + kOriginalRef + kHead + c.rows), report());
    EXPECT_EQ("my_msg.txt:EndCsys", host().messages.back());
    EXPECT_EQ(0, host().open_data);
  }

  // No component can be placed: no values anywhere, and the reference (picked in the current
  // model itself, which needs no placement) is still named.
  Example ex;
  fake::Script s;
  s.reply = u"cs0";
  ex.pick_top(s);
  s.failing = {"KelAsmcomppathTrfGet"};
  EXPECT_EQ(1, run(ex.asm_, s));
  const std::string rows = " \n1 SUB ASSEMBLY " + kNoValues + "2 P1 PART " + kNoValues +
                           "2 P2 PART " + kNoValues + "1 P3 PART ";
  EXPECT_EQ(platform_text(kListing + " Csys Name(Original) = TOP  \n" + kHead + rows), report());
}

TEST_F(Command, AssemblyDeeperThanThePathStopsAtItsDepth) {
  constexpr int kLevels = 28;
  std::vector<std::unique_ptr<fake::Model>> chain;
  for (int i = 0; i <= kLevels; ++i) {
    chain.push_back(std::make_unique<fake::Model>());
    chain.back()->name = "A" + std::to_string(i);
    chain.back()->type = KEL_MDL_ASSEMBLY;
    chain.back()->add_csys("cs0", kZero);
  }
  const Vector3 step = {1, 0, 0};
  for (int i = 0; i < kLevels; ++i) chain[i]->add_component(*chain[i + 1], 500 + i, 0, step);
  fake::Script s;
  s.reply = u"cs0";
  s.pick_owner = chain[0].get();
  s.pick_csys_id = chain[0]->csys[0]->id;
  EXPECT_EQ(1, run(*chain[0], s));

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
  EXPECT_EQ(platform_text(kListing + " Csys Name(Original) = cs0  \n" + kHead + rows), report());
}

// The reference is module state: these runs need a process in which no reference was picked.
int first_runs() {
  int failures = 0;
  auto check = [&](const std::string& expected, const char* what) {
    const std::string got = report();
    if (got != platform_text(expected)) {
      std::fprintf(stderr, "%s: got\n[%s]\nexpected\n[%s]\n", what, got.c_str(), expected.c_str());
      ++failures;
    }
  };
  Example ex;
  fake::Script s;
  s.reply = u"cs0";
  s.select_status = KEL_TK_USER_ABORT;
  run(ex.asm_, s);
  check(kListing + kExampleInModel, "aborted first pick");

  s.select_status = 0;
  s.select_count = 0;
  run(ex.asm_, s);
  check(kListing + kExampleInModel, "nothing picked");

  s.select_count = 1;
  ex.pick_ref(s);
  run(ex.asm_, s);
  check(kListing + kOriginalRef + kExampleAgainstRef, "picked");

  // Later failed picks keep the last reference.
  s.select_status = KEL_TK_USER_ABORT;
  run(ex.asm_, s);
  check(kListing + kExampleAgainstRef, "aborted later pick");

  s.select_status = 0;
  ex.pick_top(s);
  s.failing = {"KelCsysDataGet:TOP"};
  run(ex.asm_, s);
  check(kListing + " Csys Name(Original) = TOP  \n" + kExampleAgainstRef,
        "reference data unreadable");
  if (host().open_data != 0) ++failures;
  return failures;
}

TEST(CommandFirstRun, UnpickedReferenceListsInModelCoordinates) {
  testsupport::run_child([] { std::exit(first_runs()); }, ::testing::ExitedWithCode(0),
                         {.start = testsupport::ChildStart::Fresh});
}

TEST(CommandEnd, TerminationPrintsEndLine) {
  ::testing::internal::CaptureStdout();
  const int printed = csys_app_terminate();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(12, printed);
  EXPECT_EQ(0u, out.find("sample END "));
}

}  // namespace

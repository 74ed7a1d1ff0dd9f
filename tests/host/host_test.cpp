// The simulated host's functions, called as a plug-in calls them: through the sorted host
// function table, with the context handle first.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "host/frame_math.h"
#include "host/host.h"
#include "host/text_files.h"
#include "mirax_model.h"

namespace mirax {
namespace {

using testsupport::FixedAnswers;

// TOP { csys REF; SUB (turned 90 degrees about z, at 10,0,0) { P (turned 90 about x, at 0,5,0) } }.
Assembly sample() {
  return parse_assembly(R"({ "top": "TOP", "models": {
    "TOP": { "type": "assembly", "csys": [ { "name": "REF", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0] } ],
             "components": [ { "model": "SUB", "origin": [10, 0, 0], "x": [0, 1, 0], "y": [-1, 0, 0] } ] },
    "SUB": { "type": "assembly", "components": [ { "model": "P", "origin": [0, 5, 0], "x": [1, 0, 0], "y": [0, 0, 1] } ] },
    "P": { "type": "part", "csys": [ { "name": "CS_A", "origin": [1, 2, 3], "x": [1, 0, 0], "y": [0, 1, 0] },
                                     { "name": "CS_B", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0] } ] } } })");
}

class HostFunctions : public ::testing::Test {
 protected:
  HostFunctions() : assembly(sample()), host(assembly, answers, 0, out, err) {}

  // The table entry named `name`, looked up as the module does (binary search by strcmp).
  void* find(const char* name) const {
    const auto& t = host.table();
    auto it = std::lower_bound(t.begin(), t.end(), name, [](const HostEntry& e, const char* n) {
      return std::strcmp(e.name, n) < 0;
    });
    return it != t.end() && std::strcmp(it->name, name) == 0 ? it->function : nullptr;
  }
  template <class... A>
  KelError call(const char* name, A... args) {
    auto fn = reinterpret_cast<KelError (*)(void*, A...)>(find(name));
    EXPECT_NE(fn, nullptr) << name;
    return fn ? fn(reinterpret_cast<void*>(static_cast<intptr_t>(host.handle())), args...) : -999;
  }

  Assembly assembly;
  FixedAnswers answers;
  std::ostringstream out, err;
  Host host;
};

TEST_F(HostFunctions, TableHoldsEveryNameSortedWithTheCallsTheCommandMakesImplemented) {
  const auto& t = host.table();
  EXPECT_EQ(t.size(), 1180u);  // the 1,179 host functions and the termination entry
  for (size_t i = 1; i < t.size(); ++i)
    EXPECT_LT(std::strcmp(t[i - 1].name, t[i].name), 0) << t[i].name;
  size_t implemented = 0;
  for (const auto& e : t) {
    const bool suffixed =
        std::strlen(e.name) > 2 && std::strcmp(e.name + std::strlen(e.name) - 2, "_v") == 0;
    EXPECT_TRUE(suffixed || std::strcmp(e.name, "kel_term_plus") == 0) << e.name;
    implemented += host_function_implemented(e);
  }
  EXPECT_EQ(implemented, 26u);
  EXPECT_TRUE(find("KelSolidFeatVisit_v"));
  EXPECT_TRUE(find("keldev_pass_version_info_v"));
  // Any other host function answers "not implemented", whatever it is given.
  EXPECT_EQ(call("KelAnimframeCreate_v", 1, 2.5), KEL_TK_NOT_IMPLEMENTED);
  EXPECT_EQ(call("kel_term_plus"), KEL_TK_NOT_IMPLEMENTED);
}

// Random calls through the table against counters kept here: a rule fails only its own call of
// its own function (or every call) with the chosen status and without doing anything; every
// call, failed or not, implemented or not, is counted under the name without "_v".
TEST_F(HostFunctions, FailRulesFailTheirCallOnlyAndEveryCallIsCounted) {
  host.set_faults({{{"KelMdlTypeGet", 3},
                    {"KelAnimframeCreate", 0},
                    {"kel_term_plus", 2},
                    {"KelMdlTypeGet", 5}},
                   KEL_TK_CANT_OPEN});
  KelMdl top = const_cast<Model*>(&assembly.top_model());
  CallCounts counts;
  for (unsigned i = 0, seed = 7; i < 60; ++i) {
    seed = seed * 1103515245u + 12345u;
    int type = -1;
    const int which = static_cast<int>((seed >> 16) % 3);
    const char* name = which == 0   ? "KelMdlTypeGet"
                       : which == 1 ? "KelAnimframeCreate"
                                    : "kel_term_plus";
    const int n = ++counts[name];
    if (which == 0) {
      const bool fails = n == 3 || n == 5;
      EXPECT_EQ(call("KelMdlTypeGet_v", top, &type), fails ? KEL_TK_CANT_OPEN : KEL_TK_NO_ERROR)
          << n;
      EXPECT_EQ(type, fails ? -1 : KEL_MDL_ASSEMBLY) << n;
    } else if (which == 1) {
      EXPECT_EQ(call("KelAnimframeCreate_v", 1), KEL_TK_CANT_OPEN);
    } else {
      EXPECT_EQ(call("kel_term_plus"), n == 2 ? KEL_TK_CANT_OPEN : KEL_TK_NOT_IMPLEMENTED) << n;
    }
  }
  EXPECT_EQ(host.calls(), counts);
  EXPECT_TRUE(is_host_function("KelMdlTypeGet") && is_host_function("kel_term_plus"));
  EXPECT_FALSE(is_host_function("KelMdlTypeGet_v") || is_host_function("KelNoSuchThing"));
}

// A rule with a subject fails every call about its model or csys, whichever argument names it
// (a model, a pick, a feature), and no other call.
TEST_F(HostFunctions, SubjectRulesFailTheCallsAboutTheirModelOrCsysOnly) {
  host.set_faults({{{"KelMdlTypeGet", 0, "SUB"},
                    {"KelSelectionModelitemGet", 0, "CS_B"},
                    {"KelAsmcompMdlGet", 0, "P"}},
                   KEL_TK_CANT_OPEN});
  const auto model = [&](const char* name) -> KelMdl {
    return const_cast<Model*>(&assembly.models[static_cast<size_t>(assembly.find(name))]);
  };
  int type = 0;
  EXPECT_EQ(call("KelMdlTypeGet_v", model("SUB"), &type), KEL_TK_CANT_OPEN);
  EXPECT_EQ(call("KelMdlTypeGet_v", model("TOP"), &type), KEL_TK_NO_ERROR);
  for (const std::string csys : {"CS_B", "CS_A"}) {
    answers.picked = resolve_reference(assembly, "SUB/P/" + csys);
    KelSelection* sel = nullptr;
    int count = 0;
    KelModelitem item{};
    ASSERT_EQ(call("KelSelect_v", "csys", 1, nullptr, nullptr, nullptr, nullptr, &sel, &count),
              KEL_TK_NO_ERROR);
    EXPECT_EQ(call("KelSelectionModelitemGet_v", sel[0], &item),
              csys == "CS_B" ? KEL_TK_CANT_OPEN : KEL_TK_NO_ERROR);
  }
  KelFeature to_p{kItemFeature, 1, model("SUB")}, to_sub{kItemFeature, 2, model("TOP")};
  KelMdl out = nullptr;
  EXPECT_EQ(call("KelAsmcompMdlGet_v", &to_p, &out), KEL_TK_CANT_OPEN);
  EXPECT_EQ(call("KelAsmcompMdlGet_v", &to_sub, &out), KEL_TK_NO_ERROR);
}

KelError count_action(KelFeature* f, KelError, void* data) {
  auto* seen = static_cast<std::vector<int>*>(data);
  seen->push_back(f->id);
  return f->id == 99 ? KEL_TK_GENERAL_ERROR : KEL_TK_NO_ERROR;
}
KelError skip_odd(KelFeature* f, void*) { return f->id % 2 ? KEL_TK_CONTINUE : KEL_TK_NO_ERROR; }
KelError stop_at_first(KelFeature*, void*) { return KEL_TK_E_NOT_FOUND; }
KelError stop_action(KelFeature*, KelError, void*) { return KEL_TK_USER_ABORT; }

TEST_F(HostFunctions, FeatureVisitSkipsOnContinueAndStopsOnOtherStatuses) {
  KelMdl p = nullptr;
  ASSERT_EQ(call("KelMdlCurrentGet_v", &p), KEL_TK_NO_ERROR);
  KelMdl part = const_cast<Model*>(&assembly.models[static_cast<size_t>(assembly.find("P"))]);
  std::vector<int> seen;
  EXPECT_EQ(call("KelSolidFeatVisit_v", part, count_action, KelFeatureFilterFn(nullptr), &seen),
            KEL_TK_NO_ERROR);
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  seen.clear();
  EXPECT_EQ(call("KelSolidFeatVisit_v", part, count_action, skip_odd, &seen), KEL_TK_NO_ERROR);
  EXPECT_EQ(seen, (std::vector<int>{2}));
  EXPECT_EQ(call("KelSolidFeatVisit_v", part, count_action, stop_at_first, &seen),
            KEL_TK_E_NOT_FOUND);
  EXPECT_EQ(call("KelSolidFeatVisit_v", p, stop_action, KelFeatureFilterFn(nullptr), &seen),
            KEL_TK_USER_ABORT);
  // Csys features are not components.
  KelFeature csys_feature{kItemFeature, 1, part};
  int type = 0;
  EXPECT_EQ(call("KelFeatureTypeGet_v", &csys_feature, &type), KEL_TK_NO_ERROR);
  EXPECT_EQ(type, kFeatureTypeCsys);
  KelMdl none = nullptr;
  EXPECT_NE(call("KelAsmcompMdlGet_v", &csys_feature, &none), KEL_TK_NO_ERROR);
}

TEST_F(HostFunctions, PathTransformComposesPlacementsAndInvertsBottomUp) {
  KelMdl top = nullptr;
  call("KelMdlCurrentGet_v", &top);
  KelAsmcomppath path{};
  const int32_t ids[2] = {2, 1};  // SUB is TOP's feature 2 (after REF), P is SUB's feature 1
  ASSERT_EQ(call("KelAsmcomppathInit_v", top, ids, 2, &path), KEL_TK_NO_ERROR);
  double t[16];
  ASSERT_EQ(call("KelAsmcomppathTrfGet_v", &path, 1, t), KEL_TK_NO_ERROR);
  // The point (1,2,3) of P, by hand: P's axes in SUB are x=(1,0,0), y=(0,0,1), z=(0,-1,0) at
  // (0,5,0), giving (1,2,2) in SUB;
  // SUB axes in TOP: x=(0,1,0), y=(-1,0,0): (1,2,2) -> (10-2, 1, 2) = (8,1,2).
  const double p[4] = {1, 2, 3, 1};
  double q[4] = {0, 0, 0, 0};
  for (int j = 0; j < 4; ++j)
    for (int k = 0; k < 4; ++k) q[j] += p[k] * t[4 * k + j];
  EXPECT_DOUBLE_EQ(q[0], 8);
  EXPECT_DOUBLE_EQ(q[1], 1);
  EXPECT_DOUBLE_EQ(q[2], 2);
  double inv[16];
  ASSERT_EQ(call("KelAsmcomppathTrfGet_v", &path, 0, inv), KEL_TK_NO_ERROR);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += t[4 * i + k] * inv[4 * k + j];
      EXPECT_NEAR(s, i == j ? 1 : 0, 1e-12);
    }
  path.ids[1] = 7;  // no such feature
  EXPECT_EQ(call("KelAsmcomppathTrfGet_v", &path, 1, t), KEL_TK_E_NOT_FOUND);
  EXPECT_EQ(call("KelAsmcomppathInit_v", top, ids, 26, &path), KEL_TK_BAD_INPUTS);
}

TEST_F(HostFunctions, SelectionGivesTheItemAndThePathOfThePick) {
  KelSelection* sel = nullptr;
  int count = 0;
  EXPECT_EQ(call("KelSelect_v", "csys", 1, nullptr, nullptr, nullptr, nullptr, &sel, &count),
            KEL_TK_USER_ABORT);
  answers.picked = resolve_reference(assembly, "SUB/P/CS_B");
  EXPECT_EQ(call("KelSelect_v", "edge", 1, nullptr, nullptr, nullptr, nullptr, &sel, &count),
            KEL_TK_BAD_INPUTS);
  ASSERT_EQ(call("KelSelect_v", "csys", 1, nullptr, nullptr, nullptr, nullptr, &sel, &count),
            KEL_TK_NO_ERROR);
  ASSERT_EQ(count, 1);
  int size = 0;
  EXPECT_EQ(call("KelArraySizeGet_v", static_cast<void*>(sel), &size), KEL_TK_NO_ERROR);
  EXPECT_EQ(size, 1);
  KelModelitem item{};
  ASSERT_EQ(call("KelSelectionModelitemGet_v", sel[0], &item), KEL_TK_NO_ERROR);
  EXPECT_EQ(item.type, KEL_ITEM_CSYS);
  EXPECT_EQ(item.id, 2);
  kel_wchar name[KEL_NAME_SIZE];
  ASSERT_EQ(call("KelModelitemNameGet_v", &item, name), KEL_TK_NO_ERROR);
  EXPECT_EQ(std::u16string(name), u"CS_B");
  KelAsmcomppath path{};
  ASSERT_EQ(call("KelSelectionAsmcomppathGet_v", sel[0], &path), KEL_TK_NO_ERROR);
  EXPECT_EQ(path.count, 2);
  EXPECT_EQ(path.ids[0], 2);
  EXPECT_EQ(path.ids[1], 1);
}

TEST_F(HostFunctions, CsysDataRecordsAreReleasedOnceAndReplyIsBounded) {
  KelMdl part = const_cast<Model*>(&assembly.models[static_cast<size_t>(assembly.find("P"))]);
  KelCsys csys = nullptr;
  ASSERT_EQ(call("KelCsysInit_v", part, 1, &csys), KEL_TK_NO_ERROR);
  EXPECT_EQ(call("KelCsysInit_v", part, 3, &csys), KEL_TK_E_NOT_FOUND);
  KelGeomitemdata* data = nullptr;
  ASSERT_EQ(call("KelCsysDataGet_v", csys, &data), KEL_TK_NO_ERROR);
  EXPECT_EQ(data->csys->origin[2], 3.0);
  EXPECT_EQ(host.geometry_records_held(), 1u);
  KelGeomitemdata* copy = data;
  EXPECT_EQ(call("KelGeomitemdataFree_v", &data), KEL_TK_NO_ERROR);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(call("KelGeomitemdataFree_v", &copy), KEL_TK_BAD_INPUTS);  // already released
  EXPECT_EQ(host.geometry_records_held(), 0u);

  kel_wchar buffer[8];
  EXPECT_EQ(call("KelMessageStringRead_v", 5, buffer), KEL_TK_USER_ABORT);
  answers.reply = u"abcdefgh";
  ASSERT_EQ(call("KelMessageStringRead_v", 5, buffer), KEL_TK_NO_ERROR);
  EXPECT_EQ(std::u16string(buffer), u"abcde");
  answers.reply = std::u16string(u"abcd") + char16_t(0xD83D) + char16_t(0xDE00);
  ASSERT_EQ(call("KelMessageStringRead_v", 5, buffer), KEL_TK_NO_ERROR);
  EXPECT_EQ(std::u16string(buffer), u"abcd");  // a surrogate pair is never split
}

TEST(TextFiles, MessagesAndMenusFollowTheirLayouts) {
  const auto catalog = parse_messages(
      "# comment\n\n@One\nfirst line\r\nsecond line\n\n\n@Two  \n# not text\nx\n@One\nlater\n");
  ASSERT_TRUE(catalog);
  EXPECT_EQ(catalog->at("One"), "first line\nsecond line");
  EXPECT_EQ(catalog->at("Two"), "x");
  EXPECT_FALSE(parse_messages("stray text\n@One\nx\n"));
  const auto menu = parse_menu("# buttons\nassembly\n  -CsysList \n\n-Other\n");
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->menu, "assembly");
  EXPECT_EQ(menu->buttons, (std::vector<std::string>{"-CsysList", "-Other"}));
  const auto aux = parse_aux_menu("assembly\n-CsysList\tList\tthe csys\n-Bare\n");
  ASSERT_TRUE(aux);
  EXPECT_EQ(aux->help.at("-CsysList"), "List\tthe csys");
  EXPECT_EQ(aux->help.at("-Bare"), "");
  EXPECT_FALSE(parse_menu("# only a comment\n"));
#ifndef _WIN32
  EXPECT_EQ(module_path_join("/a\\text\\usascii", "my_msg.txt"), "/a/text/usascii/my_msg.txt");
#endif
}

TEST(TextFiles, JapaneseMessagesReachTheTerminalAsUtf8) {
  // EUC: a kanji pair, a half-width katakana behind 0x8E, and ASCII.
  EXPECT_EQ(text_to_utf8("\xBB\xF5\x8E\xB6"
                         "A",
                         language_code_page(1)),
            "\xE6\xAD\xAF\xEF\xBD\xB6"
            "A");
}

}  // namespace
}  // namespace mirax

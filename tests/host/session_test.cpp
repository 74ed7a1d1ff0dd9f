// The session's verdict on a module: a module written here binds buttons that misbehave on
// purpose (a record kept, a report announced but not written), and each run must end with the
// status and the complaint the help text gives for it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "host/host.h"
#include "mirax_model.h"

namespace mirax {
namespace {

struct FakeModule {
  const KelHostFunctionEntry* table = nullptr;
  int32_t count = 0;
  void* handle = nullptr;
} fake;

template <class... A>
KelError host_call(const char* name, A... args) {
  for (int32_t i = 0; i < fake.count; ++i)
    if (std::strcmp(fake.table[i].name, name) == 0)
      return reinterpret_cast<KelError (*)(void*, A...)>(fake.table[i].function)(fake.handle,
                                                                                 args...);
  return KEL_TK_E_NOT_FOUND;
}

// Reads the data of the top model's first csys, and releases it when `release` is 1.
int read_csys(void*, int release) {
  KelMdl top = nullptr;
  KelCsys csys = nullptr;
  KelGeomitemdata* data = nullptr;
  host_call("KelMdlCurrentGet_v", &top);
  host_call("KelCsysInit_v", top, 1, &csys);
  host_call("KelCsysDataGet_v", csys, &data);
  if (release) host_call("KelGeomitemdataFree_v", &data);
  return 0;
}
// Claims to have written its report and writes none.
int announce(void*, int) { return 1; }

int32_t initialize(void*, void*, const char*, const char*, void*, kel_wchar*, const char*, void*,
                   const char* menu_dir, int32_t handle, void*, const KelHostFunctionEntry* table,
                   int32_t count, int32_t) {
  fake = {table, count, reinterpret_cast<void*>(static_cast<intptr_t>(handle))};
  int id = 0;
  host_call("KelMenuFileRegister_v", "bench", "bench.mnu", &id, menu_dir);
  host_call("KelMenuFileRegister_v", "assembly", "assembly.mnu", &id, menu_dir);
  host_call("KelMenubuttonActionSet_v", "bench", "keep", read_csys, nullptr, 0);
  host_call("KelMenubuttonActionSet_v", "bench", "release", read_csys, nullptr, 1);
  host_call("KelMenubuttonActionSet_v", "assembly", "-CsysList", announce, nullptr, 0);
  return 0;
}
int32_t terminate() { return 0; }

TEST(Session, EachVerdictHasItsStatusAndComplaint) {
  std::ofstream("bench.mnu") << "bench\nkeep\nrelease\n";
  std::ofstream("assembly.mnu") << "assembly\n-CsysList\n";
  const Assembly assembly = testsupport::AssemblyBuilder().model("TOP").csys("CS").build();
  const ButtonName keep{"bench", "keep"}, release{"bench", "release"};
  struct Case {
    std::vector<ButtonName> presses;
    std::vector<FailRule> fails;
    ExitStatus status;
    std::string complaint;  // a regular expression the error stream must match as a whole
  };
  const std::string injected_free =
      "mirax: injected: KelGeomitemdataFree call 1 -> "
      "KEL_TK_GENERAL_ERROR\n";
  const Case cases[] = {
      {{release, release}, {}, kExitOk, ""},
      {{keep},
       {},
       kExitMisbehaved,
       "mirax: the module did not release 1 csys data record\\(s\\)\n"},
      // A release failed on purpose is not the module's fault, and said so.
      {{release},
       {{"KelGeomitemdataFree", 1}},
       kExitOk,
       injected_free + "mirax: 1 csys data record\\(s\\) stay held because --fail made "
                       "KelGeomitemdataFree fail\n"},
      {{release, keep},
       {{"KelGeomitemdataFree", 1}},
       kExitMisbehaved,
       injected_free +
           "mirax: the module did not release 1 csys .*\nmirax: 1 csys .* stay held .*\n"},
      {{kDefaultButton},
       {},
       kExitMisbehaved,
       "mirax: the command announced its report, but .*csyspos.txt is not a file\n"},
      {{release, {"bench", "none"}, keep},
       {},
       kExitRefused,
       "mirax: the module bound no action to the button none of menu bench\n"},
      {{release},
       {{"KelSelect", 1}, {"KelMdlNameGet", 0, "TOP"}},
       kExitUnfiredRule,
       "mirax: --fail KelSelect:1 failed no call \\(KelSelect was called 0 time\\(s\\)\\)\n"
       "mirax: --fail KelMdlNameGet@TOP failed no call .*\n"},
      // The module's fault outranks a rule that never fired.
      {{keep},
       {{"KelSelect", 0}},
       kExitMisbehaved,
       "mirax: the module did not .*\nmirax: --fail .*\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.presses.front().text() + " ... " + c.complaint);
    SessionOptions options;
    options.module = (std::filesystem::current_path() / "bench.so").string();
    options.presses = c.presses;
    options.faults.rules = c.fails;
    testsupport::FixedAnswers answers;
    std::ostringstream out, err;
    const SessionResult result =
        run_module({initialize, terminate}, options, assembly, answers, out, err);
    EXPECT_EQ(result.status, c.status) << err.str();
    EXPECT_TRUE(std::regex_match(err.str(), std::regex(c.complaint))) << err.str();
  }
}

}  // namespace
}  // namespace mirax

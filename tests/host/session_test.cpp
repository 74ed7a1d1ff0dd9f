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
  host_call("KelMenuFileRegister_v", "assembly", "assembly.mnu", &id, menu_dir);
  host_call("KelMenubuttonActionSet_v", "assembly", "keep", read_csys, nullptr, 0);
  host_call("KelMenubuttonActionSet_v", "assembly", "release", read_csys, nullptr, 1);
  host_call("KelMenubuttonActionSet_v", "assembly", "-CsysList", announce, nullptr, 0);
  return 0;
}
int32_t terminate() { return 0; }

TEST(Session, EachVerdictHasItsStatusAndComplaint) {
  std::ofstream("assembly.mnu") << "assembly\n-CsysList\nkeep\nrelease\n";
  const Assembly assembly = testsupport::AssemblyBuilder().model("TOP").csys("CS").build();
  const ButtonName keep{"assembly", "keep"}, release{"assembly", "release"};
  const std::vector<FailRule> fail_free{{"KelGeomitemdataFree", 1}};
  const std::string unreleased = "mirax: the module did not release 1 csys data record\\(s\\)\n",
                    excused =
                        "mirax: injected: KelGeomitemdataFree call 1 -> KEL_TK_GENERAL_ERROR\n",
                    held =
                        "mirax: 1 csys data record\\(s\\) stay held because --fail made their "
                        "release fail\n";
  struct Case {
    std::vector<ButtonName> presses;
    std::vector<FailRule> fails;
    ExitStatus status;
    std::string complaint;  // a regular expression for the whole error stream
  } const cases[] = {
      {{release, release}, {}, kExitOk, ""},
      {{keep}, {}, kExitMisbehaved, unreleased},
      {{release}, fail_free, kExitOk, excused + held},  // not the module's fault
      {{release, keep}, fail_free, kExitMisbehaved, excused + unreleased + held},
      {{kDefaultButton},
       {},
       kExitMisbehaved,
       "mirax: the button assembly/-CsysList announced its report, but .*"
       "csyspos.txt is not a file\n"},
      // The module's fault outranks a rule that failed no call.
      {{keep}, {{"KelSelect", 0}}, kExitMisbehaved, unreleased + "mirax: --fail KelSelect .*\n"},
  };
  for (const Case& c : cases) {
    SessionOptions options;
    options.module = (std::filesystem::current_path() / "bench.so").string();
    options.presses = c.presses;
    options.faults.rules = c.fails;
    testsupport::FixedAnswers answers;
    std::ostringstream out, err;
    const auto result = run_module({initialize, terminate}, options, assembly, answers, out, err);
    EXPECT_EQ(result.status, c.status) << c.complaint;
    EXPECT_TRUE(std::regex_match(err.str(), std::regex(c.complaint))) << err.str();
  }
}

}  // namespace
}  // namespace mirax

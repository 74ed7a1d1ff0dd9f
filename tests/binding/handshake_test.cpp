#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "binding/host_binding.h"
#include "fresh_process.h"
#include "stub_callers.h"

using namespace recording_host;
using fresh_process::catch_reports;
using fresh_process::in_own_process;
using fresh_process::reports;

namespace {

constexpr int32_t kOwnVersion = 211999430;
const size_t kVersionRow = row_of("keldev_pass_version_info");

// Keeps the binding record's table fields and restores them on leaving.
class TableGuard {
 public:
  TableGuard() : saved_(kel_binding) {}
  ~TableGuard() {
    kel_binding.table = saved_.table;
    kel_binding.table_count = saved_.table_count;
    kel_binding.context_handle = saved_.context_handle;
    kel_binding.text_root = saved_.text_root;
    kel_binding.second_string = saved_.second_string;
  }

 private:
  KelBinding saved_;
};

std::u16string wide(const kel_wchar* text) { return text; }

size_t version_calls() {
  size_t n = 0;
  for (const Call& c : calls)
    if (c.row == kVersionRow) ++n;
  return n;
}

// Makes `root`/text/<each language> as folders below the working directory.
void make_tree(const std::string& root, std::initializer_list<const char*> languages) {
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root + "/text");
  for (const char* language : languages)
    std::filesystem::create_directories(root + "/text/" + language);
}

}  // namespace

TEST(BuildCode, NormalisesEveryAcceptedFormToYearWeekDay) {
  struct Case {
    const char* code;
    const char* normalised;
  } cases[] = {
      {"1999430", "1999430"},  {"9943", "1999430"},    {"0143", "2001430"},
      {"8501", "1985010"},     {"8452", "2084520"},    {"99430", "1999430"},
      {"01430", "2001430"},    {"85010", "1985010"},   {"199943", "1999430"},
      {"208452", "2084520"},   {"1985010", "1985010"}, {"2084529", "2084529"},
      {"1999530", "INVALID"},  {"1999009", "INVALID"}, {"2085010", "INVALID"},
      {"1984430", "INVALID"},  {"9953", "INVALID"},    {"9900", "INVALID"},
      {"99009", "INVALID"},    {"198453", "INVALID"},  {"208500", "INVALID"},
      {"12345678", "INVALID"}, {"123", "INVALID"},     {"0", "INVALID"},
      {"-199943", "INVALID"},  {"", "INVALID"},        {"abcd", "INVALID"},
      {"0000430", "INVALID"},
  };
  for (const Case& c : cases) {
    char code[16];
    std::strcpy(code, c.code);
    build_code_normalise(code);
    EXPECT_STREQ(code, c.normalised) << c.code;
  }
  EXPECT_EQ(own_version_get(), kOwnVersion);
}

TEST(ReleaseName, MapsTheTextOfRowsTwentyOneDownToOne) {
  EXPECT_STREQ(host_release_name("21"), "4400t");
  for (int row = 1; row <= 20; ++row) {
    std::string text = std::to_string(row);
    EXPECT_STREQ(host_release_name(text.c_str()), text.c_str());
  }
  // Compared as text, so "05" is not row 5; row 0 is never compared.
  for (const char* unchanged : {"05", "22", "0", "21 ", "Illegal Internal Version", ""}) {
    const char* name = host_release_name(unchanged);
    EXPECT_EQ(name, unchanged) << unchanged;
  }
  EXPECT_STREQ(release_external_name(0), "Illegal External Version");
  EXPECT_EQ(release_internal_text(22), nullptr);
}

TEST(HostFunctionFind, FindsEveryEntryAndNothingElse) {
  TableGuard guard;
  // Tables of every size up to 40 over names with gaps between them.
  for (int size = 1; size <= 40; ++size) {
    Table table(std::vector<size_t>{});
    std::vector<int> marks(size);
    for (int i = 0; i < size; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%03d", 2 * i + 1);
      table.add(name, &marks[i]);
    }
    install(table, 1);
    for (int i = 0; i < size; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%03d", 2 * i + 1);
      EXPECT_EQ(host_function_find(name), &marks[i]) << size << " " << name;
      std::snprintf(name, sizeof name, "f%03d", 2 * i);
      EXPECT_EQ(host_function_find(name), nullptr) << size << " " << name;
    }
    EXPECT_EQ(host_function_find("f999"), nullptr);
    EXPECT_EQ(host_function_find("e"), nullptr);
    EXPECT_EQ(host_function_find(""), nullptr);
  }

  // The full host table: every symbol finds its own function; bare stub names find nothing.
  Table full;
  install(full, 1);
  for (size_t row = 0; row < row_count; ++row) {
    std::string name = std::string(rows[row].name) + "_v";
    EXPECT_EQ(host_function_find(name.c_str()), recorders[row]) << name;
    EXPECT_EQ(host_function_find(rows[row].name), nullptr) << rows[row].name;
  }
  EXPECT_EQ(host_function_find("kel_term_plus"), nullptr);
}

TEST(HostFunctionFind, EmptyTableIsNeverRead) {
  TableGuard guard;
  // An entry whose name would crash the look-up if it were compared.
  KelHostFunctionEntry poisoned[1] = {{reinterpret_cast<void*>(&kel_binding), nullptr}};
  kel_binding.table = poisoned;
  for (int32_t count : {0, -1, -1000}) {
    kel_binding.table_count = count;
    EXPECT_EQ(host_function_find("KelMdlCurrentGet_v"), nullptr) << count;
  }
  kel_binding.table = nullptr;
  kel_binding.table_count = 5;
  EXPECT_EQ(host_function_find("KelMdlCurrentGet_v"), nullptr);
}

TEST(HandShake, OlderHostsAreRefusedBeforeAnythingIsSetUp) {
  in_own_process([] {
    Table table;
    struct Case {
      const char* release;
      const char* build;
      int32_t host_version;
    } older[] = {
        {"21", "1999429", 211999429},
        {"20", "11999429", 211999429},
        {"17.0", "2002100", 172002100},
        {"G-03", "2002100", 172002100},
        {"21 17.2", "2002100", 172002100},
        {"05", "2002100", 52002100},
        {"", "", 0},
        {"x21", "2002100", 2002100},
        {"21 G-03", "99999999", 269999999},  // last: accepted, so the table is stored from here on
    };
    for (const Case& c : older) {
      std::string what = std::string("release ") + c.release + " build " + c.build;
      kel_wchar message[32] = {};
      HandShake hs;
      hs.release = c.release;
      hs.build = c.build;
      hs.message = message;
      hs.with(table);
      if (c.host_version >= kOwnVersion) {  // "G-03" wins over the number; a big build still passes
        EXPECT_EQ(hs.run(), 0) << what << ": accepted";
        continue;
      }
      EXPECT_EQ(hs.run(), KEL_VERSION_MISMATCH) << what << ": result";
      EXPECT_EQ(wide(message), u"4400t|1999430") << what << ": message";
      EXPECT_EQ(host_version_get(), c.host_version) << what << ": host version";
      EXPECT_EQ(kel_binding.table, nullptr) << what << ": table stored";
      EXPECT_EQ(kel_binding.table_count, 0) << what << ": table stored";
      EXPECT_TRUE(calls.empty()) << what << ": the host was called";
      EXPECT_STREQ(text_directory_get(), "") << what << ": directories set";
      EXPECT_STREQ(menus_directory_get(), "") << what << ": directories set";
      EXPECT_EQ(kel_binding.context_handle, HandShake::kHandle) << what << ": handle kept";
    }
    // Without a message buffer the refusal still comes back.
    HandShake no_buffer;
    no_buffer.build = "1";
    EXPECT_EQ(no_buffer.run(), KEL_VERSION_MISMATCH) << "no message buffer";
  });
}

TEST(HandShake, AcceptedHostGetsTheOwnVersionAndTheBindingIsKept) {
  in_own_process([] {
    Table table;
    make_tree("hs_accept", {"usascii"});
    for (auto [release, build, host_version] :
         {std::tuple{"22", "0", 220000000}, std::tuple{"21", "2002100", 212002100},
          std::tuple{"21", "1999430", 211999430}}) {
      std::string what = std::string("release ") + release + " build " + build;
      calls.clear();
      HandShake hs;
      hs.release = release;
      hs.build = build;
      hs.text_root = "hs_accept";
      hs.with(table);
      EXPECT_EQ(hs.run(), 0) << what << ": result";
      EXPECT_EQ(host_version_get(), host_version) << what << ": host version";
      ASSERT_EQ(version_calls(), 1u) << what;
      EXPECT_EQ(calls[0].row, kVersionRow) << what;
      EXPECT_EQ(calls[0].handle, HandShake::kHandle) << what;
      EXPECT_EQ(calls[0].words, std::vector<uint32_t>{uint32_t(kOwnVersion)}) << what;
      EXPECT_EQ(kel_binding.table, table.entries().data()) << what;
      EXPECT_EQ(kel_binding.table_count, int32_t(row_count)) << what;
      char release_copy[16], build_copy[16];
      EXPECT_EQ(host_version_strings_get(release_copy, build_copy), 1) << what << ": strings";
      EXPECT_STREQ(release_copy, release) << what;
      EXPECT_STREQ(build_copy, build) << what;
      EXPECT_EQ(kel_binding.release, release) << what << ": kept";
      EXPECT_EQ(kel_binding.build, build) << what << ": kept";
    }
    EXPECT_STREQ(kel_binding.second_string, "second host string");
    EXPECT_EQ(kel_binding.reserved8, reinterpret_cast<void*>(0x88));
    EXPECT_EQ(kel_binding.reserved11, reinterpret_cast<void*>(0xBB));
  });
}

TEST(HandShake, HostRefusingTheVersionEndsWithGeneralErrorAfterTheSetUp) {
  in_own_process([] {
    Table table;
    results[kVersionRow] = 0;
    HandShake hs;
    hs.text_root = "hs_refuse";
    hs.with(table);
    EXPECT_EQ(hs.run(), KEL_TK_GENERAL_ERROR) << "refused";
    EXPECT_EQ(version_calls(), 1u) << "asked once";
    EXPECT_EQ(kel_binding.table, table.entries().data()) << "table stored";
    EXPECT_STREQ(text_directory_get(), "hs_refuse\\text") << "directories set";
  });
}

TEST(HandShake, MissingVersionFunctionIsReportedAndCountsAsAccepted) {
  in_own_process([] {
    catch_reports();
    std::vector<size_t> others;
    for (size_t row = 0; row < row_count; ++row)
      if (row != kVersionRow) others.push_back(row);
    Table table(others);
    HandShake hs;
    hs.with(table);
    EXPECT_EQ(hs.run(), 0) << "hand-shake goes on";
    ASSERT_FALSE(reports.empty()) << "missing version function not reported";
    EXPECT_EQ(reports[0].where, "keldev_pass_version_info_v");
    EXPECT_EQ(reports[0].message, "couldn't find pointer to Mirax-side function");
  });
}

TEST(HandShake, DirectoriesFollowTheLanguageThenUsasciiThenTheTextRoot) {
  in_own_process([] {
    Table table;
    // Beside each language's folder, one named by a second name of that language, never chosen.
    make_tree("hs_both", {"usascii", "japanese", "russian", "ru", "chinese_tw", "cht"});
    make_tree("hs_us", {"usascii"});
    make_tree("hs_none", {});
    make_tree("hs_file", {});
    std::ofstream("hs_file/text/usascii") << "not a folder";
    struct Case {
      const char* root;
      int32_t language;
      const char* text;
      const char* menus;
    } cases[] = {
        {"hs_both", 1, "hs_both\\text\\japanese", "hs_both\\text\\japanese\\menus"},
        {"hs_both", 0, "hs_both\\text\\usascii", "hs_both\\text\\usascii\\menus"},
        {"hs_both", 4, "hs_both\\text\\russian", "hs_both\\text\\russian\\menus"},
        {"hs_both", 9, "hs_both\\text\\chinese_tw", "hs_both\\text\\chinese_tw\\menus"},
        {"hs_us", 1, "hs_us\\text\\usascii", "hs_us\\text\\usascii\\menus"},
        {"hs_us", 2, "hs_us\\text\\usascii", "hs_us\\text\\usascii\\menus"},
        {"hs_us", 99, "hs_us\\text\\usascii", "hs_us\\text\\usascii\\menus"},
        {"hs_us", -1, "hs_us\\text\\usascii", "hs_us\\text\\usascii\\menus"},
        {"hs_none", 0, "hs_none\\text", "hs_none\\text\\menus"},
        {"hs_none", 1, "hs_none\\text", "hs_none\\text\\menus"},
        {"hs_file", 0, "hs_file\\text", "hs_file\\text\\menus"},
        {"hs_missing", 0, "hs_missing\\text", "hs_missing\\text\\menus"},
    };
    for (const Case& c : cases) {
      std::string what = std::string(c.root) + " language " + std::to_string(c.language);
      HandShake hs;
      hs.text_root = c.root;
      hs.language = c.language;
      hs.with(table);
      EXPECT_EQ(hs.run(), 0) << what << ": result";
      EXPECT_STREQ(text_directory_get(), c.text) << what;
      EXPECT_STREQ(menus_directory_get(), c.menus) << what;
    }
    // A root ending in a backslash still finds its folders.
    HandShake trailing;
    trailing.text_root = "hs_us\\";
    trailing.with(table);
    trailing.run();
    EXPECT_STREQ(text_directory_get(), "hs_us\\\\text\\usascii") << "trailing";
  });
}

TEST(HandShake, OverlongAndMissingHostTextsStayInsideTheirBuffers) {
  in_own_process([] {
    Table table;
    std::string long_release = "22" + std::string(998, 'x');
    std::string long_build = "2002100" + std::string(993, 'x');
    std::string long_root(1000, 'r');
    HandShake hs;
    hs.release = long_release.c_str();
    hs.build = long_build.c_str();
    hs.text_root = long_root.c_str();
    hs.with(table);
    EXPECT_EQ(hs.run(), 0) << "accepted";
    char release_copy[16], build_copy[16];
    host_version_strings_get(release_copy, build_copy);
    EXPECT_EQ(std::string(release_copy), long_release.substr(0, 15)) << "release cut to 15";
    EXPECT_EQ(std::string(build_copy), long_build.substr(0, 15)) << "build cut to 15";
    EXPECT_EQ(std::string(text_directory_get()), std::string(255, 'r')) << "text directory cut";
    EXPECT_EQ(std::string(menus_directory_get()), std::string(255, 'r')) << "menus directory cut";

    // A root just short of the limit keeps as much of the formatted directory as fits.
    std::string root_250(250, 's');
    hs.text_root = root_250.c_str();
    hs.run();
    EXPECT_EQ(std::string(text_directory_get()), root_250 + "\\text") << "text fits";
    EXPECT_EQ(std::string(menus_directory_get()), (root_250 + "\\text\\menus").substr(0, 255))
        << "menus cut";

    // Missing texts and table.
    HandShake empty;
    empty.release = nullptr;
    empty.build = nullptr;
    empty.text_root = nullptr;
    EXPECT_EQ(empty.run(), KEL_VERSION_MISMATCH) << "no release is older";
    empty.release = "22";
    empty.table = nullptr;
    empty.count = 1179;
    EXPECT_EQ(empty.run(), 0) << "no table";
    EXPECT_EQ(kel_binding.table_count, 0) << "no table means no entries";
    EXPECT_STREQ(text_directory_get(), "\\text") << "no root";
  });
}

TEST(PluginCalls, HandShakeTextsComeBackWideAndUnsupportedCallsSaySo) {
  TableGuard guard;
  kel_binding.text_root = "C:\\root dir";
  kel_binding.second_string = "second";
  kel_wchar buffer[32];
  EXPECT_EQ(KelApplTextRootGet(buffer), KEL_TK_NO_ERROR);
  EXPECT_EQ(wide(buffer), u"C:\\root dir");
  EXPECT_EQ(KelApplPathGet(buffer), KEL_TK_NO_ERROR);
  EXPECT_EQ(wide(buffer), u"second");
  EXPECT_EQ(KelApplTextRootGet(nullptr), KEL_TK_NO_ERROR);
  EXPECT_EQ(KelApplPathGet(nullptr), KEL_TK_NO_ERROR);

  for (auto [call, name] : {std::pair{&KelToolkitMain, "KelToolkitMain"},
                            std::pair{&KelEventProcess, "KelEventProcess"},
                            std::pair{&KelMiraxStart, "KelMiraxStart"}}) {
    std::string expected = std::string("function ") + name + " is not supported\n";
    testing::internal::CaptureStdout();
    KelError result = call();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    EXPECT_EQ(result, call == &KelMiraxStart ? KEL_TK_BAD_CONTEXT : KelError(expected.size()))
        << name;
  }
}

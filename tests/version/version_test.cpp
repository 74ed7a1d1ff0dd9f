// Version numbers and name helpers, and versioned files in real directories.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "../file/file_test_util.h"
#include "oom_sweep.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/version/version.h"
#include "runtime/xar/xar.h"

using filetest::exists;
using filetest::write_bytes;
using testsupport::read_file;

namespace {

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::string narrow(const kel_wchar* s) {
  std::string out;
  for (; *s; ++s) out += (char)*s;
  return out;
}

// A folder of the test's temporary folder holding the named files (each holding its name).
void make_dir(const std::string& dir, const std::vector<std::string>& files) {
  std::filesystem::create_directories(dir);
  for (const auto& f : files) write_bytes(dir + "/" + f, f);
}

std::string read_stream(FILE* stream) {
  std::string out;
  if (!stream) return "<null>";
  for (int c; (c = fgetc(stream)) != EOF;) out += (char)c;
  fclose(stream);
  return out;
}

std::vector<int> all_versions(const std::string& path) {
  int16_t* versions = nullptr;
  const int count = kel_get_all_versions(wide(path).c_str(), &versions);
  std::vector<int> out(versions, versions + (count > 0 ? count : 0));
  rlsmem(versions);
  return out;
}

int highest(const std::string& path) { return kel_get_highest_version(wide(path).c_str()); }

bool case_sensitive_file_system() {
  write_bytes("case_probe", "");
  const bool sensitive = !exists("CASE_PROBE");
  std::filesystem::remove("case_probe");
  return sensitive;
}

}  // namespace

TEST(VersionNames, NumbersAndCuts) {
  const struct {
    const char* text;
    int is;
  } numbers[] = {
      {"1", 1},  {"12", 1},    {"-3", 1},     {"32767", 1}, {"-32768", 1},
      {"0", 0},  {"007", 0},   {"12a", 0},    {"", 0},      {"-", 0},
      {"+3", 0}, {"32768", 0}, {"-32769", 0}, {"99999", 0}, {"123456789012345678901", 0}};
  for (const auto& n : numbers) {
    EXPECT_EQ(is_version_number(n.text), n.is) << n.text;
    EXPECT_EQ(is_version_number_wide(wide(n.text).c_str()), n.is) << n.text;
  }
  EXPECT_EQ(version_number_value("-32768"), -32768);
  EXPECT_EQ(version_number_value("417"), 417);

  char out[VERSION_PATH_MAX];
  kel_wchar wout[VERSION_PATH_MAX];
  const struct {
    const char* name;
    const char* no_version;
    const char* no_extension;
  } cuts[] = {{"x.abc.3", "x.abc", "x"},
              {"a.b\\x.abc.3", "a.b\\x.abc", "a.b\\x"},
              {"x", "x", "x"},
              {".profile", ".profile", ".profile"},
              {".x.abc.3", ".x.abc", ".x"},
              {"d/x.y.z.w", "d/x.y", "d/x"}};
  for (const auto& c : cuts) {
    strip_version(c.name, out);
    EXPECT_STREQ(out, c.no_version);
    strip_extension(c.name, out);
    EXPECT_STREQ(out, c.no_extension);
    strip_version_wide(wide(c.name).c_str(), wout);
    EXPECT_EQ(narrow(wout), c.no_version);
    strip_extension_wide(wide(c.name).c_str(), wout);
    EXPECT_EQ(narrow(wout), c.no_extension);
  }
  const struct {
    const char* name;
    int version;
    const char* rest;
  } splits[] = {
      {"x.abc.12", 12, "x.abc"}, {"dir\\", 0, "dir"},     {"x.abc", 0, "x.abc"}, {"x.7", 7, "x"},
      {"x.99999", 0, "x.99999"}, {"d.5\\x", 0, "d.5\\x"}, {".5", 0, ".5"},       {"x.", 0, "x."}};
  for (const auto& s : splits) {
    EXPECT_EQ(split_version(s.name, out), s.version) << s.name;
    EXPECT_STREQ(out, s.rest);
  }
  lower_file_part(u"D:\\Work\\Part.ABC", wout);
  EXPECT_EQ(narrow(wout), "D:\\Work\\part.abc");
}

TEST(VersionNames, OutputsNeverPassTheirBuffer) {
  // 255 characters fit the 256-unit outputs; 256 leave them empty. Guards after each buffer
  // must stay untouched (and AddressSanitizer watches the rest).
  for (int length : {254, 255, 256, 400}) {
    const std::string name = "D\\" + std::string((size_t)length - 7, 'N') + ".A.99";
    struct {
      char text[VERSION_PATH_MAX];
      char guard[8];
    } out8;
    struct {
      kel_wchar text[VERSION_PATH_MAX];
      kel_wchar guard[8];
    } out16;
    memset(out8.guard, 'G', sizeof out8.guard);
    for (auto& g : out16.guard) g = 'G';
    const bool fits = length < VERSION_PATH_MAX;
    strip_version(name.c_str(), out8.text);
    EXPECT_EQ(strlen(out8.text), fits ? name.size() - 3 : 0u);
    EXPECT_EQ(split_version(name.c_str(), out8.text), fits ? 99 : 0);
    strip_extension_wide(wide(name).c_str(), out16.text);
    lower_file_part(wide(name).c_str(), out16.text);
    EXPECT_EQ(narrow(out16.text).size(), fits ? name.size() : 0u);
    EXPECT_EQ(std::string(out8.guard, 8), "GGGGGGGG");
    for (auto g : out16.guard) EXPECT_EQ(g, 'G');
    kel_wchar found[VERSION_PATH_MAX];
    EXPECT_EQ(find_case_variant(wide(name).c_str(), found), 0);
    EXPECT_EQ(kel_spg_fopen(wide(name).c_str(), 0, "w"), nullptr);  // carries a version
    EXPECT_EQ(versioned_fopen(wide(name).c_str(), "w"), nullptr);   // no folder D
  }
  // Appending a version to a name of 254 characters would pass 255: nothing is opened.
  make_dir("L", {});
  const std::string name = "L\\" + std::string(248, 'n') + ".abc";
  EXPECT_EQ(kel_spg_fopen(wide(name).c_str(), 0, "w"), nullptr);
  EXPECT_EQ(versioned_access(wide(name).c_str(), 5, 0), -1);
}

TEST(VersionedFiles, OnlyTheUnversionedFile) {
  make_dir("d", {"x.abc"});
  EXPECT_EQ(highest("d\\x.abc"), 1);
  EXPECT_EQ(all_versions("d\\x.abc"), std::vector<int>{1});
  // Reading tries x.abc.1, then falls back to x.abc; writing takes the next version.
  EXPECT_EQ(read_stream(kel_spg_fopen(u"d\\x.abc", 0, "r")), "x.abc");
  FILE* out = kel_spg_fopen(u"d\\x.abc", 0, "w");
  ASSERT_NE(out, nullptr);
  fputs("two", out);
  fclose(out);
  EXPECT_EQ(read_file("d/x.abc.2"), "two");
  EXPECT_EQ(highest("d\\x.abc"), 2);
  kel_wchar found[VERSION_PATH_MAX];
  int version = 0;
  EXPECT_EQ(read_stream(kel_spg_try_rol_fopen(u"d\\X.ABC", found, &version)), "two");
  EXPECT_EQ(narrow(found), "d\\x.abc.2");
  EXPECT_EQ(version, 2);
  // A path that already carries a version is refused when a version is asked for.
  EXPECT_EQ(kel_spg_fopen(u"d\\x.abc.2", 0, "w"), nullptr);
  EXPECT_EQ(kel_spg_try_rol_fopen(u"d\\x.abc.2", found, &version), nullptr);
  EXPECT_EQ(read_stream(kel_spg_fopen(u"d\\x.abc.2", -1, "r")), "two");
  // Only the file part is lowered: the folder Up keeps its letters.
  make_dir("Up", {});
  fclose(kel_spg_fopen(u"Up\\Part.ABC", 0, "w"));
  EXPECT_TRUE(exists("Up/part.abc.1"));
  EXPECT_EQ(versioned_access(u"d\\x.abc", 0, 4), 0);
  EXPECT_EQ(versioned_access(u"d\\x.abc", 7, 0), -1);
}

TEST(VersionedFiles, NoFileAtAll) {
  make_dir("e", {});
  EXPECT_EQ(highest("e\\x.abc"), 0);
  EXPECT_TRUE(all_versions("e\\x.abc").empty());
  EXPECT_EQ(kel_spg_fopen(u"e\\x.abc", 0, "r"), nullptr);
  fclose(kel_spg_fopen(u"e\\x.abc", 0, "w"));
  EXPECT_TRUE(exists("e/x.abc.1"));
  // A folder that cannot be listed has no versions.
  EXPECT_EQ(highest("nowhere\\x.abc"), 0);
  kel_file_object file;
  int value = -5;
  ASSERT_TRUE(fobj_from_path("nowhere\\x.abc", &file));
  EXPECT_EQ(version_query(&file, VERSION_QUERY_HIGHEST, &value), VERSION_UNLISTABLE);
  int32_t* list = nullptr;
  EXPECT_EQ(pfa_get_versions(&file, &list), -1);
  EXPECT_EQ(version_query(&file, 5, &value), VERSION_BAD_QUERY);
  EXPECT_EQ(version_query(&file, VERSION_QUERY_HIGHEST, nullptr), VERSION_BAD_QUERY);
  fobj_from_path("dir\\", &file);
  EXPECT_EQ(version_query(&file, VERSION_QUERY_OWN, &value), VERSION_INVALID_FILE);
  EXPECT_EQ(pfa_get_versions(&file, &list), -1);
}

TEST(VersionedFiles, ExactAndCaseBlindVersions) {
  make_dir("f", {"x.abc.3", "X.ABC.7", "x.abc.03", "x.abc.0", "x.abc.x1", "x.abc.99999", "x.abcd.9",
                 "Y.TXT.5"});
  kel_file_object file;
  ASSERT_TRUE(fobj_from_path("f\\x.abc", &file));
  EXPECT_TRUE(file.typed);
  int32_t* list = nullptr;
  ASSERT_EQ(pfa_get_versions(&file, &list), 1);
  EXPECT_EQ(list[0], 3);
  XAR_FREE(&list);
  EXPECT_EQ(highest("f\\x.abc"), 7);
  int value = 0;
  EXPECT_EQ(version_query(&file, VERSION_QUERY_NEXT, &value), VERSION_OK);
  EXPECT_EQ(value, 8);
  // A generic file found only in another letter case takes the case-blind list.
  EXPECT_EQ(all_versions("f\\y.txt"), std::vector<int>{5});
  EXPECT_TRUE(all_versions("f\\x.ab").empty());
  // The own version of a name, and its absence when the third part is no number.
  ASSERT_TRUE(fobj_from_path("f\\x.abc.12", &file));
  EXPECT_EQ(version_query(&file, VERSION_QUERY_OWN, &value), VERSION_OK);
  EXPECT_EQ(value, 12);
  ASSERT_TRUE(fobj_from_path("f\\x.abc.x1", &file));
  EXPECT_EQ(file.version, 0);
  EXPECT_STREQ(file.name, "x.abc.x1");

  make_dir("g", {"x.abc.-3", "x.abc.0", "n.txt"});
  EXPECT_EQ(all_versions("g\\x.abc"), std::vector<int>{-3});
  // Largest values start at -1 in the scan: a negative version is listed but never the highest.
  EXPECT_EQ(highest("g\\x.abc"), 0);
  // A generic file present only without version has no next version; a typed one gets 2.
  ASSERT_TRUE(fobj_from_path("g\\n.txt", &file));
  EXPECT_EQ(version_query(&file, VERSION_QUERY_NEXT, &value), VERSION_NO_NEXT);
  make_dir("h", {"n.abc"});
  ASSERT_TRUE(fobj_from_path("h\\n.abc", &file));
  EXPECT_EQ(version_query(&file, VERSION_QUERY_NEXT, &value), VERSION_OK);
  EXPECT_EQ(value, 2);
  // A name without extension: name.N still counts as a version in the listing.
  make_dir("i", {"readme", "readme.4"});
  EXPECT_EQ(highest("i\\readme"), 4);
}

TEST(VersionedFiles, CaseVariants) {
  make_dir("c", {"X.abc"});
  kel_wchar found[VERSION_PATH_MAX];
  ASSERT_EQ(find_case_variant(u"c\\x.ABC", found), 1);
  // A file system that tells letter cases apart finds X.abc at the fifth try only; one that
  // does not finds the name as given at the first.
  const bool sensitive = case_sensitive_file_system();
  EXPECT_EQ(narrow(found), sensitive ? "c\\X.abc" : "c\\x.ABC");
  EXPECT_EQ(read_stream(versioned_fopen(u"c\\x.ABC", "r")), "X.abc");
  if (sensitive) {
    // The order decides between variants: both lowered comes before base raised.
    write_bytes("c/x.abc", "lower");
    ASSERT_EQ(find_case_variant(u"c\\x.ABC", found), 1);
    EXPECT_EQ(narrow(found), "c\\x.abc");
  }
  // Version 1 falls back to the name without version.
  ASSERT_EQ(find_case_variant(u"c\\X.ABC.1", found), 1);
  EXPECT_EQ(find_case_variant(u"c\\X.ABC.2", found), 0);
  EXPECT_EQ(find_case_variant(u"c\\missing", found), 0);

  // Writers compose the lowered name; readers find what exists.
  FILE* out = versioned_fopen(u"c\\New.TXT.4", "w");
  ASSERT_NE(out, nullptr);
  fputs("four", out);
  fclose(out);
  EXPECT_TRUE(exists("c/new.txt.4"));
  EXPECT_EQ(read_stream(versioned_fopen(u"c\\NEW.txt.4", "r")), "four");
}

TEST(VersionedFiles, FallBacksServeReadersOnly) {
  // Folders sit where w/x.abc.1 and V/y.abc.2 would be created. Writers get the name asked for or
  // nothing; readers take the entry listed in another letter case, never a folder v for V.
  make_dir("w", {"x.abc", "a.prt", "a.prt.2", "A.PRT.5", "B.TXT", "my.data.prt.3", "n.o.p"});
  make_dir("v", {"x.abc.3"});
  std::filesystem::create_directories("w/x.abc.1");
  std::filesystem::create_directories("V/y.abc.2");
  const bool sensitive = case_sensitive_file_system();
  // Path, version, mode, and what the stream reads ("<null>": no stream).
  const std::tuple<const kel_wchar*, int, const char*, const char*> opens[] = {
      {u"w\\x.abc", 1, "w", "<null>"},
      {u"w\\x.abc", 1, "a", "<null>"},
      {u"w\\x.abc.1", -1, "w", "<null>"},
      {u"V\\y.abc", 2, "w", "<null>"},
      {u"V\\x.abc", 3, "r", sensitive ? "<null>" : "x.abc.3"},
      {u"w\\a.prt", 0, "r", "A.PRT.5"},  // the highest version, listed in capitals only
      {u"w\\b.txt", 1, "r", "B.TXT"},    // version 1 is the name alone
      {u"w\\my.data.prt", 0, "r", "my.data.prt.3"},
      {u"w\\n.o.p", 1, "r", "n.o.p"}};
  for (const auto& [path, version, mode, read] : opens)
    EXPECT_EQ(read_stream(kel_spg_fopen(path, version, mode)), read) << narrow(path);
  EXPECT_EQ(read_file("w/x.abc"), "x.abc");
  EXPECT_FALSE(std::filesystem::is_regular_file("v/y.abc.2"));
  kel_wchar found[VERSION_PATH_MAX] = {};
  int version = 0;
  EXPECT_EQ(read_stream(kel_spg_try_rol_fopen(u"w\\A.prt", found, &version)), "A.PRT.5");
  EXPECT_EQ(narrow(found), sensitive ? "w\\A.PRT.5" : "w\\a.prt.5");
  EXPECT_EQ(version, 5);
}

TEST(VersionedFiles, OpenTakesTheLibraryFlags) {
  // The flags, whether made.bin holds "old" before, and what it holds after "+" was written
  // through the descriptor.
  const std::tuple<int, bool, const char*> rows[] = {{O_WRONLY | O_CREAT, false, "+"},
                                                     {O_WRONLY | O_CREAT | O_EXCL, true, "old"},
                                                     {O_WRONLY | O_APPEND, true, "old+"},
                                                     {O_RDWR | O_TRUNC, true, "+"},
                                                     {O_RDONLY, true, "old"},
                                                     {O_WRONLY, false, "<none>"}};
  for (const auto& [flags, existing, after] : rows) {
    write_bytes("made.bin", "old");
    if (!existing) std::filesystem::remove("made.bin");
    const int fd = versioned_open(u"Made.BIN", flags, 0644);
    if (fd >= 0) {
      EXPECT_EQ(write(fd, "+", 1) == 1, flags != O_RDONLY);
      platform_fd_close(fd);
    }
    EXPECT_EQ(exists("made.bin") ? read_file("made.bin") : "<none>", after) << flags;
  }
}

TEST(VersionedFiles, FilesBeyondTwoGigabytes) {
  // A sparse file of 3 GiB, skipped where the file system cannot hold one, removed after: read,
  // then appended to through each versioned opener.
  make_dir("big", {"b.abc.1"});
  const std::uintmax_t size = 3ull << 30;
  std::error_code error;
  std::filesystem::resize_file("big/b.abc.1", size, error);
  if (error) GTEST_SKIP() << "no sparse file of 3 GiB here";
  FILE* in = kel_spg_fopen(u"big\\b.abc", 0, "r");
  char head[8] = {};
  EXPECT_TRUE(in && fread(head, 1, 7, in) == 7 && fclose(in) == 0);
  EXPECT_STREQ(head, "b.abc.1");
  for (FILE* out : {kel_spg_fopen(u"big\\B.abc", 0, "ab"), versioned_fopen(u"big\\b.ABC.1", "ab")})
    EXPECT_TRUE(out && fputc('+', out) == '+' && fclose(out) == 0);
  const int fd = versioned_open(u"big\\B.ABC.1", O_WRONLY | O_APPEND, 0);
  EXPECT_TRUE(fd >= 0 && write(fd, "+", 1) == 1 && platform_fd_close(fd));
  EXPECT_EQ(std::filesystem::file_size("big/b.abc.1"), size + 3);
  std::filesystem::remove("big/b.abc.1");
}

TEST(VersionedFiles, ThousandsOfVersions) {
  std::vector<std::string> names;
  for (int v = 1; v <= 2500; ++v) names.push_back("t.abc." + std::to_string(v * 13 % 2503));
  make_dir("many", names);
  EXPECT_EQ(highest("many\\t.abc"), 2502);
  const std::vector<int> versions = all_versions("many\\t.abc");
  ASSERT_EQ(versions.size(), 2500u);
  EXPECT_TRUE(std::is_sorted(versions.begin(), versions.end()));
}

TEST(VersionedFiles, ListingRecoversWhenMemoryRunsOut) {
  jmp_buf resume;  // the trap context keeps its frame list from the first push on
  if (setjmp(resume) == 0) trap_push(resume, TRAP_CLASS_SERIOUS_ERROR);
  trap_pop();
  std::vector<std::string> names;
  for (int v = 1; v <= 300; ++v) names.push_back("m.abc." + std::to_string(v));
  make_dir("oom", names);
  static int count = 0;
  // Only trivially destructible objects in the operation: a trap leaves it by a jump.
  EXPECT_OOM_SAFE(
      [] {
        int16_t* versions = nullptr;
        count = kel_get_all_versions(u"oom\\m.abc", &versions);
        rlsmem(versions);
      },
      [] {});
  EXPECT_EQ(count, 300);
}

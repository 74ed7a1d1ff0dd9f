// The toolkit calls carried out in the module: record bytes, bounds and the path entry visit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "binding/host_binding.h"
#include "fresh_process.h"
#include "binding/local_calls.h"

namespace {

template <class T>
void fill(T& record, unsigned char byte) {
  std::memset(&record, byte, sizeof record);
}

template <class T>
std::vector<unsigned char> bytes(const T& record) {
  const auto* p = reinterpret_cast<const unsigned char*>(&record);
  return {p, p + sizeof record};
}

int32_t word_at(const void* base, size_t offset) {
  int32_t v;
  std::memcpy(&v, static_cast<const unsigned char*>(base) + offset, 4);
  return v;
}

TEST(LocalCalls, TextCopiesConvertAndRefuseNullBuffers) {
  kel_wchar wide[8];
  EXPECT_EQ(wide, KelTextToWide(wide, "Ab1"));
  EXPECT_EQ(std::u16string(u"Ab1"), std::u16string(wide));
  char text[16];
  EXPECT_EQ(text, KelWideToText(text, u"xY9"));
  EXPECT_STREQ("xY9", text);
  EXPECT_EQ(nullptr, KelTextToWide(nullptr, "a"));
  EXPECT_EQ(nullptr, KelWideToText(nullptr, u"a"));
}

TEST(LocalCalls, TaggedBlockAndPathEntryBytes) {
  KelTaggedBlock block;
  fill(block, 0xAB);
  ASSERT_EQ(0, KelTaggedBlockInit(0x01020304, nullptr, &block));
  std::vector<unsigned char> expected(124, 0);
  expected[0] = 4, expected[1] = 3, expected[2] = 2, expected[3] = 1;
  EXPECT_EQ(expected, bytes(block));

  unsigned char payload[120];
  for (int i = 0; i < 120; ++i) payload[i] = static_cast<unsigned char>(i + 1);
  ASSERT_EQ(0, KelTaggedBlockInit(7, payload, &block));
  EXPECT_EQ(7, word_at(&block, 0));
  EXPECT_EQ(0, std::memcmp(payload, reinterpret_cast<unsigned char*>(&block) + 4, 120));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelTaggedBlockInit(7, payload, nullptr));

  int32_t ids[25];
  for (int i = 0; i < 25; ++i) ids[i] = 1000 + i;
  KelPathEntry entry;
  fill(entry, 0xAB);
  ASSERT_EQ(0, KelPathEntryInit(ids, 25, -9, &block, &entry));
  EXPECT_EQ(25, word_at(&entry, 0));
  for (int i = 0; i < 25; ++i) EXPECT_EQ(1000 + i, word_at(&entry, 4 + 4 * i));
  EXPECT_EQ(-9, word_at(&entry, 104));
  EXPECT_EQ(0, std::memcmp(&block, reinterpret_cast<unsigned char*>(&entry) + 108, 124));

  // Only the counted ids are read; the rest of the table is cleared.
  ASSERT_EQ(0, KelPathEntryInit(ids, 2, 1, &block, &entry));
  EXPECT_EQ(2, word_at(&entry, 0));
  EXPECT_EQ(1001, word_at(&entry, 8));
  EXPECT_EQ(0, word_at(&entry, 12));

  // Without ids the count becomes 0 and the ids stay.
  fill(entry, 0xAB);
  ASSERT_EQ(0, KelPathEntryInit(nullptr, 5, 3, &block, &entry));
  EXPECT_EQ(0, word_at(&entry, 0));
  EXPECT_EQ(static_cast<int32_t>(0xABABABAB), word_at(&entry, 4));
  EXPECT_EQ(3, word_at(&entry, 104));

  // Refused inputs write nothing.
  fill(entry, 0xCD);
  const auto before = bytes(entry);
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelPathEntryInit(ids, 26, 1, &block, &entry));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelPathEntryInit(ids, -1, 1, &block, &entry));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelPathEntryInit(ids, 3, 1, nullptr, &entry));
  EXPECT_EQ(before, bytes(entry));
  EXPECT_EQ(0, KelPathEntryInit(ids, 3, 1, &block, nullptr));
}

TEST(LocalCalls, PathsetFields) {
  KelPathset set;
  fill(set, 0xAB);
  const std::u16string long_name(40, u'n');
  ASSERT_EQ(0, KelPathsetNameSet(&set, long_name.c_str()));
  for (int i = 0; i < 31; ++i) EXPECT_EQ(u'n', set.name[i]);
  EXPECT_EQ(0xABAB, set.name[31]) << "the 32nd unit is never written";

  ASSERT_EQ(0, KelPathsetNameSet(&set, u"ab"));
  EXPECT_EQ(u'a', set.name[0]);
  for (int i = 2; i < 31; ++i) EXPECT_EQ(0, set.name[i]);
  EXPECT_EQ(0xABAB, set.name[31]);

  kel_wchar out[32];
  std::fill(std::begin(out), std::end(out), u'#');
  ASSERT_EQ(0, KelPathsetNameGet(&set, out));
  EXPECT_EQ(std::u16string(u"ab"), std::u16string(out));
  EXPECT_EQ(u'#', out[31]);
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelPathsetNameGet(nullptr, out));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelPathsetNameSet(&set, nullptr));

  ASSERT_EQ(0, KelPathsetIdSet(&set, 77));
  ASSERT_EQ(0, KelPathsetAttrSet(&set, 5));
  EXPECT_EQ(77, word_at(&set, 64));
  EXPECT_EQ(5, word_at(&set, 68));
  int32_t v = 9;
  EXPECT_EQ(0, KelPathsetIdGet(&set, &v));
  EXPECT_EQ(77, v);
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelPathsetIdGet(nullptr, &v));
  EXPECT_EQ(-1, v);
  EXPECT_EQ(0, KelPathsetAttrGet(&set, &v));
  EXPECT_EQ(5, v);
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelPathsetAttrGet(nullptr, &v));
  EXPECT_EQ(0, v);
  EXPECT_EQ(0, KelPathsetIdGet(&set, nullptr));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelPathsetIdSet(nullptr, 1));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelPathsetAttrSet(nullptr, 1));
}

TEST(LocalCalls, SmallValues) {
  KelSmallvalue v;
  fill(v, 0xAB);
  ASSERT_EQ(0, KelSmallvalueWideInit(u"abcdefghijklmn", &v));  // 14 characters, 30 bytes
  EXPECT_EQ(KEL_SMALLVALUE_WIDE, word_at(&v, 0));
  EXPECT_EQ(static_cast<int32_t>(0xABABABAB), word_at(&v, 4)) << "bytes 4 to 7 are not written";
  EXPECT_EQ(std::u16string(u"abcdefghijklmn"),
            std::u16string(reinterpret_cast<kel_wchar*>(v.data)));
  EXPECT_EQ(0xAB, v.data[30]);

  fill(v, 0xAB);
  const auto before = bytes(v);
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelSmallvalueWideInit(u"abcdefghijklmno", &v));  // 32 bytes
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelSmallvalueWideInit(nullptr, &v));
  const unsigned char big[40] = {};
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelSmallvalueInit(9, big, 33, &v));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelSmallvalueInit(9, big, 0, &v));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelSmallvalueInit(9, nullptr, 4, &v));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelSmallvalueBlock16Init(nullptr, &v));
  EXPECT_EQ(before, bytes(v));
  EXPECT_EQ(0, KelSmallvalueInit(9, big, 4, nullptr));

  ASSERT_EQ(0, KelSmallvalueIntInit(-2, &v));
  EXPECT_EQ(KEL_SMALLVALUE_INT, word_at(&v, 0));
  EXPECT_EQ(-2, word_at(&v, 8));
  EXPECT_EQ(0xAB, v.data[4]);

  unsigned char data[32];
  for (int i = 0; i < 32; ++i) data[i] = static_cast<unsigned char>(0x40 + i);
  fill(v, 0xAB);
  ASSERT_EQ(0, KelSmallvalueBlock16Init(data, &v));
  EXPECT_EQ(KEL_SMALLVALUE_BLOCK16, v.kind);
  EXPECT_EQ(0, std::memcmp(data, v.data, 16));
  EXPECT_EQ(0xAB, v.data[16]);
  ASSERT_EQ(0, KelSmallvalueBlock32Init(data, &v));
  EXPECT_EQ(KEL_SMALLVALUE_BLOCK32, v.kind);
  EXPECT_EQ(0, std::memcmp(data, v.data, 32));
}

TEST(LocalCalls, TypedValues) {
  union {
    KelTypedvalue value;
    unsigned char raw[64];
  } t;
  std::memset(t.raw, 0xAB, sizeof t.raw);
  const auto untouched = std::vector<unsigned char>(t.raw, t.raw + 64);
  const int32_t n = 5;
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelTypedvalueSet(&t.value, &n, 55));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelTypedvalueSet(nullptr, &n, 52));
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelTypedvalueSet(&t.value, nullptr, 52));
  EXPECT_EQ(untouched, std::vector<unsigned char>(t.raw, t.raw + 64));

  ASSERT_EQ(0, KelTypedvalueSet(&t.value, nullptr, KEL_TYPEDVALUE_NONE));
  EXPECT_EQ(57, word_at(t.raw, 0));
  EXPECT_EQ(std::vector<unsigned char>(untouched.begin() + 4, untouched.end()),
            std::vector<unsigned char>(t.raw + 4, t.raw + 64));

  const double d = 2.5;
  ASSERT_EQ(0, KelTypedvalueInit(&t.value, &d, KEL_TYPEDVALUE_DOUBLE));
  EXPECT_EQ(0, std::memcmp(&d, t.raw + 8, 8));
  double d_out = 0;
  ASSERT_EQ(0, KelTypedvalueGet(&t.value, KEL_TYPEDVALUE_DOUBLE, &d_out));
  EXPECT_EQ(2.5, d_out);

  std::memset(t.raw, 0xAB, sizeof t.raw);
  const int16_t s = -3;
  ASSERT_EQ(0, KelTypedvalueSet(&t.value, &s, KEL_TYPEDVALUE_SHORT));
  EXPECT_EQ(0, std::memcmp(&s, t.raw + 8, 2));
  EXPECT_EQ(0xAB, t.raw[10]) << "a 16-bit value writes two bytes";

  const kel_wchar text[] = u"a long wide text";  // runs past the 8 data bytes
  ASSERT_EQ(0, KelTypedvalueSet(&t.value, text, KEL_TYPEDVALUE_WIDE));
  kel_wchar text_out[32] = {};
  ASSERT_EQ(0, KelTypedvalueGet(&t.value, KEL_TYPEDVALUE_WIDE, text_out));
  EXPECT_EQ(std::u16string(text), std::u16string(text_out));

  ASSERT_EQ(0, KelTypedvalueSet(&t.value, &n, KEL_TYPEDVALUE_INT2));
  int32_t n_out = 0;
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelTypedvalueGet(&t.value, KEL_TYPEDVALUE_INT, &n_out));
  EXPECT_EQ(0, n_out);
  EXPECT_EQ(0, KelTypedvalueGet(&t.value, KEL_TYPEDVALUE_INT2, &n_out));
  EXPECT_EQ(5, n_out);
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelTypedvalueGet(&t.value, KEL_TYPEDVALUE_INT2, nullptr));
  int32_t kind = 0;
  EXPECT_EQ(0, KelTypedvalueKindGet(&t.value, &kind));
  EXPECT_EQ(54, kind);
  EXPECT_EQ(KEL_TK_BAD_INPUTS, KelTypedvalueKindGet(&t.value, nullptr));

  for (int k = 45; k < 60; ++k)
    EXPECT_EQ(k == 50 || k == 51 || k == 52 || k == 53 || k == 54 || k == 57,
              KelTypedvalueKindIsValid(k))
        << k;

  int32_t rev = 0;
  EXPECT_EQ(0, KelRevisionCheck(2, &rev));
  EXPECT_EQ(2, rev);
  rev = 0;
  EXPECT_EQ(-1, KelRevisionCheck(3, &rev));
  EXPECT_EQ(2, rev);
  EXPECT_EQ(-1, KelRevisionCheck(1, nullptr));
}

// ---- the visit, over a host array counted by the host ----

KelPathEntry g_entries[4];
KelError g_size_status = 0;
std::vector<std::string> g_calls;
KelError g_filter[4];
KelError g_action[4];

KelError host_array_size(int32_t, void* array, int32_t* size) {
  if (array != g_entries) return KEL_TK_BAD_INPUTS;
  if (g_size_status != 0) return g_size_status;
  *size = 4;
  return 0;
}
int host_pass_version(int32_t, int32_t) { return 1; }

int index_of(const KelPathEntry* e) { return static_cast<int>(e - g_entries); }
KelError filter(KelPathEntry* e, void* data) {
  g_calls.push_back("f" + std::to_string(index_of(e)) + static_cast<const char*>(data));
  return g_filter[index_of(e)];
}
KelError action(KelPathEntry* e, KelError status, void* data) {
  g_calls.push_back("a" + std::to_string(index_of(e)) + ":" + std::to_string(status) +
                    static_cast<const char*>(data));
  return g_action[index_of(e)];
}

struct VisitCase {
  KelError size_status;
  bool with_filter, with_action;
  KelError filters[4], actions[4];
  KelError result;
  std::vector<std::string> calls;
};

void visits() {
  static const KelHostFunctionEntry table[] = {
      {reinterpret_cast<void*>(host_array_size), "KelArraySizeGet_v"},
      {reinterpret_cast<void*>(host_pass_version), "keldev_pass_version_info_v"},
  };
  static kel_wchar message[64];
  user_initialize_plus(nullptr, nullptr, "21", "2002100", nullptr, message, "root", nullptr, "", 1,
                       nullptr, table, 2, 0);
  const VisitCase cases[] = {
      // Every entry skipped: no action, success.
      {0, true, true, {-7, -7, -7, -7}, {9, 9, 9, 9}, 0, {"f0.", "f1.", "f2.", "f3."}},
      // Without a filter the action sees status 0 and stops the visit with its own status.
      {0, false, true, {}, {0, 0, 4, 0}, 4, {"a0:0.", "a1:0.", "a2:0."}},
      // The action receives the filter's status; a skipped entry gets no action.
      {0,
       true,
       true,
       {0, -7, 6, 0},
       {0, 0, 0, 0},
       0,
       {"f0.", "a0:0.", "f1.", "f2.", "a2:6.", "f3.", "a3:0."}},
      // Without an action the first status other than 0 and -7 stops the visit.
      {0, true, false, {0, -7, -5, 0}, {}, -5, {"f0.", "f1.", "f2."}},
      // The host's failure to count the array is passed on.
      {KEL_TK_INVALID_PTR, true, true, {}, {}, KEL_TK_INVALID_PTR, {}},
  };
  KelPathset set = {};
  set.entries = g_entries;
  int n = 0;
  for (const VisitCase& c : cases) {
    ++n;
    g_size_status = c.size_status;
    std::copy(c.filters, c.filters + 4, g_filter);
    std::copy(c.actions, c.actions + 4, g_action);
    g_calls.clear();
    EXPECT_EQ(KelPathsetEntriesVisit(&set, c.with_filter ? filter : nullptr,
                                     c.with_action ? action : nullptr, const_cast<char*>(".")),
              c.result)
        << "case " << n;
    EXPECT_EQ(g_calls, c.calls) << "case " << n;
  }
  EXPECT_EQ(KelPathsetEntriesVisit(nullptr, filter, action, nullptr), KEL_TK_BAD_INPUTS);
}

// The hand-shake binds the stubs for good: in a process of its own.
TEST(LocalCalls, PathEntryVisit) { fresh_process::in_own_process(visits); }

}  // namespace

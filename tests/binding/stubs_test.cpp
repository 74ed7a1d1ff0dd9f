#include <gtest/gtest.h>

#include <cstring>

#include "fresh_process.h"
#include "stub_callers.h"

using namespace recording_host;
using fresh_process::catch_reports;
using fresh_process::in_own_process;
using fresh_process::reports;

namespace {

constexpr int32_t kHandle = 0x5EED1234;
constexpr char kMissing[] = "couldn't find pointer to Mirax-side function";

std::vector<uint32_t> words_for(size_t row) {
  std::vector<uint32_t> w;
  for (int i = 0; i < rows[row].words; ++i)
    w.push_back(0xA5000000u ^ (uint32_t(row) << 8) ^ uint32_t(i + 1));
  return w;
}

std::string symbol(size_t row) { return std::string(rows[row].name) + "_v"; }

// The reports caught so far, one "where: message" line each.
std::string caught() {
  std::string text;
  for (const auto& r : reports) text += r.where + ": " + r.message + "\n";
  return text;
}

// The rows of the host functions called so far, in order.
std::vector<size_t> rows_called() {
  std::vector<size_t> called;
  for (const Call& c : calls) called.push_back(c.row);
  return called;
}

// What a stub returns when it reached the host and the host gave `host_result`.
int64_t bound_result(size_t row, int32_t host_result) {
  return rows[row].kind == Kind::no_result ? kNoResult : host_result;
}

int64_t unbound_result(size_t row) {
  switch (rows[row].kind) {
    case Kind::no_result: return kNoResult;
    case Kind::truth: return 0;
    default: return -1;
  }
}

// Calls every stub once and checks that each reached its own host function with the handle and
// exactly its words (and the directory for the rows that add one).
void call_every_stub_bound(const char* phase) {
  for (size_t row = 0; row < row_count; ++row) {
    std::string what = std::string(phase) + " " + rows[row].name;
    std::vector<uint32_t> w = words_for(row);
    calls.clear();
    int64_t result = callers[row](w.data());
    EXPECT_EQ(result, bound_result(row, results[row])) << what << ": result";
    if (calls.size() != 1) {
      ADD_FAILURE() << what << ": " << calls.size() << " host calls";
      continue;
    }
    std::vector<uint32_t> expected = w;
    if (rows[row].kind == Kind::text_dir)
      expected.push_back(uint32_t(uintptr_t(text_directory_get())));
    if (rows[row].kind == Kind::menus_dir)
      expected.push_back(uint32_t(uintptr_t(menus_directory_get())));
    EXPECT_EQ(calls[0].row, row) << what << ": wrong host function";
    EXPECT_EQ(calls[0].handle, kHandle) << what << ": handle";
    EXPECT_EQ(calls[0].words, expected) << what << ": words";
  }
}

}  // namespace

TEST(StubList, RowsAreInTheHostTableOrder) {
  ASSERT_EQ(row_count, 1179u);
  for (size_t row = 1; row < row_count; ++row)
    EXPECT_LT(std::strcmp(symbol(row - 1).c_str(), symbol(row).c_str()), 0) << rows[row].name;
}

TEST(Stubs, EveryStubReportsWhileMissingThenBindsOnceAndForwardsItsWords) {
  in_own_process([] {
    catch_reports();
    std::strcpy(text_directory_get(), "root\\text\\usascii");
    std::strcpy(menus_directory_get(), "root\\text\\usascii\\menus");

    // No host function yet: every stub reports under its symbol and gives its failure result.
    Table empty(std::vector<size_t>{});
    install(empty, kHandle);
    for (size_t row = 0; row < row_count; ++row) {
      std::string what = std::string("missing ") + rows[row].name;
      std::vector<uint32_t> w = words_for(row);
      calls.clear();
      reports.clear();
      EXPECT_EQ(callers[row](w.data()), unbound_result(row)) << what << ": result";
      EXPECT_TRUE(calls.empty()) << what << ": reached the host";
      std::string where = rows[row].kind == Kind::bare_name ? rows[row].name : symbol(row);
      EXPECT_EQ(caught(), where + ": " + kMissing + "\n") << what;
    }

    // The failed look-ups were not remembered: with the full table every stub binds.
    Table full;
    install(full, kHandle);
    reports.clear();
    call_every_stub_bound("first bound call of");
    EXPECT_TRUE(reports.empty()) << "a bound stub reported";

    // Bound for good: with the table gone the calls still reach the same host functions.
    install(empty, kHandle);
    call_every_stub_bound("second bound call of");
    EXPECT_TRUE(reports.empty()) << "a bound stub looked its function up again";
  });
}

TEST(Stubs, AMissingFunctionReportsOnEveryCallUntilTheTableHasIt) {
  in_own_process([] {
    catch_reports();
    size_t free_row = row_of("KelValueFree");
    size_t quorrin_row = row_of("KelIsQuorrin");
    size_t mdl_row = row_of("KelMdlCurrentGet");
    Table without(std::vector<size_t>{});
    install(without, 7);
    for (int i = 0; i < 3; ++i) {
      KelValueFree(nullptr);
      EXPECT_EQ(KelIsQuorrin(), 0) << "KelIsQuorrin unbound";
      EXPECT_EQ(KelMdlCurrentGet(nullptr), KEL_TK_GENERAL_ERROR) << "KelMdlCurrentGet unbound";
    }
    EXPECT_EQ(reports.size(), size_t(9)) << "one report per call";
    EXPECT_TRUE(calls.empty()) << "reached the host";

    Table with({free_row, quorrin_row, mdl_row});
    install(with, 7);
    reports.clear();
    results[quorrin_row] = 1;
    int value = 5;
    KelValueFree(&value);
    EXPECT_EQ(KelIsQuorrin(), 1) << "KelIsQuorrin bound";
    KelMdl model = nullptr;
    EXPECT_EQ(KelMdlCurrentGet(&model), results[mdl_row]) << "KelMdlCurrentGet bound";
    EXPECT_TRUE(reports.empty()) << "reported once bound";
    ASSERT_EQ(rows_called(), (std::vector<size_t>{free_row, quorrin_row, mdl_row}))
        << "host calls after the table was corrected";
    EXPECT_EQ(calls[0].words, (std::vector<uint32_t>{uint32_t(uintptr_t(&value))}))
        << "KelValueFree's word";
  });
}

TEST(Stubs, GtolleadersFreeAlsoFreesTheArrayOnlyOnSuccess) {
  in_own_process([] {
    catch_reports();
    size_t gtol = row_of("KelGtolleadersFree");
    size_t array_free = row_of("KelArrayFree");
    int leaders = 0;
    uint32_t word = uint32_t(uintptr_t(&leaders));

    // KelArrayFree not there yet: the host's success is followed by the missing free.
    Table only_gtol({gtol});
    install(only_gtol, 3);
    results[gtol] = KEL_TK_NO_ERROR;
    EXPECT_EQ(KelGtolleadersFree(&leaders), KEL_TK_GENERAL_ERROR) << "free missing";
    EXPECT_EQ(caught(), std::string("KelArrayFree_v: ") + kMissing + "\n");

    Table both({gtol, array_free});
    install(both, 3);
    results[array_free] = 777;
    calls.clear();
    EXPECT_EQ(KelGtolleadersFree(&leaders), 777) << "success gives KelArrayFree's result";
    ASSERT_EQ(rows_called(), (std::vector<size_t>{gtol, array_free}));
    EXPECT_EQ(calls[1].words, (std::vector<uint32_t>{word})) << "the same array is freed";
    EXPECT_EQ(calls[1].handle, 3);

    results[gtol] = KEL_TK_GENERAL_ERROR;
    calls.clear();
    EXPECT_EQ(KelGtolleadersFree(&leaders), KEL_TK_GENERAL_ERROR) << "failure returned as it came";
    EXPECT_EQ(calls.size(), size_t(1)) << "no free after a failure";
    results[gtol] = KEL_TK_E_NOT_FOUND;
    EXPECT_EQ(KelGtolleadersFree(&leaders), KEL_TK_E_NOT_FOUND)
        << "other status returned as it came";
  });
}

namespace {
struct Instr {  // a 12-byte record passed by value
  int32_t a, b, c;
};
static_assert(sizeof(Instr) == 12);
}  // namespace

namespace {
// A function address the optimiser knows nothing about.
void (*opaque(void (*function)()))() {
  asm volatile("" : "+r"(function));
  return function;
}
}  // namespace

TEST(Stubs, RecordsByValueTravelAsTheirWords) {
  in_own_process([] {
    size_t instr_free = row_of("KelInstrFree");
    size_t instr_add = row_of("KelSrfcollectionInstrAdd");
    Table table({instr_free, instr_add});
    install(table, 11);
    // A caller that passes the record itself, as a C application declaring the stub with its
    // record parameter does: it reaches the module's out-of-line stub, which must forward the
    // record's three words. The addresses are made opaque so that the compiler cannot inline
    // the stub into a call whose arguments do not match its parameters.
    auto free_by_record =
        reinterpret_cast<KelError (*)(Instr)>(opaque(reinterpret_cast<void (*)()>(&KelInstrFree)));
    auto add_by_record = reinterpret_cast<KelError (*)(void*, Instr)>(
        opaque(reinterpret_cast<void (*)()>(&KelSrfcollectionInstrAdd)));
    int collection = 0;
    EXPECT_EQ(free_by_record(Instr{1, -2, 3}), results[instr_free]) << "KelInstrFree result";
    EXPECT_EQ(add_by_record(&collection, Instr{4, 5, -6}), results[instr_add]) << "InstrAdd result";
    ASSERT_EQ(calls.size(), 2u) << "two host calls";
    EXPECT_EQ(calls[0].handle, 11);
    EXPECT_EQ(calls[0].words, (std::vector<uint32_t>{1, uint32_t(-2), 3}));
    EXPECT_EQ(calls[1].words,
              (std::vector<uint32_t>{uint32_t(uintptr_t(&collection)), 4, 5, uint32_t(-6)}));
  });
}

namespace {
std::vector<int32_t> term_calls;
int32_t host_term_plus(int32_t handle) {
  term_calls.push_back(handle);
  return 42;
}
}  // namespace

TEST(Stubs, PlusTerminateGivesTheHostOnlyTheHandle) {
  in_own_process([] {
    catch_reports();
    Table without;
    install(without, 99);
    EXPECT_EQ(KelPlusTerminate(), KEL_TK_GENERAL_ERROR) << "missing entry";
    EXPECT_EQ(caught(), std::string("kel_term_plus: ") + kMissing + "\n")
        << "missing entry reported under its own name";
    Table with;
    with.add("kel_term_plus", reinterpret_cast<void*>(&host_term_plus));
    install(with, 99);
    EXPECT_EQ(KelPlusTerminate(), 42) << "host result";
    EXPECT_EQ(term_calls, (std::vector<int32_t>{99})) << "called once with the handle";
  });
}

// Misuse of the routines that write into a caller's existing array: each call is refused with
// its report, and neither the target nor a block allocated after it changes.
#include <csignal>
#include <cstdlib>
#include <string>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/har.h"
#include "runtime/xar/xar_ptr.h"
#include "xar_test_util.h"

namespace {

int compare_ints(const void* a, const void* b, void*) {
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}
void no_offsprings(void*) {}
const int kInts[] = {1, 2};
const double kDoubles[] = {1.0};

// A stop raised by the runtime comes back once; a real fault, which would come back again and
// again, ends the child.
volatile std::sig_atomic_t raised = 0;
void return_once(int signal_number) {
  raised = raised + 1;
  if (raised > 1) std::_Exit(99);
  std::signal(signal_number, return_once);
}

// The whole block behind a user pointer, header and trailer included.
std::string block_bytes(const void* user) {
  return std::string(static_cast<const char*>(user) - 8, size_t(xar_test::raw(user).units) * 8);
}

struct Row {
  int object_size;  // of the target, three objects
  bool harray;
  void (*call)(void** p_target);
  const char* report;
};

const Row kRows[] = {
    {8, false,
     [](void** t) {
       int* a = nullptr;
       xar_from_array(kInts, 2, 4, 1, &a);
       merge_sorted_xarrays(a, nullptr, compare_ints, nullptr, t, nullptr);
       XAR_FREE(&a);
     },
     "merge_sorted_xarrays:  output object size is not 4"},
    {2, false,
     [](void** t) {
       void* out = nullptr;
       merge_sorted_xarrays(nullptr, nullptr, compare_ints, nullptr, &out, t);
     },
     "merge_sorted_xarrays:  output object size is not 4"},
    {8, true,
     [](void** t) {
       void* a = har_alloc(4, 1);
       har_append(&a, 1, kInts);
       merge_sorted_harrays(a, nullptr, compare_ints, nullptr, t, nullptr);
       har_free(&a);
     },
     "merge_sorted_harrays:  output object size is not 4"},
    {4, false, [](void** t) { merge_sorted_xarrays(*t, *t, compare_ints, nullptr, nullptr, t); },
     "merge_sorted_xarrays:  null output"},
    {4, false,
     [](void** t) { merge_sorted_xarrays_copy(*t, nullptr, compare_ints, nullptr, nullptr, t); },
     "merge_sorted_xarrays:  null output"},
    {4, true,
     [](void** t) { merge_sorted_harrays_copy(*t, nullptr, compare_ints, nullptr, nullptr, t); },
     "merge_sorted_harrays:  null output"},
    {4, false, [](void** t) { xar_merge_doubles(t, kDoubles, 1, 0.0); },
     "xar_merge_doubles:  object size is not 8"},
    {4, false, [](void** t) { xar_ptr_alloc_or_resize(t, -1, 1, nullptr, no_offsprings); },
     "xar_ptr_alloc_or_resize : ***\n\tbad parameter: n"},
    {4, false, [](void** t) { str_alloc_or_copy(kDoubles, *t, -1); },
     "str_alloc_or_copy : ***\n\tbad parameter: size"},
};

TEST(XarMisuse, RefusedWithTargetAndNeighbourUnchanged) {
  for (const Row& row : kRows) {
    const std::string out = testsupport::run_child(
        [&] {
          std::signal(SIGSEGV, return_once);
          debug_setup(1);  // stops come back to the refusing routine
          const char objects[24] = {1, 0, 0, 0, 2, 0, 0, 0, 3};
          void* target = nullptr;
          if (row.harray) {
            target = har_alloc(row.object_size, 2);
            har_append(&target, 3, objects);
          } else {
            xar_from_array(objects, 3, row.object_size, 1, &target);
          }
          void* const first = row.harray ? *static_cast<void**>(target) : target;
          char* guard = static_cast<char*>(getmem(64));
          memset(guard, 0x5A, 64);
          const std::string before = block_bytes(target) + block_bytes(first);
          row.call(&target);
          EXPECT_EQ(raised, 1);
          EXPECT_EQ(block_bytes(target) + block_bytes(first), before);
          EXPECT_EQ(std::string(guard, 64), std::string(64, 0x5A));
        },
        testsupport::exits(0));
    EXPECT_TRUE(xar_test::contains(out, row.report)) << out;
  }
}

}  // namespace

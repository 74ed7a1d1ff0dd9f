// The pointer-xarray helpers against a std::vector of owned objects: seeded random sequences of
// appends, removes, clears, walks, frees and single releases, after each of which the array holds
// what the model holds, the callbacks received exactly the objects the model gave up, in index
// order, and the heap holds exactly the blocks still owned. Removes past the end print their
// report and change nothing. Then arrays of arrays against a vector of vectors, freed whole.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "runtime/mem/mem.h"
#include "runtime/xar/xar_ptr.h"
#include "clump_rerun.h"
#include "xar_test_util.h"

namespace {

struct Object {
  int id;
  int visits;  // calls of the offspring callback
};

std::vector<int> seen;  // ids the callbacks received, in order

int release_counted(void* p_pointer) {
  seen.push_back((*static_cast<Object**>(p_pointer))->id);
  return release_and_null(p_pointer);
}
void free_counted(void* pointer) {
  seen.push_back(static_cast<Object*>(pointer)->id);
  rlsmem(pointer);
}
void visit(void* pointer) {
  seen.push_back(static_cast<Object*>(pointer)->id);
  ++static_cast<Object*>(pointer)->visits;
}

// Heap blocks and clump objects alike, so the count holds with automatic clumps on.
int live_blocks() { return testsupport::live_allocations(); }

// Once through objects and arrays before counting: what the memory manager makes on first use
// (with automatic clumps on, the clumps' own records) is then there, and a count follows only
// what a test owns.
void warm_up() {
  Object** a = nullptr;
  for (int k = 0; k < 256; ++k) {
    Object* o = static_cast<Object*>(getmem(sizeof(Object)));
    xar_alloc_or_append(&a, 1, sizeof o, 3, &o);
  }
  xar_ptr_free_all(&a);
}

// id * 1000 + visits of every entry, 0 for a null pointer.
std::vector<int> held(Object** a) {
  std::vector<int> out;
  for (Object* o : xar_test::contents(a)) out.push_back(o ? o->id * 1000 + o->visits : 0);
  return out;
}

TEST(XarPtrModel, RandomSequencesAgainstAVectorOfOwnedObjects) {
  const std::string out = testsupport::run_child(
      [] {
        xar_test::catch_stops();  // a refused remove reports and returns
        std::mt19937 random(20);
        auto pick = [&](int below) { return int(random() % unsigned(below)); };
        Object** a = nullptr;
        std::vector<int> model;  // as held() reads the array
        warm_up();
        const int base = live_blocks();
        int next_id = 1, refused = 0;
        for (int step = 0; step < 5000; ++step) {
          SCOPED_TRACE("step " + std::to_string(step));
          const int count = int(model.size());
          const int index = pick(count + 1), n = pick(count - index + 1);
          std::vector<int> given_up;  // what the callbacks must receive
          // The model gives up entries from..to-1; `counted`: through a counting callback.
          auto drop = [&](int from, int to, bool counted) {
            for (int i = from; i < to; ++i)
              if (model[i] && counted) given_up.push_back(model[i] / 1000);
            model.erase(model.begin() + from, model.begin() + to);
          };
          seen.clear();
          xar_test::stops_raised = 0;
          bool freed = false;
          switch (pick(15)) {
            case 14:
              if (!a) break;  // remove past the end: refused
              xar_ptr_remove_with(&a, index, count - index + 1, release_counted);
              ++refused;
              break;
            case 5:
              xar_ptr_remove_with(&a, index, n, release_counted), drop(index, index + n, true);
              break;
            case 6: xar_ptr_remove(&a, index, n), drop(index, index + n, false); break;
            case 7: xar_ptr_clear_with(&a, release_counted), drop(0, count, true); break;
            case 8: xar_ptr_clear(&a), drop(0, count, false); break;
            case 9: xar_ptr_each_clear(&a, free_counted), drop(0, count, true); break;
            case 10:
              pick(2) ? xar_ptr_each_free(&a, free_counted)
                      : xar_ptr_free_with(&a, release_counted);
              drop(0, count, true);
              freed = true;
              break;
            case 11: xar_ptr_free_all(&a), drop(0, count, false), freed = true; break;
            case 12:
              xar_ptr_free_offsprings(&a, visit);
              for (int& m : model)
                if (m) given_up.push_back(m / 1000), ++m;
              break;
            case 13:
              if (index < count) {  // one entry released by hand, which leaves it null
                void* p = a[index];
                EXPECT_EQ(release_and_null(&p), 1);
                EXPECT_EQ(p, nullptr);
                a[index] = nullptr;
                model[index] = 0;
              }
              break;
            default:  // appends, one object in six a null pointer
              for (int k = pick(4); k >= 0; --k, ++next_id) {
                Object* o = pick(6) ? static_cast<Object*>(getmem(sizeof(Object))) : nullptr;
                if (o) *o = {next_id, 0};
                xar_alloc_or_append(&a, 1, sizeof o, 3, &o);
                model.push_back(o ? next_id * 1000 : 0);
              }
          }
          if (freed) {
            ASSERT_EQ(a, nullptr);
          }
          ASSERT_EQ(held(a), model);
          ASSERT_EQ(seen, given_up);
          const int owned = int(model.size()) - int(std::count(model.begin(), model.end(), 0));
          ASSERT_EQ(live_blocks(), base + (a ? 1 : 0) + owned);
        }
        xar_ptr_free_all(&a);
        EXPECT_EQ(live_blocks(), base);
        printf("\n@refused %d\n", refused);
      },
      testsupport::exits(0));
  const size_t at = out.find("\n@refused ");
  ASSERT_NE(at, std::string::npos) << out;
  int reports = 0;
  for (size_t p = out.find("arr_delete wrong call."); p != std::string::npos;
       p = out.find("arr_delete wrong call.", p + 1))
    ++reports;
  EXPECT_GT(reports, 10);
  EXPECT_EQ(std::to_string(reports), out.substr(at + 10, out.find('\n', at + 10) - at - 10));
}

// Arrays of int arrays (some absent) against vectors of vectors: the contents match, and
// xar_xar_free gives back every block.
TEST(XarPtrModel, ArraysOfArraysFreedWhole) {
  std::mt19937 random(21);
  warm_up();
  const int base = live_blocks();
  for (int round = 0; round < 200; ++round) {
    std::vector<std::vector<int>> model(random() % 6);
    int** outer = nullptr;
    for (std::vector<int>& inner : model) {
      int* x = nullptr;
      if (random() % 5) {
        inner.resize(random() % 7);
        for (int& v : inner) v = int(random() % 1000);
        xar_from_array(inner.data(), int(inner.size()), sizeof(int), 2, &x);
      }
      xar_alloc_or_append(&outer, 1, sizeof x, 2, &x);
    }
    std::vector<std::vector<int>> read;
    for (int* x : xar_test::contents(outer)) read.push_back(xar_test::contents(x));
    ASSERT_EQ(read, model);
    xar_xar_free(&outer);
    ASSERT_EQ(outer, nullptr);
    ASSERT_EQ(live_blocks(), base);
  }
}

}  // namespace

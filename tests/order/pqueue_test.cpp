// The priority queue against std::priority_queue, both directions, with and without a comparison,
// items far apart, the tie rule and an empty queue.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <algorithm>
#include <set>
#include <random>
#include <vector>

#include "runtime/order/pqueue.h"
#include "runtime/xar/har.h"
#include "runtime/xar/xar.h"

namespace {

// Orders by the tens only, so that items with equal tens tie.
int by_tens(void* calls, int a, int b) {
  ++*static_cast<int*>(calls);
  return a / 10 - b / 10;
}

int plain(void*, int a, int b) { return (a > b) - (a < b); }

// Beside each queue ordered by values runs a twin ordered by a comparison of the same values: the
// one sifts down bottom-up, the other by the documented steps, and their slots hold the same ints.
TEST(PriorityQueue, AgreesWithAnOrderedModel) {
  std::mt19937 rng(11);
  for (int direction : {PQUEUE_SMALLEST_FIRST, PQUEUE_LARGEST_FIRST}) {
    for (bool callback : {false, true}) {
      int calls = 0;
      pqueue* q = pqueue_create(callback ? by_tens : nullptr, &calls, 0, direction);
      pqueue* twin = pqueue_create(plain, nullptr, 0, direction);
      // The model: the items in queue order, best first; items of equal rank tie.
      auto rank = [callback](int a) { return callback ? long(a / 10) : long(a); };
      auto cmp = [&](int a, int b) {
        return direction == PQUEUE_SMALLEST_FIRST ? rank(a) < rank(b) : rank(a) > rank(b);
      };
      std::multiset<int, decltype(cmp)> model(cmp);
      // Items far apart: their plain difference overflows.
      const int wide[] = {INT_MAX, INT_MIN + 1, -2000000000, 2000000000, 0, -1};
      for (int step = 0; step < 20000; ++step) {
        if (model.empty() || rng() % 3 < (step < 10000 ? 2u : 1u)) {
          const int item =
              callback ? int(rng() % 1000) : (rng() % 4 ? int(rng() % 100) : wide[rng() % 6]);
          pqueue_push(q, item);
          pqueue_push(twin, item);
          model.insert(item);
        } else {
          const int top = pqueue_pop(q);
          pqueue_pop(twin);
          auto [first, end] = model.equal_range(*model.begin());
          const auto it = std::find(first, end, top);
          ASSERT_NE(it, end) << top << " popped before " << *model.begin();
          model.erase(it);
        }
        ASSERT_EQ(q->size, int(model.size()));
        ASSERT_EQ(pqueue_is_empty(q), model.empty());
        if (!callback) {
          ASSERT_EQ(0, std::memcmp(q->items, twin->items, q->size * sizeof(int)));
        }
      }
      pqueue_free(&twin);
      pqueue_free(&q);
      EXPECT_EQ(q, nullptr);
    }
  }
}

// Past the int xarray's ceiling (511,996 slots) the queue goes on in its overflow harray and loses
// nothing: after a permutation of 0 .. n - 1 the slots hold it as a heap, and pops come in order.
TEST(PriorityQueue, HoldsMoreItemsThanAnXarray) {
  const int n = 530000, stride = 7919, ceiling = xar_max_count(sizeof(int));  // coprime
  for (int direction : {PQUEUE_SMALLEST_FIRST, PQUEUE_LARGEST_FIRST}) {
    pqueue* q = pqueue_create(direction ? plain : nullptr, nullptr, direction ? 16 : n, direction);
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < n; ++i) {  // in runs that mostly stop at their parent
      const int item = int((long long)i * stride % n);
      pqueue_push(q, direction ? n - 1 - item : item);
    }
    ASSERT_EQ(q->size, n);
    EXPECT_EQ(XAR_COUNT(&q->items), ceiling);
    ASSERT_EQ(har_count(&q->overflow), n - ceiling);
    std::vector<int> slots(q->items, q->items + ceiling);
    for (int i = 0; i < n - ceiling; ++i)
      slots.push_back(*static_cast<int*>(har_object(&q->overflow, i, nullptr, nullptr)));
    for (int i = 1; i < n; ++i)
      ASSERT_EQ(slots[(i - 1) / 2] < slots[i], direction == PQUEUE_SMALLEST_FIRST) << i;
    std::vector<char> seen(n);  // n slots holding n distinct items of 0 .. n - 1
    for (int item : slots) seen[item < 0 || item >= n ? 0 : item] += 1;
    ASSERT_EQ(std::count(seen.begin(), seen.end(), 1), n);
    for (int k = 0; k < 3000; ++k) ASSERT_EQ(pqueue_pop(q), direction ? n - 1 - k : k);
    pqueue_free(&q);
  }
}

TEST(PriorityQueue, TiesKeepTheEarlierItemOnTopAndEmptyQueuesAnswerMinusOne) {
  int calls = 0;
  pqueue* q = pqueue_create(by_tens, &calls, 2, PQUEUE_SMALLEST_FIRST);
  for (int item : {51, 52, 53, 54, 55}) pqueue_push(q, item);
  EXPECT_EQ(pqueue_inquire_smallest(q), 51);
  EXPECT_EQ(calls, 4);  // each push stops at its first, equal, parent
  EXPECT_EQ(pqueue_pop(q), 51);
  EXPECT_EQ(pqueue_pop(q), 55);  // the last item moved to the top stays above its equal children
  pqueue_free(&q);
  q = pqueue_create(by_tens, &calls, 2, PQUEUE_SMALLEST_FIRST);
  for (int item : {1, 30, 31, 90}) pqueue_push(q, item);
  EXPECT_EQ(pqueue_pop(q), 1);
  EXPECT_EQ(pqueue_pop(q), 30);  // the left child wins over an equal right one
  pqueue_free(&q);
  q = pqueue_create(nullptr, nullptr, 0, PQUEUE_SMALLEST_FIRST);
  for (int item : {5, 1, 4, 1}) pqueue_push(q, item);
  for (int expect : {1, 1, 4, 5}) EXPECT_EQ(pqueue_pop(q), expect);
  EXPECT_EQ(pqueue_pop(q), -1);
  EXPECT_EQ(pqueue_inquire_smallest(q), -1);
  pqueue_push(q, 9);  // slot 0 reused
  EXPECT_EQ(q->items[0], 9);
  EXPECT_EQ(q->capacity, 4);
  pqueue_free(&q);
  pqueue_free(&q);
  EXPECT_EQ(pqueue_pop(nullptr), -1);
  EXPECT_TRUE(pqueue_is_empty(nullptr));
}

}  // namespace

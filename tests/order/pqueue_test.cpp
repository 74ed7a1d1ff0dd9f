// The priority queue against std::priority_queue, both directions, with and without a comparison,
// items far apart, the tie rule and an empty queue.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <algorithm>
#include <set>
#include <random>
#include <vector>

#include "runtime/order/pqueue.h"

namespace {

// Orders by the tens only, so that items with equal tens tie.
int by_tens(void* calls, int a, int b) {
  ++*static_cast<int*>(calls);
  return a / 10 - b / 10;
}

TEST(PriorityQueue, AgreesWithAnOrderedModel) {
  std::mt19937 rng(11);
  for (int direction : {PQUEUE_SMALLEST_FIRST, PQUEUE_LARGEST_FIRST}) {
    for (bool callback : {false, true}) {
      int calls = 0;
      pqueue* q = pqueue_create(callback ? by_tens : nullptr, &calls, 0, direction);
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
          model.insert(item);
        } else {
          const int top = pqueue_pop(q);
          auto [first, end] = model.equal_range(*model.begin());
          const auto it = std::find(first, end, top);
          ASSERT_NE(it, end) << top << " popped before " << *model.begin();
          model.erase(it);
        }
        ASSERT_EQ(q->size, int(model.size()));
        ASSERT_EQ(pqueue_is_empty(q), model.empty());
      }
      pqueue_free(&q);
      EXPECT_EQ(q, nullptr);
    }
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

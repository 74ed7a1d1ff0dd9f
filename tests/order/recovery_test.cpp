// Running out of memory at any allocation of the queue, the trees, the partial orders and the
// sorts leaves every structure as it was and nothing lost (the sorts' own sweeps are with them).
#include <gtest/gtest.h>

#include "oom_sweep.h"
#include "runtime/mem/mem.h"
#include "runtime/order/btree.h"
#include "runtime/order/partial_order.h"
#include "runtime/order/pqueue.h"
#include "runtime/order/sort.h"
#include "runtime/xar/xar.h"

namespace {

int by_key(int a, int b) { return (a > b) - (a < b); }
int cycles(void*, int i, int j, void*) { return SORTPARTL_CODE(2, (i + j) % 3 ? 2 : 0); }
int by_value(const void* a, const void* b, void*) {
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

TEST(Recovery, QueueTreesAndPartialOrdersAreAsBefore) {
  pqueue* q = pqueue_create(nullptr, nullptr, 2, PQUEUE_SMALLEST_FIRST);
  pqueue_push(q, 7);
  pqueue_push(q, 9);  // full to the last byte: the next push grows the array
  EXPECT_OOM_SAFE(([&] { pqueue_push(q, 3); }), ([&] {
                    EXPECT_EQ(q->size, 2);
                    EXPECT_EQ(XAR_COUNT(&q->items), q->capacity);
                  }));
  EXPECT_EQ(pqueue_pop(q), 3);
  pqueue_free(&q);
  // At an xarray's ceiling the next push starts the overflow harray.
  const int ceiling = xar_max_count(sizeof(int));
  q = pqueue_create(nullptr, nullptr, ceiling, PQUEUE_SMALLEST_FIRST);
  for (int i = 0; i < ceiling; ++i) pqueue_push(q, i);
  EXPECT_OOM_SAFE(([&] { pqueue_push(q, -1); }), ([&] {
                    EXPECT_EQ(q->size, ceiling);
                    EXPECT_EQ(q->capacity, ceiling);
                  }));
  EXPECT_EQ(pqueue_pop(q), -1);
  pqueue_free(&q);
  EXPECT_OOM_SAFE(([&] { pqueue_free(&q), q = pqueue_create(nullptr, nullptr, 4, 0); }),
                  ([&] { EXPECT_EQ(q, nullptr); }));
  pqueue_free(&q);

  btree* t = rbtree_create(1);
  rbtree_insert(t, 1, by_key);  // the one-node chunk is full: the next insert adds a pool
  EXPECT_OOM_SAFE(([&] { rbtree_insert(t, 2, by_key); }), ([&] {
                    EXPECT_EQ(XAR_COUNT(&t->pools), 1);
                    EXPECT_EQ(btree_find(t, 2, by_key), nullptr);
                  }));
  EXPECT_NE(btree_find(t, 2, by_key), nullptr);
  rbtree_free(&t);
  EXPECT_OOM_SAFE(([&] { rbtree_free(&t), t = rbtree_create(0); }),
                  ([&] { EXPECT_EQ(t, nullptr); }));
  rbtree_free(&t);

  int items[40] = {};
  int** log = static_cast<int**>(XAR_ALLOC(0, sizeof(int*), 4));
  void** order = nullptr;
  EXPECT_OOM_SAFE(([&] {
                    get_partial_order_with_circles(items, 40, 4, cycles, nullptr, nullptr, nullptr,
                                                   nullptr, &log, &order);
                  }),
                  ([&] {
                    EXPECT_EQ(XAR_COUNT(&log), 0);
                    EXPECT_EQ(order, nullptr);
                  }));
  EXPECT_GT(XAR_COUNT(&log), 0);
  for (int k = 0; k < XAR_COUNT(&log); ++k) XAR_FREE(&log[k]);
  XAR_FREE(&log);
  rlsmem(order);

  int data[30];
  for (int i = 0; i < 30; ++i) data[i] = (i * 7) % 30;
  EXPECT_OOM_SAFE(([&] { sort_partial_order(data, 30, sizeof(int), by_value, nullptr); }),
                  ([&] { EXPECT_EQ(data[1], 7); }));
  for (int i = 0; i < 30; ++i) EXPECT_EQ(data[i], i);
}

}  // namespace

// Priority queue: a binary heap of ints in an xarray.
#include "runtime/order/pqueue.h"

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/order/order_guard.h"
#include "runtime/xar/xar.h"

namespace {

// Without a callback the items' values decide. A three-way comparison gives the sign that the
// difference a - b has wherever that difference does not overflow, and the right sign where it
// would (items of opposite sign far apart).
struct ValueOrder {
  int operator()(int a, int b) const { return (a > b) - (a < b); }
};

struct CallbackOrder {
  pqueue_compare_fn compare;
  void* user_data;
  int operator()(int a, int b) const { return compare(user_data, a, b); }
};

// Whether x is strictly better than y, that is belongs nearer the top: c(y, x) > 0 smallest
// first, c(y, x) < 0 largest first. Equal items never pass each other.
template <class Order, bool kLargest>
inline bool better(const Order& c, int x, int y) {
  return kLargest ? c(y, x) < 0 : c(y, x) > 0;
}

template <class Order, bool kLargest>
void sift_up(int* items, int pos, int item, const Order& c) {
  while (pos > 0) {
    const int parent = (pos - 1) / 2;
    if (!better<Order, kLargest>(c, item, items[parent])) break;  // an equal parent stays above
    items[pos] = items[parent];
    pos = parent;
  }
  items[pos] = item;
}

template <class Order, bool kLargest>
void sift_down(int* items, int n, const Order& c) {
  int i = 0;
  const int item = items[0];
  for (;;) {
    int best = i;
    int best_item = item;
    const int l = 2 * i + 1;
    if (l < n && better<Order, kLargest>(c, items[l], best_item)) best = l, best_item = items[l];
    const int r = l + 1;
    if (r < n && better<Order, kLargest>(c, items[r], best_item)) best = r, best_item = items[r];
    if (best == i) break;
    items[i] = best_item;  // the sifted item moves down: only the child needs writing now
    i = best;
  }
  items[i] = item;
}

template <class Order>
void push_with(pqueue* q, int pos, int item, const Order& c) {
  if (q->direction == PQUEUE_SMALLEST_FIRST)
    sift_up<Order, false>(q->items, pos, item, c);
  else
    sift_up<Order, true>(q->items, pos, item, c);
}

template <class Order>
void pop_with(pqueue* q, const Order& c) {
  if (q->direction == PQUEUE_LARGEST_FIRST)
    sift_down<Order, true>(q->items, q->size, c);
  else
    sift_down<Order, false>(q->items, q->size, c);
}

void release_items(void* context) { XAR_FREE(context); }

}  // namespace

extern "C" {

pqueue* pqueue_create(pqueue_compare_fn compare, void* user_data, int capacity, int direction) {
  int* items = nullptr;
  kel::order::Guard guard;
  guard_open(&guard, release_items, &items);
  items = static_cast<int*>(
      XAR_ALLOC(capacity > 0 ? capacity : 0, sizeof(int), capacity > 0 ? capacity : 1));
  auto* q = items || capacity <= 0 ? static_cast<pqueue*>(getmem(sizeof(pqueue))) : nullptr;
  guard_close(&guard);
  if (!q) {
    XAR_FREE(&items);
    return nullptr;
  }
  q->compare = compare;
  q->user_data = user_data;
  q->direction = direction;
  q->items = items;
  q->capacity = capacity > 0 ? capacity : 0;
  q->size = 0;
  return q;
}

void pqueue_push(pqueue* q, int item) {
  if (!q) return;
  if (q->size >= q->capacity) {
    // The array either grows by one slot or, when it cannot, the queue stays as it was.
    int* slot = static_cast<int*>(xar_alloc_or_extend(&q->items, 1, sizeof(int), 1));
    if (!slot && XAR_COUNT(&q->items) <= q->capacity) return;
    q->capacity += 1;
  }
  const int pos = q->size++;
  if (q->direction != PQUEUE_SMALLEST_FIRST && q->direction != PQUEUE_LARGEST_FIRST) {
    dbg_err_crash("pqueue_push", "unknown direction");
    q->items[pos] = item;
    return;
  }
  if (q->compare)
    push_with(q, pos, item, CallbackOrder{q->compare, q->user_data});
  else
    push_with(q, pos, item, ValueOrder{});
}

int pqueue_pop(pqueue* q) {
  if (!q || q->size <= 0) {
    dbg_err_crash("pqueue_pop", "queue is empty");
    return -1;
  }
  const int result = q->items[0];
  q->size -= 1;
  if (q->size > 0) {
    q->items[0] = q->items[q->size];
    if (q->compare)
      pop_with(q, CallbackOrder{q->compare, q->user_data});
    else
      pop_with(q, ValueOrder{});
  }
  return result;
}

int pqueue_inquire_smallest(const pqueue* q) {
  if (!q || q->size <= 0) {
    order_debug_note("pqueue_inquire_smallest", "queue is empty");
    return -1;
  }
  return q->items[0];
}

int pqueue_is_empty(const pqueue* q) { return !q || q->size <= 0; }

void pqueue_free(pqueue** p_queue) {
  if (!p_queue || !*p_queue) return;
  XAR_FREE(&(*p_queue)->items);
  rlsmem(*p_queue);
  *p_queue = nullptr;
}

}  // extern "C"

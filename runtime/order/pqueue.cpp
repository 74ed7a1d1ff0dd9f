// Priority queue: a binary heap of ints in an xarray, continued in a harray past its ceiling.
#include "runtime/order/pqueue.h"

#include <type_traits>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/order/order_guard.h"
#include "runtime/xar/har.h"
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

// The heap's slots: all in the items xarray, or, once the queue has outgrown it, the slots from
// `flat` on in the overflow harray.
struct Flat {
  int* items;
  int& operator[](int i) const { return items[i]; }
};

struct Split {
  int* items;
  int flat;
  void* const* p_overflow;
  int& operator[](int i) const {
    return i < flat ? items[i]
                    : *static_cast<int*>(har_object(p_overflow, i - flat, nullptr, nullptr));
  }
};

template <class Order, bool kLargest, class Slots>
void sift_up(const Slots& items, int pos, int item, const Order& c) {
  while (pos > 0) {
    const int parent = (pos - 1) / 2;
    const int above = items[parent];
    if (!better<Order, kLargest>(c, item, above)) break;  // an equal parent stays above
    items[pos] = above;
    pos = parent;
  }
  items[pos] = item;
}

// The sift down of the page: the left child against the sifted item, the right one against the
// better of the two.
template <class Order, bool kLargest, class Slots>
void sift_down(const Slots& items, int n, const Order& c) {
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

// The same result when the values decide, found bottom-up: the hole left at the top goes down
// along the better children (the right one only when strictly better) to the bottom, and the item
// comes back up past every item strictly worse than itself. That is the slot the page's sift
// stops at; where they differ, among equal values, the slots hold the same ints. One comparison a
// level on the way down, none against the item, and a few on the way up.
template <bool kLargest, class Slots>
void sift_down(const Slots& items, int n, const ValueOrder&) {
  const int item = items[0];
  int i = 0;
  for (;;) {
    int child = 2 * i + 1;
    if (child >= n) break;
    if (child + 1 < n) {
      const int left = items[child], right = items[child + 1];
      child += kLargest ? right > left : right < left;
    }
    items[i] = items[child];
    i = child;
  }
  while (i > 0) {
    const int parent = (i - 1) / 2;
    const int above = items[parent];
    if (!(kLargest ? item > above : item < above)) break;
    items[i] = above;
    i = parent;
  }
  items[i] = item;
}

template <class Order, class Slots>
void push_with(pqueue* q, const Slots& items, int pos, int item, const Order& c) {
  if (q->direction == PQUEUE_SMALLEST_FIRST)
    sift_up<Order, false>(items, pos, item, c);
  else
    sift_up<Order, true>(items, pos, item, c);
}

template <class Order, class Slots>
void pop_with(pqueue* q, const Slots& items, const Order& c) {
  if (q->direction == PQUEUE_LARGEST_FIRST) {
    if constexpr (std::is_same_v<Order, ValueOrder>)
      sift_down<true>(items, q->size, c);
    else
      sift_down<Order, true>(items, q->size, c);
  } else {
    if constexpr (std::is_same_v<Order, ValueOrder>)
      sift_down<false>(items, q->size, c);
    else
      sift_down<Order, false>(items, q->size, c);
  }
}

// Runs `work` with the queue's slots and order.
template <class Work>
void with_slots(pqueue* q, const Work& work) {
  if (!q->overflow) {
    if (q->compare)
      work(Flat{q->items}, CallbackOrder{q->compare, q->user_data});
    else
      work(Flat{q->items}, ValueOrder{});
    return;
  }
  const Split split{q->items, XAR_COUNT(&q->items), &q->overflow};
  if (q->compare)
    work(split, CallbackOrder{q->compare, q->user_data});
  else
    work(split, ValueOrder{});
}

// One more slot: in the items xarray up to its ceiling, then in the overflow harray. False when
// memory is exhausted (the memory break has been raised); the queue is then as it was.
bool grow(pqueue* q) {
  if (!q->overflow && q->capacity < xar_max_count(sizeof(int))) {
    // Usually the block has room: the slot is counted in place, without the call.
    if (!q->items || !har_append_in_place(reinterpret_cast<unsigned char*>(q->items), 1, nullptr)) {
      const int* slot = static_cast<int*>(xar_alloc_or_extend(&q->items, 1, sizeof(int), 1));
      if (!slot && XAR_COUNT(&q->items) <= q->capacity) return false;
    }
  } else {
    if (!q->overflow) q->overflow = har_alloc(sizeof(int), HAR_MAX_SEGMENT_GROWTH / sizeof(int));
    if (!q->overflow) return false;
    const int before = har_count(&q->overflow);
    har_append(&q->overflow, 1, nullptr);
    if (har_count(&q->overflow) == before) return false;
  }
  q->capacity += 1;
  return true;
}

void release_items(void* context) { XAR_FREE(context); }

}  // namespace

extern "C" {

pqueue* pqueue_create(pqueue_compare_fn compare, void* user_data, int capacity, int direction) {
  int* items = nullptr;
  // Slots past what one xarray holds are added when needed, in the overflow.
  const int slots = capacity <= 0                           ? 0
                    : capacity < xar_max_count(sizeof(int)) ? capacity
                                                            : xar_max_count(sizeof(int));
  kel::order::Guard guard;
  guard_open(&guard, release_items, &items);
  items = static_cast<int*>(XAR_ALLOC(slots, sizeof(int), capacity > 0 ? capacity : 1));
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
  q->capacity = slots;
  q->size = 0;
  q->overflow = nullptr;
  return q;
}

void pqueue_push(pqueue* q, int item) {
  if (!q) return;
  if (q->size >= q->capacity && !grow(q)) return;
  const int pos = q->size++;
  if (q->direction != PQUEUE_SMALLEST_FIRST && q->direction != PQUEUE_LARGEST_FIRST) {
    dbg_err_crash("pqueue_push", "unknown direction");
    with_slots(q, [&](const auto& items, const auto&) { items[pos] = item; });
    return;
  }
  with_slots(q, [&](const auto& items, const auto& c) { push_with(q, items, pos, item, c); });
}

int pqueue_pop(pqueue* q) {
  if (!q || q->size <= 0) {
    dbg_err_crash("pqueue_pop", "queue is empty");
    return -1;
  }
  const int result = q->items[0];
  q->size -= 1;
  if (q->size > 0) {
    with_slots(q, [&](const auto& items, const auto& c) {
      items[0] = items[q->size];
      pop_with(q, items, c);
    });
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
  har_free(&(*p_queue)->overflow);
  rlsmem(*p_queue);
  *p_queue = nullptr;
}

}  // extern "C"

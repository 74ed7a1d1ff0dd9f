// Partial order with cycle breaking: edges from the relation, a depth-first search that cuts the
// weakest edge of every loop it closes, and placement through the priority queue.
#include "runtime/order/partial_order.h"

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/order/order_guard.h"
#include "runtime/order/pqueue.h"
#include "runtime/text/kel_printf.h"
#include "runtime/xar/xar.h"

using namespace kel::order;

namespace {

constexpr int kPlaced = -10;
constexpr int kPushed = -1;  // the search entered a node and stacked it
enum State { kUnsearched = 0, kOnStack = 1, kSearched = 2, kListHead = 3 };

struct Sort {
  void* base;
  int n;
  sortpartl_relation_fn relation;
  sortpartl_key_fn placement_key;
  sortpartl_cut_fn cut_choice;
  void* user_data;
  int*** loop_log;
  // Everything below is released by the trap cleanup when a jump leaves the call.
  sortpartl_node* nodes;
  void** order;
  int* stack;         // n + 1 node indices, then n + 1 edge indices
  int* pending_loop;  // a loop being logged
  int** logged;       // the loops of this call, handed to the caller's log in one step at the end
  pqueue* queue;
  // The walk over the unsearched nodes.
  sortpartl_node head;
  sortpartl_node* walk_next;
  int last;  // placement scan position
};

inline int strength(int info) { return info & 7; }
inline int* stack_node(Sort* s) { return s->stack; }
inline int* stack_edge(Sort* s) { return s->stack + s->n + 1; }
inline int index_of(const Sort* s, const sortpartl_node* node) { return int(node - s->nodes); }

void release_all(void* context) {
  Sort* s = static_cast<Sort*>(context);
  if (s->nodes)
    for (int i = 0; i < s->n; ++i) XAR_FREE(&s->nodes[i].edges);
  rlsmem(s->nodes);
  rlsmem(s->order);
  rlsmem(s->stack);
  XAR_FREE(&s->pending_loop);
  if (s->logged)
    for (int k = XAR_COUNT(&s->logged) - 1; k >= 0; --k) XAR_FREE(&s->logged[k]);
  XAR_FREE(&s->logged);
  pqueue_free(&s->queue);
  s->nodes = nullptr;
  s->order = nullptr;
  s->stack = nullptr;
}

// ---- edges ----

void add_edge(Sort* s, int tail, int head, int info) {
  const sortpartl_edge edge{head, info};
  xar_alloc_or_append(&s->nodes[tail].edges, 1, sizeof(sortpartl_edge), 1, &edge);
  s->nodes[head].n_u_p += 1;
}

void log_loop(Sort* s, const int* members, int count) {
  int smallest = 0;
  for (int k = 1; k < count; ++k)
    if (members[k] < members[smallest]) smallest = k;
  s->pending_loop = static_cast<int*>(XAR_ALLOC(0, sizeof(int), count + 1));
  for (int k = 0; k <= count; ++k)
    XAR_APPEND(&s->pending_loop, 1, &members[(smallest + k) % count]);
  xar_alloc_or_append(&s->logged, 1, sizeof(int*), 4, &s->pending_loop);
  s->pending_loop = nullptr;
}

// Which of e1 = t1 -> h1 (strength s1) and e2 = t2 -> h2 (s2) to cut: 1 the second, -1 the first,
// 0 when they are the same edge. The weaker goes; then the caller's choice; then the larger tail,
// then the larger head.
int compare_edges(const Sort* s, int t1, int h1, int s1, int t2, int h2, int s2) {
  if (s1 != s2) return s2 < s1 ? 1 : -1;
  if (s->cut_choice) {
    const int c = s->cut_choice(s->base, t1, h1, t2, h2, s->user_data);
    if (c > 0) return -1;
    if (c < 0) return 1;
  }
  if (t1 != t2) return t2 > t1 ? 1 : -1;
  if (h1 != h2) return h2 > h1 ? 1 : -1;
  return 0;
}

void sortpartl_set_direct_refs(Sort* s) {
  bool flagged = false;
  for (int r = 0; r < s->n; ++r) {
    for (int t = r + 1; t < s->n; ++t) {
      int code = s->relation(s->base, r, t, s->user_data);
      if (code < 0) code = 0;
      const int a = (code >> SORTPARTL_BEFORE_SHIFT) & 7, b = (code >> SORTPARTL_AFTER_SHIFT) & 7;
      const int info_a = (code >> SORTPARTL_BEFORE_SHIFT) & 15,
                info_b = (code >> SORTPARTL_AFTER_SHIFT) & 15;
      if ((info_a | info_b) & 8) flagged = true;
      const bool both_unbreakable = a == SORTPARTL_UNBREAKABLE && b == SORTPARTL_UNBREAKABLE;
      if (a <= 0 || b <= 0) {
        if (a > b) add_edge(s, r, t, info_a);
        if (b > a) add_edge(s, t, r, info_b);
        continue;
      }
      // A two-node cycle loses its weaker edge, as a longer loop would. When that edge is
      // unbreakable (two strength-4 edges, or one against a stronger edge) the loop stays whole,
      // as it would around three nodes, and its items are left unplaced.
      if (s->loop_log && a > 1 && b > 1 && !both_unbreakable) {
        const int members[2] = {r, t};
        log_loop(s, members, 2);
      }
      const bool cut_r_t = !both_unbreakable && compare_edges(s, r, t, a, t, r, b) < 0;
      if ((cut_r_t ? a : b) == SORTPARTL_UNBREAKABLE) {
        info_note("sortpartl_set_direct_refs", "unbreakable loop found -- between %d and %d", r, t);
        add_edge(s, r, t, info_a);
        add_edge(s, t, r, info_b);
      } else {
        if (!cut_r_t) add_edge(s, r, t, info_a);
        if (cut_r_t) add_edge(s, t, r, info_b);
      }
    }
  }
  if (flagged)
    order_debug_note("get_partial_order_with_circles", "ORDER_PROPAGATE not implemented yet");
}

// ---- cycle breaking ----

void sortpartl_set_state(Sort* s, sortpartl_node* node, int state) {
  if (!node) return;
  if (state == kOnStack && (!node->previous || !node->next))
    dbg_err_crash("sortpartl_set_state", "trying to visit an unlinked node");
  if (state == kSearched && node->state != kSearched) {
    sortpartl_node* after = node->next;
    if (!node->previous || !after) {
      dbg_err_crash("sortpartl_set_state", "invalid NULL list");
    } else {
      node->previous->next = after;
      after->previous = node->previous;
    }
    if (s->walk_next == node) s->walk_next = after ? after : &s->head;
    node->previous = node->next = nullptr;
  }
  if (state > kListHead) dbg_err_crash("sortpartl_set_state", "unknown state %d", state);
  node->state = state;
}

void sortpartl_decr_n_unplaced_parents(Sort* s, int v, pqueue* queue) {
  sortpartl_node& node = s->nodes[v];
  if (node.n_u_p <= 0) {
    dbg_err_crash("sortpartl_decr_n_unplaced_parents", "Inconsistency in parent count");
    return;
  }
  if (--node.n_u_p == 0 && queue && v < s->last) pqueue_push(queue, v);
}

// Compares the edges followed by stack entries a and b: 1 cuts b's, -1 a's.
int sortpartl_which_edge_to_cut(Sort* s, int a, int b) {
  if (a == b) return -1;
  const int ta = stack_node(s)[a], ea = stack_edge(s)[a], tb = stack_node(s)[b],
            eb = stack_edge(s)[b];
  if (ta < 0 || ea < 0 || tb < 0 || eb < 0) {
    dbg_err_crash("sortpartl_which_edge_to_cut", "invalid_input");
    return -1;
  }
  const sortpartl_edge& x = s->nodes[ta].edges[ea];
  const sortpartl_edge& y = s->nodes[tb].edges[eb];
  return compare_edges(s, ta, x.target, strength(x.info), tb, y.target, strength(y.info));
}

// Cuts the weakest edge among stack entries first .. first + count - 1: 1, or 2 when it is
// unbreakable.
int sortpartl_select_edge_to_cut(Sort* s, int first, int count) {
  int best = first;
  for (int i = first + 1; i < first + count; ++i)
    if (sortpartl_which_edge_to_cut(s, best, i) == 1) best = i;
  sortpartl_edge& edge = s->nodes[stack_node(s)[best]].edges[stack_edge(s)[best]];
  if (strength(edge.info) == SORTPARTL_UNBREAKABLE) {
    info_note("sortpartl_select_edge_to_cut", "unable to cut loop -- only unbreakable edges found");
    return 2;
  }
  const int head = edge.target;
  edge.target = -1;
  sortpartl_decr_n_unplaced_parents(s, head, nullptr);
  return 1;
}

// Node v was met again at depth d: the loop is the stack from v's own entry to d - 1.
int sortpartl_close_stack_loop(Sort* s, int v, int d) {
  const int p = s->nodes[v].depth;
  if (p < 0 || p >= d || stack_node(s)[p] != v) {
    dbg_err_crash("sortpartl_close_stack_loop", "internal error");
    return 0;
  }
  const int length = d - p;
  if (length <= 1) {
    dbg_err_crash("sortpartl_find_cut_loop_recur", "X- invalid %d-node circle!", length);
    return 0;
  }
  if (s->loop_log) {
    bool soft = false;
    for (int k = p; k < d; ++k)
      soft |= strength(s->nodes[stack_node(s)[k]].edges[stack_edge(s)[k]].info) == SORTPARTL_SOFT;
    if (!soft) log_loop(s, stack_node(s) + p, length);
  }
  return sortpartl_select_edge_to_cut(s, p, length);
}

// One step of the search: the result for node v at depth d, or kPushed when v was stacked.
int sortpartl_enter(Sort* s, int v, int d) {
  if (v < 0 || v >= s->n) return 0;
  sortpartl_node& node = s->nodes[v];
  switch (node.state) {
    case kOnStack: return sortpartl_close_stack_loop(s, v, d);
    case kSearched: return 0;
    case kUnsearched: break;
    default: dbg_err_crash("sortpartl_find_cut_loop_recur", "unknown state"); return 0;
  }
  sortpartl_set_state(s, &node, kOnStack);
  node.depth = d;
  if (d >= s->n) {
    // The name without its "sortpartl_" prefix is kept as the system has always reported it.
    dbg_err_crash("find_cut_loop_recur", "stack handling error");
    sortpartl_set_state(s, &node, kSearched);
    node.depth = -1;
    return 0;
  }
  stack_node(s)[d] = v;
  stack_edge(s)[d] = -1;
  return kPushed;
}

// A frame ends: a node above a cut edge goes back to the unsearched ones, any other is searched.
void sortpartl_leave(Sort* s, int v, int d, int result) {
  sortpartl_node& node = s->nodes[v];
  if (result == 1 && node.depth == d)
    sortpartl_set_state(s, &node, kUnsearched);
  else if (node.state != kSearched)
    sortpartl_set_state(s, &node, kSearched);
  node.depth = -1;
}

// The depth-first search from `root`: 0 nothing cut on the way, 1 an edge was cut, 2 a loop cannot
// be cut. The frames live in the explicit stack, so deep graphs need no deep recursion.
int sortpartl_find_cut_loop_recur(Sort* s, int root) {
  int result = sortpartl_enter(s, root, 0);
  if (result != kPushed) return result;
  int d = 0;
  result = 0;
  for (;;) {
    const int v = stack_node(s)[d];
    sortpartl_edge* edges = s->nodes[v].edges;
    if (result == 1 && edges[stack_edge(s)[d]].target < 0) result = 0;  // this very edge was cut
    if (result == 0) {
      const int count = XAR_COUNT(&s->nodes[v].edges);
      int e = stack_edge(s)[d] + 1;
      while (e < count && edges[e].target < 0) ++e;
      if (e < count) {
        stack_edge(s)[d] = e;
        const int step = sortpartl_enter(s, edges[e].target, d + 1);
        if (step == kPushed)
          ++d;
        else
          result = step;
        continue;
      }
    }
    stack_node(s)[d] = stack_edge(s)[d] = -1;
    sortpartl_leave(s, v, d, result);
    if (d == 0) return result;
    --d;
  }
}

void sortpartl_resolve_circular_refs(Sort* s) {
  const int n = s->n;
  sortpartl_node* head = &s->head;
  head->state = kListHead;
  head->previous = head->next = head;
  for (int i = 0; i < n; ++i) {
    sortpartl_node* node = &s->nodes[i];
    node->state = kUnsearched;
    node->depth = -1;
    node->previous = head->previous;
    node->next = head;
    head->previous->next = node;
    head->previous = node;
  }
  s->stack = static_cast<int*>(getmem(2 * (n + 1) * int(sizeof(int))));
  if (!s->stack) return;
  for (int k = 0; k < 2 * (n + 1); ++k) s->stack[k] = -1;
  const long long limit = static_cast<long long>(n) * (n + 1) / 2 + 2;
  long long passes = 0;
  sortpartl_node* current = head->next;
  while (head->next != head && passes < limit) {
    s->walk_next = current->next;
    if (current == head)
      passes += 1;
    else if (current->state != kUnsearched)
      dbg_err_crash("sortpartl_resolve_circular_refs", "invalid list of unsearched nodes");
    else
      sortpartl_find_cut_loop_recur(s, index_of(s, current));
    current = s->walk_next;
  }
  if (passes >= limit) dbg_err_crash("sortpartl_resolve_circular_refs", "bug found");
  rlsmem(s->stack);
  s->stack = nullptr;
}

// ---- placement ----

int placement_order(void* user_data, int a, int b) {
  const Sort* s = static_cast<const Sort*>(user_data);
  const int c = s->placement_key(s->base, a, b, s->user_data);
  return c ? c : a - b;
}

int sortpartl_get_next_unplaced_node(Sort* s) {
  if (s->placement_key && s->last < s->n) {
    for (int i = 0; i < s->n; ++i)
      if (s->nodes[i].n_u_p == 0) pqueue_push(s->queue, i);
    s->last = s->n;
  }
  if (pqueue_is_empty(s->queue)) {
    for (int i = s->last + 1; i < s->n; ++i) {
      if (s->nodes[i].n_u_p == 0) {
        s->last = i;
        return i;
      }
    }
    return -1;
  }
  const int v = pqueue_pop(s->queue);
  if (v >= s->last) dbg_err_crash("sortpartl_get_next_unplaced_node", "priority queue looks bad");
  return v;
}

int sortpartl_order_items(Sort* s) {
  s->queue = s->placement_key
                 ? pqueue_create(placement_order, s, s->n / 3 + 1, PQUEUE_SMALLEST_FIRST)
                 : pqueue_create(nullptr, nullptr, s->n / 3 + 1, PQUEUE_SMALLEST_FIRST);
  s->last = -1;
  int placed = 0;
  for (int v; (v = sortpartl_get_next_unplaced_node(s)) >= 0;) {
    sortpartl_node& node = s->nodes[v];
    if (node.n_u_p != 0) {
      dbg_err_crash("sortpartl_order_items", "unvalid next node");
      continue;
    }
    s->order[placed++] = node.item;
    node.n_u_p = kPlaced;
    const int count = XAR_COUNT(&node.edges);
    for (int e = 0; e < count; ++e)
      if (node.edges[e].target >= 0)
        sortpartl_decr_n_unplaced_parents(s, node.edges[e].target, s->queue);
  }
  pqueue_free(&s->queue);
  return placed;
}

const char* strength_prefix(int info) {
  switch (strength(info)) {
    case SORTPARTL_SOFT: return "S";
    case SORTPARTL_HARD: return "H";
    case SORTPARTL_UNBREAKABLE: return "U";
    default: return "";
  }
}

struct Walk {
  int* block;
};

void release_walk(void* context) {
  Walk* w = static_cast<Walk*>(context);
  rlsmem(w->block);
  w->block = nullptr;
}

}  // namespace

extern "C" {

int get_partial_order_with_circles(void* base, int n, int stride, sortpartl_relation_fn relation,
                                   sortpartl_key_fn placement_key, sortpartl_cut_fn cut_choice,
                                   void* user_data, void* /*spare_arg*/, int*** loop_log,
                                   void*** p_order) {
  if (p_order) *p_order = nullptr;
  if (n <= 0) return 0;
  Sort s{};
  s.base = base;
  s.n = n;
  s.relation = relation;
  s.placement_key = placement_key;
  s.cut_choice = cut_choice;
  s.user_data = user_data;
  s.loop_log = loop_log;
  Guard guard;
  guard_open(&guard, release_all, &s);
  s.order = static_cast<void**>(getmem(n * int(sizeof(void*))));
  if (s.order && n == 1) {
    s.order[0] = base;
  } else if (s.order) {
    s.nodes = static_cast<sortpartl_node*>(getmem(n * int(sizeof(sortpartl_node))));
    if (s.nodes) {
      for (int i = 0; i < n; ++i) s.nodes[i].item = static_cast<unsigned char*>(base) + i * stride;
      sortpartl_set_direct_refs(&s);
      sortpartl_resolve_circular_refs(&s);
      const int placed = sortpartl_order_items(&s);
      const int logged = s.logged ? XAR_COUNT(&s.logged) : 0;
      // The log either takes every loop of the call or, when it cannot grow, stays as it was.
      if (logged && xar_alloc_or_append(loop_log, logged, sizeof(int*), 1, s.logged))
        XAR_RESIZE(&s.logged, 0);
      if (placed < n) {
        order_debug_note("get_partial_order_with_circles", "unable to resolve all circles");
        rlsmem(s.order);
        s.order = nullptr;
        guard_close(&guard);
        release_all(&s);
        return SORTPARTL_UNRESOLVED;
      }
    }
  }
  guard_close(&guard);
  const bool complete = s.order && (n == 1 || s.nodes);  // a failed allocation leaves no order
  if (complete && p_order) {
    *p_order = s.order;
    s.order = nullptr;  // handed over
  }
  release_all(&s);
  return 0;
}

void sortpartl_dump_nodes(const sortpartl_node* nodes, int n, FILE* stream) {
  if (!nodes || !stream) return;
  for (int i = 0; i < n; ++i) {
    const sortpartl_node& node = nodes[i];
    kel_fprintf(stream, "Node %-7d: depth %d, n_u_p %d\n", i, node.depth, node.n_u_p);
    kel_fprintf(stream, "     %-7s  ", " ");
    const int count = node.edges ? XAR_COUNT(&node.edges) : 0;
    for (int e = 0; e < count; ++e)
      kel_fprintf(stream, "%s%d ", strength_prefix(node.edges[e].info), node.edges[e].target);
    kel_fprintf(stream, "\n");
  }
}

void sortpartl_dump_nodes_file(const sortpartl_node* nodes, int n) {
  FILE* f = fopen("nodelist.dat", "w");
  if (!f) {
    message_print("Can't open file, exiting\n");
    return;
  }
  sortpartl_dump_nodes(nodes, n, f);
  fclose(f);
}

void sortpartl_print_nodes(const sortpartl_node* nodes, int n) {
  sortpartl_dump_nodes(nodes, n, stdout);
}

void sortpartl_print_loops(const sortpartl_node* nodes, int n, int start) {
  if (!nodes || start < 0 || start >= n) return;
  Walk w{nullptr};
  Guard guard;
  guard_open(&guard, release_walk, &w);
  w.block = static_cast<int*>(getmem(3 * n * int(sizeof(int))));
  if (w.block) {
    int* path = w.block;
    int* cursor = w.block + n;
    int* seen = w.block + 2 * n;
    path[0] = start;
    cursor[0] = -1;
    seen[start] = 1;
    for (int depth = 1; depth > 0;) {
      const sortpartl_node& node = nodes[path[depth - 1]];
      const int e = ++cursor[depth - 1];
      if (e >= (node.edges ? XAR_COUNT(&node.edges) : 0)) {
        --depth;
        continue;
      }
      const int t = node.edges[e].target;
      if (t < 0 || t >= n) continue;
      if (t == start) {
        message_print("Found a loop for %d!  Length = %d:\n", start, depth);
        for (int k = 0; k < depth; ++k) message_print("   %d\n", path[k]);
        message_print("   %d\n", start);
        message_print("\n");
      } else if (!seen[t]) {
        seen[t] = 1;
        path[depth] = t;
        cursor[depth++] = -1;
      }
    }
  }
  guard_close(&guard);
  release_walk(&w);
}

}  // extern "C"

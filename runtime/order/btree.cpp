// Plain and red-black search trees with pooled nodes.
#include "runtime/order/btree.h"

#include <string.h>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/order/order_guard.h"
#include "runtime/text/kel_printf.h"
#include "runtime/xar/xar.h"

using namespace kel::order;

namespace {

constexpr int kDefaultChunk = 512;
constexpr int kPlainChunkLimit = 8192;
constexpr int kRedBlackChunkLimit = 6553;

inline bool is_plain(const btree* t) { return t->node_size == int(sizeof(btree_node)); }
inline int chunk_limit(const btree* t) {
  return is_plain(t) ? kPlainChunkLimit : kRedBlackChunkLimit;
}

inline rbtree_node* rb(btree_node* n) { return reinterpret_cast<rbtree_node*>(n); }
inline bool is_red(btree_node* n) { return n && rb(n)->colour == RBTREE_RED; }
inline bool is_black(btree_node* n) { return !is_red(n); }
inline void set_colour(btree_node* n, int colour) { rb(n)->colour = colour; }

// ---- node pools ----

struct NewChunk {
  void* chunk;
};

void release_new_chunk(void* context) {
  NewChunk* c = static_cast<NewChunk*>(context);
  rlsmem(c->chunk);
  c->chunk = nullptr;
}

// Appends a pool of `capacity` nodes; false (reported by the memory break) when it cannot.
bool add_pool(btree* t, int capacity) {
  NewChunk fresh{nullptr};
  Guard guard;
  guard_open(&guard, release_new_chunk, &fresh);
  fresh.chunk = getmem(capacity * t->node_size);
  btree_pool record{capacity, 0, fresh.chunk, -1};
  const bool ok = fresh.chunk && xar_alloc_or_append(&t->pools, 1, sizeof(btree_pool), 5, &record);
  guard_close(&guard);
  if (!ok) release_new_chunk(&fresh);
  return ok;
}

btree_node* take_node(btree* t) {
  const int count = XAR_COUNT(&t->pools);
  const int s = t->node_size;
  unsigned char* node = nullptr;
  if (t->free_nodes > 0) {
    t->free_nodes -= 1;
    for (int p = count - 1; p >= 0 && !node; --p) {
      btree_pool& pool = t->pools[p];
      if (pool.free_head < 0) continue;
      node = static_cast<unsigned char*>(pool.chunk) + pool.free_head * s;
      memcpy(&pool.free_head, node, sizeof(int));
    }
  }
  if (!node) {
    btree_pool* last = count ? &t->pools[count - 1] : nullptr;
    if (!last || last->used >= last->capacity) {
      int capacity = last ? 2 * last->capacity : kDefaultChunk;
      if (capacity > chunk_limit(t)) capacity = chunk_limit(t);
      if (!add_pool(t, capacity)) return nullptr;
      last = &t->pools[count];
    }
    node = static_cast<unsigned char*>(last->chunk) + last->used++ * s;
  }
  memset(node, 0, size_t(s));
  return reinterpret_cast<btree_node*>(node);
}

// Only red-black trees give nodes back.
void give_back(btree* t, btree_node* n) {
  const unsigned char* p = reinterpret_cast<unsigned char*>(n);
  for (int k = XAR_COUNT(&t->pools) - 1; k >= 0; --k) {
    btree_pool& pool = t->pools[k];
    const unsigned char* chunk = static_cast<const unsigned char*>(pool.chunk);
    if (p < chunk || p >= chunk + pool.capacity * t->node_size) continue;
    const int offset = int(p - chunk);
    if (offset % t->node_size || offset / t->node_size >= pool.used) return;  // not a node of ours
    memcpy(n, &pool.free_head, sizeof(int));
    pool.free_head = offset / t->node_size;
    t->free_nodes += 1;
    return;
  }
}

struct NewTree {
  btree* tree;
};

void release_new_tree(void* context) {
  NewTree* nt = static_cast<NewTree*>(context);
  if (!nt->tree) return;
  XAR_FREE(&nt->tree->pools);
  rlsmem(nt->tree);
  nt->tree = nullptr;
}

btree* create(int initial, int node_size, int limit) {
  const int capacity = initial <= 0 ? kDefaultChunk : initial < limit ? initial : limit;
  NewTree nt{nullptr};
  Guard guard;
  guard_open(&guard, release_new_tree, &nt);
  nt.tree = static_cast<btree*>(getmem(sizeof(btree)));
  if (nt.tree) nt.tree->node_size = node_size;
  const bool ok = nt.tree && add_pool(nt.tree, capacity);
  guard_close(&guard);
  if (!ok) release_new_tree(&nt);
  return nt.tree;
}

void free_tree(btree** p_tree) {
  if (!p_tree || !*p_tree) return;
  btree* t = *p_tree;
  for (int k = XAR_COUNT(&t->pools) - 1; k >= 0; --k) rlsmem(t->pools[k].chunk);
  XAR_FREE(&t->pools);
  rlsmem(t);
  *p_tree = nullptr;
}

inline btree_node* extreme(btree_node* n, bool leftmost) {
  if (n)
    while (btree_node* c = leftmost ? n->left : n->right) n = c;
  return n;
}

// ---- red-black balancing ----

void rotate_left(btree* t, btree_node* x) {
  btree_node* y = x->right;
  x->right = y->left;
  if (y->left) y->left->parent = x;
  y->parent = x->parent;
  if (!x->parent)
    t->root = y;
  else if (x == x->parent->left)
    x->parent->left = y;
  else
    x->parent->right = y;
  y->left = x;
  x->parent = y;
}

void rotate_right(btree* t, btree_node* x) {
  btree_node* y = x->left;
  x->left = y->right;
  if (y->right) y->right->parent = x;
  y->parent = x->parent;
  if (!x->parent)
    t->root = y;
  else if (x == x->parent->right)
    x->parent->right = y;
  else
    x->parent->left = y;
  y->right = x;
  x->parent = y;
}

void insert_fixup(btree* t, btree_node* z) {
  while (is_red(z->parent)) {
    btree_node* p = z->parent;
    btree_node* g = p->parent;  // a red parent is never the root
    const bool left = p == g->left;
    btree_node* uncle = left ? g->right : g->left;
    if (is_red(uncle)) {
      set_colour(p, RBTREE_BLACK);
      set_colour(uncle, RBTREE_BLACK);
      set_colour(g, RBTREE_RED);
      z = g;
      continue;
    }
    if (z == (left ? p->right : p->left)) {
      z = p;
      left ? rotate_left(t, z) : rotate_right(t, z);
      p = z->parent;
    }
    set_colour(p, RBTREE_BLACK);
    set_colour(g, RBTREE_RED);
    left ? rotate_right(t, g) : rotate_left(t, g);
  }
  set_colour(t->root, RBTREE_BLACK);
}

void delete_fixup(btree* t, btree_node* x) {
  while (x != t->root && is_black(x)) {
    btree_node* p = x->parent;
    const bool left = x == p->left;
    btree_node* w = left ? p->right : p->left;
    if (is_red(w)) {
      set_colour(w, RBTREE_BLACK);
      set_colour(p, RBTREE_RED);
      left ? rotate_left(t, p) : rotate_right(t, p);
      w = left ? p->right : p->left;
    }
    btree_node* near = left ? w->left : w->right;
    btree_node* far = left ? w->right : w->left;
    if (is_black(near) && is_black(far)) {
      set_colour(w, RBTREE_RED);
      x = p;
      continue;
    }
    if (is_black(far)) {
      set_colour(near, RBTREE_BLACK);
      set_colour(w, RBTREE_RED);
      left ? rotate_right(t, w) : rotate_left(t, w);
      w = left ? p->right : p->left;
      far = left ? w->right : w->left;
    }
    set_colour(w, rb(p)->colour);
    set_colour(p, RBTREE_BLACK);
    set_colour(far, RBTREE_BLACK);
    left ? rotate_left(t, p) : rotate_right(t, p);
    x = t->root;
  }
  set_colour(x, RBTREE_BLACK);
}

}  // namespace

extern "C" {

btree* btree_create(int initial) { return create(initial, sizeof(btree_node), kPlainChunkLimit); }
btree* rbtree_create(int initial) {
  return create(initial, sizeof(rbtree_node), kRedBlackChunkLimit);
}
void btree_free(btree** p_tree) { free_tree(p_tree); }
void rbtree_free(btree** p_tree) { free_tree(p_tree); }

int insert_into_btree(btree* t, btree_node** p_node, int key, btree_compare_fn compare, int mode) {
  if (!t || !p_node) return 0;
  btree_node* parent = nullptr;
  btree_node** link = &t->root;
  for (btree_node* cur = t->root; cur; cur = *link) {
    const int rc = compare(cur->key, key);
    bool go_left = rc > 0;
    if (rc == 0) {
      if (mode == BTREE_UNIQUE) {
        if (!*p_node) *p_node = cur;
        return 0;
      }
      if (mode != BTREE_DUP_LEFT && mode != BTREE_DUP_RIGHT) {
        message_print("Illegal mode in insert_into_btree().\n");
        return 0;
      }
      go_left = mode == BTREE_DUP_LEFT;
    }
    parent = cur;
    link = go_left ? &cur->left : &cur->right;
  }
  btree_node* node = *p_node;
  if (!node && !(node = take_node(t))) return 0;  // taken before anything is linked
  node->parent = parent;
  node->left = node->right = nullptr;
  node->key = key;
  *link = node;
  *p_node = node;
  return 1;
}

btree_node* btree_insert(btree* t, int key, btree_compare_fn compare, int mode) {
  btree_node* node = nullptr;
  insert_into_btree(t, &node, key, compare, mode);
  return node;
}

int btree_insert_node(btree* t, btree_node* node, btree_compare_fn compare, int mode) {
  return node ? insert_into_btree(t, &node, node->key, compare, mode) : 0;
}

btree_node* next_btree_node(btree_node** p_root, btree_node* current, int mode) {
  if (mode != BTREE_ASCENDING && mode != BTREE_DESCENDING) {
    message_print("Unknown mode in next_btree_node()\n");
    return nullptr;
  }
  const bool up = mode == BTREE_ASCENDING;
  if (!current) return extreme(p_root ? *p_root : nullptr, up);
  if (btree_node* c = up ? current->right : current->left) return extreme(c, up);
  btree_node* n = current;
  btree_node* p = n->parent;
  while (p && n == (up ? p->right : p->left)) {
    n = p;
    p = p->parent;
  }
  return p;
}

btree_node* btree_find(const btree* t, int key, btree_compare_fn compare) {
  btree_node* n = t ? t->root : nullptr;
  while (n) {
    const int c = compare(key, n->key);
    if (c == 0) break;
    n = c < 0 ? n->left : n->right;
  }
  return n;
}

int btree_find_neighbours(btree_node** p_root, int key, btree_compare_fn compare, btree_node** node,
                          btree_node** lower, btree_node** upper) {
  btree_node *lo = nullptr, *hi = nullptr, *n = p_root ? *p_root : nullptr;
  while (n) {
    const int c = compare(key, n->key);
    if (c == 0) break;
    if (c < 0) {
      hi = n;
      n = n->left;
    } else {
      lo = n;
      n = n->right;
    }
  }
  if (node) *node = n;
  if (lower) *lower = n ? nullptr : lo;
  if (upper) *upper = n ? nullptr : hi;
  return n != nullptr;
}

rbtree_node* rbtree_insert(btree* t, int key, btree_compare_fn compare) {
  if (!t || !compare) return nullptr;
  btree_node* node = take_node(t);
  if (!node) return nullptr;
  btree_node* placed = node;
  if (!insert_into_btree(t, &placed, key, compare, BTREE_UNIQUE)) {
    give_back(t, node);
    return nullptr;
  }
  set_colour(node, RBTREE_RED);
  insert_fixup(t, node);
  return rb(node);
}

int rbtree_delete_node(btree* t, rbtree_node* node) {
  btree_node* z = &node->base;
  btree_node* y = z->left && z->right ? extreme(z->right, true) : z;  // the in-order successor
  btree_node* x = y->left ? y->left : y->right;
  rbtree_node placeholder{{nullptr, nullptr, nullptr, 0}, RBTREE_BLACK};
  if (!x) x = &placeholder.base;
  x->parent = y->parent;
  if (!y->parent)
    t->root = x;
  else if (y == y->parent->left)
    y->parent->left = x;
  else
    y->parent->right = x;
  if (y != z) z->key = y->key;
  if (rb(y)->colour == RBTREE_BLACK) delete_fixup(t, x);
  if (x == &placeholder.base) {
    btree_node* p = placeholder.base.parent;
    if (!p)
      t->root = nullptr;
    else if (p->left == x)
      p->left = nullptr;
    else
      p->right = nullptr;
  }
  give_back(t, y);
  return 1;
}

int rbtree_delete(btree* t, int key, btree_compare_fn compare) {
  if (!t || !compare) return 0;
  btree_node* n = btree_find(t, key, compare);
  return n ? rbtree_delete_node(t, rb(n)) : 0;
}

void rbtree_print_node(btree_node* node, btree_print_key_fn print_key, int depth) {
  if (!node) return;
  rbtree_print_node(node->right, print_key, depth + 1);
  char format[32];  // "%<3 x depth>s [%c] ": the print engine takes no '*' width
  kel_sprintf(format, "%%%ds [%%c] ", 3 * depth);
  message_print(format, " ", rb(node)->colour == RBTREE_BLACK ? 'B' : 'R');
  print_key(node->key);
  message_print("\n");
  rbtree_print_node(node->left, print_key, depth + 1);
}

void rbtree_print(btree_node** p_root, btree_print_key_fn print_key) {
  rbtree_print_node(p_root ? *p_root : nullptr, print_key, 0);
  message_print("\n\n");
}

}  // extern "C"

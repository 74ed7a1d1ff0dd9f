// Plain and red-black search trees over int keys (often pointers to caller records), ordered by a
// caller comparison. Nodes come from per-tree pools of chunks that double in size, so inserting
// rarely allocates and freeing the tree releases everything at once.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C

// < 0 when a orders before b, 0 when equal, > 0 when after.
typedef int (*btree_compare_fn)(int a, int b);
typedef void (*btree_print_key_fn)(int key);

typedef struct btree_node {
  struct btree_node* parent;
  struct btree_node* left;
  struct btree_node* right;
  int key;
} btree_node;

enum { RBTREE_RED = 0, RBTREE_BLACK = 1 };

typedef struct rbtree_node {
  btree_node base;
  int colour;  // RBTREE_RED or RBTREE_BLACK
} rbtree_node;

// One chunk of nodes. A freed node keeps the index of the next freed node in its first word.
typedef struct btree_pool {
  int capacity;   // nodes in the chunk
  int used;       // nodes handed out so far (never decreases)
  void* chunk;    // getmem block of capacity x node size bytes
  int free_head;  // first freed node of this chunk, -1 when none
} btree_pool;

typedef struct btree {
  btree_node* root;
  btree_pool* pools;  // xarray, extension 5
  int node_size;      // sizeof(btree_node) or sizeof(rbtree_node)
  int free_nodes;     // freed nodes waiting in the pools' free lists
} btree;

// Insertion modes for an equal key: refuse it, or put it left or right of the one present.
enum { BTREE_UNIQUE = 0, BTREE_DUP_LEFT = 1, BTREE_DUP_RIGHT = 2 };
// Step directions.
enum { BTREE_ASCENDING = 0, BTREE_DESCENDING = 1 };

// First chunk of `initial` nodes: 512 when 0, at most 8192 (plain) or 6553 (red-black).
btree* btree_create(int initial);
btree* rbtree_create(int initial);
// Releases every chunk, the pools and the record; nulls *p_tree. Null is accepted.
void btree_free(btree** p_tree);
void rbtree_free(btree** p_tree);

// Inserts `key`, using *p_node when it holds a node, else a pool node stored there. 1 inserted,
// 0 not (mode 0 with an equal key: *p_node then holds the existing node unless one was passed in).
int insert_into_btree(btree* tree, btree_node** p_node, int key, btree_compare_fn compare,
                      int mode);
// The new node; with mode 0 and an equal key, the existing one.
btree_node* btree_insert(btree* tree, int key, btree_compare_fn compare, int mode);
int btree_insert_node(btree* tree, btree_node* node, btree_compare_fn compare, int mode);
// In-order step; a null current gives the first node of that order; null at the end.
btree_node* next_btree_node(btree_node** p_root, btree_node* current, int mode);
btree_node* btree_find(const btree* tree, int key, btree_compare_fn compare);
// 1 and *node when found; else 0 with the nearest smaller (*lower) and larger (*upper) nodes met on
// the way down. Every output may be null.
int btree_find_neighbours(btree_node** p_root, int key, btree_compare_fn compare, btree_node** node,
                          btree_node** lower, btree_node** upper);

// The new node, or null when an equal key is present (nothing changes then).
rbtree_node* rbtree_insert(btree* tree, int key, btree_compare_fn compare);
// Removes the node; a node with two children takes its successor's key and the successor's node
// goes back to the pool. 1.
int rbtree_delete_node(btree* tree, rbtree_node* node);
// 1 removed, 0 for a null tree or compare or a key not present.
int rbtree_delete(btree* tree, int key, btree_compare_fn compare);
// The tree turned left by a quarter: right subtree above, each node indented by its depth.
void rbtree_print(btree_node** p_root, btree_print_key_fn print_key);
void rbtree_print_node(btree_node* node, btree_print_key_fn print_key, int depth);

KEL_END_C

// Partial order with cycle breaking: puts n items into an order that respects pairwise precedence
// relations of given strengths; every cycle loses its weakest edge, except that unbreakable edges
// are never cut. Reports carry the prefix "sortpartl_".
#pragma once
#include <stdio.h>
#include "platform/kel_base.h"

KEL_BEGIN_C

// Relation code for a pair i < j: strength of "i before j" in bits 5-7 with its propagate flag in
// bit 8, strength of "j before i" in bits 10-12 with its flag in bit 13. Negative codes mean no
// relation.
enum {
  SORTPARTL_BEFORE_SHIFT = 5,
  SORTPARTL_AFTER_SHIFT = 10,
  SORTPARTL_PROPAGATE = 8,  // the flag bit above a strength
  SORTPARTL_SOFT = 1,
  SORTPARTL_HARD = 2,
  SORTPARTL_UNBREAKABLE = 4,
  SORTPARTL_UNRESOLVED = 106  // result: cycles of unbreakable edges left items unplaced
};
#define SORTPARTL_CODE(before, after) \
  (((before) << SORTPARTL_BEFORE_SHIFT) | ((after) << SORTPARTL_AFTER_SHIFT))

typedef struct sortpartl_edge {
  int target;  // node that must come after; -1 once cut
  int info;    // strength in bits 0-2, propagate flag in bit 3
} sortpartl_edge;

typedef struct sortpartl_node {
  sortpartl_edge* edges;  // xarray of outgoing edges
  void* item;
  int n_u_p;  // uncut incoming edges from unplaced nodes; -10 once placed
  int depth;  // position on the search stack, else -1
  int state;  // 0 unsearched, 1 on the stack, 2 searched, 3 list head
  struct sortpartl_node* previous;
  struct sortpartl_node* next;
} sortpartl_node;

typedef int (*sortpartl_relation_fn)(void* base, int i, int j, void* user_data);
// < 0 when ready item i should be placed before ready item j, > 0 after, 0 no preference.
typedef int (*sortpartl_key_fn)(void* base, int i, int j, void* user_data);
// For two equally strong edges: > 0 cuts the first, < 0 the second, 0 leaves it to the indices.
typedef int (*sortpartl_cut_fn)(void* base, int tail1, int head1, int tail2, int head2,
                                void* user_data);

// 0 with *p_order a getmem array of the n item addresses in placement order (null for n <= 0);
// SORTPARTL_UNRESOLVED with a null order. `loop_log`, when not null, is the address of a pointer
// xarray that receives each logged loop as an int xarray (smallest index first and last).
int get_partial_order_with_circles(void* base, int n, int stride, sortpartl_relation_fn relation,
                                   sortpartl_key_fn placement_key, sortpartl_cut_fn cut_choice,
                                   void* user_data, void* spare_arg, int*** loop_log,
                                   void*** p_order);

// Debugging aids: the nodes and their edges to a stream, to "nodelist.dat" or to standard output,
// and every loop through `start` found by a depth-first walk.
void sortpartl_dump_nodes(const sortpartl_node* nodes, int n, FILE* stream);
void sortpartl_dump_nodes_file(const sortpartl_node* nodes, int n);
void sortpartl_print_nodes(const sortpartl_node* nodes, int n);
void sortpartl_print_loops(const sortpartl_node* nodes, int n, int start);

KEL_END_C

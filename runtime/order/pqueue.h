// Priority queue of int items: a binary heap kept in an int xarray, smallest or largest first,
// ordered by a caller comparison or, without one, by the items' values. A queue outgrows the
// xarray's ceiling (XAR_MAX_BYTES / 4 = 511,996 slots): the slots past it live in a harray, so a
// queue holds as many items as memory allows.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C

// Ascending order of two items: < 0 when a is smaller, 0 when equal, > 0 when a is larger.
typedef int (*pqueue_compare_fn)(void* user_data, int a, int b);

enum { PQUEUE_SMALLEST_FIRST = 0, PQUEUE_LARGEST_FIRST = 1 };

typedef struct pqueue {
  pqueue_compare_fn compare;  // null: the items' own values decide
  void* user_data;            // first argument of compare
  int direction;              // PQUEUE_SMALLEST_FIRST or PQUEUE_LARGEST_FIRST
  int* items;                 // xarray: the heap; the children of slot i are 2i + 1 and 2i + 2
  int capacity;               // slots in items (its xarray count) and overflow
  int size;                   // items in the heap
  void* overflow;             // harray of the slots past items' ceiling, in order; null until then
} pqueue;

// A new empty queue with `capacity` slots (and that extension, 1 when capacity <= 0); at most an
// xarray's worth are made at once, the rest as pushes need them.
pqueue* pqueue_create(pqueue_compare_fn compare, void* user_data, int capacity, int direction);
// Adds an item; when the queue must grow and memory is exhausted, the memory break is raised and
// the queue stays as it was.
void pqueue_push(pqueue* queue, int item);
// The top item, removed; -1 (reported) when the queue is empty or null.
int pqueue_pop(pqueue* queue);
// The top item, left in place; -1 when the queue is empty or null.
int pqueue_inquire_smallest(const pqueue* queue);
// 1 for a null or empty queue.
int pqueue_is_empty(const pqueue* queue);
// Frees the items and the record and nulls *p_queue; null is accepted at both levels.
void pqueue_free(pqueue** p_queue);

KEL_END_C

// The pointer quicksort and the permutation step shared by the sorting routines (internal).
#pragma once
#include <string.h>
#include "runtime/order/sort.h"

namespace kel::order {

// A caller's compare as the quicksort's comparison.
struct Fn {
  sort_compare_fn f;
  int operator()(const void* a, const void* b) const { return f(a, b); }
};

// Accessors: element i of a plain pointer array, or of a sequence reached through a slot function.
struct Direct {
  void** p;
  void*& at(int i) const { return p[i]; }
};

template <class Slot>
struct Indirect {
  Slot slot;
  void*& at(int i) const { return *slot(i); }
};

template <class A>
inline void swap_at(const A& a, int i, int j) {
  void* t = a.at(i);
  a.at(i) = a.at(j);
  a.at(j) = t;
}

template <class A, class C>
void insertion_sort(const A& a, int lo, int hi, const C& cmp) {
  for (int i = lo + 1; i <= hi; ++i) {
    void* v = a.at(i);
    int j = i;
    while (j > lo && cmp(v, a.at(j - 1)) < 0) {
      a.at(j) = a.at(j - 1);
      --j;
    }
    a.at(j) = v;
  }
}

template <class A, class C>
void heap_sift(const A& a, int lo, int root, int n, const C& cmp) {
  void* v = a.at(lo + root);
  for (;;) {
    int child = 2 * root + 1;
    if (child >= n) break;
    if (child + 1 < n && cmp(a.at(lo + child), a.at(lo + child + 1)) < 0) ++child;
    if (cmp(v, a.at(lo + child)) >= 0) break;
    a.at(lo + root) = a.at(lo + child);
    root = child;
  }
  a.at(lo + root) = v;
}

// The fallback for ranges the quicksort keeps splitting badly: O(n log n) whatever the input.
template <class A, class C>
void heap_sort(const A& a, int lo, int hi, const C& cmp) {
  const int n = hi - lo + 1;
  for (int i = n / 2 - 1; i >= 0; --i) heap_sift(a, lo, i, n, cmp);
  for (int end = n - 1; end > 0; --end) {
    swap_at(a, lo, lo + end);
    heap_sift(a, lo, 0, end, cmp);
  }
}

// Moves the median of the elements at i, j and k to position j.
template <class A, class C>
void median_to(const A& a, int i, int j, int k, const C& cmp) {
  if (cmp(a.at(j), a.at(i)) < 0) swap_at(a, i, j);
  if (cmp(a.at(k), a.at(j)) < 0) {
    swap_at(a, j, k);
    if (cmp(a.at(j), a.at(i)) < 0) swap_at(a, i, j);
  }
}

inline int floor_log2(int n) {
  int k = 0;
  while (n > 1) n >>= 1, ++k;
  return k;
}

// Quicksort of the inclusive range lo .. hi with the middle element as pivot; the pivot itself is
// never compared with itself. The smaller part is sorted first (by recursion, so the depth stays
// below log2 n) and the larger one next (by the loop).
//
// Guard: a split whose smaller part holds less than a sixteenth of the range is bad. Random input
// rarely meets two on the way down, and then the middle pivot stays. Once a range has come through
// kBadBeforeMedian bad splits, its sub-ranges take the median of three spread elements as pivot
// (moved to the middle); once more than `bad_left` have happened, the range is heap-sorted.
//
// The scans stop at the range ends even when an inconsistent compare would send them further.
constexpr int kBadBeforeMedian = 2;

template <class A, class C>
void quick_sort(const A& a, int lo, int hi, const C& cmp, int bad_left, int bad_seen) {
  while (hi - lo >= 9) {
    const int len = hi - lo + 1;
    const int mid = (lo + hi) / 2;
    if (bad_seen >= kBadBeforeMedian) median_to(a, lo + len / 4, mid, hi - len / 4, cmp);
    void* const pivot = a.at(mid);
    int i = lo, j = hi;
    while (i <= j) {
      while (i < hi && a.at(i) != pivot && cmp(a.at(i), pivot) < 0) ++i;
      while (j > lo && a.at(j) != pivot && cmp(pivot, a.at(j)) < 0) --j;
      if (i <= j) {
        swap_at(a, i, j);
        ++i;
        --j;
      }
    }
    const int left = j - lo + 1, right = hi - i + 1;
    const int smaller = left < right ? left : right;
    if (smaller < len / 16) {
      if (--bad_left < 0) {
        heap_sort(a, lo, hi, cmp);
        return;
      }
      ++bad_seen;
    }
    if (left < right) {
      if (left > 1) quick_sort(a, lo, j, cmp, bad_left, bad_seen);
      lo = i;
    } else {
      if (right > 1) quick_sort(a, i, hi, cmp, bad_left, bad_seen);
      hi = j;
    }
  }
  if (hi > lo) insertion_sort(a, lo, hi, cmp);
}

template <class A, class C>
void sort_range(const A& a, int n, const C& cmp) {
  if (n > 1) quick_sort(a, 0, n - 1, cmp, floor_log2(n) + 1, 0);
}

// Rearranges n objects so that slot k receives the object pointers[k] points at, following each
// permutation cycle with one object in `buffer`; resets every pointer to its own slot.
// `addr(k)` is the address of slot k and `index_of(p)` the slot at address p.
template <class P, class Addr, class Index>
void permute(int n, const P& pointers, int size, unsigned char* buffer, const Addr& addr,
             const Index& index_of) {
  for (int i = 0; i < n; ++i) {
    unsigned char* home = addr(i);
    if (pointers.at(i) == home) continue;
    memcpy(buffer, home, size_t(size));
    int k = i;
    for (;;) {
      unsigned char* r = static_cast<unsigned char*>(pointers.at(k));
      if (r == home) break;
      unsigned char* slot = addr(k);
      pointers.at(k) = slot;
      memcpy(slot, r, size_t(size));
      k = index_of(r);
    }
    pointers.at(k) = addr(k);
    memcpy(addr(k), buffer, size_t(size));
  }
}

}  // namespace kel::order

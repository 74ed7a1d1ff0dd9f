// The pointer quicksort and the permutation step shared by the sorting routines (internal).
#pragma once
#include <stdint.h>
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

// The sequences the quicksort works on, by index: compare(i, j) asks the caller's compare about
// the elements at i and j, swap(i, j) exchanges them, and rotate(k, i) moves element i to k and
// those at k .. i - 1 one up. Every element stays in the sequence while the compare runs, so a
// compare that leaves by a trap's jump leaves a permutation of what was there.
//
// Pointers: a pointer list (or one reached through a slot function) sorted in place.
template <class A, class C>
struct Pointers {
  A a;
  C cmp;
  int compare(int i, int j) const { return cmp(a.at(i), a.at(j)); }
  void swap(int i, int j) const {
    void* t = a.at(i);
    a.at(i) = a.at(j);
    a.at(j) = t;
  }
  void rotate(int k, int i) const {
    void* v = a.at(i);
    for (; i > k; --i) a.at(i) = a.at(i - 1);
    a.at(k) = v;
  }
};

// Objects of kSize bytes (0: `size`, known at run time) moved in place: what a pointer sort does
// to its pointers, done to the objects themselves, so that the same compares see the same objects
// and leave them in the order the pointer sort and one permutation would.
template <int kSize>
struct Objects {
  unsigned char* base;
  int size;
  sort_compare_fn f;
  unsigned char* at(int i) const { return base + i * (kSize ? kSize : size); }
  int compare(int i, int j) const { return f(at(i), at(j)); }
  void swap(int i, int j) const {
    unsigned char* x = at(i);
    unsigned char* y = at(j);
    if constexpr (kSize > 0) {
      unsigned char t[kSize];
      memcpy(t, x, kSize);
      memcpy(x, y, kSize);
      memcpy(y, t, kSize);
    } else {
      int k = 0;
      for (; k + 4 <= size; k += 4) {  // a word at a time, then the odd bytes
        uint32_t t, u;
        memcpy(&t, x + k, 4);
        memcpy(&u, y + k, 4);
        memcpy(x + k, &u, 4);
        memcpy(y + k, &t, 4);
      }
      for (; k < size; ++k) {
        const unsigned char t = x[k];
        x[k] = y[k];
        y[k] = t;
      }
    }
  }
  void rotate(int k, int i) const {
    constexpr int kBuffer = kSize > 0 ? kSize : 256;
    if (kSize == 0 && size > kBuffer) {
      for (; i > k; --i) swap(i, i - 1);
      return;
    }
    unsigned char t[kBuffer];
    const size_t bytes = kSize ? size_t(kSize) : size_t(size);
    memcpy(t, at(i), bytes);
    if constexpr (kSize > 0 && kSize <= 16) {
      for (; i > k; --i) memcpy(at(i), at(i - 1), kSize);
    } else {
      memmove(at(k + 1), at(k), bytes * size_t(i - k));
    }
    memcpy(at(k), t, bytes);
  }
};

// Insertion sort: element i moves down past every element before it that it compares below; its
// place is found first and the move made after, with no compare in between.
template <class S>
void insertion_sort(const S& s, int lo, int hi) {
  for (int i = lo + 1; i <= hi; ++i) {
    int k = i;
    while (k > lo && s.compare(i, k - 1) < 0) --k;
    if (k < i) s.rotate(k, i);
  }
}

// Sifts the element at lo + root down a heap of n elements starting at lo.
template <class S>
void heap_sift(const S& s, int lo, int root, int n) {
  for (;;) {
    int child = 2 * root + 1;
    if (child >= n) break;
    if (child + 1 < n && s.compare(lo + child, lo + child + 1) < 0) ++child;
    if (s.compare(lo + root, lo + child) >= 0) break;
    s.swap(lo + root, lo + child);
    root = child;
  }
}

// The fallback for ranges the quicksort keeps splitting badly: O(n log n) whatever the input.
template <class S>
void heap_sort(const S& s, int lo, int hi) {
  const int n = hi - lo + 1;
  for (int i = n / 2 - 1; i >= 0; --i) heap_sift(s, lo, i, n);
  for (int end = n - 1; end > 0; --end) {
    s.swap(lo, lo + end);
    heap_sift(s, lo, 0, end);
  }
}

inline int floor_log2(int n) {
  int k = 0;
  while (n > 1) n >>= 1, ++k;
  return k;
}

// Quicksort of the inclusive range lo .. hi with the middle element as pivot; the pivot itself is
// never compared with itself (the scans skip the position it holds, which a swap may change). The
// smaller part is sorted first (by recursion, so the depth stays below log2 n) and the larger one
// next (by the loop).
//
// Guard: a split whose smaller part holds less than a sixteenth of the range is bad. Random input
// meets one on an eighth of its splits, and a path through the recursion about log2 n splits long,
// so it practically never comes through more than `bad_left` (log2 n + 1) of them and is sorted
// with the middle pivot alone, compare for compare. A range that does is heap-sorted: no input
// makes the sort quadratic, and the bad splits before the switch cost O(n log n) together.
//
// The scans stop at the range ends even when an inconsistent compare would send them further.
template <class S>
void quick_sort(const S& s, int lo, int hi, int bad_left) {
  while (hi - lo >= 9) {
    const int len = hi - lo + 1;
    int pivot = (lo + hi) / 2;
    int i = lo, j = hi;
    while (i <= j) {
      while (i < hi && i != pivot && s.compare(i, pivot) < 0) ++i;
      while (j > lo && j != pivot && s.compare(pivot, j) < 0) --j;
      if (i <= j) {
        if (i != j) s.swap(i, j);
        if (pivot == i)
          pivot = j;
        else if (pivot == j)
          pivot = i;
        ++i;
        --j;
      }
    }
    const int left = j - lo + 1, right = hi - i + 1;
    const int smaller = left < right ? left : right;
    if (smaller < len / 16) {
      if (--bad_left < 0) {
        heap_sort(s, lo, hi);
        return;
      }
    }
    if (left < right) {
      if (left > 1) quick_sort(s, lo, j, bad_left);
      lo = i;
    } else {
      if (right > 1) quick_sort(s, i, hi, bad_left);
      hi = j;
    }
  }
  if (hi > lo) insertion_sort(s, lo, hi);
}

template <class S>
void sort_sequence(const S& s, int n) {
  if (n > 1) quick_sort(s, 0, n - 1, floor_log2(n) + 1);
}

// A pointer sequence sorted by a caller's compare.
template <class A>
void sort_range(const A& a, int n, const Fn& cmp) {
  sort_sequence(Pointers<A, Fn>{a, cmp}, n);
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

// Vm buddy allocator: segment format and attach, free lists, allocation with splitting, release
// with coalescing, the real-memory fallback, the usage report and the vm mode the heap reads.
#include "runtime/mem/vm.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem_lock.h"

static_assert(sizeof(vm_segment) == VM_SEGMENT_HEADER, "320-byte segment header");
static_assert(sizeof(vm_block_header) == VM_UNIT, "16-byte block header");
static_assert(offsetof(vm_segment, root) == 64 && offsetof(vm_segment, version_tag) == 192 &&
                  offsetof(vm_segment, free_head) == 208,
              "segment header layout");

namespace {

// Numbers of the checks that end in vm_memory_problem.
enum Check {
  kInsertOrder = 263,    // free-list insert above the order count
  kInsertHead = 282,     // the old head of a free list is not a free block of that order
  kRemoveNotFree = 309,  // a block taken off a free list is not free
  kRemoveOrder = 314,    // ... or has an impossible order
  kRemovePrev = 328,     // its previous block does not lead to it
  kRemoveNext = 340,     // its next block does not lead back to it
  kNoSegment = 421,      // a freed block names a segment that does not exist
  kMisaligned = 428,     // a freed pointer is not at a unit of its segment
  kBuddyOrder = 446,     // a buddy or a freed block has an impossible order
  kRequestOrder = 601,   // a request needs an order of 28 or more
  kFormatSize = 692,     // a segment too small to format
};

constexpr char kVersionTag[VM_VERSION_TAG_SIZE + 1] = "kelrt 2026.12 r1";
static_assert(sizeof(kVersionTag) == VM_VERSION_TAG_SIZE + 1, "16-byte version tag");

vm_segment* all_segments = nullptr;  // newest first, through next_global
vm_segment* main_segment = nullptr;
unsigned total_bytes = 0;
unsigned free_bytes = 0;
vm_usage_callback_fn usage_callback = nullptr;
unsigned usage_shift = 0;
unsigned usage_reported = 0;
vm_overflow_callback_fn overflow_callback = nullptr;
int mode = 0;
kel_lock vm_lock = {0};

inline vm_block_header* header_of(void* user) { return (vm_block_header*)((char*)user - VM_UNIT); }
inline char* units_of(const vm_segment* s) { return (char*)s + VM_SEGMENT_HEADER; }

// Header of unit u, which the caller knows to lie inside the units.
inline vm_block_header* unit_at(vm_segment* s, int32_t u) {
  return (vm_block_header*)(units_of(s) + (uint32_t)u * VM_UNIT);
}

// Header of unit u, or null when u lies outside the units.
inline vm_block_header* unit_header(vm_segment* s, int32_t u) {
  if (u < 0 || (uint32_t)u >= s->unit_count) return nullptr;
  return unit_at(s, u);
}

inline uint32_t order_bytes(int order) { return (uint32_t)VM_UNIT << order; }

// Smallest k with 2^k >= n.
inline int floor_log2(uint32_t n) { return n ? 31 - __builtin_clz(n) : -1; }
inline int ceil_log2(uint32_t n) { return n <= 1 ? 0 : floor_log2(n - 1) + 1; }

inline bool is_free(const vm_block_header* h) {
  return h && h->magic == VM_MAGIC_FREE && (h->bits & VM_BIT_FREE);
}

// Lists searched in a segment: up to its order count, never past the 28 heads.
inline int searched_orders(const vm_segment* s) {
  return s->order_count < 0 ? 0 : s->order_count > VM_ORDERS ? VM_ORDERS : s->order_count;
}

// Calls the usage callback when the free bytes, shifted by the granularity, changed.
KEL_NOINLINE void report_usage() {
  const unsigned shifted = usage_shift >= 32 ? 0 : free_bytes >> usage_shift;
  if (shifted == usage_reported) return;
  usage_reported = shifted;
  usage_callback(free_bytes);
}

// Most processes set no usage callback: the test stays in the caller.
KEL_ALWAYS_INLINE void notify_usage() {
  if (KEL_UNLIKELY(usage_callback != nullptr)) report_usage();
}

// Zeroes n bytes at p. On x86 a string store: processors with fast string operations fill the
// blocks of up to a few kilobytes typical here in fewer cycles than the library memset, which
// branches on the size through a jump table.
KEL_ALWAYS_INLINE void zero_fill(void* p, uint32_t n) {
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
  __asm__ volatile("rep stosb" : "+D"(p), "+c"(n) : "a"(0) : "memory");
#else
  memset(p, 0, n);
#endif
}

struct Totals {
  unsigned size, bytes_free, bytes_allocated, blocks_allocated, blocks_free;
};

// Sums over the list of all segments; refreshes the global totals and the granularity shift.
Totals recompute_totals() {
  Totals t = {0, 0, 0, 0, 0};
  for (vm_segment* s = all_segments; s; s = s->next_global) {
    t.size += s->size;
    t.bytes_free += s->bytes_free;
    t.bytes_allocated += s->bytes_allocated;
    t.blocks_allocated += (unsigned)s->blocks_allocated;
    t.blocks_free += (unsigned)s->blocks_free;
  }
  total_bytes = t.size;
  free_bytes = t.bytes_free;
  usage_shift = (unsigned)ceil_log2(total_bytes / 100);
  return t;
}

bool on_global_list(const vm_segment* s) {
  for (vm_segment* x = all_segments; x; x = x->next_global)
    if (x == s) return true;
  return false;
}

void link_segment(vm_segment* s) {
  if (on_global_list(s)) return;
  s->next_global = all_segments;
  all_segments = s;
}

void unlink_segment(vm_segment* s) {
  for (vm_segment** at = &all_segments; *at; at = &(*at)->next_global) {
    if (*at == s) {
      *at = s->next_global;
      s->next_global = nullptr;
      break;
    }
  }
  if (main_segment == s) main_segment = nullptr;
}

// Puts the block of order k at unit u on free list k; `orders` is searched_orders(s). False after
// a reported problem.
KEL_ALWAYS_INLINE bool list_insert(vm_segment* s, int k, int32_t u, int orders) {
  if (k < 0 || k >= orders) {
    vm_memory_problem(kInsertOrder);
    return false;
  }
  const int32_t old = s->free_head[k];
  vm_block_header* oh = nullptr;
  if (old != VM_NO_UNIT) {
    oh = unit_header(s, old);
    if (!is_free(oh) || oh->order != k || oh->prev != VM_NO_UNIT) {
      vm_memory_problem(kInsertHead);
      return false;
    }
  }
  vm_block_header* h = unit_at(s, u);
  const uint32_t bytes = order_bytes(k);
  h->bits = VM_BIT_FREE;
  h->order = (int16_t)k;
  h->next = old;
  h->prev = VM_NO_UNIT;
  h->magic = VM_MAGIC_FREE;
  s->bytes_allocated -= bytes;
  s->bytes_free += bytes;
  s->blocks_free += 1;
  free_bytes += bytes;
  if (oh) oh->prev = u;
  s->free_head[k] = u;
  return true;
}

// Takes the free block h at unit u, of order k, off its list; it becomes allocated. The caller
// has checked that h is free and that k is a possible order for u. False after a reported
// problem.
KEL_ALWAYS_INLINE bool list_unlink(vm_segment* s, int32_t u, vm_block_header* h, int k) {
  const int32_t pu = h->prev, nu = h->next;
  vm_block_header* prev = nullptr;
  vm_block_header* next = nullptr;
  if (pu == VM_NO_UNIT) {
    if (s->free_head[k] != u) {
      vm_memory_problem(kRemovePrev);
      return false;
    }
  } else {
    prev = unit_header(s, pu);
    if (!is_free(prev) || prev->order != k || prev->next != u) {
      vm_memory_problem(kRemovePrev);
      return false;
    }
  }
  if (nu != VM_NO_UNIT) {
    next = unit_header(s, nu);
    if (!is_free(next) || next->order != k || next->prev != u) {
      vm_memory_problem(kRemoveNext);
      return false;
    }
  }
  if (prev)
    prev->next = nu;
  else
    s->free_head[k] = nu;
  if (next) next->prev = pu;
  h->bits = 0;
  h->next = -1;
  h->magic = VM_MAGIC_USED;
  const uint32_t bytes = order_bytes(k);
  s->bytes_allocated += bytes;
  s->bytes_free -= bytes;
  s->blocks_free -= 1;
  free_bytes -= bytes;
  return true;
}

// Takes the free block at unit u off its list; it becomes allocated. False after a reported
// problem.
KEL_ALWAYS_INLINE bool list_remove(vm_segment* s, int32_t u, int orders) {
  vm_block_header* h = unit_header(s, u);
  if (!is_free(h)) {
    vm_memory_problem(kRemoveNotFree);
    return false;
  }
  const int k = h->order;
  if (k < 0 || k >= orders || (uint32_t)u + (1u << k) > s->unit_count) {
    vm_memory_problem(kRemoveOrder);
    return false;
  }
  return list_unlink(s, u, h, k);
}

// A header that no longer starts a block after a merge. It reads as free memory, never as an
// allocated block, so a stale pointer to it is refused by vmFree.
void absorb(vm_block_header* h, int order) {
  h->magic = VM_MAGIC_FREE;
  h->bits = 0;
  h->order = (int16_t)(-order - 1);
}

void recreate(vm_segment* s, const char* why) {
  printf("VM-File must be recreated (%s)\n", why);
  fflush(stdout);
  unlink_segment(s);
  crash();
}

}  // namespace

const char* kel_version_tag(void) { return kVersionTag; }

void vm_memory_problem(int line) {
  fprintf(stderr, "Memory problem at line %u\n", (unsigned)line);
  fflush(stderr);
  vm_print_usage();
  fflush(stdout);
  crash();
}

void vm_print_usage(void) {
  const Totals t = recompute_totals();
  fprintf(stderr, "Bytes allocated: %u,  Bytes free: %u\n", t.bytes_allocated, t.bytes_free);
  fprintf(stderr, "Blocks allocated: %u,  Blocks free: %u\n\n", t.blocks_allocated, t.blocks_free);
}

void vm_format_segment(void* segment, int size) {
  if (size < VM_MIN_SEGMENT) {
    vm_memory_problem(kFormatSize);
    return;
  }
  vm_segment* s = (vm_segment*)segment;
  s->self = segment;
  s->state = VM_STATE_FORMATTED;
  s->size = (uint32_t)size;
  s->flags = 0;
  s->machine = VM_MACHINE_CODE;
  s->system = VM_SYSTEM_CODE;
  s->next = nullptr;
  link_segment(s);
  s->unit_count = (uint32_t)(size - VM_SEGMENT_HEADER) / VM_UNIT;
  s->bytes_free = 0;
  s->reserved36 = 0;
  s->bytes_allocated = s->unit_count * VM_UNIT;
  s->blocks_allocated = 0;
  s->blocks_free = 0;
  s->order_count = 0;
  memset(s->root, 0, sizeof s->root);
  memcpy(s->version_tag, kVersionTag, VM_VERSION_TAG_SIZE);
  for (int k = 0; k < VM_ORDERS; ++k) s->free_head[k] = VM_NO_UNIT;
  // Largest blocks first: each one starts at a multiple of its own size.
  uint32_t remaining = s->unit_count, u = 0;
  while (remaining) {
    int c = floor_log2(remaining);
    if (c > VM_ORDERS - 1) c = VM_ORDERS - 1;
    if (s->order_count == 0) s->order_count = c + 1;
    if (!list_insert(s, c, (int32_t)u, searched_orders(s))) return;
    u += 1u << c;
    remaining -= 1u << c;
  }
  vm_print_usage();
}

void vm_attach_segment(void* segment, int size) {
  vm_segment* s = (vm_segment*)segment;
  link_segment(s);
  if (s->size != (uint32_t)size) return recreate(s, "Illegal segment size");
  if (s->system != VM_SYSTEM_CODE) return recreate(s, "Illegal operating sistem");
  if (s->machine != VM_MACHINE_CODE) return recreate(s, "Illegal machine");
  // A header whose unit or order count does not fit its size would send every later walk
  // outside the segment.
  if (size < VM_MIN_SEGMENT || s->unit_count != (uint32_t)(size - VM_SEGMENT_HEADER) / VM_UNIT ||
      s->order_count < 1 || s->order_count > VM_ORDERS)
    return recreate(s, "Illegal segment size");
  if (memcmp(s->version_tag, kVersionTag, VM_VERSION_TAG_SIZE) != 0) {
    printf("Illegal Mirax version\n");
    fflush(stdout);
    vm_format_segment(segment, size);
    return;
  }
  s->state = VM_STATE_FORMATTED;
  s->flags |= VM_FLAG_ATTACHED;
  vm_print_usage();
}

void vm_forget_segment(void* segment) {
  if (!segment) return;
  unlink_segment((vm_segment*)segment);
  recompute_totals();
}

void* kelmm_alloc_realmem(int size) {
  vm_block_header* h = size >= 0 ? (vm_block_header*)calloc(1, (size_t)size + VM_UNIT) : nullptr;
  if (!h) {
    printf("Crash: kelmm_alloc_realmem(%i)\n", size);
    fflush(stdout);
    crash();
    return nullptr;
  }
  h->magic = VM_MAGIC_REAL;
  h->bits = VM_BIT_REAL;
  h->order = 0;
  h->next = size;
  return (char*)h + VM_UNIT;
}

void* vm_alloc(void* segment, int size) {
  if ((uint32_t)size > VM_MAX_REQUEST) {
    vm_memory_problem(kRequestOrder);
    return nullptr;
  }
  int b = ceil_log2((uint32_t)size + VM_UNIT) - 4;
  if (b < 0) b = 0;
  vm_segment* first = (vm_segment*)segment;
  vm_segment* s = first;
  int passed = 0, i = -1, orders = 0;
  for (; s; s = s->next, ++passed) {
    orders = searched_orders(s);
    for (int k = b; k < orders; ++k) {
      if (s->free_head[k] != VM_NO_UNIT) {
        i = k;
        break;
      }
    }
    if (i >= 0) break;
  }
  if (i < 0) {
    if (!first || !(first->flags & VM_FLAG_FALLBACK)) return nullptr;
    first->state |= VM_STATE_FELL_BACK;
    if (overflow_callback) {
      vm_overflow_callback_fn fn = overflow_callback;
      overflow_callback = nullptr;
      fn(first);
    }
    return kelmm_alloc_realmem(size);
  }
  const int32_t c = s->free_head[i];
  if (!list_remove(s, c, orders)) return nullptr;
  vm_block_header* h = unit_at(s, c);
  if (h->order != i) {  // a block filed under the wrong order
    vm_memory_problem(kRemoveOrder);
    return nullptr;
  }
  for (int j = b; j < i; ++j)
    if (!list_insert(s, j, c + (1 << j), orders)) return nullptr;
  // The whole payload is zeroed: segments are written to files and read by other processes, so
  // no byte of the block may keep what an earlier block left there.
  zero_fill((char*)h + VM_UNIT, order_bytes(b) - VM_UNIT);
  h->reserved = 0;
  h->order = (int16_t)b;
  h->segment_index = (uint8_t)passed;
  h->prev = size;
  s->blocks_allocated += 1;
  notify_usage();
  return (char*)h + VM_UNIT;
}

void vmFree(void* segment, void* ptr) {
  if (!ptr) return;
  vm_block_header* h = header_of(ptr);
  if (h->bits & VM_BIT_REAL) {
    if (h->magic == VM_MAGIC_REAL) {
      h->magic = 0;
      free(h);
    } else {
      printf("vm: bad alloc pointer\n");
    }
    return;
  }
  if (h->magic != VM_MAGIC_USED) {
    printf("vm: bad vm pointer\n");
    return;
  }
  vm_segment* s = (vm_segment*)segment;
  if (s && s->flags == 0) {
    for (int n = h->segment_index; n > 0 && s; --n) s = s->next;
  }
  if (!s) {
    vm_memory_problem(kNoSegment);
    return;
  }
  // The pointer must be a block start inside this segment's units; anywhere else the merge
  // below would write outside the segment.
  const uintptr_t offset = (uintptr_t)ptr - (uintptr_t)s - (VM_SEGMENT_HEADER + VM_UNIT);
  if ((uintptr_t)ptr < (uintptr_t)s + VM_SEGMENT_HEADER + VM_UNIT || offset % VM_UNIT != 0 ||
      offset / VM_UNIT >= s->unit_count) {
    vm_memory_problem(kMisaligned);
    return;
  }
  int32_t a = (int32_t)(offset / VM_UNIT);
  int i = h->order;
  const int orders = searched_orders(s);
  if (i >= orders) {  // it could never go back on a free list
    vm_memory_problem(kInsertOrder);
    return;
  }
  if (i < 0 || (a & ((1 << i) - 1)) != 0 || (uint32_t)a + (1u << i) > s->unit_count) {
    vm_memory_problem(kBuddyOrder);
    return;
  }
  for (; i < VM_ORDERS - 1; ++i) {
    const int32_t buddy = a ^ (1 << i);
    if ((uint32_t)buddy + (1u << i) > s->unit_count) break;
    vm_block_header* bh = unit_at(s, buddy);
    if (!is_free(bh) || bh->order < i) break;
    if (bh->order > i) {
      vm_memory_problem(kBuddyOrder);
      return;
    }
    if (i >= orders) {  // a free buddy above the lists
      vm_memory_problem(kRemoveOrder);
      return;
    }
    if (!list_unlink(s, buddy, bh, i)) return;
    absorb(bh, i);
    if (buddy < a) {
      absorb(h, i);
      a = buddy;
      h = bh;
    }
  }
  if (!list_insert(s, i, a, orders)) return;
  s->blocks_allocated -= 1;
  notify_usage();
}

static int usable_bytes(const vm_block_header* h) {
  if (h->bits & VM_BIT_REAL) return h->next;
  return (int)(order_bytes(h->order) - VM_UNIT);
}

int vm_block_size(void* ptr) { return usable_bytes(header_of(ptr)); }

int vm_is_vm_block(void* ptr) { return (header_of(ptr)->bits & VM_BIT_REAL) ? 0 : 1; }

void* vm_realloc(void* ptr, int size) {
  if (!ptr) return vm_alloc(main_segment, size);
  vm_block_header* h = header_of(ptr);
  const int usable = usable_bytes(h);
  if (size >= 0 && usable >= size && (int64_t)usable <= 2 * (int64_t)size) return ptr;
  void* moved = vm_alloc(main_segment, size);
  if (!moved) return nullptr;
  memcpy(moved, ptr, (size_t)(usable < size ? usable : size));
  vmFree(main_segment, ptr);
  return moved;
}

void vm_set_main_segment(void* segment, int allow_fallback) {
  main_segment = (vm_segment*)segment;
  if (main_segment && allow_fallback) main_segment->flags |= VM_FLAG_FALLBACK;
}

void* vm_main_segment(void) { return main_segment; }

void** vm_root_slot(int i) {
  if (!main_segment || i < 0 || i >= VM_ROOT_SLOTS) return nullptr;
  return &main_segment->root[i];
}

unsigned vm_set_usage_callback(vm_usage_callback_fn fn) {
  usage_callback = fn;
  recompute_totals();
  usage_reported = usage_shift >= 32 ? 0 : free_bytes >> usage_shift;
  return total_bytes;
}

void vm_set_overflow_callback(vm_overflow_callback_fn fn) { overflow_callback = fn; }

int vm_check_segment(const void* segment) {
  enum { kSound = 0, kHeader = 1, kBlocks = 2, kCounters = 3, kLists = 4 };
  vm_segment* s = (vm_segment*)segment;
  if (s->size < VM_MIN_SEGMENT || s->unit_count != (s->size - VM_SEGMENT_HEADER) / VM_UNIT ||
      s->order_count < 1 || s->order_count > VM_ORDERS)
    return kHeader;
  uint32_t bytes_free = 0, bytes_used = 0;
  int32_t blocks_free = 0, blocks_used = 0;
  int32_t per_order[VM_ORDERS] = {};
  for (uint32_t u = 0; u < s->unit_count;) {
    const vm_block_header* h = unit_header(s, (int32_t)u);
    const int k = h->order;
    if (k < 0 || k >= s->order_count || (u & ((1u << k) - 1)) || u + (1u << k) > s->unit_count)
      return kBlocks;
    if (h->magic == VM_MAGIC_FREE && h->bits == VM_BIT_FREE) {
      bytes_free += order_bytes(k);
      blocks_free += 1;
      per_order[k] += 1;
    } else if (h->magic == VM_MAGIC_USED && h->bits == 0 && h->next == -1) {
      bytes_used += order_bytes(k);
      blocks_used += 1;
    } else {
      return kBlocks;
    }
    u += 1u << k;
  }
  if (bytes_free != s->bytes_free || bytes_used != s->bytes_allocated ||
      blocks_free != s->blocks_free || blocks_used != s->blocks_allocated ||
      bytes_free + bytes_used != s->unit_count * VM_UNIT)
    return kCounters;
  for (int k = 0; k < VM_ORDERS; ++k) {
    int32_t prev = VM_NO_UNIT, seen = 0;
    for (int32_t x = s->free_head[k]; x != VM_NO_UNIT;) {
      const vm_block_header* h = unit_header(s, x);
      if (!is_free(h) || h->order != k || h->prev != prev || ++seen > per_order[k]) return kLists;
      prev = x;
      x = h->next;
    }
    if (seen != per_order[k]) return kLists;
  }
  return kSound;
}

void vm_set_mode(int on) { mode = on ? 1 : 0; }
int vm_mode(void) { return mode; }
int vm_create_lock(void) { return kel_lock_create(&vm_lock); }
void vm_lock_take(void) { kel_lock_take(&vm_lock); }
void vm_lock_release(void) { kel_lock_release(&vm_lock); }

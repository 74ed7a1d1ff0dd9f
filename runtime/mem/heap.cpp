// Heap blocks: allocation, resize and release of blocks in one self-checking chain.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/diag/diag.h"
#include "runtime/mem/clump.h"
#include "runtime/mem/mem_block.h"
#include "runtime/mem/memdebug.h"
#include "runtime/mem/pseg.h"
#include "runtime/mem/vm.h"

// The memory-debugging hooks on the allocation paths; a benchmark builds a copy of the heap
// without them to time what they cost while off.
#ifndef KEL_MEM_DEBUG_HOOKS
#define KEL_MEM_DEBUG_HOOKS 1
#endif

MemManagerState mem_manager = {};
kel_lock mem_manager_lock = {0};

namespace {

constexpr int kWholeFillLimit = 4000;         // smaller released blocks are filled completely
constexpr int kEdgeFill = 1000;               // larger ones only at both ends
constexpr int32_t kMaxSize = INT32_MAX - 23;  // round8(size) + 16 must stay an int

// ---- where blocks lie ----
//
// A check follows a header's links only into memory it can read. Small blocks come from the
// backing allocator's heap, which stays mapped: the lowest address and extent of all of them
// (the span) tells whether a header could be read. Large blocks may be given mappings of their
// own that go away when released, so they are recorded one by one instead; the last ones
// released are remembered, so that a second release of one is found without reading it.

constexpr MemLargeBlocks& large = mem_manager.large;  // the table, by a short name
constexpr uintptr_t kEmpty = 0, kRemoved = 1;

inline uintptr_t& released_slot(uintptr_t a) { return mem_manager.released_large[(a >> 12) & 63]; }

// The table's entry for `a`, or the entry where it would go.
uint32_t large_index(uintptr_t a) {
  const uint32_t mask = large.capacity - 1;
  uint32_t i = ((uint32_t)(a >> 3) * 2654435761u) & mask, free_at = UINT32_MAX;
  for (;; i = (i + 1) & mask) {
    if (large.address[i] == a) return i;
    if (large.address[i] == kRemoved && free_at == UINT32_MAX) free_at = i;
    if (large.address[i] == kEmpty) return free_at != UINT32_MAX ? free_at : i;
  }
}

// Room for one more large block: false when the table cannot grow.
bool large_reserve() {
  if ((large.filled + 1) * 2 <= large.capacity) return true;
  const MemLargeBlocks old = large;
  const uint32_t capacity = old.capacity ? old.capacity * 2 : 64;
  auto* address = (uintptr_t*)calloc(capacity, sizeof(uintptr_t));
  auto* size = (uint32_t*)calloc(capacity, sizeof(uint32_t));
  if (!address || !size) {
    free(address);
    free(size);
    return false;
  }
  large = {address, size, capacity, 0};
  for (uint32_t i = 0; i < old.capacity; ++i) {
    if (old.address[i] > kRemoved) {
      const uint32_t at = large_index(old.address[i]);
      large.address[at] = old.address[i];
      large.size[at] = old.size[i];
      ++large.filled;
    }
  }
  free(old.address);
  free(old.size);
  return true;
}

// System size of the live large block at `a`, or 0.
uint32_t large_size(uintptr_t a) {
  if (!large.capacity) return 0;
  const uint32_t i = large_index(a);
  return large.address[i] == a ? large.size[i] : 0;
}

// Records a block the backing allocator handed out (after large_reserve for a large one).
KEL_ALWAYS_INLINE void note_block(void* p, uint32_t system_size) {
  const uintptr_t a = (uintptr_t)p;
  if (released_slot(a) == a) released_slot(a) = 0;
  if (system_size >= kMemLargeBlock) {
    const uint32_t i = large_index(a);
    if (large.address[i] == kEmpty) ++large.filled;
    large.address[i] = a;
    large.size[i] = system_size;
    return;
  }
  const uintptr_t end = a + system_size, low = mem_manager.span_low;
  const uintptr_t extent = mem_manager.span_extent;
  if (KEL_LIKELY(a >= low && end - low <= extent)) return;
  const uintptr_t high = extent && low + extent > end ? low + extent : end;
  mem_manager.span_low = a < low ? a : low;
  mem_manager.span_extent = high - mem_manager.span_low;
}

// Forgets a block that goes back to the backing allocator.
KEL_ALWAYS_INLINE void forget_block(const void* p, uint32_t system_size) {
  if (KEL_LIKELY(system_size < kMemLargeBlock)) return;
  const uintptr_t a = (uintptr_t)p;
  if (large.capacity) {
    const uint32_t i = large_index(a);
    if (large.address[i] == a) large.address[i] = kRemoved;
  }
  released_slot(a) = a;
}

// True when the `bytes` from `a` on are known to be readable. A large block may lie within
// the small blocks' span and reach past its end.
KEL_ALWAYS_INLINE bool readable(uintptr_t a, uintptr_t bytes) {
  const uintptr_t offset = a - mem_manager.span_low, extent = mem_manager.span_extent;
  if (KEL_LIKELY(a >= mem_manager.span_low && offset < extent)) {
    if (released_slot(a) == a) return false;
    if (KEL_LIKELY(bytes <= extent - offset)) return true;
  }
  return large_size(a) >= bytes;
}

KEL_ALWAYS_INLINE bool budget_allows() {
  if (KEL_LIKELY(mem_manager.backing_budget < 0)) return true;
  if (mem_manager.backing_budget == 0) return false;
  --mem_manager.backing_budget;
  return true;
}

KEL_ALWAYS_INLINE MemBlockHeader* backing_alloc(uint32_t system_size) {
  if (!budget_allows()) return nullptr;
  if (system_size >= kMemLargeBlock && !large_reserve()) return nullptr;
  void* p;
  if (mem_manager.vm_backing) {
    // A size no segment block can take is exhaustion here, not the vm's fatal order check.
    vm_lock_take();
    p = system_size <= VM_MAX_REQUEST ? vm_alloc(vm_main_segment(), (int)system_size) : nullptr;
    vm_lock_release();
  } else {
    p = mem_manager.backing_allocate(system_size);
  }
  if (p) note_block(p, system_size);
  return (MemBlockHeader*)p;
}

KEL_ALWAYS_INLINE void backing_release(void* block, uint32_t system_size) {
  forget_block(block, system_size);
  if (mem_manager.vm_backing) {
    vm_lock_take();
    vmFree(vm_main_segment(), block);
    vm_lock_release();
  } else {
    mem_manager.backing_free(block);
  }
}

MemBlockHeader* backing_realloc(MemBlockHeader* h, uint32_t old_system, uint32_t system_size) {
  if (!budget_allows()) return nullptr;
  if (system_size >= kMemLargeBlock && !large_reserve()) return nullptr;
  void* p;
  if (mem_manager.vm_backing) {
    vm_lock_take();
    p = system_size <= VM_MAX_REQUEST ? vm_realloc(h, (int)system_size) : nullptr;
    vm_lock_release();
  } else {
    p = mem_manager.backing_reallocate(h, system_size);
  }
  if (p) {
    forget_block(h, old_system);
    note_block(p, system_size);
  }
  return (MemBlockHeader*)p;
}

// ---- block check ----

// The header of a block the backing allocator could have handed out: 8-aligned, in the span.
KEL_ALWAYS_INLINE bool header_readable(const MemBlockHeader* h) {
  const uintptr_t a = (uintptr_t)h;
  return (a & 7) == 0 && readable(a, sizeof(MemBlockHeader));
}

// For a header already found readable: its tail lies within readable memory too.
KEL_ALWAYS_INLINE bool tail_readable(const MemBlockHeader* h) {
  return (uint32_t)h->size <= (uint32_t)kMaxSize &&
         readable((uintptr_t)h, (uint32_t)mem_system_size(h->size));
}

KEL_ALWAYS_INLINE int check_header(const MemBlockHeader* h) {
  if (!header_readable(h)) return MEM_BLOCK_BAD_PREV;
  MemBlockHeader* prev = h->prev;
  if ((prev == nullptr) != (h == mem_manager.first_area)) return MEM_BLOCK_BAD_PREV;
  if (prev && (!header_readable(prev) || !tail_readable(prev) || mem_tail_of(prev)->next != h))
    return MEM_BLOCK_PREV_LINK;
  if (!tail_readable(h)) return MEM_BLOCK_BAD_NEXT;
  MemBlockHeader* next = mem_tail_of((MemBlockHeader*)h)->next;
  if ((next == nullptr) != (h == mem_manager.last_area)) return MEM_BLOCK_BAD_NEXT;
  if (next && (!header_readable(next) || next->prev != h)) return MEM_BLOCK_NEXT_LINK;
  return MEM_BLOCK_OK;
}

// The misuse stop for a broken chain. Returns only if crash() does.
void chain_is_corrupt(const char* where) { misuse_stop(where, "memory chain is corrupt"); }

// Exhaustion outside getmem_or_null: the memory break. error_break jumps to the innermost trap
// that handles memory errors; when no trap takes it there is nothing to go back to.
void out_of_memory() {
  printf(" Serious error - out of virtual memory.");
  printf(" Starting recovery attempt.\n");
  fflush(stdout);
  error_break("Memory error.");
  crash();
}

inline void count_block(int user_delta, int system_delta) {
  mem_manager.user_bytes += user_delta;
  mem_manager.system_bytes += system_delta;
  if (mem_manager.system_bytes > mem_manager.peak_system_bytes)
    mem_manager.peak_system_bytes = mem_manager.system_bytes;
}

inline void set_loop_word(MemBlockHeader* h, int xarray_flag) {
  mem_tail_of(h)->loop_word = MEM_LOOP_NONE | (xarray_flag ? MEM_XARRAY_BIT : 0u);
}

enum class Outcome { Done, Exhausted, Corrupt };

// A new block appended at the end of the chain, counted and linked (steps up to the loop word).
KEL_ALWAYS_INLINE Outcome allocate_block(int32_t size, uint32_t system_size,
                                         MemBlockHeader*& result) {
  MemBlockHeader* h = backing_alloc(system_size);
  if (!h) return Outcome::Exhausted;
  h->size = size;
  kel_lock_take(&mem_manager_lock);
  MemBlockHeader* last = mem_manager.last_area;
  if (last &&
      (!header_readable(last) || !tail_readable(last) || mem_tail_of(last)->next != nullptr)) {
    kel_lock_release(&mem_manager_lock);
    backing_release(h, system_size);
    chain_is_corrupt("manage_memory");
    return Outcome::Corrupt;
  }
  mem_manager.block_count += 1;
  count_block(size, (int)system_size);
  h->prev = last;
  mem_tail_of(h)->next = nullptr;
  if (last)
    mem_tail_of(last)->next = h;
  else
    mem_manager.first_area = h;
  mem_manager.last_area = h;
  result = h;
  return Outcome::Done;
}

// The block `old` resized in place, by the backing allocator, or moved; it keeps its place in
// the chain. On exhaustion the old block stays linked and intact.
Outcome resize_block(MemBlockHeader* oh, int32_t size, uint32_t system_size, bool size_ok,
                     int32_t& old_size, MemBlockHeader*& result) {
  kel_lock_take(&mem_manager_lock);
  if (check_header(oh) != MEM_BLOCK_OK) {
    kel_lock_release(&mem_manager_lock);
    chain_is_corrupt("manage_memory");
    return Outcome::Corrupt;
  }
  old_size = oh->size;
  const uint32_t old_system = (uint32_t)mem_system_size(old_size);
  MemBlockHeader* old_next = mem_tail_of(oh)->next;
  MemBlockHeader* old_prev = oh->prev;
  MemBlockHeader* kept = nullptr;
  MemBlockHeader* h = nullptr;
  if (size_ok && (mem_manager.always_move || mem_manager.keep_released)) {
    h = backing_alloc(system_size);
    if (h) {
      memcpy(h, oh, old_system < system_size ? old_system : system_size);
      memset(oh, MEM_FILL_BYTE, old_system);
      if (mem_manager.keep_released)
        kept = oh;
      else
        backing_release(oh, old_system);
    }
  } else if (size_ok) {
    h = backing_realloc(oh, old_system, system_size);
  }
  if (!h) {
    kel_lock_release(&mem_manager_lock);
    return Outcome::Exhausted;
  }
  h->size = size;
  count_block(size - old_size, (int)system_size - (int)old_system);
  h->prev = old_prev;
  mem_tail_of(h)->next = old_next;
  if (old_next)
    old_next->prev = h;
  else
    mem_manager.last_area = h;
  if (old_prev)
    mem_tail_of(old_prev)->next = h;
  else
    mem_manager.first_area = h;
  // The kept-block list may allocate; recording after the new block took the old one's place
  // lets such an allocation append to a sound chain.
  if (kept) keep_released_block(kept, (int)old_system);
  result = h;
  return Outcome::Done;
}

// ---- the heap's memory-loop callbacks ----

void heap_set_index(mem_loop_record* record, void* ptr) {
  heap_block_set_loop_index(ptr, record->count);
}
int heap_get_index(void* ptr) { return heap_block_loop_index(ptr); }
int heap_get_size(mem_loop_record*, void* ptr) {
  return check_memory_block(ptr) == MEM_BLOCK_OK ? mem_header_of(ptr)->size : -1;
}

}  // namespace

mem_loop_record heap_loop_record = {
    0, 0, 0, nullptr, heap_set_index, heap_get_index, heap_get_size};

// ---- backing allocator hooks ----

void mem_backing_release(void* block) {
  backing_release(block, large_size((uintptr_t)block) ? kMemLargeBlock : 0);
}

void mem_backing_fail_after(int n) { mem_manager.backing_budget = n < 0 ? -1 : n; }

void mem_set_backing(void* (*allocate)(size_t), void* (*reallocate)(void*, size_t),
                     void (*release)(void*)) {
  const bool standard = !allocate || !reallocate || !release;
  mem_manager.backing_allocate = standard ? malloc : allocate;
  mem_manager.backing_reallocate = standard ? realloc : reallocate;
  mem_manager.backing_free = standard ? free : release;
}

int mem_header_readable(const MemBlockHeader* h) { return header_readable(h); }
int mem_block_readable(const MemBlockHeader* h) { return header_readable(h) && tail_readable(h); }

// ---- the allocation interface ----

namespace {

// The debugging hooks of a new or resized block, out of the hot path.
KEL_COLD void debug_hooks_after_alloc(void* user) {
  if (mem_manager.memdebug_mode > 0) memdebug_alloc(user);
  if (heap_loop_record.active) debug_memory_loop_alloc(&heap_loop_record, user);
}

// The steps after the block is linked: loop word, release of the lock, the debugging hooks and
// the zero-fill of the bytes the caller has not had before.
KEL_ALWAYS_INLINE void* finish_block(MemBlockHeader* h, int32_t size, int32_t old_size,
                                     int xarray_flag) {
  set_loop_word(h, xarray_flag);
  kel_lock_release(&mem_manager_lock);
  void* user = mem_user_of(h);
  // One test for both tools while they are off (the memdebug mode is 0, 1 or 2).
  if (KEL_MEM_DEBUG_HOOKS && KEL_UNLIKELY(mem_manager.memdebug_mode | heap_loop_record.active))
    debug_hooks_after_alloc(user);
  if (size > old_size) memset((char*)user + old_size, 0, (size_t)(size - old_size));
  return user;
}

// A new heap block; null only when may_fail is set and the memory is exhausted.
KEL_ALWAYS_INLINE void* new_block(int size, int may_fail, int xarray_flag) {
  // A negative size or one whose system size overflows can never be satisfied: it takes the
  // exhaustion path instead of becoming a small block followed by a wild zero-fill.
  MemBlockHeader* h = nullptr;
  Outcome outcome = Outcome::Exhausted;
  if (KEL_LIKELY(size >= 0 && size <= kMaxSize))
    outcome = allocate_block(size, (uint32_t)mem_system_size(size), h);
  if (KEL_LIKELY(outcome == Outcome::Done)) return finish_block(h, size, 0, xarray_flag);
  if (outcome == Outcome::Exhausted && !may_fail) out_of_memory();
  return nullptr;
}

}  // namespace

void* manage_memory(int size, void* old, int may_fail, int xarray_flag) {
  if (!old) return new_block(size, may_fail, xarray_flag);
  if (KEL_MEM_DEBUG_HOOKS && KEL_UNLIKELY(heap_loop_record.active))
    debug_memory_loop_release(&heap_loop_record, old);
  const bool size_ok = size >= 0 && size <= kMaxSize;
  const uint32_t system_size = size_ok ? (uint32_t)mem_system_size(size) : 0;
  MemBlockHeader* h = nullptr;
  int32_t old_size = 0;
  Outcome outcome = resize_block(mem_header_of(old), size, system_size, size_ok, old_size, h);
  if (outcome == Outcome::Done) return finish_block(h, size, old_size, xarray_flag);
  if (outcome == Outcome::Exhausted && !may_fail) out_of_memory();
  return nullptr;
}

void* getmem_xar(int size, int xarray_flag) {
  if (size == 0) return nullptr;
  if (size > 0) {
    int id = find_auto_clump(size);
    if (id >= 0) return clump_getmem_xar(id, xarray_flag);
  }
  return new_block(size, 0, xarray_flag);
}

void* getmem(int size) { return getmem_xar(size, 0); }

void* getmem_or_null(int size) { return new_block(size, 1, 0); }

void* relocmem_xar(void* ptr, int size, int xarray_flag) {
  if (!ptr) return getmem_xar(size, xarray_flag);
  if (pseg_contains(ptr)) {
    void* moved = getmem(size);
    int keep = pseg_user_size(ptr);
    if (keep > size) keep = size;
    if (moved && keep > 0) memcpy(moved, ptr, (size_t)keep);
    pseg_release(ptr);
    return moved;
  }
  if (clump_holds(ptr)) return relocmem_clump(ptr, size);
  return manage_memory(size, ptr, 0, xarray_flag);
}

void* relocmem(void* ptr, int size) { return relocmem_xar(ptr, size, 0); }

int rlsmem(void* ptr) {
  if (!ptr) return 0;
  if (rlsmem_clump(ptr)) return 0;
  if (pseg_contains(ptr)) {
    pseg_release(ptr);
    return 0;
  }
  if (KEL_MEM_DEBUG_HOOKS && KEL_UNLIKELY(heap_loop_record.active))
    debug_memory_loop_release(&heap_loop_record, ptr);

  MemBlockHeader* h = mem_header_of(ptr);
  kel_lock_take(&mem_manager_lock);
  if (check_header(h) != MEM_BLOCK_OK) {
    kel_lock_release(&mem_manager_lock);
    chain_is_corrupt("rlsmem");
    return 0;
  }
  MemBlockHeader* prev = h->prev;
  MemBlockHeader* next = mem_tail_of(h)->next;
  if (prev)
    mem_tail_of(prev)->next = next;
  else
    mem_manager.first_area = next;
  if (next)
    next->prev = prev;
  else
    mem_manager.last_area = prev;
  // The fill below covers the header and the tail, which clears the block's own links.
  const int system_size = mem_system_size(h->size);
  mem_manager.block_count -= 1;
  mem_manager.user_bytes -= h->size;
  mem_manager.system_bytes -= system_size;
  kel_lock_release(&mem_manager_lock);

  const bool keep = mem_manager.keep_released != 0;
  if (system_size < kWholeFillLimit || keep) {
    memset(h, MEM_FILL_BYTE, (size_t)system_size);
  } else {
    memset(h, MEM_FILL_BYTE, kEdgeFill);
    memset((char*)h + system_size - kEdgeFill, MEM_FILL_BYTE, kEdgeFill);
  }
  if (keep)
    keep_released_block(h, system_size);
  else
    backing_release(h, (uint32_t)system_size);
  return 0;
}

// ---- inspection ----

int check_memory_block(const void* ptr) {
  if (!ptr) return MEM_BLOCK_NULL;
  return check_header(mem_header_of(ptr));
}

int heap_block_loop_index(const void* user) {
  if (check_memory_block(user) != MEM_BLOCK_OK) return -1;
  return (int)(mem_tail_of(mem_header_of(user))->loop_word & MEM_LOOP_INDEX_MASK);
}

int heap_block_set_loop_index(void* user, int index) {
  if (check_memory_block(user) != MEM_BLOCK_OK) return 0;
  MemBlockTail* t = mem_tail_of(mem_header_of(user));
  t->loop_word = (t->loop_word & MEM_XARRAY_BIT) | ((uint32_t)index & MEM_LOOP_INDEX_MASK);
  return 1;
}

int debug_getmem_size(const void* ptr) {
  if (!ptr) return 0;
  int clump_size = clump_object_size(ptr);
  if (clump_size >= 0) return clump_size;
  if (check_memory_block(ptr) == MEM_BLOCK_OK) return mem_header_of(ptr)->size;
  dbg_err_crash("debug_getmem_size", "invalid memory area %d", (int)(intptr_t)ptr);
  return -1;
}

int getmem_block_info(const void* ptr, void** prev, void** next, int* size, int* overhead,
                      int* loop_index, int* xarray_flag) {
  if (!ptr) return 0;
  if (clump_object_info(ptr, prev, next, size, overhead, loop_index, xarray_flag)) return 1;
  MemBlockHeader* h = mem_header_of(ptr);
  if (check_header(h) != MEM_BLOCK_OK) return 0;
  const MemBlockTail* t = mem_tail_of(h);
  if (prev) *prev = mem_user_of(h->prev);
  if (next) *next = mem_user_of(t->next);
  if (size) *size = h->size;
  if (overhead) *overhead = mem_system_size(h->size) - h->size;
  if (loop_index) *loop_index = (int)(t->loop_word & MEM_LOOP_INDEX_MASK);
  if (xarray_flag) *xarray_flag = (t->loop_word & MEM_XARRAY_BIT) ? 1 : 0;
  return 1;
}

void* first_memory_area(void) { return mem_user_of(mem_manager.first_area); }

void forget_memory_chain(void) {
  mem_manager.first_area = nullptr;
  mem_manager.last_area = nullptr;
  // Every counted block is now off the chain, and none of them can be released any more.
  mem_manager.forgotten_blocks = mem_manager.block_count;
  mem_manager.forgotten_user_bytes = mem_manager.user_bytes;
  mem_manager.forgotten_system_bytes = mem_manager.system_bytes;
}

void getmem_counters(int* count, int* user_bytes, int* system_bytes, int* peak) {
  if (count) *count = mem_manager.block_count;
  if (user_bytes) *user_bytes = mem_manager.user_bytes;
  if (system_bytes) *system_bytes = mem_manager.system_bytes;
  if (peak) *peak = mem_manager.peak_system_bytes;
}

int mem_set_always_move(int on) {
  int previous = mem_manager.always_move;
  mem_manager.always_move = on ? 1 : 0;
  if (order_debug_level_get() != 0)
    printf("Relocation will %s memory.\n", on ? "always move" : "not always");
  return previous;
}

int mem_always_move(void) { return mem_manager.always_move; }

// ---- the state's invariants ----

namespace {

// The walk of the chain against the counters and the records of where blocks lie.
const char* chain_fault(const MemManagerState& s) {
  if ((s.first_area == nullptr) != (s.last_area == nullptr))
    return "first_area is null exactly when last_area is null";
  const int chain_blocks = s.block_count - s.forgotten_blocks;
  int blocks = 0;
  int64_t user = 0, system = 0;
  for (MemBlockHeader* h = s.first_area; h; h = mem_tail_of(h)->next) {
    if (blocks++ == chain_blocks) return "block_count = the blocks on the chain + forgotten_blocks";
    if (check_header(h) != MEM_BLOCK_OK) return "every block on the chain passes the block check";
    const uintptr_t a = (uintptr_t)h;
    const uint32_t size = (uint32_t)mem_system_size(h->size);
    user += h->size;
    system += size;
    if (released_slot(a) == a) return "released_large holds no block on the chain";
    if (size >= kMemLargeBlock && large_size(a) != size)
      return "every large block on the chain has an entry in large, with its system size";
    if (size < kMemLargeBlock && (a < s.span_low || a + size - s.span_low > s.span_extent))
      return "every small block on the chain lies within the span";
  }
  if (blocks != chain_blocks) return "block_count = the blocks on the chain + forgotten_blocks";
  if (user != (int64_t)s.user_bytes - s.forgotten_user_bytes)
    return "user_bytes = the sum of their user sizes + forgotten_user_bytes";
  if (system != (int64_t)s.system_bytes - s.forgotten_system_bytes)
    return "system_bytes = the sum of their system sizes + forgotten_system_bytes";
  return nullptr;
}

// The fields checked one by one, and the large-block table.
const char* field_fault(const MemManagerState& s) {
  if (s.peak_system_bytes < s.system_bytes) return "peak_system_bytes >= system_bytes";
  if (s.alloc_ordinal > MEM_LOOP_INDEX_MASK) return "alloc_ordinal is a 31-bit count";
  if (s.memdebug_mode < 0 || s.memdebug_mode > 2) return "memdebug_mode is 0, 1 or 2";
  if ((s.always_move | s.keep_released) & ~1) return "always_move and keep_released are 0 or 1";
  if (!s.backing_allocate || !s.backing_reallocate || !s.backing_free)
    return "the backing allocator's functions are never null";
  if (s.backing_budget < -1) return "backing_budget is -1 or a count";
  if ((s.span_extent == 0) != (s.span_low == UINTPTR_MAX) ||
      s.span_extent > UINTPTR_MAX - s.span_low)
    return "the span is empty exactly while span_low is UINTPTR_MAX, and within the address space";
  const MemLargeBlocks& t = s.large;
  if ((t.capacity == 0) != (t.address == nullptr) || (t.capacity == 0) != (t.size == nullptr) ||
      (t.capacity & (t.capacity - 1)) != 0)
    return "large's capacity is 0 (no table) or a power of two";
  uint32_t filled = 0;
  for (uint32_t i = 0; i < t.capacity; ++i) filled += t.address[i] != kEmpty;
  if (filled != t.filled || 2 * (uint64_t)t.filled > t.capacity)
    return "large.filled = its entries that are not empty, at most half its capacity";
  for (uint32_t i = 0; i < 64; ++i) {
    const uintptr_t a = s.released_large[i];
    if (a != 0 && ((a >> 12) & 63) != i) return "released_large holds each header in its slot";
  }
  return nullptr;
}

}  // namespace

const char* heap_state_check(void) {
  kel_lock_take(&mem_manager_lock);
  const char* broken = field_fault(mem_manager);
  if (!broken) broken = chain_fault(mem_manager);
  kel_lock_release(&mem_manager_lock);
  return broken;
}

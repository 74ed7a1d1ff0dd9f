// Clumps: the registry, the automatic lookup, taking, releasing and moving objects.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/clump_store.h"
#include "runtime/xar/xar_undo.h"

namespace kel::clump {

ClumpEntry entries[CLUMP_REGISTRY_SIZE];
int entry_count = 0;
mem_loop_record loop_records[CLUMP_REGISTRY_SIZE];
int clump_size = CLUMP_DEFAULT_SIZE;
int mode_off = 0;
int auto_on = 0;

}  // namespace kel::clump

using namespace kel::clump;

namespace {

constexpr int kCacheClasses = 4096;  // one cached id per 8-byte size class below 32768 bytes

kel_lock clump_lock = {0};
ClumpEntry* sorted_index[CLUMP_REGISTRY_SIZE];  // entries by object size, then id
int* size_cache = nullptr;                      // kCacheClasses ids, -1 where none
int auto_entries = 0;                           // live automatic entries
// Per entry, ceil(2^32 / (stride / 8)): a 16-bit slot offset n is a multiple of the stride in
// units of 8 exactly when (uint32_t)(n * magic) < magic, which needs no division.
uint32_t offset_magic[CLUMP_REGISTRY_SIZE];

// ---- the memory-loop callbacks for clump objects ----

void loop_set_index(mem_loop_record* record, void* ptr) {
  ClumpSlot* s = slot_of(ptr);
  if (marker_in_use(s->marker)) s->loop = (int16_t)record->count;
}
int loop_get_index(void* ptr) {
  const ClumpSlot* s = slot_of(ptr);
  return marker_in_use(s->marker) ? s->loop : -1;
}
int loop_get_size(mem_loop_record* record, void*) {
  return entries[record - loop_records].object_size;
}

void reset_loop_record(int id) {
  loop_records[id] =
      mem_loop_record{0, 0, 0, nullptr, loop_set_index, loop_get_index, loop_get_size};
}

// ---- where clumps lie ----
//
// A pointer is looked at as a clump object only when it lies inside a live clump, found in a
// table of the 64 KiB chunks of the address space that live clumps cover. So no byte around a
// pointer that is not in a clump is ever read (released memory may be unmapped), and a heap
// block can never be taken for a clump object, whatever its bytes below the user pointer hold.

constexpr int kChunkShift = 16;
constexpr uintptr_t kSlotEmpty = 0;
constexpr uintptr_t kSlotRemoved = 1;

struct ChunkSlot {
  uintptr_t chunk;  // chunk number + 2, or kSlotEmpty / kSlotRemoved
  Clump* clump;
};
ChunkSlot* chunk_table = nullptr;
uint32_t chunk_capacity = 0;  // a power of two, or 0
uint32_t chunk_filled = 0;    // live and removed slots
int live_clumps = 0;

inline uint32_t chunk_hash(uintptr_t key) { return (uint32_t)(key * 2654435761u) >> 8; }
inline int clump_block_bytes(const Clump* c) { return mem_header_of(c)->size; }
inline uintptr_t first_chunk(const Clump* c) { return ((uintptr_t)c >> kChunkShift) + 2; }
inline uintptr_t last_chunk(const Clump* c) {
  return (((uintptr_t)c + clump_block_bytes(c) - 1) >> kChunkShift) + 2;
}

void chunk_put(uintptr_t key, Clump* c) {
  const uint32_t mask = chunk_capacity - 1;
  uint32_t i = chunk_hash(key) & mask;
  while (chunk_table[i].chunk > kSlotRemoved) i = (i + 1) & mask;
  if (chunk_table[i].chunk == kSlotEmpty) ++chunk_filled;
  chunk_table[i] = {key, c};
}

bool chunk_table_full(int bytes) {
  return (chunk_filled + (uint32_t)(bytes >> kChunkShift) + 2) * 2 > chunk_capacity;
}

// Room for the chunks of one more clump of `bytes` bytes. The new table is a heap block in any
// case, never a clump.
void chunk_reserve(int bytes) {
  const uint32_t more = (uint32_t)(bytes >> kChunkShift) + 2;
  if (!chunk_table_full(bytes)) return;
  uint32_t capacity = chunk_capacity ? chunk_capacity : 64;
  while ((live_clumps * 6u + more) * 4 > capacity) capacity *= 2;
  ChunkSlot* table = (ChunkSlot*)manage_memory((int)(capacity * sizeof(ChunkSlot)), nullptr, 0, 0);
  ChunkSlot* old = chunk_table;
  const uint32_t old_capacity = chunk_capacity;
  chunk_table = table;
  chunk_capacity = capacity;
  chunk_filled = 0;
  for (uint32_t i = 0; i < old_capacity; ++i)
    if (old[i].chunk > kSlotRemoved) chunk_put(old[i].chunk, old[i].clump);
  if (old) rlsmem(old);
}

void chunks_add(Clump* c) {
  for (uintptr_t k = first_chunk(c); k <= last_chunk(c); ++k) chunk_put(k, c);
  ++live_clumps;
}

void chunks_remove(Clump* c) {
  const uint32_t mask = chunk_capacity - 1;
  for (uintptr_t k = first_chunk(c); k <= last_chunk(c); ++k)
    for (uint32_t i = chunk_hash(k) & mask; chunk_table[i].chunk != kSlotEmpty; i = (i + 1) & mask)
      if (chunk_table[i].chunk == k && chunk_table[i].clump == c) {
        chunk_table[i].chunk = kSlotRemoved;
        break;
      }
  --live_clumps;
}

// The live clump whose block holds `ptr`, or null.
inline Clump* clump_around(const void* ptr) {
  if (KEL_LIKELY(live_clumps == 0)) return nullptr;
  const uintptr_t a = (uintptr_t)ptr;
  const uintptr_t key = (a >> kChunkShift) + 2;
  const uint32_t mask = chunk_capacity - 1;
  for (uint32_t i = chunk_hash(key) & mask; chunk_table[i].chunk != kSlotEmpty;
       i = (i + 1) & mask) {
    Clump* c = chunk_table[i].clump;
    if (chunk_table[i].chunk == key && a >= (uintptr_t)c &&
        a - (uintptr_t)c < (uintptr_t)clump_block_bytes(c))
      return c;
  }
  return nullptr;
}

// ---- recognising a clump object ----

// The clump of the object at `ptr` when `ptr` is an object start inside the live clump `c` (the
// clump around `ptr`, or null), else null. A clump or slot header that disagrees with where the
// clump lies is damage of a real clump and stops.
Clump* clump_object_in(Clump* c, const void* ptr) {
  if (!c) return nullptr;
  if (c->self != c || c->id < 0 || c->id >= entry_count) {
    misuse_stop("rlsmem_clump", "clump corruption: own address is wrong");
    return nullptr;
  }
  const ClumpEntry& e = entries[c->id];
  const uintptr_t first_object = (uintptr_t)c + CLUMP_HEADER_SIZE + CLUMP_SLOT_HEADER_SIZE;
  const uintptr_t a = (uintptr_t)ptr;
  const uintptr_t stride = stride_of(e.object_size);
  if (a < first_object) return nullptr;
  const uintptr_t distance = a - first_object;
  const int own = slot_of(ptr)->own;
  // The slot header names its own place, and that place is where a slot starts: the usual
  // case, without a division. Bytes inside an object may name their own place too.
  const uint32_t magic = offset_magic[c->id];
  if (KEL_LIKELY(own >= 0 && (uintptr_t)own * 8 == distance &&
                 distance < (uintptr_t)e.per_clump * stride && (uint32_t)own * magic < magic))
    return c;
  if (distance % stride != 0 || distance / stride >= (uintptr_t)e.per_clump)
    return nullptr;  // inside the clump, but not where an object starts
  misuse_stop("rlsmem_clump", "clump corruption: slot header is wrong");
  return nullptr;
}

// The clump of the object at `ptr` when `ptr` is an object start inside a live clump, else null.
Clump* clump_of_object(const void* ptr) { return clump_object_in(clump_around(ptr), ptr); }

// The clump holding the object in use at `ptr`, or null.
Clump* clump_in_use(const void* ptr) {
  Clump* c = clump_of_object(ptr);
  return c && marker_in_use(slot_of(ptr)->marker) ? c : nullptr;
}

// ---- registration ----

bool index_before(const ClumpEntry* a, const ClumpEntry* b) {
  if (a->object_size != b->object_size) return a->object_size < b->object_size;
  return a < b;
}

int register_entry(const char* name, int size, int kind) {
  if (size <= 0) {
    misuse_stop(kind == CLUMP_KIND_AUTO ? "find_auto_clump" : "register_clump",
                "invalid object size");
    return -1;
  }
  if (kind == CLUMP_KIND_AUTO) size = (int)mem_round8((uint32_t)size);
  // A clump must hold two objects, since it never hands out its last slot.
  const uint32_t per = (uint32_t)(clump_size - CLUMP_HEADER_SIZE) / stride_of(size);
  if (size > clump_size || per < 2) {
    dbg_err_crash("register_clump", "object size %d is too big for clumps of %d bytes", size,
                  clump_size);
    return -1;
  }
  int id = entry_count;
  for (int i = 0; i < entry_count; ++i)
    if (entries[i].kind == CLUMP_KIND_RETIRED) {
      id = i;
      break;
    }
  if (id == CLUMP_REGISTRY_SIZE) {
    if (order_debug_level_get() != 0) misuse_stop("register_clump", "clump registry is full");
    return -1;
  }
  if (id == entry_count) entry_count += 1;
  ClumpEntry& e = entries[id];
  memset(e.name, 0, sizeof e.name);
  if (name) strncpy(e.name, name, CLUMP_NAME_SIZE - 1);
  e.object_size = size;
  e.first = nullptr;
  e.per_clump = (int32_t)per;
  e.clump_bytes = clump_size;
  e.kind = kind;
  offset_magic[id] = 0xFFFFFFFFu / (stride_of(size) / 8) + 1;
  if (kind == CLUMP_KIND_AUTO) auto_entries += 1;
  for (int i = 0; i < entry_count; ++i) sorted_index[i] = &entries[i];
  std::sort(sorted_index, sorted_index + entry_count, index_before);
  reset_loop_record(id);
  return id;
}

int find_in_index(int wanted) {
  ClumpEntry** end = sorted_index + entry_count;
  ClumpEntry** it = std::lower_bound(sorted_index, end, wanted, [](const ClumpEntry* e, int size) {
    return e->object_size < size;
  });
  for (; it != end && (*it)->object_size == wanted; ++it)
    if ((*it)->kind == CLUMP_KIND_AUTO) return (int)(*it - entries);
  return -1;
}

// ---- clumps ----

void release_pending(void* arg) {
  void** pending = (void**)arg;
  rlsmem(*pending);
  *pending = nullptr;
}

// A new clump for entry `id`, not yet linked. Both of its allocations, the block and a larger
// table of where clumps lie, come before anything changes; when the table must grow, a memory
// break there gives the block back.
Clump* new_clump(int id) {
  ClumpEntry& e = entries[id];
  void* pending = nullptr;
  const int registered =
      chunk_table_full(e.clump_bytes) ? kel::xar::undo_begin(release_pending, &pending) : 0;
  pending = getmem(e.clump_bytes);
  chunk_reserve(e.clump_bytes);
  kel::xar::undo_end(registered);
  Clump* c = (Clump*)pending;
  c->id = (int16_t)id;
  c->first_free = 0;
  c->self = c;
  const int step = (int)(stride_of(e.object_size) / 8);
  for (int i = 0; i < e.per_clump; ++i) {
    ClumpSlot* s = slot_at(c, i * step);
    s->own = (int16_t)(i * step);
    s->next_free = (int16_t)(i + 1 < e.per_clump ? (i + 1) * step : -1);
    s->marker = CLUMP_MARK_FREE;
    s->loop = -1;
  }
  return c;
}

void unlink_clump(ClumpEntry& e, Clump* c) {
  if (c->prev)
    c->prev->next = c->next;
  else
    e.first = c->next;
  if (c->next) c->next->prev = c->prev;
  c->next = c->prev = nullptr;
}

void push_front(ClumpEntry& e, Clump* c) {
  c->prev = nullptr;
  c->next = e.first;
  if (e.first) e.first->prev = c;
  e.first = c;
}

bool entry_live(int id) {
  return id >= 0 && id < entry_count &&
         (entries[id].kind == CLUMP_KIND_AUTO || entries[id].kind == CLUMP_KIND_REGISTERED);
}

}  // namespace

extern "C" {

int init_clump_lock(void) {
  if (!kel_lock_create(&clump_lock)) {
    printf("Error initializing clump lock.  Exiting.\n");
    fflush(stdout);
    ozt_exit(1);
  }
  return 1;
}

int register_clump(const char* name, int object_size) {
  return register_entry(name, object_size, CLUMP_KIND_REGISTERED);
}

int find_auto_clump(int size) {
  // Nothing can serve the size while no automatic entry exists and none may be made.
  if (mode_off || (!auto_on && auto_entries == 0)) return -1;
  if (size <= 0) {
    misuse_stop("find_auto_clump", "invalid object size");
    return -1;
  }
  if (!size_cache) {
    // A heap block in any case: the cache must never come from a clump.
    int* cache = (int*)manage_memory(kCacheClasses * (int)sizeof(int), nullptr, 0, 0);
    for (int i = 0; i < kCacheClasses; ++i) cache[i] = -1;
    size_cache = cache;
  }
  const uint32_t wanted = mem_round8((uint32_t)size);
  const uint32_t cls = ((uint32_t)size + 7u) >> 3;
  if (cls < (uint32_t)kCacheClasses) {
    const int id = size_cache[cls];
    if (id >= 0 && entries[id].object_size == (int)wanted && entries[id].kind == CLUMP_KIND_AUTO)
      return id;
  }
  if (wanted > (uint32_t)INT32_MAX) return -1;
  int id = find_in_index((int)wanted);
  if (id < 0 && wanted <= (uint32_t)CLUMP_AUTO_MAX && auto_on)
    id = register_entry(nullptr, (int)wanted, CLUMP_KIND_AUTO);
  if (id >= 0 && cls < (uint32_t)kCacheClasses) size_cache[cls] = id;
  return id;
}

void* clump_getmem(int id) { return clump_getmem_xar(id, 0); }

void* clump_getmem_xar(int id, int xarray_flag) {
  if (!entry_live(id)) return nullptr;
  ClumpEntry& e = entries[id];
  kel_lock_take(&clump_lock);
  const int limit = e.per_clump - 1;
  Clump* c = e.first;
  while (c && c->in_use >= limit) c = c->next;
  if (!c) {
    c = new_clump(id);  // the allocations come first; nothing has changed before them
    chunks_add(c);
    push_front(e, c);
  } else if (c != e.first) {
    unlink_clump(e, c);
    push_front(e, c);
  }
  ClumpSlot* s = slot_at(c, c->first_free);
  c->first_free = s->next_free;
  s->next_free = -1;
  s->marker = (int16_t)(xarray_flag ? CLUMP_MARK_XARRAY : CLUMP_MARK_USED);
  s->loop = -1;
  c->in_use += 1;
  void* object = (char*)s + CLUMP_SLOT_HEADER_SIZE;
  memset(object, 0, mem_round8((uint32_t)e.object_size));
  kel_lock_release(&clump_lock);
  if (loop_records[id].active) debug_memory_loop_alloc(&loop_records[id], object);
  return object;
}

int rlsmem_clump(void* ptr) {
  if (KEL_LIKELY(live_clumps == 0)) return 0;
  kel_lock_take(&clump_lock);
  Clump* around = clump_around(ptr);
  Clump* c = clump_object_in(around, ptr);
  if (!c) {
    kel_lock_release(&clump_lock);
    if (!around) return 0;
    // Inside a live clump but no object start (the clump's own block, for one): never a heap
    // block to release. Refused as the heap refuses a bad release; nothing is released.
    misuse_stop("rlsmem", "memory chain is corrupt");
    return 1;
  }
  ClumpSlot* s = slot_of(ptr);
  if (!marker_in_use(s->marker)) {
    kel_lock_release(&clump_lock);
    if (s->marker == CLUMP_MARK_FREE)
      dbg_err_crash("rlsmem_clump", " release of already released object");
    return 0;
  }
  const int id = c->id;
  ClumpEntry& e = entries[id];
  s->next_free = c->first_free;
  c->first_free = s->own;
  c->in_use -= 1;
  if (loop_records[id].active) debug_memory_loop_release(&loop_records[id], ptr);
  memset(ptr, MEM_FILL_BYTE, mem_round8((uint32_t)e.object_size));
  s->marker = CLUMP_MARK_FREE;
  if (c->in_use == 0) {
    unlink_clump(e, c);
    chunks_remove(c);
    rlsmem(c);
  }
  kel_lock_release(&clump_lock);
  return 1;
}

void* relocmem_clump(void* ptr, int size) {
  if (KEL_LIKELY(live_clumps == 0)) return nullptr;
  kel_lock_take(&clump_lock);
  Clump* around = clump_around(ptr);
  Clump* c = clump_object_in(around, ptr);
  if (!c || !marker_in_use(slot_of(ptr)->marker)) {
    kel_lock_release(&clump_lock);
    if (!around) return nullptr;
    // Inside a live clump but no object in use (the clump's own block, a released object, bytes
    // inside an object): never a heap block to resize. Refused; nothing changes.
    misuse_stop("relocmem", "memory chain is corrupt");
    return nullptr;
  }
  const ClumpEntry& e = entries[c->id];
  if (e.kind == CLUMP_KIND_REGISTERED && order_debug_level_get() != 0) {
    printf("relocmem_clump: Cannot reallocate a user registered clump!\n");
    fflush(stdout);
    crash();
  }
  const int old_bytes = (int)mem_round8((uint32_t)e.object_size);
  const int xarray_flag = slot_of(ptr)->marker == CLUMP_MARK_XARRAY;
  kel_lock_release(&clump_lock);
  // The new home first: if it cannot be had, the object stays where it is. A size of 0 gives an
  // empty heap block, as relocmem of a heap block does.
  void* moved =
      size == 0 ? manage_memory(0, nullptr, 0, xarray_flag) : getmem_xar(size, xarray_flag);
  memcpy(moved, ptr, (size_t)(size < old_bytes ? size : old_bytes));
  rlsmem(ptr);
  return moved;
}

int clump_holds(const void* ptr) { return clump_around(ptr) != nullptr; }

int clump_object_id(const void* ptr) {
  Clump* c = clump_in_use(ptr);
  return c ? c->id : -1;
}

int clump_object_size(const void* ptr) {
  Clump* c = clump_in_use(ptr);
  return c ? entries[c->id].object_size : -1;
}

int clump_object_info(const void* ptr, void** prev, void** next, int* size, int* overhead,
                      int* loop_index, int* xarray_flag) {
  Clump* c = clump_in_use(ptr);
  if (!c) return 0;
  const int object_size = entries[c->id].object_size;
  const ClumpSlot* s = slot_of(ptr);
  if (prev) *prev = nullptr;
  if (next) *next = nullptr;
  if (size) *size = object_size;
  if (overhead)
    *overhead = (int)mem_round8((uint32_t)object_size) - object_size + CLUMP_SLOT_HEADER_SIZE;
  if (loop_index) *loop_index = s->loop;
  if (xarray_flag) *xarray_flag = s->marker == CLUMP_MARK_XARRAY;
  return 1;
}

int free_clump(int id) {
  if (!entry_live(id)) return 0;
  ClumpEntry& e = entries[id];
  for (Clump* c = e.first; c;) {
    Clump* next = c->next;
    chunks_remove(c);
    rlsmem(c);
    c = next;
  }
  e.first = nullptr;
  debug_memory_loop_forget_all(&loop_records[id]);
  return 1;
}

int unregister_clump(int id) {
  if (!free_clump(id)) return 0;
  if (entries[id].kind == CLUMP_KIND_AUTO) auto_entries -= 1;
  entries[id].kind = CLUMP_KIND_RETIRED;
  return 1;
}

void clump_loop_records(mem_loop_record** records, int* count) {
  if (records) *records = loop_records;
  if (count) *count = entry_count;
}

int clump_objects_per_clump(int id) {
  return id >= 0 && id < entry_count ? entries[id].per_clump : -1;
}

}  // extern "C"

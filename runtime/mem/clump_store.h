// The clump registry, clump and slot layouts and the settings, shared by the clump store's files.
#pragma once
#include <stdint.h>
#include "runtime/mem/clump.h"
#include "runtime/mem/mem_block.h"
#include "runtime/mem/memdebug.h"

struct Clump {
  int32_t in_use;      // objects in use
  int16_t id;          // registry index
  int16_t first_free;  // slot offset of the first free slot
  Clump* next;         // next clump of the same entry
  Clump* prev;         // previous clump of the same entry
  Clump* self;         // the clump's own address, checked on every release
  int32_t unused;
};
static_assert(sizeof(Clump) == CLUMP_HEADER_SIZE, "24-byte clump header");

struct ClumpSlot {
  int16_t own;        // this slot's offset: distance from byte 24 in units of 8 bytes
  int16_t next_free;  // next free slot while free; -1 at the end of the free list and while in use
  int16_t marker;     // CLUMP_MARK_FREE, _USED or _XARRAY
  int16_t loop;       // memory loop index of the object; -1 when none
};
static_assert(sizeof(ClumpSlot) == CLUMP_SLOT_HEADER_SIZE, "8-byte slot header");

struct ClumpEntry {
  char name[CLUMP_NAME_SIZE];
  int32_t object_size;  // automatic entries: already a multiple of 8
  int32_t kind;         // CLUMP_KIND_AUTO, _REGISTERED or _RETIRED
  Clump* first;         // most recently used first
  int32_t per_clump;    // objects per clump, fixed when the entry is made
  int32_t clump_bytes;  // block size of this entry's clumps (CLUMP_SIZE when the entry was made)
};

namespace kel::clump {

extern ClumpEntry entries[CLUMP_REGISTRY_SIZE];
extern int entry_count;
extern mem_loop_record loop_records[CLUMP_REGISTRY_SIZE];
extern int clump_size;
extern int mode_off;
extern int auto_on;

constexpr uint32_t stride_of(int object_size) {
  return mem_round8((uint32_t)object_size) + CLUMP_SLOT_HEADER_SIZE;
}
inline ClumpSlot* slot_at(Clump* c, int offset) {
  return (ClumpSlot*)((char*)c + CLUMP_HEADER_SIZE + offset * 8);
}
inline ClumpSlot* slot_of(const void* object) {
  return (ClumpSlot*)((char*)object - CLUMP_SLOT_HEADER_SIZE);
}
inline bool marker_in_use(int marker) {
  return marker == CLUMP_MARK_USED || marker == CLUMP_MARK_XARRAY;
}

}  // namespace kel::clump

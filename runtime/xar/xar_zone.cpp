// Zones (arenas of getmem chunks in which xarrays can live), the persistent-memory support calls
// and the debugging views of an xarray block.
#include <limits.h>

#include <initializer_list>

#include "runtime/diag/diag.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/xar_block.h"

using namespace kel::xar;

namespace {

struct ZoneRecord {
  void** chunks;   // xarray of chunk pointers
  uint32_t* used;  // xarray: bytes handed out from each chunk
  uint32_t chunk_size;
  uint32_t full_threshold;  // a first chunk filled past this is skipped from then on
  int32_t first_chunk;
  int32_t in_use;
};
static_assert(sizeof(ZoneRecord) == 24, "zone records are six 32-bit words");

ZoneRecord* g_zones = nullptr;  // xarray of zone records, made on first use

ZoneRecord* zone_record(int zone) {
  if (!g_zones || zone < 0 || zone >= XAR_COUNT(&g_zones) || !g_zones[zone].in_use) {
    error_break("Memory error.");
    return nullptr;
  }
  return &g_zones[zone];
}

}  // namespace

namespace kel::xar {

byte* zone_block(int zone, int bytes) {
  // A reset zone hands out its chunks again without clearing them; array blocks start zero.
  byte* block = static_cast<byte*>(xar_zone_alloc(zone, bytes));
  if (block) memset(block, 0, size_t(bytes));
  return block;
}

}  // namespace kel::xar

extern "C" {

int xar_zone_create(int chunk_size) {
  if (!g_zones) g_zones = static_cast<ZoneRecord*>(XAR_ALLOC(0, sizeof(ZoneRecord), 2));
  const int count = XAR_COUNT(&g_zones);
  int zone = 0;
  while (zone < count && g_zones[zone].in_use) ++zone;
  if (zone == count && !XAR_EXTEND(&g_zones, 1)) return -1;
  ZoneRecord& z = g_zones[zone];
  z.chunk_size = uint32_t(chunk_size >= 1 ? chunk_size : XAR_DEFAULT_ZONE_CHUNK);
  z.full_threshold = z.chunk_size / 20 * 19;
  z.first_chunk = 0;
  // Arrays left by a creation that ran out of memory belong to the free slot and serve again.
  if (!z.chunks) z.chunks = static_cast<void**>(XAR_ALLOC(0, 4, 10));
  if (!z.used) z.used = static_cast<uint32_t*>(XAR_ALLOC(0, 4, 10));
  z.in_use = 1;
  return zone;
}

void xar_zone_destroy(int zone) {
  ZoneRecord* z = zone_record(zone);
  if (!z) return;
  const int chunks = XAR_COUNT(&z->chunks);
  for (int i = 0; i < chunks; ++i) rlsmem(z->chunks[i]);
  XAR_FREE(&z->chunks);
  XAR_FREE(&z->used);
  z->first_chunk = 0;
  z->in_use = 0;
}

int xar_zone_reset(int zone, int clear) {
  ZoneRecord* z = zone_record(zone);
  if (!z) return 0;
  const int chunks = XAR_COUNT(&z->chunks);
  z->first_chunk = 0;
  for (int i = 0; i < chunks; ++i) {
    z->used[i] = 0;
    if (clear) memset(z->chunks[i], 0, z->chunk_size);
  }
  return chunks;
}

int xar_zone_clear(int zone) { return xar_zone_reset(zone, 1); }

int xar_zone_chunk_size(int zone) {
  ZoneRecord* z = zone_record(zone);
  return z ? int(z->chunk_size) : 0;
}

void* xar_zone_alloc(int zone, int size) {
  // A negative size, or one that rounding would overflow, is refused like one past the chunk.
  size = size < 0 || size > INT_MAX - 8 ? 0 : ((size - 1) / 8) * 8 + 8;
  ZoneRecord* z = zone_record(zone);
  if (!z) return nullptr;
  if (size <= 0 || uint32_t(size) > z->chunk_size) {
    error_break("Memory error.");
    return nullptr;
  }
  const int chunks = XAR_COUNT(&z->chunks);
  for (int i = z->first_chunk; i < chunks; ++i) {
    if (z->used[i] <= z->chunk_size - uint32_t(size)) {
      byte* result = static_cast<byte*>(z->chunks[i]) + z->used[i];
      z->used[i] += uint32_t(size);
      if (z->used[z->first_chunk] > z->full_threshold) ++z->first_chunk;
      return result;
    }
  }
  // Room for the new chunk in both lists first, then the chunk: running out of memory at any
  // step leaves the lists in step and holds nothing.
  XAR_EXTEND(&z->chunks, 1);
  XAR_SHRINK(&z->chunks, 1);
  XAR_EXTEND(&z->used, 1);
  XAR_SHRINK(&z->used, 1);
  void* chunk = getmem(int(z->chunk_size));
  if (!chunk) {
    error_break("Memory error.");
    return nullptr;
  }
  const uint32_t used = uint32_t(size);
  XAR_APPEND(&z->chunks, 1, &chunk);
  XAR_APPEND(&z->used, 1, &used);
  return chunk;
}

void pmm_xar_clear_zone(void* p_xar) {
  if (xar_is_invalid(p_xar)) {
    report_fatal("pmm_xar_clear_zone", "Bad xar");
    return;
  }
  View{load_user(p_xar)}.set_zone(-1);
}

int pmm_xar_hdr_size(void) { return XAR_HDR_SIZE; }

int pmm_xar_body_size(const void* p_xar) {
  if (xar_is_invalid(p_xar)) {
    report_fatal("pmm_xar_body_size", "Bad xar");
    return 0;
  }
  return View{load_user(p_xar)}.units() * 8 - XAR_HDR_SIZE - XAR_TRL_SIZE;
}

int pmm_xar_sizeof_compact_copy(const void* p_xar) {
  if (xar_is_invalid(p_xar)) {
    report_fatal("pmm_xar_sizeof_compact_copy", "Bad xar");
    return 0;
  }
  const View v{load_user(p_xar)};
  return (((v.object_size() * v.count() + 7) >> 3) + 2) * 8;
}

int pmm_xar_compact_copy(const void* p_xar, void* buffer, int length) {
  const int bytes = pmm_xar_sizeof_compact_copy(p_xar);
  if (bytes == 0) return 0;
  const View v{load_user(p_xar)};
  if (v.zone() >= 0) {
    report_fatal("pmm_xar_compact_copy", "can't copy from zone");
    return 0;
  }
  if (!buffer || length < bytes) {
    report_fatal("pmm_xar_compact_copy", "buffer too small");
    return 0;
  }
  memcpy(buffer, v.block(), size_t(bytes));
  return bytes;
}

int debug_xar_hdr_memusage(const void* p_xar, int* object_size, int* count, int* capacity,
                           int* overhead) {
  for (int* out : {object_size, count, capacity, overhead})
    if (out) *out = 0;
  if (!p_xar || !load_user(p_xar)) return 1;
  if (xar_is_invalid(p_xar)) {
    info_note("debug_xar_hdr_memusage", "invalid xarray!");
    return 0;
  }
  const View v{load_user(p_xar)};
  const int size = v.object_size();
  const int cap = v.capacity();
  if (object_size) *object_size = size;
  if (count) *count = v.count();
  if (capacity) *capacity = cap;
  if (overhead) {
    int extra = 8 * ((cap * size + 7) >> 3) + 16 - cap * size;
    // Zone blocks live inside a chunk and carry no block overhead of their own.
    int block_overhead = 0;
    if (v.zone() < 0 &&
        getmem_block_info(v.block(), nullptr, nullptr, nullptr, &block_overhead, nullptr, nullptr))
      extra += block_overhead;
    *overhead = extra;
  }
  return 1;
}

int xar_hdr_params(const void* header, int* object_size, int* count, int* capacity) {
  byte* u = header ? static_cast<byte*>(const_cast<void*>(header)) + XAR_HDR_SIZE : nullptr;
  if (!block_ok(u)) return 0;
  const View v{u};
  if (object_size) *object_size = v.object_size();
  if (count) *count = v.count();
  if (capacity) *capacity = v.capacity();
  return 1;
}

int xar_heap_block_ok(const void* header, int block_size) {
  if (!header || block_size < XAR_HDR_SIZE + XAR_TRL_SIZE) return 0;
  const byte* block = static_cast<const byte*>(header);
  if (int(rd32(block) & kUnitsMask) * 8 != block_size) return 0;
  return block_ok(block + XAR_HDR_SIZE);
}

}  // extern "C"

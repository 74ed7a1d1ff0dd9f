// Xarray primitives: allocation, growth, shrinking, counting, freeing and the growth rule.
#include <stdio.h>
#include <stdlib.h>
#include "runtime/diag/diag.h"
#include "runtime/mem/clump.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/xar_block.h"

using namespace kel::xar;

namespace {

int g_ignore_ext = 0;
int g_ignore_reloc_cnt = 0;
int g_debug_xar = -1;  // -1: "DEBUG_XAR" not read yet

bool debug_xar() {
  if (g_debug_xar < 0) g_debug_xar = getenv("DEBUG_XAR") ? 1 : 0;
  return g_debug_xar != 0;
}

// Scaling of the extension by the number of the relocation: 1, 1.3, 1.6, 2, then 15% more each.
double growth_factor(int k) {
  if (k <= 1) return 1.0;
  if (k == 2) return 1.3;
  if (k == 3) return 1.6;
  double f = 2.0;
  // Past the largest count the factor only clamps, so the loop may stop early.
  for (int i = 5; i <= k && f <= double(XAR_MAX_BYTES); ++i) f *= 1.15;
  return f;
}

// Copies n objects; single small objects, the usual append, avoid the library call.
inline void copy_objects(byte* dst, const byte* src, int n, int size) {
  if (n == 1 && size == 4)
    memcpy(dst, src, 4);
  else if (n == 1 && size == 8)
    memcpy(dst, src, 8);
  else
    memcpy(dst, src, size_t(n) * size);
}

// Appending that grows the array, or whose source lies inside it.
KEL_NOINLINE void* append_slow(void* p_xar, int n, const byte* s) {
  byte* u = p_xar ? load_user(p_xar) : nullptr;
  if (n > 0 && s && block_ok(u)) {
    const View v{u};
    const int size = v.object_size();
    const bool inside = s >= u && s < u + v.data_bytes();
    if (inside && s < u + v.count() * size)
      info_note("XAR_APPEND", ": don't ask for trouble. Use xar_replicate");
    if (inside && n <= XAR_MAX_BYTES / size) {
      const int offset = int(s - u);
      const int used = v.count() * size;
      byte* dst = static_cast<byte*>(XAR_EXTEND(p_xar, n));
      if (dst) copy_inner(dst, load_user(p_xar), offset, n * size, used);
      return dst;
    }
  }
  byte* dst = static_cast<byte*>(XAR_EXTEND(p_xar, n));
  if (dst && s) memcpy(dst, s, size_t(n) * View{load_user(p_xar)}.object_size());
  return dst;
}

// Writes the header and trailer of a grown block (a heap array counts its relocations in the
// zone field) and hands it to the owner.
void* finish_extend(void* p_xar, byte* block, int units, int extension, int size, int zone,
                    int count, int n) {
  int new_zone = zone;
  if (zone < 0 && zone > kMinZoneField) new_zone = zone - 1;
  write_header(block, units, extension, size);
  write_trailer(block, units, new_zone, count + n);
  store_user(p_xar, block + XAR_HDR_SIZE);
  return block + XAR_HDR_SIZE + count * size;
}

}  // namespace

namespace kel::xar {

void stop_plain(const char* where, const char* message) {
  printf("%s %s \n", where, message);
  fflush(stdout);
  crash();
}

byte* require(const void* p_xar, const char* where) {
  byte* u = p_xar ? load_user(p_xar) : nullptr;
  if (!block_ok(u)) {
    misuse_stop(where, "invalid array");
    return nullptr;
  }
  return u;
}

}  // namespace kel::xar

extern "C" {

void* xar_alloc_in_zone(int zone, int count, int object_size, int extension) {
  if (count == 0 && extension == 0) return nullptr;
  if (count < 0 || object_size <= 0 || extension <= 0 || object_size > XAR_MAX_OBJECT_SIZE ||
      zone > kMaxZone) {
    misuse_stop("XAR_ALLOC", "invalid request");
    return nullptr;
  }
  if (count == 0 && extension == 1 && object_size < 128) extension = 2;
  if (g_ignore_ext) extension = 1;
  int slots = count;
  if (slots == 0 && !debug_xar()) slots = 1;
  if (count > XAR_MAX_BYTES / object_size) {
    misuse_stop("XAR_ALLOC", "too big array");
    return nullptr;
  }
  const int units = ((slots * object_size + 7) >> 3) + 2;
  const int bytes = units * 8;
  byte* block = zone < 0 ? static_cast<byte*>(getmem_xar(bytes, 1)) : zone_block(zone, bytes);
  if (!block) {
    memory_break("XAR_ALLOC", "out of memory");
    return nullptr;
  }
  write_header(block, units, extension < XAR_MAX_EXTENSION ? extension : XAR_MAX_EXTENSION,
               object_size);
  write_trailer(block, units, zone < kMinZoneField ? kMinZoneField : zone, count);
  return block + XAR_HDR_SIZE;
}

void* XAR_ALLOC(int count, int object_size, int extension) {
  return xar_alloc_in_zone(-1, count, object_size, extension);
}

int XAR_PRE_RELOC(void* header, int n) {
  byte* u = header ? static_cast<byte*>(header) + XAR_HDR_SIZE : nullptr;
  if (!block_ok(u)) {
    misuse_stop("XAR_PRE_RELOC", "invalid array");
    return -1;
  }
  const View v{u};
  const int size = v.object_size();
  const int max_count = XAR_MAX_BYTES / size;
  if (n > max_count - v.count()) {
    memory_break(" XAR_PRE_RELOC", "too big array");
    return -1;
  }
  const int k = g_ignore_reloc_cnt ? 1 : -v.zone();
  int e = v.extension();
  if (k > 0) {
    const double scaled = e * growth_factor(k) + 0.1;
    e = scaled >= max_count ? max_count : int(scaled);
  }
  if (e < 1) e = 1;
  const long long increment = static_cast<long long>(e) * ((n - 1) / e + 1);
  const long long result = v.capacity() + increment;
  return result > max_count ? max_count : int(result);
}

void* XAR_EXTEND(void* p_xar, int n) {
  byte* u = require(p_xar, "XAR_EXTEND");
  if (!u) return nullptr;
  if (n < 0) {
    misuse_stop("XAR_EXTEND", "invalid request");
    return nullptr;
  }
  if (n == 0) return nullptr;
  const View v{u};
  const int count = v.count();
  const int size = v.object_size();
  if (static_cast<long long>(n) * size <= v.data_bytes() - count * size) {
    v.set_count(count + n);
    return u + count * size;
  }
  const int extension = v.extension();
  const int zone = v.zone();
  const int old_units = v.units();
  const int c = XAR_PRE_RELOC(v.block(), n);
  if (c < 0) return nullptr;
  const int units = ((c * size - 1) >> 3) + 3;

  // A clump object moves to a new home taken before it is released, so a failed move leaves the
  // array as it was; the old trailer's bytes are data space in the copy and must be zero.
  byte* old_trailer = v.trailer();
  if (zone < 0 && clump_object_size(v.block()) >= 0) {
    const int trailer_at = int(old_trailer - v.block());
    byte* block = static_cast<byte*>(relocmem_xar(v.block(), units * 8, 1));
    if (!block) {
      memory_break(" XAR_EXTEND", "out of memory");
      return nullptr;
    }
    memset(block + trailer_at, 0, XAR_TRL_SIZE);
    return finish_extend(p_xar, block, units, extension, size, zone, count, n);
  }

  // Poison the old trailer so that stale user pointers fail the check, and keep the bytes
  // that become data space zero. A failing resize gives it back before the memory break, so
  // the array is left exactly as it was.
  byte saved[XAR_TRL_SIZE];
  memcpy(saved, old_trailer, sizeof saved);
  memset(old_trailer, 0, XAR_TRL_SIZE);

  byte* block;
  if (zone < 0) {
    block = static_cast<byte*>(manage_memory(units * 8, v.block(), 1, 1));
  } else {
    block = zone_block(zone, units * 8);
    if (block) memcpy(block, v.block(), size_t(old_units) * 8);
  }
  if (!block) {
    memcpy(old_trailer, saved, sizeof saved);
    memory_break(" XAR_EXTEND", "out of memory");
    return nullptr;
  }
  return finish_extend(p_xar, block, units, extension, size, zone, count, n);
}

void* XAR_SHRINK(void* p_xar, int n) {
  byte* u = require(p_xar, "XAR_SHRINK");
  if (!u) return nullptr;
  const View v{u};
  const int count = v.count();
  // A negative n would raise the count past the capacity.
  if (n < 0 || n > count) {
    misuse_stop("XAR_SHRINK", "invalid request");
    return nullptr;
  }
  const int new_count = count - n;
  const int size = v.object_size();
  v.set_count(new_count);
  byte* p = u + new_count * size;
  for (int left = n * size; left > 0;) {
    const int piece = left < 65535 ? left : 65535;
    memset(p, 0, size_t(piece));
    p += piece;
    left -= piece;
  }
  return new_count ? u + (new_count - 1) * size : nullptr;
}

int XAR_RESIZE(void* p_xar, int n) {
  if (p_xar && !load_user(p_xar) && n == 0) return 0;
  byte* u = require(p_xar, "XAR_RESIZE");
  if (!u) return 0;
  const int count = View{u}.count();
  if (n < count)
    XAR_SHRINK(p_xar, count - n);
  else if (n > count)
    XAR_EXTEND(p_xar, n - count);
  return 0;
}

int XAR_COUNT(const void* p_xar) {
  if (p_xar && !load_user(p_xar)) return 0;
  byte* u = require(p_xar, "XAR_COUNT");
  return u ? View{u}.count() : 0;
}

void* XAR_LAST(const void* p_xar) {
  if (p_xar && !load_user(p_xar)) return nullptr;
  byte* u = require(p_xar, "XAR_LAST");
  if (!u) return nullptr;
  const View v{u};
  const int count = v.count();
  return count ? u + (count - 1) * v.object_size() : nullptr;
}

void XAR_PARAMS(const void* p_xar, int* object_size, int* extension, int* count, int* max_count) {
  byte* u = require(p_xar, "XAR_PARAMS");
  if (!u) return;
  const View v{u};
  if (object_size) *object_size = v.object_size();
  if (extension) *extension = v.extension();
  if (count) *count = v.count();
  if (max_count) *max_count = XAR_MAX_BYTES / v.object_size();
}

void* XAR_APPEND(void* p_xar, int n, const void* src) {
  if (n == 0) return XAR_LAST(p_xar);
  byte* u = p_xar ? load_user(p_xar) : nullptr;
  const byte* s = static_cast<const byte*>(src);
  // The common case: a valid array with room enough and a source outside it.
  if (n > 0 && block_ok(u)) {
    const View v{u};
    const int size = v.object_size();
    const int count = v.count();
    const int room = v.data_bytes();
    const bool inside = s && s >= u && s < u + room;
    if (!inside && static_cast<long long>(n) * size <= room - count * size) {
      v.set_count(count + n);
      byte* dst = u + count * size;
      if (s) copy_objects(dst, s, n, size);
      return dst;
    }
  }
  return append_slow(p_xar, n, s);
}

void* XAR_REPLICATE(void* p_xar, int from, int to) {
  byte* u = require(p_xar, "XAR_PARAMS");
  if (!u) return nullptr;
  const int size = View{u}.object_size();
  const int count = View{u}.count();
  if (from < 0 || from >= count || to < 0 || to > count) {
    misuse_stop("XAR_REPLICATE", "invalid request");
    return nullptr;
  }
  if (!XAR_EXTEND(p_xar, 1)) return nullptr;
  u = load_user(p_xar);
  memmove(u + (to + 1) * size, u + to * size, size_t(count - to) * size);
  if (to <= from) from += 1;
  memcpy(u + to * size, u + from * size, size_t(size));
  return u + to * size;
}

void XAR_FREE(void* p_xar) {
  if (p_xar && !load_user(p_xar)) return;
  byte* u = require(p_xar, "XAR_FREE");
  if (!u) return;
  if (View{u}.zone() < 0) rlsmem(u - XAR_HDR_SIZE);
  store_user(p_xar, nullptr);
}

int xar_is_invalid(const void* p_xar) { return !(p_xar && block_ok(load_user(p_xar))); }

int xar_max_count(int object_size) { return object_size > 0 ? XAR_MAX_BYTES / object_size : 0; }

void xar_set_ignore_ext(int on) {
  g_ignore_ext = on ? 1 : 0;
  if (order_debug_level_get())
    printf("Xarray extension size is now %s.\n", g_ignore_ext ? "ignored" : "valid");
}

int xar_ignore_ext(void) { return g_ignore_ext; }

void xar_set_ignore_reloc_cnt(int on) {
  g_ignore_reloc_cnt = on ? 1 : 0;
  if (order_debug_level_get())
    printf("Xarray reloc count is now %s.\n", g_ignore_reloc_cnt ? "ignored" : "valid");
}

int xar_ignore_reloc_cnt(void) { return g_ignore_reloc_cnt; }

}  // extern "C"

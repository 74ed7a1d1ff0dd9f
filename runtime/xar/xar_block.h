// Internal view of an xarray block and the shared reporting helpers of the xarray module.
#pragma once
#include <stdint.h>
#include <string.h>
#include "runtime/xar/xar.h"

namespace kel::xar {

using byte = unsigned char;

// The block fields are little-endian; both targets are x86, so plain loads in host order match.
inline uint16_t rd16(const byte* p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}
inline uint32_t rd32(const byte* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}
inline void wr16(byte* p, uint16_t v) { memcpy(p, &v, 2); }
inline void wr32(byte* p, uint32_t v) { memcpy(p, &v, 4); }

constexpr uint32_t kUnitsMask = 0x7FFFF;
constexpr int kExtShift = 19;
constexpr int kMinZoneField = -32768;
constexpr int kMaxZone = 32767;

// The owner's pointer is read and written bytewise so that any T* variable can serve as owner.
inline byte* load_user(const void* p_xar) {
  byte* u;
  memcpy(&u, p_xar, sizeof u);
  return u;
}
inline void store_user(void* p_xar, const void* u) { memcpy(p_xar, &u, sizeof u); }

// Accessors over a user pointer that is known to carry a well-formed block.
struct View {
  byte* user;
  byte* block() const { return user - XAR_HDR_SIZE; }
  uint32_t word() const { return rd32(block()); }
  int units() const { return int(word() & kUnitsMask); }
  int extension() const { return int(word() >> kExtShift); }
  int object_size() const { return rd16(user - 4); }
  byte* trailer() const { return block() + units() * 8 - XAR_TRL_SIZE; }
  int zone() const { return int16_t(rd16(trailer() + 2)); }
  int count() const { return int32_t(rd32(trailer() + 4)); }
  void set_count(int c) const { wr32(trailer() + 4, uint32_t(c)); }
  void set_zone(int z) const { wr16(trailer() + 2, uint16_t(int16_t(z))); }
  int data_bytes() const { return units() * 8 - XAR_HDR_SIZE - XAR_TRL_SIZE; }
  int capacity() const { return data_bytes() / object_size(); }
};

// Magic and shape checks; the trailer is located only after the head magic has matched.
inline bool block_ok(const byte* user) {
  if (!user || rd16(user - 2) != XAR_HEAD_MAGIC) return false;
  View v{const_cast<byte*>(user)};
  if (v.units() < 2 || v.object_size() == 0) return false;
  return rd16(v.trailer()) == XAR_TAIL_MAGIC;
}

inline void write_header(byte* block, int units, int extension, int object_size) {
  wr32(block, uint32_t(units) | (uint32_t(extension) << kExtShift));
  wr16(block + 4, uint16_t(object_size));
  wr16(block + 6, XAR_HEAD_MAGIC);
}

inline void write_trailer(byte* block, int units, int zone, int count) {
  byte* t = block + units * 8 - XAR_TRL_SIZE;
  wr16(t, XAR_TAIL_MAGIC);
  wr16(t + 2, uint16_t(int16_t(zone)));
  wr32(t + 4, uint32_t(count));
}

// "%s %s \n" on standard output, then the fatal stop (the plain-array routines' form).
void stop_plain(const char* where, const char* message);

// The user pointer of a valid array, or null after a misuse stop naming `where`.
byte* require(const void* p_xar, const char* where);

// Exchanges two non-overlapping runs of bytes through a 1000-byte buffer.
void exchange(byte* a, byte* b, int bytes);

// Caller data that lies inside an array's own data space is found again after growth by its
// offset: growth keeps the objects below the count where they were and leaves the slots past
// it zero. No copy is taken before growth, so a failing growth has nothing to give back.
//
// The offset of `src` in the data space of the array at `u`, or -1 when it lies outside.
int inner_offset(const byte* u, const void* src);
// Copies the `bytes` source bytes that lay at `offset` of the array before it grew to `dst` in
// the grown array `u`, as they stood then: bytes at or past the old count (`used` bytes) read as
// zero, and bytes at or past `gap_at` are found `gap` bytes further on, where an insertion moved
// them. `dst` must not overlap where the source now lies.
void copy_inner(byte* dst, const byte* u, int offset, int bytes, int used, int gap_at = 0,
                int gap = 0);

// Zone memory for an array block: `bytes` zero bytes from the zone's chunks.
byte* zone_block(int zone, int bytes);

}  // namespace kel::xar

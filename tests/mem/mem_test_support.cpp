#include "mem_test_support.h"

#include <stdio.h>
#include <string.h>

namespace memtest {
namespace {

alignas(16) unsigned char arena[8 << 20];
size_t arena_used = 0;

// Each piece carries its size in the 8 bytes before it, so that realloc knows what to copy.
void* arena_allocate(size_t n) {
  size_t need = (8 + n + 15) & ~size_t(15);
  if (n > sizeof arena || arena_used + need > sizeof arena) return nullptr;
  unsigned char* piece = arena + arena_used;
  arena_used += need;
  memcpy(piece, &n, sizeof n);
  return piece + 8;
}

void* arena_reallocate(void* old, size_t n) {
  void* fresh = arena_allocate(n);
  if (fresh && old) {
    size_t old_n;
    memcpy(&old_n, (unsigned char*)old - 8, sizeof old_n);
    memcpy(fresh, old, old_n < n ? old_n : n);
  }
  return fresh;
}

void arena_release(void*) {}

}  // namespace

void ArenaBacking::SetUp() { mem_set_backing(arena_allocate, arena_reallocate, arena_release); }
void ArenaBacking::TearDown() { mem_set_backing(nullptr, nullptr, nullptr); }

}  // namespace memtest

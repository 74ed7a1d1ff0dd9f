// Clumps: the memory settings read at start-up, the statistics table and the consistency check.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/diag/diag.h"
#include "runtime/mem/clump_store.h"
#include "runtime/xar/xar.h"

using namespace kel::clump;

namespace {

// Clumps must hold two slots of the largest automatic size, and every slot offset must fit in
// 16 bits (offsets count 8-byte units from the end of the clump header).
constexpr int kMinClumpSize = CLUMP_HEADER_SIZE + 2 * (CLUMP_AUTO_MAX + CLUMP_SLOT_HEADER_SIZE);
constexpr int kMaxClumpSize = 262144;
static_assert((kMaxClumpSize - CLUMP_HEADER_SIZE) / 8 <= 32767, "slot offsets stay within 16 bits");

bool flag(const char* name) {
  const char* value = getenv(name);
  return value && strcmp(value, "TRUE") == 0;
}

// The value of "CLUMP_SIZE": a whole number within the limits, else the default with a note.
int clump_size_from(const char* value) {
  if (!value) return CLUMP_DEFAULT_SIZE;
  char* end = nullptr;
  const long n = strtol(value, &end, 10);
  while (end && *end == ' ') ++end;
  if (end == value || !end || *end != '\0' || n < kMinClumpSize || n > kMaxClumpSize) {
    printf("CLUMP_SIZE \"%s\" is not a whole number from %d to %d; clumps keep %d bytes.\n", value,
           kMinClumpSize, kMaxClumpSize, CLUMP_DEFAULT_SIZE);
    fflush(stdout);
    return CLUMP_DEFAULT_SIZE;
  }
  return (int)n;
}

const char* status_text(int kind) {
  switch (kind) {
    case CLUMP_KIND_RETIRED: return "Non-active";
    case CLUMP_KIND_REGISTERED: return "Active    ";
    case CLUMP_KIND_AUTO: return "Non-id    ";
    default: return "";
  }
}

// Slots on the free list of `c`, following next offsets for at most 2 x per_clump steps; the
// number of steps taken, or -1 when the first free offset does not name a slot.
int free_steps(Clump* c, const ClumpEntry& e) {
  const int step = (int)(stride_of(e.object_size) / 8);
  const int last = (e.per_clump - 1) * step;
  auto names_slot = [&](int off) { return off >= 0 && off <= last && off % step == 0; };
  int off = c->first_free;
  if (!names_slot(off)) return -1;
  int i = 0;
  while (i < 2 * e.per_clump) {
    const int next = slot_at(c, off)->next_free;
    if (next == -1 || !names_slot(next)) break;
    off = next;
    ++i;
  }
  return i;
}

}  // namespace

extern "C" {

int read_memory_settings(void) {
  xar_set_ignore_ext(flag("IGNORE_XAR_EXT") ? 1 : 0);
  xar_set_ignore_reloc_cnt(flag("IGNORE_XAR_RELOC_CNT") ? 1 : 0);
  clump_size = clump_size_from(getenv("CLUMP_SIZE"));
  mode_off = flag("CLUMP_MODE_OFF") ? 1 : 0;
  auto_on = flag("AUTO_CLUMPS_ON") ? 1 : 0;
  mem_set_always_move(flag("FORCE_MEM_REALLOCATION") ? 1 : 0);
  return 1;
}

int clump_size_setting(void) { return clump_size; }
int clump_mode_off(void) { return mode_off; }
int auto_clumps_on(void) { return auto_on; }

void print_memory_settings(void) {
  if (!auto_on && !xar_ignore_ext() && !xar_ignore_reloc_cnt() && !mem_always_move()) return;
  printf("************** Memory debug settings ************\n");
  printf("Standard mem clumps are %s.\n", mode_off == 1 ? "disabled" : "enabled");
  if (auto_on) printf("Automatic clumps are enabled.\n");
  if (xar_ignore_ext()) printf("Xarrays will have no extensions.\n");
  if (xar_ignore_reloc_cnt()) printf("Xarrays will have no reloc adjustment feature.\n");
  if (mem_always_move()) printf("Reallocations will always move memory.\n");
  printf("************** End Memory debug settings ********\n");
}

int print_clump_table(void) {
  const char* format = "%25s %4s %10s %9s %10s %12s\n";
  printf(format, "Registered Name          ", "size", "Active    ", "Per Clump", "Num Clumps",
         "Percent Full");
  printf(format, "-------------------------", "----", "----------", "---------", "----------",
         "------------");
  printf("\n");
  for (int id = 0; id < entry_count; ++id) {
    const ClumpEntry& e = entries[id];
    char name[CLUMP_NAME_SIZE + 25];
    snprintf(name, sizeof name, "%-25.31s", e.name);
    int clumps = 0;
    long long used = 0;
    for (Clump* c = e.first; c; c = c->next) {
      ++clumps;
      used += c->in_use;
    }
    const long long room = (long long)clumps * e.per_clump;
    const int percent = clumps > 0 && e.per_clump > 0 ? (int)(used * 100 / room) : 0;
    printf("%25s %4d %10s %9d %10d %12d\n", name, e.object_size, status_text(e.kind), e.per_clump,
           clumps, percent);
  }
  printf("\n");
  return entry_count;
}

int checkmem_chain_clump(int* useful, int* overhead) {
  int useful_total = 0;
  int overhead_total = 0;
  for (int id = 0; id < entry_count; ++id) {
    const ClumpEntry& e = entries[id];
    if (e.kind != CLUMP_KIND_AUTO && e.kind != CLUMP_KIND_REGISTERED) continue;
    const int step = (int)(stride_of(e.object_size) / 8);
    for (Clump* c = e.first; c; c = c->next) {
      const int i = free_steps(c, e);
      if (e.per_clump != i + c->in_use + 1)
        dbg_err_crash("checkmem_chain_clump()", " Count is wrong for id = %d (%d).", id,
                      e.per_clump - i - c->in_use - 1);
      if (c->first_free < 0 || c->self != c)
        dbg_err_crash("checkmem_chain_clump()", " block corruption");
      const int bytes = c->in_use * (int)mem_round8((uint32_t)e.object_size);
      useful_total += bytes;
      overhead_total += e.clump_bytes - bytes;
      for (int k = 0; k < e.per_clump; ++k) {
        const ClumpSlot* s = slot_at(c, k * step);
        if (s->own < 0 || (s->marker != CLUMP_MARK_FREE && !marker_in_use(s->marker)))
          dbg_err_crash("checkmem_chain_clump()", " object corruption");
      }
    }
  }
  if (useful) *useful = useful_total;
  if (overhead) *overhead = overhead_total;
  return 1;
}

}  // extern "C"

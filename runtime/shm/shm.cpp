// Shared channels and resource locks.
#include "runtime/shm/shm.h"

#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/mem/vm.h"
#include "runtime/text/wstr.h"

namespace {

kelshm_record g_records[KELSHM_RECORDS];
kel_wchar g_name[KELSHM_NAME_SIZE];

// The channel of a shared pointer and the block's address, when the channel number names an
// existing channel and the offset lies inside it.
bool resolve(uint32_t pointer, kelshm_record** channel, char** address) {
  const uint32_t n = pointer >> 24, offset = pointer & 0xFFFFFFu;
  if (n < 1 || n > KELSHM_RECORDS) return false;
  kelshm_record* record = &g_records[n - 1];
  if (!record->base || offset >= KELSHM_CHANNEL_SIZE) return false;
  *channel = record;
  *address = static_cast<char*>(record->base) + offset;
  return true;
}

// 1 when `address` is the user pointer of a live block of the channel's segment, found by
// walking its blocks from the first unit.
bool live_block(const kelshm_record* channel, const char* address) {
  const vm_segment* segment = static_cast<const vm_segment*>(channel->base);
  const char* units = static_cast<const char*>(channel->base) + VM_SEGMENT_HEADER;
  if (address < units + VM_UNIT || (address - units) % VM_UNIT != 0) return false;
  const uint32_t target = (uint32_t)((address - units) / VM_UNIT) - 1;
  for (uint32_t unit = 0; unit < segment->unit_count;) {
    const vm_block_header* header =
        reinterpret_cast<const vm_block_header*>(units + (size_t)unit * VM_UNIT);
    if (header->order < 0 || header->order >= VM_ORDERS) return false;
    if (unit == target) return header->magic == VM_MAGIC_USED && !(header->bits & VM_BIT_FREE);
    if (unit > target) return false;
    unit += 1u << header->order;
  }
  return false;
}

void release_channel(kelshm_record* record) {
  if (!record->base) return;
  vm_forget_segment(record->base);  // the list of all segments must not keep freed memory
  rlsmem(record->base);
  record->base = nullptr;
}

}  // namespace

KEL_BEGIN_C

int kelshm_init(const kel_wchar* name) {
  WSTRCOPY_X_WIDE(g_name, name, KELSHM_NAME_SIZE);
  for (kelshm_record& r : g_records) r.lock_id = r.chan_id = -1;
  return 1;
}

const kel_wchar* kelshm_name(void) { return g_name; }

void kelshm_reset(void) {
  for (kelshm_record& r : g_records) {
    release_channel(&r);
    r.chan_id = r.lock_id = -1;
    r.lock_state = KELSHM_UNLOCKED;
  }
}

kelshm_record* kelshm_get_ipc_chan(int n, int kind, int create) {
  (void)create;  // a channel's segment is made whenever it is first asked for
  if (kind != KELSHM_KIND_CHANNEL && kind != KELSHM_KIND_LOCK) {
    report_fatal("kelshm_get_ipc_chan", "unknown type %d.", kind);
    return nullptr;
  }
  if (n < 1 || n > KELSHM_RECORDS) {
    report_fatal("kelshm_get_ipc_chan", "illegal channel # %d.", n);
    return nullptr;
  }
  kelshm_record* record = &g_records[n - 1];
  if (kind == KELSHM_KIND_CHANNEL && !record->base) {
    void* segment = getmem(KELSHM_CHANNEL_SIZE);
    vm_format_segment(segment, KELSHM_CHANNEL_SIZE);
    record->base = segment;
  }
  return record;
}

int kelshm_gen_lock_op(int resource, int state, int wait) {
  (void)wait;
  if (resource < 0 || resource >= KELSHM_RECORDS) {
    report_fatal("kelshm_gen_lock_op", "illegal resource # %d.", resource);
    return 0;
  }
  if (state < KELSHM_UNLOCKED || state > KELSHM_EXCLUSIVE) {
    report_fatal("kelshm_gen_lock_op", "illegal lock state %d.", state);
    return 0;
  }
  kelshm_record* lock = kelshm_get_ipc_chan(resource + 1, KELSHM_KIND_LOCK, 0);
  if (lock->lock_state == state) return 1;
  if (lock->lock_state == KELSHM_SHARED && state == KELSHM_EXCLUSIVE) {
    report_fatal("kelshm_gen_lock_op",
                 "conversion of shared lock into exclusive is not implemented.");
    return 0;
  }
  lock->lock_state = state;
  return 1;
}

int kelshm_get_lock_status(int resource, int* state, int* other) {
  if (state) *state = 0;
  if (other) *other = 0;
  if (resource < 0 || resource >= KELSHM_RECORDS) {
    report_fatal("kelshm_get_lock_status", "illegal resource # %d.", resource);
    return 0;
  }
  if (state) *state = g_records[resource].lock_state;
  return 1;
}

void kelshm_wait_for_lock(int resource) {
  (void)resource;
  crash();
}

void kelshm_wake_process(int pid) {
  (void)pid;
  crash();
}

uint32_t kelshm_getmem(int size) {
  if (size < 0 || size >= KELSHM_CHANNEL_SIZE) {  // no channel can hold it: the vm would stop
    report_fatal("kelshm_getmem", "out of memory.");
    return 0;
  }
  // Running out of memory for a new channel jumps out of here: the jump unlocks resource 0.
  static bool lock_registered = false;
  if (!lock_registered) lock_registered = trap_word_register(&g_records[0].lock_state) != 0;
  kelshm_gen_lock_op(0, KELSHM_EXCLUSIVE, 1);
  uint32_t result = 0;
  for (int n = 1; n <= KELSHM_RECORDS && !result; n++) {
    const bool fresh = g_records[n - 1].base == nullptr;
    kelshm_record* channel = kelshm_get_ipc_chan(n, KELSHM_KIND_CHANNEL, 1);
    char* block = static_cast<char*>(vm_alloc(channel->base, size));
    if (block) {
      result = ((uint32_t)n << 24) | (uint32_t)(block - static_cast<char*>(channel->base));
    } else if (fresh) {
      // What an empty channel cannot take, no later channel can: stop here.
      release_channel(channel);
      break;
    }
  }
  if (!result) report_fatal("kelshm_getmem", "out of memory.");
  kelshm_gen_lock_op(0, KELSHM_UNLOCKED, 1);
  return result;
}

int kelshm_free(uint32_t pointer) {
  kelshm_gen_lock_op(0, KELSHM_EXCLUSIVE, 1);
  kelshm_record* channel;
  char* address;
  if (resolve(pointer, &channel, &address) && live_block(channel, address)) {
    vmFree(channel->base, address);
  } else {
    // Reported under kelshm_getmem's name, not its own: kept as the system has always reported it.
    report_fatal("kelshm_getmem", "shmptr = %x", pointer);
  }
  return kelshm_gen_lock_op(0, KELSHM_UNLOCKED, 1);
}

void* kelshm_get_ptr(uint32_t pointer) {
  if (pointer == 0) return nullptr;
  kelshm_record* channel;
  char* address;
  if (!resolve(pointer, &channel, &address)) {
    report_fatal("kelshm_get_ptr", "bad shmptr = %x", pointer);
    return nullptr;
  }
  return address;
}

KEL_END_C

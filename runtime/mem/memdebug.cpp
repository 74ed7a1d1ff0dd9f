// Memory debugging: memory loops, the unreleased-memory file and the kept released blocks.
//
// The tools' own records are harrays, so their allocations pass through the heap's hooks too:
// the loop code sets the loop state to 0 and the kept-block code clears the keep-released flag
// while they append. An append that runs out of memory is caught here (a trap frame of class 2)
// so that the caller's block is never lost: the loop is cancelled, or the released block goes
// back to the backing allocator instead of being kept.
#include "runtime/mem/memdebug.h"

#include <errno.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include "platform/pfile.h"
#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/clump.h"
#include "runtime/mem/mem_block.h"
#include "runtime/xar/har.h"

namespace {

int loop_state = 0;  // 0 off, 1 recording the first pass, 2 second pass, 3 reporting
int saved_state = 0;
int size_filter = -1;
void (*loop_hook)(void) = nullptr;

constexpr uint32_t kOrdinalMask = 0x7FFFFFFF;
constexpr uint32_t kFileExhausted = 0x7FFFFFFE;
const char* const kDefaultFile = "/tmp/unreleased.memory";
const char* file_name = kDefaultFile;
FILE* replay = nullptr;
uint32_t next_expected = kFileExhausted;
int expected_size = 0;

struct KeptBlock {
  void* block;
  int size;
};
void* kept = nullptr;  // harray of KeptBlock

// Appends `object` to the harray owned at `p_har`, creating it when absent. 0 when memory ran
// out; the harray is then as before (or absent).
int guarded_append(void** p_har, int object_size, int extension, const void* object) {
  jmp_buf resume;
  if (setjmp(resume) == 0) {
    trap_push(resume, TRAP_CLASS_SERIOUS_ERROR);
    if (!*p_har) *p_har = har_alloc(object_size, extension);
    har_append(p_har, 1, object);
    trap_pop();
    return 1;
  }
  trap_pop();
  return 0;
}

void** entry_at(mem_loop_record* record, int k) {
  return k < 0 ? nullptr : (void**)har_object(&record->recorded, k, nullptr, nullptr);
}

bool filtered_out(mem_loop_record* record, void* ptr) {
  return size_filter != -1 && record->get_size(record, ptr) != size_filter;
}

template <class Fn>
void each_record(Fn fn) {
  mem_loop_record* clumps = nullptr;
  int count = 0;
  clump_loop_records(&clumps, &count);
  fn(&heap_loop_record);
  for (int id = 0; id < count; ++id) fn(&clumps[id]);
}

void read_next_record() {
  int ordinal = 0, size = 0;
  if (replay && fscanf(replay, "%d %d\n", &ordinal, &size) == 2) {
    next_expected = (uint32_t)ordinal & kOrdinalMask;
    expected_size = size;
  } else {
    next_expected = kFileExhausted;
  }
}

void free_kept_blocks() {
  mem_manager.keep_released = 0;
  const int n = har_count(&kept);
  for (int k = 0; k < n; ++k)
    mem_backing_release(((KeptBlock*)har_object(&kept, k, nullptr, nullptr))->block);
  har_resize(&kept, 0);
}

}  // namespace

// ---- memory loops ----

void memory_loop_cancel(void) {
  loop_state = 0;
  each_record([](mem_loop_record* r) {
    r->active = 0;
    har_free(&r->recorded);
    r->recorded = nullptr;
  });
}

void memory_loop_step(void) {
  const int state = loop_state;
  loop_state = 0;  // the list cuts below are the tool's own
  bool same_counts = true;
  each_record([&](mem_loop_record* r) {
    if (!same_counts) return;
    if (state == 2 && r->previous_count != r->count) {
      same_counts = false;
      return;
    }
    r->previous_count = r->count;
    r->count = 0;
    r->active = 1;
    if (state == 3 && r->recorded) har_resize(&r->recorded, 0);
  });
  if (!same_counts) {
    printf("Two previous loops had different numbers of memory allocations.\n");
    printf("Cancelling memory loop handling.  Try again.\n");
    memory_loop_cancel();
    return;
  }
  loop_state = (state == 3 ? 0 : state) + 1;
}

void set_memory_loop_hook(void (*hook)(void)) { loop_hook = hook; }
void set_memory_loop_size_filter(int size) { size_filter = size; }
int memory_loop_on(void) { return loop_state > 0; }

int memory_loop_suspend(void) {
  saved_state = loop_state;
  loop_state = 0;
  return saved_state;
}

int memory_loop_resume(void) {
  loop_state = saved_state;
  return loop_state;
}

void debug_memory_not_released(mem_loop_record* record, void* ptr) {
  printf("debug_memory_not_released: %u bytes at %lx won't get released.\n",
         (unsigned)record->get_size(record, ptr), (unsigned long)(uintptr_t)ptr);
  if (loop_hook) loop_hook();
}

void debug_memory_loop_alloc(mem_loop_record* record, void* ptr) {
  if (loop_state == 0 || filtered_out(record, ptr)) return;
  if (loop_state == 3 && record->recorded) {
    void** entry = entry_at(record, record->count);
    if (!entry) {
      printf("debug_memory_loop_alloc: too many allocations.");
      printf(" Cancelling memory loop.\n");
      memory_loop_cancel();
      return;
    }
    if (*entry) debug_memory_not_released(record, ptr);
  }
  record->set_index(record, ptr);
  if (loop_state == 1) {
    loop_state = 0;
    const int appended = guarded_append(&record->recorded, sizeof(void*), 300, &ptr);
    loop_state = 1;
    if (!appended) {
      printf("debug_memory_loop_alloc: out of memory. Cancelling memory loop.\n");
      memory_loop_cancel();
      return;
    }
  }
  record->count += 1;
}

void debug_memory_loop_release(mem_loop_record* record, void* ptr) {
  if ((loop_state != 1 && loop_state != 2) || !record->recorded || filtered_out(record, ptr))
    return;
  void** entry = entry_at(record, record->get_index(ptr));
  if (entry && *entry == ptr) *entry = nullptr;
}

void debug_memory_loop_forget_all(mem_loop_record* record) {
  if (!record->active || (loop_state != 1 && loop_state != 2) || !record->recorded) return;
  const int n = har_count(&record->recorded);
  for (int k = 0; k < n; ++k) *entry_at(record, k) = nullptr;
}

// ---- the unreleased-memory file ----

void memdebug_set_file_name(const char* name) { file_name = name ? name : kDefaultFile; }

void memdebug_start(void) {
  if (replay) fclose(replay);
  replay = fopen(file_name, "r");
  if (replay) {
    mem_manager.memdebug_mode = 2;
    read_next_record();
  } else {
    mem_manager.memdebug_mode = 1;
  }
}

void memdebug_stop(void) {
  if (mem_manager.memdebug_mode == 2 && replay) {
    fclose(replay);
    replay = nullptr;
  }
  mem_manager.memdebug_mode = 0;
}

// The file is replaced only once it is whole: the records go to "<file>~", renamed over the file
// at the end. A failure leaves the previous file as it was, and says so on the standard output.
void memdebug_write(void) {
  char part[1024];
  const size_t length = strlen(file_name);
  const bool sibling = length + 2 <= sizeof part && platform_path_replaceable(file_name);
  if (sibling) {
    memcpy(part, file_name, length);
    memcpy(part + length, "~", 2);
  }
  const char* target = sibling ? part : file_name;
  FILE* f = platform_path_fopen(target, "w");
  bool written = f != nullptr;
  for (void* p = first_memory_area(); f && p;) {
    void* next = nullptr;
    int size = 0, index = 0;
    if (!getmem_block_info(p, nullptr, &next, &size, nullptr, &index, nullptr)) break;
    if ((uint32_t)index != MEM_LOOP_NONE) fprintf(f, "%d %u\n", index, (unsigned)size);
    p = next;
  }
  if (f && !platform_stream_close(f)) written = false;
  if (written && sibling && !platform_path_rename(part, file_name)) written = false;
  if (written) return;
  const char* reason = strerror(errno);
  if (f && sibling) platform_path_remove(part);
  printf("memdebug_write: the unreleased-memory file %s was not written: %s\n", file_name, reason);
}

void memdebug_alloc(void* ptr) {
  uint32_t& ordinal = mem_manager.alloc_ordinal;
  if (check_memory_block(ptr) == MEM_BLOCK_OK)
    heap_block_set_loop_index(ptr, (int)(ordinal & kOrdinalMask));
  if (mem_manager.memdebug_mode == 2 && (ordinal & kOrdinalMask) == next_expected) {
    const int size = debug_getmem_size(ptr);
    printf("memdebug_alloc: %u bytes at %lx won't get released.\n", (unsigned)size,
           (unsigned long)(uintptr_t)ptr);
    if (size != expected_size) {
      printf("memdebug_alloc WARNING:  ");
      printf("sizes have changed. Memory loop is NOT VALID!!!\n");
    }
    read_next_record();
  }
  ordinal = (ordinal + 1) & kOrdinalMask;
}

// ---- kept released blocks ----

void keep_released_start(void) {
  mem_manager.keep_released = 0;
  if (kept && har_count(&kept) > 0) free_kept_blocks();
  if (!kept) kept = har_alloc(sizeof(KeptBlock), 1000);
  mem_manager.keep_released = 1;
}

void keep_released_block(void* block, int size) {
  const KeptBlock entry = {block, size};
  mem_manager.keep_released = 0;
  const int appended = guarded_append(&kept, sizeof(KeptBlock), 1000, &entry);
  mem_manager.keep_released = 1;
  if (!appended) mem_backing_release(block);  // not kept, but not lost either
}

void check_released_block(int index) {
  const KeptBlock* k =
      kept && index >= 0 ? (const KeptBlock*)har_object(&kept, index, nullptr, nullptr) : nullptr;
  if (!k) return;
  const unsigned char* bytes = (const unsigned char*)k->block;
  for (int i = 0; i < k->size; ++i) {
    if (bytes[i] != MEM_FILL_BYTE) {
      printf("Released memory block %d has been overwritten.\n", index);
      fflush(stdout);
      crash();
      return;
    }
  }
}

int check_released_blocks(void) {
  const int n = kept ? har_count(&kept) : 0;
  int bytes = 0;
  for (int k = 0; k < n; ++k) {
    check_released_block(k);
    bytes += ((const KeptBlock*)har_object(&kept, k, nullptr, nullptr))->size;
  }
  printf("No overwrite for %d blocks and %d bytes.\n", n, bytes);
  return n;
}

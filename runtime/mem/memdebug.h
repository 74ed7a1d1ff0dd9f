// Memory debugging: memory loops, the unreleased-memory file, overwrite detection of released
// blocks, and usage statistics by block size, xarray object size and clump object size.
// Nothing switches a tool on by default; a developer calls the entry points.
#pragma once
#include <stdio.h>
#include "platform/kel_base.h"

KEL_BEGIN_C
typedef struct mem_loop_record mem_loop_record;

// One record for the heap and one per clump registry entry. The allocation and release paths
// call the loop hooks only while `active` is non-zero.
struct mem_loop_record {
  int active;
  int count;           // allocations counted in the current pass
  int previous_count;  // allocations counted in the previous pass
  void* recorded;      // harray of the first pass's pointers (0 once released), or null
  void (*set_index)(mem_loop_record* record, void* ptr);
  int (*get_index)(void* ptr);
  int (*get_size)(mem_loop_record* record, void* ptr);
};

// The heap's record; its callbacks work on heap blocks.
extern mem_loop_record heap_loop_record;

// ---- memory loops ----

// Ends one pass of the repeated operation: 0 -> 1 -> 2 -> 3 -> 1. Cancels the loop when the
// last two passes made different numbers of allocations.
void memory_loop_step(void);
void memory_loop_cancel(void);
// Called after every report of an allocation that will not be released; null clears it.
void set_memory_loop_hook(void (*hook)(void));
// Only allocations of exactly `size` bytes are tracked; -1 tracks all.
void set_memory_loop_size_filter(int size);
int memory_loop_on(void);
// Saves the loop state and sets it to 0 (returns the saved state) / restores it (returns it).
int memory_loop_suspend(void);
int memory_loop_resume(void);
void debug_memory_loop_alloc(mem_loop_record* record, void* ptr);
void debug_memory_loop_release(mem_loop_record* record, void* ptr);
// Drops what the record remembers of objects that are gone at once (free_clump).
void debug_memory_loop_forget_all(mem_loop_record* record);
void debug_memory_not_released(mem_loop_record* record, void* ptr);

// ---- the unreleased-memory file ----

// Replays "/tmp/unreleased.memory" when it opens (mode 2), else numbers allocations (mode 1).
void memdebug_start(void);
void memdebug_stop(void);
// Writes ordinal and user size of every numbered live heap block, replacing the file only once
// it is whole; when it cannot be written, the previous file stays as it was and a line on the
// standard output says why.
void memdebug_write(void);
// Numbers a heap allocation or resize while the memdebug mode is above 0.
void memdebug_alloc(void* ptr);
// Test hook: the file's name instead of "/tmp/unreleased.memory" (null restores it).
void memdebug_set_file_name(const char* name);

// ---- overwrite detection of released blocks ----

// Frees the blocks kept so far and keeps every block released from now on.
void keep_released_start(void);
// Keeps a released block (header address, system size) for the overwrite check.
void keep_released_block(void* block, int size);
// Checks every kept block; stops the process at the first one written after its release.
int check_released_blocks(void);
void check_released_block(int index);

// ---- usage statistics ----

enum { MEM_STAT_ROWS = 1024 };
// A snapshot: 9229 ints. Row 0 of the getmem and xarray tables is "other".
typedef struct mem_snapshot {
  int getmem_rows;           // 1 + the highest row used
  int getmem_user_bytes;     // user sizes of plain heap blocks
  int heap_overhead;         // overheads of all heap blocks
  int xarray_heap_overhead;  // ... of the blocks holding xarrays
  int clump_heap_overhead;   // ... of the clumps' own blocks
  int getmem_size[MEM_STAT_ROWS];
  int getmem_count[MEM_STAT_ROWS];
  int getmem_bytes[MEM_STAT_ROWS];
  int xarray_rows;
  int xarray_data_bytes;     // element size x elements in use
  int xarray_own_overhead;   // block user size - element size x capacity
  int xarray_empty;          // xarrays with no element in use
  int xarray_reserve_bytes;  // (capacity - in use) x element size
  int xarray_size[MEM_STAT_ROWS];
  int xarray_count[MEM_STAT_ROWS];
  int xarray_bytes[MEM_STAT_ROWS];
  int clump_rows;
  int clump_useful_bytes;
  int clump_overhead;
  int clump_size[MEM_STAT_ROWS];
  int clump_count[MEM_STAT_ROWS];
  int clump_bytes[MEM_STAT_ROWS];
} mem_snapshot;

// Fills and sorts a snapshot: 0, or 1 when the chain is corrupt (the snapshot then holds what
// was gathered before the broken block).
int memory_snapshot(mem_snapshot* snapshot);
// The report body; a null stream means standard output.
void print_memory_statistics(FILE* stream, const mem_snapshot* snapshot);
void memory_statistics_report(FILE* stream);
// The latest snapshot stored by memory_increment_report.
void memory_last_statistics_report(FILE* stream);
// A snapshot into the slot other than the latest, printed as the change since the latest (or
// whole the first time); returns the slot filled.
int memory_increment_report(FILE* stream);
// The change `now` - `before` of two sorted snapshots.
void memory_snapshot_difference(const mem_snapshot* now, const mem_snapshot* before,
                                mem_snapshot* out);
KEL_END_C

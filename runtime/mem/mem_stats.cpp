// Usage statistics: snapshots of all memory by block size, xarray object size and clump object
// size, the full report, and the increment report between two snapshots.
//
// Snapshots are fixed records with tables of 1024 rows, so taking and printing one never
// allocates; sizes beyond the rows fall into the "other" row.
#include <stdio.h>
#include <string.h>

#include "runtime/mem/clump_store.h"
#include "runtime/mem/memdebug.h"
#include "runtime/xar/xar.h"

static_assert(sizeof(mem_snapshot) == 9229 * sizeof(int), "a snapshot of 9229 ints");

namespace {

using namespace kel::clump;

// One table of a snapshot: sizes, counts and bytes with the count of rows used.
struct Table {
  int* rows;
  int* size;
  int* count;
  int* bytes;
  int first;  // 1 when row 0 is "other"
};

Table getmem_table(mem_snapshot* s) {
  return {&s->getmem_rows, s->getmem_size, s->getmem_count, s->getmem_bytes, 1};
}
Table xarray_table(mem_snapshot* s) {
  return {&s->xarray_rows, s->xarray_size, s->xarray_count, s->xarray_bytes, 1};
}
Table clump_table(mem_snapshot* s) {
  return {&s->clump_rows, s->clump_size, s->clump_count, s->clump_bytes, 0};
}

// The row of `size`: an existing one, the next empty one, or "other" when the rows are full.
int row_for(const Table& t, int size) {
  const int used = *t.rows;
  for (int r = t.first; r < used; ++r)
    if (t.size[r] == size) return r;
  if (used >= MEM_STAT_ROWS) return 0;
  const int r = used > t.first ? used : t.first;
  t.size[r] = size;
  *t.rows = r + 1;
  return r;
}

void add(const Table& t, int size, int count, int bytes) {
  const int r = row_for(t, size);
  t.count[r] += count;
  t.bytes[r] += bytes;
}

// Exchange sort by size, largest first, from the table's first sized row.
void sort(const Table& t) {
  for (int i = t.first; i < *t.rows; ++i) {
    for (int j = i; j < *t.rows; ++j) {
      if (t.size[i] < t.size[j]) {
        int* columns[] = {t.size, t.count, t.bytes};
        for (int* c : columns) {
          const int x = c[i];
          c[i] = c[j];
          c[j] = x;
        }
      }
    }
  }
}

// A clump's own heap block: the clump header at the user pointer, on its entry's list.
bool is_clump_block(void* user, int size) {
  const Clump* c = (const Clump*)user;
  if (size < (int)sizeof(Clump) || c->self != c || c->id < 0 || c->id >= entry_count) return false;
  if (entries[c->id].clump_bytes != size) return false;
  for (const Clump* x = entries[c->id].first; x; x = x->next)
    if (x == c) return true;
  return false;
}

// Rows of `now` and `before` merged by size (both sorted, largest first): changed sizes only.
// Rows beyond the table fall into "other" (the merge can hold twice as many sizes).
void merge(const Table& now, const Table& before, const Table& out) {
  int i = now.first, j = before.first, o = out.first;
  auto emit = [&](int size, int count, int bytes) {
    int r = 0;
    if (o < MEM_STAT_ROWS) {
      r = o++;
      out.size[r] = size;
    }
    out.count[r] += count;
    out.bytes[r] += bytes;
  };
  while (i < *now.rows || j < *before.rows) {
    if (j >= *before.rows || (i < *now.rows && now.size[i] > before.size[j])) {
      emit(now.size[i], now.count[i], now.bytes[i]);
      ++i;
    } else if (i >= *now.rows || before.size[j] > now.size[i]) {
      emit(before.size[j], -before.count[j], -before.bytes[j]);
      ++j;
    } else {
      if (now.bytes[i] != before.bytes[j])
        emit(now.size[i], now.count[i] - before.count[j], now.bytes[i] - before.bytes[j]);
      ++i;
      ++j;
    }
  }
  *out.rows = o;
}

mem_snapshot slots[2];
int latest = -1;
mem_snapshot scratch;  // the fresh snapshot of a report, or an increment

}  // namespace

int memory_snapshot(mem_snapshot* s) {
  memset(s, 0, sizeof *s);
  const Table plain = getmem_table(s), arrays = xarray_table(s);
  for (void* p = first_memory_area(); p;) {
    void* next = nullptr;
    int size = 0, overhead = 0, xarray = 0;
    int object_size = 0, in_use = 0, capacity = 0;
    if (!getmem_block_info(p, nullptr, &next, &size, &overhead, nullptr, &xarray) ||
        (xarray &&
         (!xar_heap_block_ok(p, size) || !xar_hdr_params(p, &object_size, &in_use, &capacity)))) {
      printf(" Memory corruption detected.\n");
      return 1;
    }
    s->heap_overhead += overhead;
    if (xarray) {
      s->xarray_heap_overhead += overhead;
      s->xarray_own_overhead += size - object_size * capacity;
      s->xarray_reserve_bytes += (capacity - in_use) * object_size;
      if (in_use == 0) s->xarray_empty += 1;
      s->xarray_data_bytes += object_size * in_use;
      add(arrays, object_size, 1, object_size * in_use);
    } else if (is_clump_block(p, size)) {
      s->clump_heap_overhead += overhead;
    } else {
      add(plain, size, 1, size);
      s->getmem_user_bytes += size;
    }
    p = next;
  }
  const Table clumps = clump_table(s);
  for (int id = 0; id < entry_count; ++id) {
    const ClumpEntry& e = entries[id];
    if (!e.first) continue;
    const int r = row_for(clumps, e.object_size);
    for (const Clump* c = e.first; c; c = c->next) {
      const int bytes = c->in_use * e.object_size;
      clumps.count[r] += c->in_use;
      clumps.bytes[r] += bytes;
      s->clump_useful_bytes += bytes;
      s->clump_overhead += e.clump_bytes - bytes;
    }
  }
  sort(plain);
  sort(arrays);
  sort(clumps);
  return 0;
}

void memory_snapshot_difference(const mem_snapshot* now, const mem_snapshot* before,
                                mem_snapshot* out) {
  memset(out, 0, sizeof *out);
  mem_snapshot* n = const_cast<mem_snapshot*>(now);
  mem_snapshot* b = const_cast<mem_snapshot*>(before);
  out->getmem_user_bytes = now->getmem_user_bytes - before->getmem_user_bytes;
  out->heap_overhead = now->heap_overhead - before->heap_overhead;
  out->xarray_heap_overhead = now->xarray_heap_overhead - before->xarray_heap_overhead;
  out->clump_heap_overhead = now->clump_heap_overhead - before->clump_heap_overhead;
  out->xarray_data_bytes = now->xarray_data_bytes - before->xarray_data_bytes;
  out->xarray_own_overhead = now->xarray_own_overhead - before->xarray_own_overhead;
  out->xarray_empty = now->xarray_empty - before->xarray_empty;
  out->xarray_reserve_bytes = now->xarray_reserve_bytes - before->xarray_reserve_bytes;
  out->clump_useful_bytes = now->clump_useful_bytes - before->clump_useful_bytes;
  out->clump_overhead = now->clump_overhead - before->clump_overhead;
  out->getmem_count[0] = now->getmem_count[0] - before->getmem_count[0];
  out->getmem_bytes[0] = now->getmem_bytes[0] - before->getmem_bytes[0];
  out->xarray_count[0] = now->xarray_count[0] - before->xarray_count[0];
  out->xarray_bytes[0] = now->xarray_bytes[0] - before->xarray_bytes[0];
  merge(getmem_table(n), getmem_table(b), getmem_table(out));
  merge(xarray_table(n), xarray_table(b), xarray_table(out));
  merge(clump_table(n), clump_table(b), clump_table(out));
}

void print_memory_statistics(FILE* f, const mem_snapshot* s) {
  if (!f) f = stdout;
  fprintf(f, "\n ************* Memory usage statistics ******** \n");
  fprintf(f, "\n ** Getmem (!xarray & !clump) memory blocks **\n");
  fprintf(f, "|%10s |%10s |%10s |\n", "  SIZE    ", "   COUNT  ", "   BYTES  ");
  int objects = 0;
  for (int r = 1; r < s->getmem_rows; ++r) {
    fprintf(f, "|%10d |%10d |%10d |\n", s->getmem_size[r], s->getmem_count[r], s->getmem_bytes[r]);
    objects += s->getmem_count[r];
  }
  if (s->getmem_bytes[0] != 0) {
    fprintf(f, "|%10s |%10d |%10d |\n", "  other   ", s->getmem_count[0], s->getmem_bytes[0]);
    objects += s->getmem_count[0];
  }
  const int getmem_sizes = s->getmem_rows > 1 ? s->getmem_rows - 1 : 0;
  fprintf(f, " %d objects of %d sizes tracked.\n", objects, getmem_sizes);
  fprintf(f, " ** Subcategory total - %d bytes; Overhead - %d bytes. **\n", s->getmem_user_bytes,
          s->heap_overhead);
  fprintf(f, " **   %d bytes of getmem overhead are caused by xarrays\n", s->xarray_heap_overhead);
  fprintf(f, " **   %d bytes of getmem overhead are caused by clumps\n", s->clump_heap_overhead);

  fprintf(f, "\n ** Xarray memory usage\n");
  fprintf(f, "|%10s |%10s |%10s |%10s |\n", " OBJ_SIZE ", " N_ARRAYS ", "DATA_BYTES", " OBJinARR ");
  int arrays = 0;
  for (int r = 1; r < s->xarray_rows; ++r) {
    const int size = s->xarray_size[r], count = s->xarray_count[r], bytes = s->xarray_bytes[r];
    const double average = count != 0 && size != 0 ? (double)bytes / ((double)size * count) : 0.0;
    fprintf(f, "|%10d |%10d |%10d| %10g |\n", size, count, bytes, average);
    arrays += count;
  }
  if (s->xarray_bytes[0] != 0) {
    fprintf(f, "|%10s |%10d |%10d %s |\n", "  other   ", s->xarray_count[0], s->xarray_bytes[0],
            " ");
    arrays += s->xarray_count[0];
  }
  const int xarray_sizes = s->xarray_rows > 1 ? s->xarray_rows - 1 : 0;
  fprintf(f, " %d xarrays of %d object sizes tracked.\n", arrays, xarray_sizes);
  fprintf(f, " Total memory used by valid data in xarrays: %d bytes\n", s->xarray_data_bytes);
  fprintf(f, " Additional memory reserved for xarray expansions: %d bytes\n",
          s->xarray_reserve_bytes);
  fprintf(f, " %d expandable arrays are empty\n", s->xarray_empty);
  fprintf(f, " Overhead imposed by xarrays - %d bytes\n", s->xarray_own_overhead);

  fprintf(f, "\n ** Clump memory usage\n");
  fprintf(f, "|%10s |%10s |%10s |\n", " OBJ_SIZE ", " N_OBJECT ", "DATA_BYTES");
  int in_clumps = 0;
  for (int r = 0; r < s->clump_rows; ++r) {
    fprintf(f, "|%10d |%10d |%10d |\n", s->clump_size[r], s->clump_count[r], s->clump_bytes[r]);
    in_clumps += s->clump_count[r];
  }
  fprintf(f, " %d objects in clumps of %d object sizes tracked.\n", in_clumps, s->clump_rows);
  fprintf(f, " Total useful memory in clumps %d bytes\n", s->clump_useful_bytes);
  fprintf(f, " Total clump overhead is %d bytes\n", s->clump_overhead);
  if (s->clump_overhead < 0)
    fprintf(f, "%5s A negative value of clump overhead indicates overhead reduction\n", " ");

  const int useful = s->getmem_user_bytes + s->xarray_data_bytes + s->clump_useful_bytes;
  const int overhead =
      s->heap_overhead + s->xarray_reserve_bytes + s->xarray_own_overhead + s->clump_overhead;
  fprintf(f, "\n ** Memory usage summary: \n");
  fprintf(f, " %10s useful = %d + %d + %d = %d\n", " ", s->getmem_user_bytes, s->xarray_data_bytes,
          s->clump_useful_bytes, useful);
  fprintf(f, " %10s overhead = %d + %d + %d + %d = %d\n", " ", s->heap_overhead,
          s->xarray_reserve_bytes, s->xarray_own_overhead, s->clump_overhead, overhead);
  fprintf(f, " %10s total = %d + %d = %d\n", " ", useful, overhead, useful + overhead);
  fprintf(f, "\n ********************************************** \n");
}

void memory_statistics_report(FILE* f) {
  memory_snapshot(&scratch);
  fprintf(f ? f : stdout, " *** MEMORY USAGE STATISTICS REPORT *** \n");
  print_memory_statistics(f, &scratch);
}

void memory_last_statistics_report(FILE* f) {
  fprintf(f ? f : stdout, " *** MEMORY USAGE STATISTICS REPORT *** \n");
  if (latest < 0) {
    fprintf(f ? f : stdout, " No memory snapshot has been stored yet.\n");
    return;
  }
  print_memory_statistics(f, &slots[latest]);
}

int memory_increment_report(FILE* f) {
  const int slot = latest < 0 ? 0 : 1 - latest;
  memory_snapshot(&slots[slot]);
  fprintf(f ? f : stdout, " *** MEMORY USAGE INCREMENT REPORT *** \n");
  if (latest >= 0) {
    memory_snapshot_difference(&slots[slot], &slots[latest], &scratch);
    print_memory_statistics(f, &scratch);
  } else {
    print_memory_statistics(f, &slots[slot]);
  }
  latest = slot;
  return slot;
}

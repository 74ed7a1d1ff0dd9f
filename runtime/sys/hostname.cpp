// Host-name look-up cache.
#include "runtime/sys/hostname.h"

#include <stdio.h>
#include <string.h>

#include "platform/clock.h"
#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"

namespace {

constexpr int kTraceLevel = 3985241;

struct Entry {
  kel_hostent* copy;
  char query[KEL_HOST_NAME_SIZE];
  int32_t alias_used, alias_allocated;
  int32_t address_used, address_allocated;
  int64_t last_use;
  char** alias_slots;    // the alias array, kept for reuse while the copy has no aliases
  char** address_slots;  // the same for the addresses
  char* texts;           // the official name, alias texts and addresses of the copy, in one block
};

struct Cache {
  Entry entries[KEL_HOST_CACHE_SIZE];
  int count;
  char last_name[KEL_HOST_NAME_SIZE];
  int last_index;
  bool sockets_started;
  kel_host_resolver_fn resolver;
  kel_host_clock_fn clock;
} g_cache = {{}, 0, {0}, -1, false, nullptr, nullptr};

bool tracing() { return order_debug_level_is(kTraceLevel) != 0; }
void trace(const char* text) {
  if (tracing()) fputs(text, stdout);
}

int64_t now() { return g_cache.clock ? g_cache.clock() : platform_time_now(); }

void sockets_start() {
  if (g_cache.sockets_started) return;
  int error = platform_sockets_start_v11();
  if (error != 0) {
    fputs("Failed to startup socket communications\n", stderr);
    fprintf(stderr, "WSA ERROR = %d\n", error);
    ozt_exit(1);
  }
  g_cache.sockets_started = true;
}

int find(const char* name) {
  for (int i = 0; i < g_cache.count; i++) {
    const Entry& e = g_cache.entries[i];
    bool match = strcmp(name, e.query) == 0 || strcmp(name, e.copy->h_name) == 0;
    for (char** alias = e.copy->h_aliases; !match && alias && *alias; alias++)
      match = strcmp(name, *alias) == 0;
    if (match) {
      g_cache.entries[i].last_use = now();
      return i;
    }
  }
  return -1;
}

int list_length(char** list) {
  int n = 0;
  while (list && list[n]) n++;
  return n;
}

// A pointer array of at least `slots` entries: the entry's own when it is large enough, else a
// new one held by `held`.
char** array_for(char** current, int allocated, int slots, trap_block* held) {
  if (slots <= allocated) return current;
  return static_cast<char**>(trap_block_get(held, slots * (int)sizeof(char*)));
}

// Puts a new array (when one was taken) in place of the entry's old one.
void install_array(trap_block* held, char*** slots, int32_t* allocated, int size) {
  if (!held->data) return;
  if (*allocated > 0) rlsmem(*slots);
  *slots = static_cast<char**>(trap_block_keep(held));
  *allocated = size;
}

// Copies the texts of a null-terminated list into `w` (length -1), or its addresses of `length`
// bytes each; the slots used, the terminator included.
int copy_list(char** from, int count, char** to, char** w, int length) {
  for (int i = 0; i < count; i++) {
    size_t n = length >= 0 ? (size_t)length : strlen(from[i]) + 1;
    memcpy(*w, from[i], n);
    to[i] = *w;
    *w += n;
  }
  to[count] = nullptr;
  return count + 1;
}

// Stores a deep copy of `answer`; the entry's index. Everything is allocated before the entry
// changes, so running out of memory leaves the cache as it was.
int store(const kel_hostent* answer) {
  const int aliases = list_length(answer->h_aliases);
  const int addresses = list_length(answer->h_addr_list);
  const int length = answer->h_length > 0 ? answer->h_length : 0;
  int text_bytes = (int)strlen(answer->h_name) + 1 + addresses * length;
  for (int i = 0; i < aliases; i++) text_bytes += (int)strlen(answer->h_aliases[i]) + 1;

  int index = g_cache.count;
  if (index == KEL_HOST_CACHE_SIZE) {  // the least recently used, the lowest index on ties
    index = 0;
    for (int i = 1; i < KEL_HOST_CACHE_SIZE; i++)
      if (g_cache.entries[i].last_use < g_cache.entries[index].last_use) index = i;
  }
  const bool fresh = index == g_cache.count;
  Entry blank = {nullptr, {0}, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr};
  const Entry& old = fresh ? blank : g_cache.entries[index];
  trap_block record = {nullptr, 0}, alias_array = {nullptr, 0}, address_array = {nullptr, 0},
             texts = {nullptr, 0};
  if (fresh) trap_block_get(&record, sizeof(kel_hostent));
  if (answer->h_aliases) array_for(old.alias_slots, old.alias_allocated, aliases + 1, &alias_array);
  if (answer->h_addr_list)
    array_for(old.address_slots, old.address_allocated, addresses + 1, &address_array);
  char* w = static_cast<char*>(trap_block_get(&texts, text_bytes));

  // From here on nothing can fail; the holds end in the reverse order of their start.
  Entry& e = g_cache.entries[index];
  rlsmem(e.texts);
  e.texts = static_cast<char*>(trap_block_keep(&texts));
  install_array(&address_array, &e.address_slots, &e.address_allocated, addresses + 1);
  install_array(&alias_array, &e.alias_slots, &e.alias_allocated, aliases + 1);
  if (fresh) {
    e.copy = static_cast<kel_hostent*>(trap_block_keep(&record));
    g_cache.count++;
  }
  kel_hostent* copy = e.copy;
  const size_t n = strlen(answer->h_name) + 1;
  memcpy(w, answer->h_name, n);
  copy->h_name = w;
  w += n;
  copy->h_aliases = answer->h_aliases ? e.alias_slots : nullptr;
  e.alias_used =
      answer->h_aliases ? copy_list(answer->h_aliases, aliases, e.alias_slots, &w, -1) : 0;
  copy->h_addrtype = answer->h_addrtype;
  copy->h_length = answer->h_length;
  copy->h_addr_list = answer->h_addr_list ? e.address_slots : nullptr;
  e.address_used = answer->h_addr_list
                       ? copy_list(answer->h_addr_list, addresses, e.address_slots, &w, length)
                       : 0;
  e.last_use = now();
  return index;
}

}  // namespace

KEL_BEGIN_C

kel_hostent* kel_gethostbyname(const char* name) {
  if (tracing()) printf("kel_gethostbyname( %s ): ", name);
  if (g_cache.last_index >= 0 && strcmp(name, g_cache.last_name) == 0) {
    trace("cache HIT (matched last)\n");
    g_cache.entries[g_cache.last_index].last_use = now();
    return g_cache.entries[g_cache.last_index].copy;
  }
  const bool fits = strlen(name) < KEL_HOST_NAME_SIZE;
  int index = find(name);
  kel_hostent* answer = nullptr;
  if (index >= 0) {
    trace("cache HIT\n");
    answer = g_cache.entries[index].copy;
  } else {
    sockets_start();
    const kel_hostent* resolved =
        g_cache.resolver ? g_cache.resolver(name) : platform_gethostbyname(name);
    trace("cache MISS\n");
    if (!resolved) return nullptr;
    if (!fits) return const_cast<kel_hostent*>(resolved);  // too long to be kept
    index = store(resolved);
    strcpy(g_cache.entries[index].query, name);
    answer = const_cast<kel_hostent*>(resolved);
  }
  if (fits) {
    strcpy(g_cache.last_name, name);
    g_cache.last_index = index;
  }
  return answer;
}

kel_host_resolver_fn kel_host_resolver_set(kel_host_resolver_fn resolver) {
  kel_host_resolver_fn old = g_cache.resolver;
  g_cache.resolver = resolver;
  return old;
}

kel_host_clock_fn kel_host_clock_set(kel_host_clock_fn clock) {
  kel_host_clock_fn old = g_cache.clock;
  g_cache.clock = clock;
  return old;
}

KEL_END_C

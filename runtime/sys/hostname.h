// Host-name look-up through a cache of six deep copies of the resolver's answers, found by the
// name asked for, the official name or any alias; the least recently used entry is replaced.
//
// Names of 64 characters or more are looked up without caching: they are matched against the
// cached hosts' official names and aliases, but a miss is answered by the resolver alone.
#pragma once
#include "platform/resolver.h"
#include "platform/kel_base.h"

KEL_BEGIN_C
typedef platform_hostent kel_hostent;
enum { KEL_HOST_CACHE_SIZE = 6, KEL_HOST_NAME_SIZE = 64 };

// The cache's copy on a hit, the resolver's answer on a miss, null when the name cannot be
// resolved. The caller releases neither.
kel_hostent* kel_gethostbyname(const char* name);

// Stand-ins for tests: the resolver asked on a miss and the clock of the last-use times (seconds).
// Each setter returns the one it replaces; null puts back the platform's.
typedef const kel_hostent* (*kel_host_resolver_fn)(const char* name);
typedef int64_t (*kel_host_clock_fn)(void);
kel_host_resolver_fn kel_host_resolver_set(kel_host_resolver_fn resolver);
kel_host_clock_fn kel_host_clock_set(kel_host_clock_fn clock);
KEL_END_C

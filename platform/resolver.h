// Host-name resolution: the platform's resolver (gethostbyname of the socket services) and the
// start of the socket services it needs on Windows.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// A host entry as the Windows socket services lay it out.
typedef struct platform_hostent {
  char* h_name;      // official name
  char** h_aliases;  // null-terminated, or null
  int16_t h_addrtype;
  int16_t h_length;    // bytes of each address
  char** h_addr_list;  // null-terminated
} platform_hostent;

// Starts the socket services asking for version 1.1 (WSAStartup on Windows; nothing to do
// elsewhere): 0, or the platform's last socket error.
int platform_sockets_start_v11(void);
// The resolver's answer for `name` (owned by the resolver, valid until its next call), or null
// when the name cannot be resolved.
const platform_hostent* platform_gethostbyname(const char* name);
KEL_END_C

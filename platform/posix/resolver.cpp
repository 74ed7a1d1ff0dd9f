#include "platform/resolver.h"

#include <netdb.h>

int platform_sockets_start_v11(void) { return 0; }

const platform_hostent* platform_gethostbyname(const char* name) {
  static platform_hostent view;
  const struct hostent* answer = gethostbyname(name);
  if (!answer) return nullptr;
  view = platform_hostent{answer->h_name, answer->h_aliases, (int16_t)answer->h_addrtype,
                          (int16_t)answer->h_length, answer->h_addr_list};
  return &view;
}

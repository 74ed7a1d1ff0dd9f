#include "platform/resolver.h"

#include <stddef.h>
#include <winsock2.h>

static_assert(sizeof(struct hostent) == sizeof(platform_hostent), "the same layout");
static_assert(offsetof(struct hostent, h_addr_list) == offsetof(platform_hostent, h_addr_list),
              "the same layout");

int platform_sockets_start_v11(void) {
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) return WSAGetLastError();
  return 0;
}

const platform_hostent* platform_gethostbyname(const char* name) {
  return reinterpret_cast<const platform_hostent*>(gethostbyname(name));
}

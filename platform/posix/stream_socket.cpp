#include "platform/stream_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int platform_socket_send(int socket, const void* data, int size, int* sent) {
  const char* p = static_cast<const char*>(data);
  int done = 0;
  while (done < size) {
    ssize_t n = send(socket, p + done, (size_t)(size - done), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *sent = done;
      return 0;
    }
    done += (int)n;
  }
  *sent = done;
  return 1;
}

int platform_socket_recv(int socket, void* buffer, int size, int* got) {
  ssize_t n;
  do n = recv(socket, buffer, (size_t)size, 0);
  while (n < 0 && errno == EINTR);
  *got = n < 0 ? 0 : (int)n;
  if (n < 0 && errno == ECONNRESET) errno = EPIPE;
  return n >= 0;
}

int platform_socket_close(int socket) { return close(socket) == 0; }

int platform_socket_loopback_pair(int* client, int* server) {
  *client = *server = PLATFORM_NULL_SOCKET;
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int ok = bind(listener, (sockaddr*)&address, sizeof address) == 0 && listen(listener, 1) == 0 &&
           getsockname(listener, (sockaddr*)&address, &length) == 0;
  if (ok) {
    *client = socket(AF_INET, SOCK_STREAM, 0);
    ok = *client >= 0 && connect(*client, (sockaddr*)&address, sizeof address) == 0;
  }
  if (ok) {
    *server = accept(listener, nullptr, nullptr);
    ok = *server >= 0;
  }
  int saved = errno;
  close(listener);
  if (!ok) {
    if (*client >= 0) close(*client);
    *client = *server = PLATFORM_NULL_SOCKET;
    errno = saved;
  }
  return ok;
}

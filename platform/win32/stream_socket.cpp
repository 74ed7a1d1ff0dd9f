#include "platform/stream_socket.h"

#include <errno.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/win_errno.h"

namespace {

bool started() {
  static int state = 0;  // 0 not tried, 1 running, -1 failed
  if (state == 0) {
    WSADATA data;
    state = WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 1 : -1;
  }
  return state == 1;
}

int fail_with_socket_error() {
  int code = WSAGetLastError();
  switch (code) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN: errno = EPIPE; break;
    case WSAEINTR: errno = EINTR; break;
    case WSAEBADF:
    case WSAENOTSOCK: errno = EBADF; break;
    case WSAEACCES: errno = EACCES; break;
    case WSAEFAULT: errno = EFAULT; break;
    case WSAEMFILE: errno = EMFILE; break;
    case WSAEWOULDBLOCK: errno = EAGAIN; break;
    case WSAENOBUFS: errno = ENOMEM; break;
    default: errno = platform_errno_from_win32((unsigned long)code); break;
  }
  return 0;
}

}  // namespace

int platform_socket_send(int socket, const void* data, int size, int* sent) {
  const char* p = static_cast<const char*>(data);
  int done = 0;
  while (done < size) {
    int n = send((SOCKET)socket, p + done, size - done, 0);
    if (n <= 0) {
      *sent = done;
      return n == 0 ? (errno = EIO, 0) : fail_with_socket_error();
    }
    done += n;
  }
  *sent = done;
  return 1;
}

int platform_socket_recv(int socket, void* buffer, int size, int* got) {
  int n = recv((SOCKET)socket, static_cast<char*>(buffer), size, 0);
  *got = n < 0 ? 0 : n;
  return n >= 0 ? 1 : fail_with_socket_error();
}

int platform_socket_close(int socket) {
  return closesocket((SOCKET)socket) == 0 ? 1 : fail_with_socket_error();
}

int platform_socket_loopback_pair(int* client, int* server) {
  *client = *server = PLATFORM_NULL_SOCKET;
  if (!started()) {
    errno = EIO;
    return 0;
  }
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return fail_with_socket_error();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  SOCKET c = INVALID_SOCKET, s = INVALID_SOCKET;
  bool ok = bind(listener, (sockaddr*)&address, sizeof address) == 0 && listen(listener, 1) == 0 &&
            getsockname(listener, (sockaddr*)&address, &length) == 0;
  if (ok) {
    c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ok = c != INVALID_SOCKET && connect(c, (sockaddr*)&address, sizeof address) == 0;
  }
  if (ok) {
    s = accept(listener, nullptr, nullptr);
    ok = s != INVALID_SOCKET;
  }
  if (!ok) fail_with_socket_error();
  int saved = errno;
  closesocket(listener);
  if (!ok) {
    if (c != INVALID_SOCKET) closesocket(c);
    errno = saved;
    return 0;
  }
  *client = (int)c;
  *server = (int)s;
  return 1;
}

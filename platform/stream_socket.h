// Stream sockets as the portable file layer uses them: send, receive and close, and a connected
// pair over the loopback address. Windows sockets are started on first use. Failures set errno
// to the standard library's symbolic error; a connection closed by the peer fails with EPIPE.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
#define PLATFORM_NULL_SOCKET (-1)

// 1 and the count sent (all of `size`), or 0 with the count sent so far.
int platform_socket_send(int socket, const void* data, int size, int* sent);
// One receive of at most `size` bytes: 1 and the count (0 when the peer has closed), or 0.
int platform_socket_recv(int socket, void* buffer, int size, int* got);
int platform_socket_close(int socket);
// Two connected stream sockets over 127.0.0.1 (a listener on a free port, accepted at once):
// 1, or 0.
int platform_socket_loopback_pair(int* client, int* server);
KEL_END_C

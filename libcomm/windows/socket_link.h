// Winsock stream sockets as links, shared by TCP and Bluetooth (tcp_link.cpp).
#ifndef VUXO_COMM_SOCKET_LINK_H
#define VUXO_COMM_SOCKET_LINK_H

#include <winsock2.h>

#include "os.h"

namespace comm {

// Starts Winsock once for the process: 0, or -COMM_E*.
int winsock_start();

// Connects a socket the caller created (non-blocking from here on) within
// timeout_ms (0: the OS's limit), or until stop is woken (-COMM_ECANCELED).
// The link owns the socket from here, whatever the result: a link, or
// -COMM_E* with the socket closed.
os::Link socket_connect(SOCKET s, const sockaddr* addr, int addr_len, const os::Waker& stop,
                        int timeout_ms);

} // namespace comm

#endif

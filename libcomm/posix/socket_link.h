// Stream-socket operations shared by TCP and Bluetooth links (tcp_link.cpp).
#ifndef VUXO_COMM_SOCKET_LINK_H
#define VUXO_COMM_SOCKET_LINK_H

#include <cstddef>

#include "os.h"

namespace comm {

// No SIGPIPE, and a peer's orderly close reads as -COMM_ECONNRESET.
std::ptrdiff_t socket_read(os::Link link, unsigned char* buf, std::size_t n);
std::ptrdiff_t socket_write(os::Link link, const unsigned char* buf, std::size_t n);
void socket_close(os::Link link);
// Waits for a non-blocking connect to finish: 0, or -COMM_E*; -COMM_ECANCELED
// when stop is woken. A time-out of 0 leaves the limit to the OS.
int socket_finish_connect(int fd, const os::Waker& stop, int timeout_ms);

} // namespace comm

#endif

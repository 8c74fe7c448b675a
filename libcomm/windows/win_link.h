// A Windows link: an object behind os::Link. Its ready event is set while the
// link holds bytes (or has ended), so a wait set can wait on it beside the
// wakers' events.
#ifndef VUXO_COMM_WIN_LINK_H
#define VUXO_COMM_WIN_LINK_H

#include <winsock2.h> // windows.h, after the Winsock declarations a link may need

#include <cstddef>

#include "os.h"

namespace comm::os {

class WinLink {
  public:
    virtual ~WinLink() = default;
    virtual HANDLE ready_event() const = 0;
    // As the transport's table: bytes, -COMM_EAGAIN, or -COMM_E*.
    virtual std::ptrdiff_t read(unsigned char* buf, std::size_t n) = 0;
    virtual std::ptrdiff_t write(const unsigned char* buf, std::size_t n) = 0;
    // Until the link takes more bytes: 0, or -COMM_E*.
    virtual int wait_writable(HANDLE stop, int timeout_ms) = 0;
};

inline WinLink* win_link(Link link) {
    return reinterpret_cast<WinLink*>(link);
}

inline Link as_link(WinLink* link) {
    return reinterpret_cast<Link>(link);
}

// The transport's read, write and close for any WinLink.
std::ptrdiff_t link_read(Link link, unsigned char* buf, std::size_t n);
std::ptrdiff_t link_write(Link link, const unsigned char* buf, std::size_t n);
void link_close(Link link);

} // namespace comm::os

#endif

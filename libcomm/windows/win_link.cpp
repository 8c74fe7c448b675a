// The transport's table entries shared by every kind of Windows link.
#include "win_link.h"

namespace comm::os {

std::ptrdiff_t link_read(Link link, unsigned char* buf, std::size_t n) {
    return win_link(link)->read(buf, n);
}

std::ptrdiff_t link_write(Link link, const unsigned char* buf, std::size_t n) {
    return win_link(link)->write(buf, n);
}

void link_close(Link link) {
    delete win_link(link);
}

} // namespace comm::os

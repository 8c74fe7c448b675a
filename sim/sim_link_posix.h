// A link on POSIX: a non-blocking descriptor, shared by sim_link_posix.cpp and sim_pty.cpp.
#ifndef VUXO_SIM_LINK_POSIX_H
#define VUXO_SIM_LINK_POSIX_H

#include <string>

#include "sim_link.h"

namespace vuxo::sim {

struct LinkState {
    LinkState(int f, bool s) : fd(f), socket(s) {}
    ~LinkState();
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;

    int fd;
    bool socket; // send() with MSG_NOSIGNAL; a pseudo-terminal takes write()
};

// A link owning fd, or an invalid one when fd < 0.
Link fd_link(int fd, bool socket);

// "what: " and the text of errno.
std::string errno_text(const char* what);

} // namespace vuxo::sim

#endif

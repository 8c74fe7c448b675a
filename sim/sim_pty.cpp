// The pseudo-terminal end of the simulator.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>

#include <cstdlib>

#include "sim_link_posix.h"
#include "sim_pty.h"

namespace vuxo::sim {
namespace {

// Raw mode on the slave side, so the line discipline neither echoes nor translates bytes.
void make_raw(int pty_master) {
    termios tio{};
    if (::tcgetattr(pty_master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(pty_master, TCSANOW, &tio);
    }
}

} // namespace

Link open_pty(std::string* path, std::string* error) {
    // O_NOCTTY: the simulator must not adopt the terminal as its controlling terminal.
    Link link = fd_link(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK), false);
    if (!link.valid()) {
        *error = errno_text("posix_openpt");
        return {};
    }
    const int fd = link.state().fd;
    char name[128];
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        *error = errno_text("pty setup");
        return {};
    }
    make_raw(fd);
    *path = name;
    return link;
}

bool pty_host_attached(Link& pty) {
    // A pty master reads as hung up while no host holds the slave side open.
    pollfd p{pty.state().fd, POLLIN, 0};
    ::poll(&p, 1, 0);
    if ((p.revents & POLLHUP) != 0) {
        return false;
    }
    make_raw(pty.state().fd);
    return true;
}

} // namespace vuxo::sim

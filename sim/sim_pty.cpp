// The pseudo-terminal end of the simulator: Linux only (elsewhere it serves TCP alone).
#include <fcntl.h>
#include <termios.h>

#include <cstdlib>

#include "sim_link.h"
#include "sim_pty.h"

namespace vuxo::sim {

void make_raw(int pty_master) {
    termios tio{};
    if (::tcgetattr(pty_master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(pty_master, TCSANOW, &tio);
    }
}

UniqueFd open_pty(std::string* path, std::string* error) {
    // O_NOCTTY: the simulator must not adopt the terminal as its controlling terminal.
    UniqueFd fd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        *error = errno_text("posix_openpt");
        return {};
    }
    char name[128];
    if (::grantpt(fd.get()) != 0 || ::unlockpt(fd.get()) != 0 ||
        ::ptsname_r(fd.get(), name, sizeof name) != 0) {
        *error = errno_text("pty setup");
        return {};
    }
    make_raw(fd.get());
    *path = name;
    return fd;
}

} // namespace vuxo::sim

// No pseudo-terminals on this OS: the simulator serves TCP alone.
#include "sim_pty.h"

namespace vuxo::sim {

Link open_pty(std::string* path, std::string* error) {
    path->clear();
    *error = "a pseudo-terminal is not available on Windows: serve TCP (--port)";
    return {};
}

bool pty_host_attached(Link&) {
    return false;
}

} // namespace vuxo::sim

// The simulator's pseudo-terminal, a serial line for the host: POSIX only (elsewhere
// opening one fails with a reason).
#ifndef VUXO_SIM_PTY_H
#define VUXO_SIM_PTY_H

#include <string>

#include "sim_link.h"

namespace vuxo::sim {

// A pseudo-terminal master in raw mode; *path receives the slave's name.
Link open_pty(std::string* path, std::string* error);
// Whether a host holds the slave side open; raw mode is set again for it, since the host's
// open may have brought the line discipline's defaults back.
bool pty_host_attached(Link& pty);

} // namespace vuxo::sim

#endif

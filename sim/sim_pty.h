// The simulator's pseudo-terminal, a serial line for the host: Linux only.
#ifndef VUXO_SIM_PTY_H
#define VUXO_SIM_PTY_H

#include <string>

#include "sim_link.h"

namespace vuxo::sim {

// A pseudo-terminal master in raw mode; *path receives the slave's name.
UniqueFd open_pty(std::string* path, std::string* error);
// Raw mode on the slave side, so the line discipline neither echoes nor translates bytes.
void make_raw(int pty_master);

} // namespace vuxo::sim

#endif

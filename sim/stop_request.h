// How the simulator program is asked to stop: SIGINT or SIGTERM on POSIX, Ctrl-C,
// Ctrl-Break or a closed console window on Windows. Either way it stops cleanly.
#ifndef VUXO_SIM_STOP_REQUEST_H
#define VUXO_SIM_STOP_REQUEST_H

namespace vuxo::sim {

// Keeps stop requests from their default action (ending the program at once) until
// wait_for_stop_request() takes one. Called once, before any other thread starts.
void hold_stop_requests();
// Returns once a stop was asked for.
void wait_for_stop_request();

} // namespace vuxo::sim

#endif

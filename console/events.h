// The connection callbacks of the test run and the one datum they share with it.
#ifndef VUXOTEST_EVENTS_H
#define VUXOTEST_EVENTS_H

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "vuxoint.h"

namespace vuxotest {

// Log index of a measurement the instrument reported as newly stored; -1 for none.
// Written on the transport's thread, polled by the main thread.
extern std::atomic<int32_t> last_meas_index;

int event_connected(int conn_id, MXX_link* link, void* user);
int event_connection_error(int conn_id, MXX_link* link, void* user, int value);
void event_disconnected(int conn_id, MXX_link* link, void* user, int value);
// Codes 133 and 256 report a stored measurement; its log index is `value`.
void event_live_data(int conn_id, MXX_link* link, int32_t code, int32_t value, float first,
                     float second, void* user);

// Prints the waiting line, forgets any event reported until then (during the log
// download), then polls once a second until an event arrives; returns its index.
// No time-out: only an event, or the end of the process, ends the wait.
int32_t wait_for_new_record(std::FILE* out);

} // namespace vuxotest

#endif

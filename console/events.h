// The connection callbacks of the test run and the one datum they share with it.
#ifndef VUXOTEST_EVENTS_H
#define VUXOTEST_EVENTS_H

#include <atomic>
#include <cstdint>

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

} // namespace vuxotest

#endif

// The per-connection link context and the lookups that reach it by connection id.
#ifndef VUXO_LINK_H
#define VUXO_LINK_H

#include <cstdint>

#include "frame.h"
#include "mxx_comm.h"

inline constexpr int kHookSlots = 255;
inline constexpr int kCatchAllSlot = 254;
inline constexpr uint16_t kCatchAllId = 0xFFFF;

struct MXX_hook_entry {
    uint16_t id;
    MXX_hook_fn fn;
};

struct MXX_link {
    int32_t identified;
    void* user_data;
    vuxo::FrameReceiver rx; // rx_buf, rx_pos, rx_expected, rx_received
    int32_t probe_count;
    int32_t num_try;
    int32_t device_type;
    MXX_probe_fn probe;
    MXX_test_probe_fn test_probe;
    MXX_connected_fn on_connected;
    MXX_conn_event_fn on_conn_error;
    MXX_conn_event_fn on_disconnected;
    int32_t hook_count;
    MXX_hook_entry hooks[kHookSlots];
};

namespace vuxo {

// Number of attempts for a transaction on conn_id: the link's num_try, or 1
// when no live connection has that id. Walks the transport's whole table.
int link_num_try(int conn_id);

} // namespace vuxo

// The event procedure given to the transport; not exported.
extern "C" int MXX_event_proc(int conn_id, int kind, unsigned char* data, int value, void* link);

#endif

// The per-connection link context and the lookups that reach it by connection id.
#ifndef VUXO_LINK_H
#define VUXO_LINK_H

#include <cstdint>
#include <type_traits>

#include "answer_ledger.h"
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
    vuxo::AnswerLedger ledger; // answers owed for requests given up on
};

namespace vuxo {

// Reads a connection's user_data record while the walk that found its link
// still holds the connection, so the disconnected event (which frees the
// record) waits until the read is over; then ends the walk. Returns
// read(user_data), or `none` when no live connection has the id.
int read_user_data(int conn_id, int (*read)(const void* user_data), int none);

#ifdef VUXO_TEST_HOOKS
// Tests only: called between a lookup finding a link and reading it, to stand
// for a reader that the scheduler takes off its core right there.
extern void (*g_after_lookup)(int conn_id);
inline void after_lookup(int conn_id) {
    if (g_after_lookup != nullptr) {
        g_after_lookup(conn_id);
    }
}
#else
inline void after_lookup(int) {}
#endif

// Gets the link's answer ledger and its num_try.
using LedgerVisit = void (*)(AnswerLedger& ledger, int num_try, void* context);

// Number of attempts for a transaction on conn_id: the link's num_try, or 1
// when no live connection has that id. Walks the transport's whole table and
// runs visit on the link's answer ledger while the walk holds the link.
int link_num_try(int conn_id, LedgerVisit visit, void* context);

// Runs visit on conn_id's answer ledger while a walk holds the link; false
// when no live connection has the id.
bool with_ledger(int conn_id, LedgerVisit visit, void* context);

template <typename F> int link_num_try(int conn_id, F&& f) {
    using Fn = std::remove_reference_t<F>;
    return link_num_try(
        conn_id, [](AnswerLedger& l, int n, void* c) { (*static_cast<Fn*>(c))(l, n); }, &f);
}
template <typename F> bool with_ledger(int conn_id, F&& f) {
    using Fn = std::remove_reference_t<F>;
    return with_ledger(
        conn_id, [](AnswerLedger& l, int n, void* c) { (*static_cast<Fn*>(c))(l, n); }, &f);
}

} // namespace vuxo

// The event procedure given to the transport; not exported.
extern "C" int MXX_event_proc(int conn_id, int kind, unsigned char* data, int value, void* link);

#endif

// Link context, receive path, identification and asynchronous hooks.
#include "link.h"

#include <atomic>
#include <new>

#include "comm.h"

using vuxo::frame_id;

namespace {

constexpr int kRxChunk = 4096;
constexpr int kTickMs = 200;
// Seven probes in all: one on link up, one on each of the first six time-outs.
constexpr int kLastProbeCount = 5;

// num_try, hook_count and the hook entries are written on callers' threads while
// the transport's thread reads them. Atomic accesses (no lock) keep that well
// defined: an entry is complete before the count or the id that publishes it.
MXX_hook_entry load_hook(MXX_hook_entry& entry) {
    const uint16_t id = std::atomic_ref(entry.id).load(std::memory_order_acquire);
    return {id, std::atomic_ref(entry.fn).load(std::memory_order_relaxed)};
}

void store_hook(MXX_hook_entry& entry, uint16_t id, MXX_hook_fn fn) {
    std::atomic_ref(entry.fn).store(fn, std::memory_order_relaxed);
    std::atomic_ref(entry.id).store(id, std::memory_order_release);
}

int load_hook_count(MXX_link* link) {
    return std::atomic_ref(link->hook_count).load(std::memory_order_acquire);
}

// A walk holds the connection it last yielded, and a close waits for that
// without a time bound; so a walk left early is ended here (starting another
// ends it) before the caller moves on, and no close ever waits for a lookup
// that is over.
template <typename Visit> void walk_links(Visit&& visit) {
    uint32_t cursor = 0;
    comm_data_cntr_init(&cursor);
    int id = -1;
    void* context = nullptr;
    while (comm_get_data(&cursor, &id, &context) != 0) {
        if (!visit(id, static_cast<MXX_link*>(context))) {
            comm_data_cntr_init(&cursor);
            return;
        }
    }
}

// The first ordinary hook for the id takes the frame; otherwise the catch-all.
// The hook a frame with this id runs: the first ordinary hook for the id,
// otherwise the catch-all; null when none.
MXX_hook_fn hook_for(MXX_link* link, uint16_t id) {
    const int count = load_hook_count(link);
    for (int i = 0; i < count && i < kHookSlots; ++i) {
        const MXX_hook_entry hook = load_hook(link->hooks[i]);
        if (hook.id == id && hook.fn != nullptr) {
            return hook.fn;
        }
    }
    const MXX_hook_entry catch_all = load_hook(link->hooks[kCatchAllSlot]);
    return catch_all.id == kCatchAllId ? catch_all.fn : nullptr;
}

// Answers, error and resend messages go to the transaction's buffers unless
// they are still owed for an earlier request.
void capture(int conn_id, MXX_link* link) {
    const uint16_t id = frame_id(link->rx.buf);
    if (link->ledger.pass(id)) {
        comm_fill_rsp_buff(conn_id, id, link->rx.buf, link->rx.pos);
    }
}

// Whether a frame does nothing but what a waiting caller's thread may do:
// no detection and no hook to run.
bool capture_only(MXX_link* link, uint16_t id) {
    return link->identified == 1 && hook_for(link, id) == nullptr;
}

void handle_frame(int conn_id, MXX_link* link) {
    unsigned char* frame = link->rx.buf;
    if (link->identified == 0 && link->test_probe != nullptr &&
        link->test_probe(conn_id, frame, &link->device_type, link->probe_count) != 0) {
        link->identified = 1;
        if (link->on_connected != nullptr) {
            link->on_connected(conn_id, link, link->device_type, link->user_data);
        }
        comm_signal_connected(conn_id);
    }
    if (const MXX_hook_fn hook = hook_for(link, frame_id(frame)); hook != nullptr) {
        hook(conn_id, link, frame, link->user_data);
    }
    capture(conn_id, link);
}

void receive(int conn_id, MXX_link* link, const unsigned char* data, int count) {
    std::size_t done = 0;
    const auto n = static_cast<std::size_t>(count);
    while (done < n) {
        bool complete = false;
        done += link->rx.consume(data + done, n - done, &complete);
        if (complete) {
            handle_frame(conn_id, link);
            link->rx.reset();
        }
    }
}

// On a waiting caller's thread: the first frame that would run anything but a
// capture is left one byte short and given back from that byte on, so the
// connection's thread completes it and runs it in order. Returns the bytes taken.
int lead_receive(int conn_id, MXX_link* link, const unsigned char* data, int count) {
    std::size_t done = 0;
    const auto n = static_cast<std::size_t>(count);
    while (done < n) {
        bool complete = false;
        done += link->rx.consume(data + done, n - done, &complete);
        if (!complete) {
            continue;
        }
        if (!capture_only(link, frame_id(link->rx.buf))) {
            link->rx.unconsume_last();
            return static_cast<int>(done - 1);
        }
        capture(conn_id, link);
        link->rx.reset();
    }
    return count;
}

int on_timeout(int conn_id, MXX_link* link, unsigned char* data, int value) {
    if (link->identified == 1) {
        link->rx.reset();
        return 0;
    }
    if (link->probe_count > kLastProbeCount) {
        comm_signal_connected(conn_id);
        return -1;
    }
    if (link->probe != nullptr) {
        link->probe(conn_id, link->probe_count, data, value);
    }
    ++link->probe_count;
    return 0;
}

} // namespace

extern "C" int MXX_event_proc(int conn_id, int kind, unsigned char* data, int value, void* ctx) {
    auto* link = static_cast<MXX_link*>(ctx);
    if (link == nullptr) {
        return 0;
    }
    switch (kind & 0xFF) {
    case COMM_EV_CONNECTED:
        if (link->probe != nullptr) {
            link->probe(conn_id, link->probe_count, data, value);
        }
        return 0;
    case COMM_EV_CONN_ERROR:
        if (link->on_conn_error != nullptr) {
            link->on_conn_error(conn_id, link, link->user_data, value);
        }
        return 0;
    case COMM_EV_DISCONNECTED:
        if (link->on_disconnected != nullptr) {
            link->on_disconnected(conn_id, link, link->user_data, value);
        }
        delete link;
        return 0;
    case COMM_EV_DATA:
        if (value > 0 && data != nullptr) {
            receive(conn_id, link, data, value);
        }
        return 0;
    case COMM_EV_LEAD_DATA:
        return value > 0 && data != nullptr ? lead_receive(conn_id, link, data, value) : 0;
    case COMM_EV_TIMEOUT:
        return on_timeout(conn_id, link, data, value);
    default:
        return 0;
    }
}

namespace vuxo {

#ifdef VUXO_TEST_HOOKS
void (*g_after_lookup)(int conn_id) = nullptr;
#endif

int read_user_data(int conn_id, int (*read)(const void* user_data), int none) {
    int result = none;
    walk_links([&](int id, MXX_link* link) {
        if (id != conn_id || link == nullptr) {
            return true;
        }
        after_lookup(conn_id);
        result = read(link->user_data);
        return false;
    });
    return result;
}

int link_num_try(int conn_id, LedgerVisit visit, void* context) {
    int attempts = 1;
    walk_links([&](int id, MXX_link* link) {
        if (id == conn_id && link != nullptr) {
            attempts = std::atomic_ref(link->num_try).load(std::memory_order_relaxed);
            visit(link->ledger, attempts, context);
        }
        return true;
    });
    return attempts;
}

bool with_ledger(int conn_id, LedgerVisit visit, void* context) {
    bool found = false;
    walk_links([&](int id, MXX_link* link) {
        if (id != conn_id || link == nullptr) {
            return true;
        }
        visit(link->ledger, std::atomic_ref(link->num_try).load(std::memory_order_relaxed),
              context);
        found = true;
        return false;
    });
    return found;
}

} // namespace vuxo

extern "C" {

VUXO_API int MXX_connect(const char* conn_string, int* conn_id, MXX_connected_fn on_connected,
                         MXX_conn_event_fn on_conn_error, MXX_conn_event_fn on_disconnected,
                         MXX_probe_fn probe, MXX_test_probe_fn test_probe, void* user_data) {
    if (conn_string == nullptr || conn_string[0] == '\0') {
        return -1;
    }
    // Value-initialised: zero-filled, hooks and catch-all slot empty.
    auto* link = new (std::nothrow) MXX_link{};
    if (link == nullptr) {
        return -1;
    }
    link->user_data = user_data;
    link->num_try = 1;
    link->probe = probe;
    link->test_probe = test_probe;
    link->on_connected = on_connected;
    link->on_conn_error = on_conn_error;
    link->on_disconnected = on_disconnected;
    if (comm_connect(conn_id, conn_string, MXX_event_proc, kRxChunk, kTickMs, link) != 0) {
        delete link;
        return -1;
    }
    return 0;
}

VUXO_API int MXX_hook_async_event(int conn_id, uint16_t id, MXX_hook_fn hook) {
    int result = 0;
    walk_links([&](int cid, MXX_link* link) {
        if (cid != conn_id || link == nullptr) {
            return true;
        }
        const int count = load_hook_count(link);
        for (int i = 0; i < count && i < kHookSlots; ++i) {
            const MXX_hook_entry entry = load_hook(link->hooks[i]);
            if (entry.id == id && entry.fn == hook) {
                return false;
            }
        }
        if (count > kCatchAllSlot ||
            (count == kCatchAllSlot && load_hook(link->hooks[kCatchAllSlot]).id != 0)) {
            result = -1;
            return false;
        }
        if (id == kCatchAllId) {
            store_hook(link->hooks[kCatchAllSlot], id, hook);
        } else {
            store_hook(link->hooks[count], id, hook);
            std::atomic_ref(link->hook_count).store(count + 1, std::memory_order_release);
        }
        return true;
    });
    return result;
}

VUXO_API int MXX_set_cmd_num_try(int conn_id, int num_try) {
    walk_links([&](int id, MXX_link* link) {
        if (id == conn_id && link != nullptr) {
            std::atomic_ref(link->num_try).store(num_try, std::memory_order_relaxed);
        }
        return true;
    });
    return 0;
}

VUXO_API void* MXX_get_user_data(int conn_id) {
    void* user_data = nullptr;
    walk_links([&](int id, MXX_link* link) {
        if (id == conn_id && link != nullptr) {
            vuxo::after_lookup(conn_id);
            user_data = link->user_data;
            return false;
        }
        return true;
    });
    return user_data;
}

} // extern "C"

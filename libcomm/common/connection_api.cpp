// Opening, closing and writing connections, and the wait for identification.

#include "connection_table.h"
#include "guarded.h"

namespace comm {
namespace {

constexpr int kMaxRxSize = 1 << 16;
constexpr int kDefaultRxSize = 4096;

// Waits until the port takes more bytes, the deadline passes or the
// connection is asked to stop: 0, or -COMM_E*.
int wait_writable(Connection& c, Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return -COMM_ETIMEDOUT;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return os::wait_writable(c.link, c.wake, static_cast<int>(ms));
}

int write_all(Connection& c, const unsigned char* data, int len, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
    std::lock_guard lock(c.write_mu);
    int done = 0;
    for (;;) {
        if (c.stop || c.link == os::kNoLink) {
            return -COMM_ENOTCONN;
        }
        if (done == len) {
            return 0;
        }
        const std::ptrdiff_t n =
            c.ops->write(c.link, data + done, static_cast<std::size_t>(len - done));
        if (n > 0) {
            done += static_cast<int>(n);
        } else if (n != -COMM_EAGAIN && n != 0) {
            return static_cast<int>(n);
        } else if (const int waited = wait_writable(c, deadline); waited != 0) {
            return waited;
        }
    }
}

int connect_new(int* conn_id, const char* conn_string, comm_event_proc proc, int rx_size,
                int tick_ms, void* context) {
    auto c = std::make_shared<Connection>();
    const int parsed = parse_conn_string(conn_string, &c->target);
    if (parsed != 0) {
        return parsed;
    }
    c->ops = transport_for(c->target.kind);
    if (c->ops == nullptr) {
        return -COMM_EAFNOSUPPORT;
    }
    c->proc = proc;
    c->context = context;
    c->tick_ms = tick_ms > 0 ? tick_ms : 0;
    c->rx.resize(static_cast<size_t>(rx_size <= 0 ? kDefaultRxSize
                                                  : (rx_size > kMaxRxSize ? kMaxRxSize : rx_size)));
    int added = c->wake.open();
    if (added == 0) {
        added = c->kick.open();
    }
    if (added == 0) {
        added = table_add(c, conn_id);
    }
    if (added != 0) {
        c->wake.close();
        c->kick.close();
    }
    return added;
}

} // namespace
} // namespace comm

using namespace comm;

extern "C" {

COMM_API int comm_connect(int* conn_id, const char* conn_string, comm_event_proc proc, int rx_size,
                          int tick_ms, void* context) {
    end_walk();
    if (conn_id == nullptr || conn_string == nullptr || proc == nullptr) {
        return -COMM_EINVAL;
    }
    if (current_event_connection() == nullptr) {
        table_reap();
    }
    return guarded(
        [&] { return connect_new(conn_id, conn_string, proc, rx_size, tick_ms, context); });
}

COMM_API int comm_disconnect(int conn_id) {
    end_walk();
    const ConnPtr c = find_connection(conn_id);
    if (!c) {
        return -COMM_ENOENT;
    }
    request_stop(*c);
    return 0;
}

COMM_API int comm_get_state(int conn_id) {
    end_walk();
    const ConnPtr c = find_connection(conn_id);
    return c ? c->state.load() : COMM_STATE_NONE;
}

COMM_API int comm_signal_connected(int conn_id) {
    end_walk();
    const ConnPtr c = find_connection(conn_id);
    if (!c) {
        return -COMM_ENOENT;
    }
    std::lock_guard lock(c->mu);
    if (c->ended) {
        return -COMM_ENOTCONN;
    }
    if (current_event_connection() == c.get()) {
        c->signal_pending = true; // settled when the event procedure returns
        return 0;
    }
    c->identified = true;
    int open = COMM_STATE_OPEN;
    c->state.compare_exchange_strong(open, COMM_STATE_IDENTIFIED);
    c->cv.notify_all();
    return 0;
}

COMM_API int comm_wait_connected(int conn_id, int timeout_ms) {
    end_walk();
    const ConnPtr c = find_connection(conn_id);
    if (!c) {
        return -COMM_ENOENT;
    }
    if (current_event_connection() == c.get()) {
        return -COMM_EDEADLK;
    }
    std::unique_lock lock(c->mu);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
    c->cv.wait_until(lock, deadline, [&] { return c->identified || c->ended; });
    if (c->ended) {
        return -COMM_ENOTCONN;
    }
    return c->identified ? 0 : -COMM_ETIMEDOUT;
}

COMM_API int comm_write(int conn_id, const unsigned char* data, int len, int flags,
                        int timeout_ms) {
    (void)flags; // no write option exists; the value is accepted for the caller's sake
    end_walk();
    if (len < 0 || (len > 0 && data == nullptr)) {
        return -COMM_EINVAL;
    }
    const ConnPtr c = find_connection(conn_id);
    if (!c) {
        return missing_connection(conn_id);
    }
    if (current_event_connection() != c.get()) {
        release_reported(*c);
    }
    return write_all(*c, data, len, timeout_ms);
}

} // extern "C"

// The thread of one connection: opens its link, turns what the link does into
// events, and closes it. Every event of the connection is delivered here, so
// they reach the event procedure one at a time and in order.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "connection_table.h"

namespace comm {
namespace {

int deliver(Connection& c, int kind, unsigned char* data, int value) {
    set_current_event_connection(&c);
    const int result = c.proc(c.id, kind, data, value, c.context);
    set_current_event_connection(nullptr);
    end_walk(); // a walk begun inside the procedure ended with it

    // comm_signal_connected from inside this event counts only when the
    // procedure did not give up in the same event. Only this thread sets the
    // flag during an event, so most events need not take the lock at all.
    if (!c.signal_pending) {
        return result;
    }
    std::lock_guard lock(c.mu);
    if (c.signal_pending) {
        c.signal_pending = false;
        if (result >= 0 && !c.ended) {
            c.identified = true;
            int open = COMM_STATE_OPEN;
            c.state.compare_exchange_strong(open, COMM_STATE_IDENTIFIED);
            c.cv.notify_all();
        }
    }
    return result;
}

int millis_until(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

constexpr int kGoOn = -1; // a step's result when the link stays open

// The link is readable (or hung up): deliver what it holds. kGoOn, 0 when the
// event procedure asks to close, or the link's errno.
int read_step(Connection& c, short revents) {
    const ssize_t n = c.ops->read(c.fd, c.rx.data(), c.rx.size());
    if (n > 0) {
        return deliver(c, COMM_EV_DATA, c.rx.data(), static_cast<int>(n)) < 0 ? 0 : kGoOn;
    }
    if (n != -EAGAIN) {
        return static_cast<int>(-n);
    }
    // Hung up with nothing left to read: waiting again would spin.
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ? EPIPE : kGoOn;
}

// Runs the open link until it breaks (returns its errno), is asked to stop or
// the event procedure asks to close (returns 0). Silence of one tick makes
// one COMM_EV_TIMEOUT; received bytes start the tick again.
int pump(Connection& c) {
    const auto tick = std::chrono::milliseconds(c.tick_ms);
    auto deadline = Clock::now() + tick;
    while (!c.stop) {
        pollfd fds[2] = {{c.fd, POLLIN, 0}, {c.wake_fd, POLLIN, 0}};
        const int ready = poll(fds, 2, c.tick_ms > 0 ? millis_until(deadline) : -1);
        if (ready < 0 && errno != EINTR) {
            return errno;
        }
        if (ready < 0 || c.stop) {
            continue;
        }
        if (fds[0].revents != 0) {
            const int step = read_step(c, fds[0].revents);
            if (step != kGoOn) {
                return step;
            }
            deadline = Clock::now() + tick;
        } else if (c.tick_ms > 0 && Clock::now() >= deadline) {
            if (deliver(c, COMM_EV_TIMEOUT, nullptr, 0) < 0) {
                return 0;
            }
            deadline = Clock::now() + tick;
        }
    }
    return 0;
}

void close_link(Connection& c) {
    request_stop(c); // writers blocked in poll give up at once
    std::lock_guard write_lock(c.write_mu);
    if (c.fd >= 0) {
        c.ops->close(c.fd);
        c.fd = -1;
    }
    std::lock_guard lock(c.mu);
    ::close(c.wake_fd);
    c.wake_fd = -1;
    c.ended = true;
    c.signal_pending = false;
    c.cv.notify_all(); // comm_wait_connected and comm_wait_response return now
}

void run(Connection& c) {
    int error = 0;
    bool up = false;
    if (!c.stop) {
        const int fd = c.ops->open(c.target, c.wake_fd);
        if (fd < 0) {
            error = -fd;
        } else {
            std::lock_guard write_lock(c.write_mu);
            c.fd = fd;
            up = true;
        }
    }
    if (up) {
        int connecting = COMM_STATE_CONNECTING;
        c.state.compare_exchange_strong(connecting, COMM_STATE_OPEN);
        if (deliver(c, COMM_EV_CONNECTED, nullptr, 0) >= 0) {
            error = pump(c);
        }
    }
    if (error == ECANCELED) {
        error = 0; // asked to stop while opening: no error of the link's
    }
    if (error != 0) {
        deliver(c, COMM_EV_CONN_ERROR, nullptr, error);
    }
    close_link(c);
    end_walk();
    table_hide(c);
    deliver(c, COMM_EV_DISCONNECTED, nullptr, error);
    table_remove(c);
}

} // namespace

void* connection_main(void* arg) {
    auto* owner = static_cast<ConnPtr*>(arg);
    const ConnPtr c = std::move(*owner);
    delete owner;
    run(*c);
    return nullptr;
}

} // namespace comm

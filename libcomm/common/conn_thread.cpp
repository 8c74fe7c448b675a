// The thread of one connection: opens its link, turns what the link does into
// events, and closes it. Every event of the connection is delivered here, so
// they reach the event procedure one at a time and in order.
#include <algorithm>

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

// The link may hold bytes (or have hung up): deliver what it holds. kGoOn, 0
// when the event procedure asks to close, or the link's error (COMM_E*).
int read_step(Connection& c, bool hung_up) {
    const std::ptrdiff_t n = c.ops->read(c.link, c.rx.data(), c.rx.size());
    if (n > 0) {
        return deliver(c, COMM_EV_DATA, c.rx.data(), static_cast<int>(n)) < 0 ? 0 : kGoOn;
    }
    if (n != -COMM_EAGAIN) {
        return static_cast<int>(-n);
    }
    // Hung up with nothing left to read: waiting again would spin.
    return hung_up ? COMM_EPIPE : kGoOn;
}

// Bytes a leading caller read but did not take come before anything read later.
int handback_step(Connection& c) {
    unsigned char* data = c.rx.data() + c.handback_off;
    const int len = c.handback_len;
    c.handback_len = 0;
    return deliver(c, COMM_EV_DATA, data, len) < 0 ? 0 : kGoOn;
}

Clock::time_point lead_heard(const Connection& c) {
    return Clock::time_point(Clock::duration(c.lead_heard.load(std::memory_order_relaxed)));
}

// What one wait of the connection's thread saw.
struct Woken {
    bool link = false; // the link is readable, or a leader asks this thread to read it
    bool hung_up = false;
};

Woken wait_once(Connection& c, int timeout_ms, int* error) {
    os::Ready ready;
    if (const int waited = c.wait_set.wait(timeout_ms, &ready); waited != 0) {
        *error = -waited;
    }
    Woken w;
    if ((ready.wakers & kKicked) != 0) {
        c.kick.clear();
        w.link = true;
    }
    if (ready.link) {
        w.link = true;
        w.hung_up = ready.hung_up;
    }
    return w;
}

// While a caller is busy with a command the link stays out of this thread's
// wait set, so that an answer that comes before the caller waits for it does
// not wake this thread (which would take the caller's CPU only to hand the
// answer over). The link leaves when this thread finds itself reading during a
// command, and comes back at the first look after the command: bytes that
// come in between reach the next waiting caller, or this thread within a
// look's interval.
constexpr int kLookMs = 1;

bool command_busy(Connection& c) {
    std::lock_guard lock(c.mu);
    return c.lead_active || (c.armed && !c.lead_gave_up);
}

void set_link_watched(Connection& c, bool watched) {
    if (c.link_watched == watched) {
        return;
    }
    const int changed = watched ? c.wait_set.add_link(c.link, c.lead_set.is_open())
                                : c.wait_set.remove_link(c.link);
    if (changed == 0) {
        c.link_watched = watched;
    }
}

int wait_ms(const Connection& c, Clock::time_point tick_due) {
    const int tick = c.tick_ms > 0 ? millis_until(tick_due) : -1;
    if (c.link_watched) {
        return tick;
    }
    return tick < 0 ? kLookMs : std::min(tick, kLookMs);
}

// Runs the open link until it breaks (returns its error), is asked to stop or
// the event procedure asks to close (returns 0). Silence of one tick makes
// one COMM_EV_TIMEOUT; bytes received here or by a leading caller start the
// tick again.
int pump(Connection& c) {
    const auto tick = std::chrono::milliseconds(c.tick_ms);
    Clock::time_point heard = Clock::now();
    while (!c.stop) {
        heard = std::max(heard, lead_heard(c));
        int error = 0;
        const Woken w = wait_once(c, wait_ms(c, heard + tick), &error);
        if (error != 0) {
            return error;
        }
        if (c.stop) {
            break;
        }
        std::lock_guard rx(c.rx_mu);
        int step = kGoOn;
        if (c.handback_len > 0) {
            step = handback_step(c);
            heard = Clock::now();
        }
        if (step == kGoOn && w.link) {
            step = read_step(c, w.hung_up);
            heard = Clock::now();
        }
        if (step == kGoOn && c.tick_ms > 0 &&
            Clock::now() >= std::max(heard, lead_heard(c)) + tick) {
            step = deliver(c, COMM_EV_TIMEOUT, nullptr, 0) < 0 ? 0 : kGoOn;
            heard = Clock::now();
        }
        if (step != kGoOn) {
            return step;
        }
        // Out only after reading during a command, and only where callers lead;
        // back at the first look that finds no command.
        const bool may_leave = w.link && c.lead_set.is_open();
        if (!c.link_watched || may_leave) {
            set_link_watched(c, !command_busy(c));
        }
    }
    return 0;
}

} // namespace

int open_wait_sets(Connection& c) {
    if (const int e = c.wait_set.open(); e != 0) {
        return -e;
    }
    // The leader's set first: of two exclusive waiters the OS tries the one
    // added first. Without it (an OS or a link with no exclusive waits)
    // callers do not lead, and the connection's thread reads everything.
    if (c.lead_kick.open() != 0 || c.lead_set.open() != 0 ||
        c.lead_set.add(c.wake, kTagWake) != 0 || c.lead_set.add(c.lead_kick, kTagKick) != 0 ||
        c.lead_set.add_link(c.link, true) != 0) {
        c.lead_set.close();
        c.lead_kick.close();
    }
    if (const int e = c.wait_set.add(c.wake, kTagWake); e != 0) {
        return -e;
    }
    if (const int e = c.wait_set.add(c.kick, kTagKick); e != 0) {
        return -e;
    }
    const int added = c.wait_set.add_link(c.link, c.lead_set.is_open());
    c.link_watched = added == 0;
    return -added;
}

namespace {

void close_link(Connection& c) {
    request_stop(c); // writers blocked in poll and a leading caller give up at once
    {
        std::unique_lock lock(c.mu);
        c.lead_link = os::kNoLink; // no caller leads from here on
        c.cv.wait(lock, [&] { return !c.lead_active; });
    }
    c.wait_set.close();
    c.lead_set.close();
    std::lock_guard write_lock(c.write_mu);
    if (c.link != os::kNoLink) {
        c.ops->close(c.link);
        c.link = os::kNoLink;
    }
    std::lock_guard lock(c.mu);
    c.lead_kick.close(); // under mu: a capture or a wait may still use these
    c.kick.close();
    c.wake.close();
    c.ended = true;
    c.signal_pending = false;
    c.cv.notify_all(); // comm_wait_connected and comm_wait_response return now
}

void run(Connection& c) {
    int error = 0;
    bool up = false;
    if (!c.stop) {
        const os::Link link = c.ops->open(c.target, c.wake);
        if (link < 0) {
            error = static_cast<int>(-link);
        } else {
            std::lock_guard write_lock(c.write_mu);
            c.link = link;
            up = true;
        }
    }
    if (up) {
        error = open_wait_sets(c);
        up = error == 0;
    }
    if (up) {
        int connecting = COMM_STATE_CONNECTING;
        c.state.compare_exchange_strong(connecting, COMM_STATE_OPEN);
        if (deliver(c, COMM_EV_CONNECTED, nullptr, 0) >= 0) {
            {
                // Callers may lead once the procedure has seen the link up.
                std::lock_guard lock(c.mu);
                c.lead_link = c.lead_set.is_open() ? c.link : os::kNoLink;
            }
            error = pump(c);
        }
    }
    if (error == COMM_ECANCELED) {
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

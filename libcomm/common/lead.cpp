// Leading: a caller waiting in comm_wait_response reads the link itself, so its
// answer reaches it without first waking the connection's thread and then
// being woken by it. The caller only reads: the event procedure, given the
// bytes as COMM_EV_LEAD_DATA, assembles frames and captures answers, and says
// how many bytes it took. The first byte it did not take and every byte after
// it go to the connection's thread, which runs them as COMM_EV_DATA before
// anything it reads later; the lead ends there. Hooks, live data, detection
// and link errors therefore still run on that thread, in the order the bytes
// came.
//
// Who reads costs no system call to decide: the link is an exclusive waiter
// in two wait sets, the leader's first, and the OS wakes the first set
// that has a thread waiting in it. Bytes that come while a caller waits wake
// that caller alone; bytes that come at any other time wake the connection's
// thread. Either reads under rx_mu, so the procedure never runs twice at once
// and the bytes reach it in order, whichever thread read them.
#include "connection_table.h"

namespace comm {
namespace {

enum class Step { kGoOn, kStop };

// Under rx_mu: reads until the link holds nothing more, offering each read to
// the event procedure. kStop when the lead must end here.
Step read_and_offer(Connection& c, os::Link link) {
    if (c.handback_len > 0) {
        return Step::kStop; // the bytes handed back come first
    }
    for (;;) {
        const std::ptrdiff_t n = c.ops->read(link, c.rx.data(), c.rx.size());
        if (n == -COMM_EAGAIN) {
            return Step::kGoOn;
        }
        if (n <= 0) {
            return Step::kStop; // broken or ended: the connection's thread reads the same and says
                                // so
        }
        c.lead_heard.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        const int got = static_cast<int>(n);
        int took = c.proc(c.id, COMM_EV_LEAD_DATA, c.rx.data(), got, c.context);
        end_walk();
        if (took < 0 || took > got) {
            took = 0;
        }
        if (took < got) {
            c.handback_off = took;
            c.handback_len = got - took;
            return Step::kStop;
        }
        if (static_cast<std::size_t>(got) < c.rx.size()) {
            return Step::kGoOn; // a short read emptied the link
        }
    }
}

bool answered(Connection& c) {
    std::lock_guard lock(c.mu);
    return c.captured || c.ended;
}

// A deadline on the clock that timed locks are known to every tool by: the
// steady clock's own timed lock reaches the C library by another call, which
// thread checkers do not see as taking the lock.
std::chrono::system_clock::time_point lock_deadline(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::system_clock::duration>(deadline - Clock::now());
    return std::chrono::system_clock::now() + left;
}

// Lock not held. Reads until the answer is captured, the deadline passes, the
// connection stops, the link breaks or bytes are handed back. true when the
// lead gave up before its answer and the connection's thread must read on.
bool lead_reads(Connection& c, os::Link link, Clock::time_point deadline) {
    // A wake-up for the link went to this caller and not to the connection's
    // thread: if this caller does not read the link empty, that thread must.
    bool unread = false;
    while (!answered(c)) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            break;
        }
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        os::Ready ready;
        if (c.lead_set.wait(static_cast<int>(ms), &ready) != 0) {
            break;
        }
        if ((ready.wakers & kKicked) != 0) {
            c.lead_kick.clear();
        }
        unread = unread || ready.link;
        if ((ready.wakers & kWoken) != 0) {
            break; // the connection's thread closes the link and ends the wait
        }
        if (!unread) {
            continue;
        }
        std::unique_lock rx(c.rx_mu, lock_deadline(deadline));
        if (!rx.owns_lock()) {
            break;
        }
        if (read_and_offer(c, link) == Step::kStop) {
            c.kick.wake();
            return true;
        }
        unread = false;
    }
    if (unread) {
        c.kick.wake();
    }
    return false;
}

} // namespace

namespace {

// Lock held. Whatever this wait does not read itself, the connection's thread
// must: it takes the link back into its own wait set at once.
void leave_link_to_thread(Connection& c) {
    if (!c.lead_gave_up && c.kick.is_open()) {
        c.kick.wake();
    }
    c.lead_gave_up = true;
}

} // namespace

void lead(Connection& c, std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
    if (c.captured || c.ended || Clock::now() >= deadline) {
        return;
    }
    if (c.lead_link == os::kNoLink || c.lead_active) {
        leave_link_to_thread(c);
        return;
    }
    const os::Link link = c.lead_link;
    c.lead_active = true; // the close waits for this lead to end
    lock.unlock();
    const bool gave_up = lead_reads(c, link, deadline);
    lock.lock();
    c.lead_active = false;
    if (gave_up) {
        c.lead_gave_up = true; // lead_reads has woken the connection's thread
    }
    if (c.lead_link == os::kNoLink) {
        c.cv.notify_all(); // the close waits for this
    }
}

} // namespace comm

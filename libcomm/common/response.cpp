// Response capture: one armed set of three buffers per connection, filled on
// the connection's thread and waited for on the caller's.
//
// A buffer whose frame the last wait reported may still be read by the waiter,
// so it takes no new frame until that caller's thread comes back to the
// transport for this connection (writes, waits, re-arms or disarms).

#include <cstring>

#include "connection_table.h"

namespace comm {
namespace {

void arm(Connection& c, const int ids[3], unsigned char* const bufs[3], const int caps[3]) {
    c.armed = true;
    c.captured = false;
    c.lead_gave_up = false;
    for (int i = 0; i < 3; ++i) {
        c.slots[i] = ResponseSlot{ids[i] & 0xFFFF, bufs[i], caps[i] > 0 ? caps[i] : 0, 0, false};
    }
}

} // namespace

void release_reported(Connection& c) {
    std::lock_guard lock(c.mu);
    for (ResponseSlot& slot : c.slots) {
        slot.reported = false;
    }
}

} // namespace comm

using namespace comm;

extern "C" {

COMM_API int comm_hook_response(int conn_id, int id1, unsigned char* buf1, int cap1, int id2,
                                unsigned char* buf2, int cap2, int id3, unsigned char* buf3,
                                int cap3) {
    end_walk();
    const ConnPtr c = find_connection(conn_id);
    if (!c) {
        return missing_connection(conn_id);
    }
    const int ids[3] = {id1, id2, id3};
    unsigned char* const bufs[3] = {buf1, buf2, buf3};
    const int caps[3] = {cap1, cap2, cap3};
    std::lock_guard lock(c->mu);
    arm(*c, ids, bufs, caps);
    return 0;
}

COMM_API int comm_unhook_response(int conn_id) {
    end_walk();
    const ConnPtr c = find_connection(conn_id);
    if (!c) {
        return missing_connection(conn_id);
    }
    std::lock_guard lock(c->mu);
    c->armed = false;
    c->captured = false;
    for (ResponseSlot& slot : c->slots) {
        slot = ResponseSlot{};
    }
    return 0;
}

COMM_API int comm_fill_rsp_buff(int conn_id, int id, const unsigned char* frame, int len) {
    end_walk();
    if (frame == nullptr || len <= 0) {
        return -COMM_EINVAL;
    }
    const ConnPtr c = find_connection(conn_id);
    if (!c) {
        return missing_connection(conn_id);
    }
    std::unique_lock lock(c->mu);
    if (!c->armed) {
        return -COMM_ENOMSG;
    }
    int result = -COMM_ENOMSG;
    for (ResponseSlot& slot : c->slots) {
        if (slot.id != (id & 0xFFFF) || slot.buf == nullptr) {
            continue;
        }
        if (len > slot.cap) {
            result = -COMM_EMSGSIZE; // never truncated: a partial frame would read as whole
            continue;
        }
        if (slot.reported) {
            result = -COMM_EBUSY;
            continue;
        }
        std::memcpy(slot.buf, frame, static_cast<size_t>(len));
        slot.count = len;
        c->captured = true;
        if (c->lead_active && current_event_connection() == c.get()) {
            // Captured here while a caller leads: it waits for its link, not on cv.
            c->lead_kick.wake();
        }
        // Notified after unlocking, so the woken waiter does not block at once
        // on the mutex this thread still holds.
        lock.unlock();
        c->cv.notify_all();
        return 0;
    }
    return result;
}

COMM_API int comm_wait_response(int conn_id, int* count1, int* count2, int* count3,
                                int timeout_ms) {
    end_walk();
    int* const outs[3] = {count1, count2, count3};
    for (int* out : outs) {
        if (out != nullptr) {
            *out = 0;
        }
    }
    const ConnPtr c = find_connection(conn_id);
    if (!c) {
        return missing_connection(conn_id);
    }
    if (current_event_connection() == c.get()) {
        return -COMM_EDEADLK; // the frames it waits for come on this very thread
    }
    std::unique_lock lock(c->mu);
    if (!c->armed) {
        return -COMM_EINVAL;
    }
    for (ResponseSlot& slot : c->slots) {
        slot.reported = false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
    lead(*c, lock, deadline);
    c->cv.wait_until(lock, deadline, [&] { return c->captured || c->ended; });
    const bool any = c->captured;
    for (int i = 0; i < 3; ++i) {
        ResponseSlot& slot = c->slots[i];
        if (outs[i] != nullptr) {
            *outs[i] = slot.count;
        }
        slot.reported = slot.count != 0;
        slot.count = 0;
    }
    c->captured = false;
    if (any) {
        return 0;
    }
    return c->ended ? -COMM_ENOTCONN : -COMM_ETIMEDOUT;
}

} // extern "C"

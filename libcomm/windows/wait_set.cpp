// Wakers are manual-reset events; a wait set is the list of events a thread
// waits on. Windows has no exclusive wait on a link, so callers do not lead:
// the connection's thread reads everything.

#include <vector>

#include "comm.h"
#include "os.h"
#include "os_error.h"
#include "win_link.h"

namespace comm::os {
namespace {

struct Members {
    std::vector<HANDLE> events;
    std::vector<int> tags; // kLinkTag for the link's ready event
};

constexpr int kLinkTag = -1;

HANDLE event_of(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

Members& members(std::intptr_t handle) {
    return *reinterpret_cast<Members*>(handle);
}

bool is_set(HANDLE event) {
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

int Waker::open() {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        return last_error();
    }
    handle_ = reinterpret_cast<std::intptr_t>(event);
    return 0;
}

void Waker::wake() {
    SetEvent(event_of(handle_));
}

void Waker::clear() {
    ResetEvent(event_of(handle_));
}

void Waker::close() {
    if (handle_ != kNoLink) {
        CloseHandle(event_of(handle_));
        handle_ = kNoLink;
    }
}

int WaitSet::open() {
    handle_ = reinterpret_cast<std::intptr_t>(new Members);
    return 0;
}

void WaitSet::close() {
    if (handle_ != kNoLink) {
        delete &members(handle_);
        handle_ = kNoLink;
    }
}

int WaitSet::add(const Waker& waker, int tag) {
    members(handle_).events.push_back(event_of(waker.handle()));
    members(handle_).tags.push_back(tag);
    return 0;
}

int WaitSet::add_link(Link link, bool exclusive) {
    if (exclusive) {
        return -COMM_EOPNOTSUPP;
    }
    members(handle_).events.push_back(win_link(link)->ready_event());
    members(handle_).tags.push_back(kLinkTag);
    return 0;
}

int WaitSet::remove_link(Link link) {
    Members& m = members(handle_);
    const HANDLE ready = win_link(link)->ready_event();
    for (std::size_t i = 0; i < m.events.size(); ++i) {
        if (m.events[i] == ready && m.tags[i] == kLinkTag) {
            m.events.erase(m.events.begin() + static_cast<std::ptrdiff_t>(i));
            m.tags.erase(m.tags.begin() + static_cast<std::ptrdiff_t>(i));
            return 0;
        }
    }
    return -COMM_ENOENT;
}

int WaitSet::wait(int timeout_ms, Ready* ready) {
    *ready = Ready{};
    const Members& m = members(handle_);
    const DWORD limit = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    const DWORD got =
        WaitForMultipleObjects(static_cast<DWORD>(m.events.size()), m.events.data(), FALSE, limit);
    if (got == WAIT_TIMEOUT) {
        return 0;
    }
    if (got == WAIT_FAILED) {
        return last_error();
    }
    // The wait names the first event set; the others may be set as well.
    for (std::size_t i = 0; i < m.events.size(); ++i) {
        if (!is_set(m.events[i])) {
            continue;
        }
        if (m.tags[i] == kLinkTag) {
            ready->link = true;
        } else {
            ready->wakers |= 1U << m.tags[i];
        }
    }
    return 0;
}

int wait_writable(Link link, const Waker& stop, int timeout_ms) {
    return win_link(link)->wait_writable(event_of(stop.handle()), timeout_ms);
}

} // namespace comm::os

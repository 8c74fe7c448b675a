// Wake-ups are eventfds and wait sets epoll sets. An exclusive link is added
// with EPOLLEXCLUSIVE: of the sets holding it, the kernel wakes only the first
// one added that has a thread waiting.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "comm.h"
#include "os.h"
#include "os_error.h"

namespace comm::os {
namespace {

int fd_of(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// The tags in epoll data: a waker's tag as is, the link as kLinkTag.
constexpr int kLinkTag = -1;

int control(std::intptr_t set, int op, int fd, int tag, uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = tag;
    return epoll_ctl(fd_of(set), op, fd, &ev) == 0 ? 0 : last_error();
}

} // namespace

int Waker::open() {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        return last_error();
    }
    handle_ = fd;
    return 0;
}

void Waker::wake() {
    eventfd_write(fd_of(handle_), 1);
}

void Waker::clear() {
    eventfd_t count = 0;
    eventfd_read(fd_of(handle_), &count);
}

void Waker::close() {
    if (handle_ != kNoLink) {
        ::close(fd_of(handle_));
        handle_ = kNoLink;
    }
}

int WaitSet::open() {
    const int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) {
        return last_error();
    }
    handle_ = fd;
    return 0;
}

void WaitSet::close() {
    if (handle_ != kNoLink) {
        ::close(fd_of(handle_));
        handle_ = kNoLink;
    }
}

int WaitSet::add(const Waker& waker, int tag) {
    return control(handle_, EPOLL_CTL_ADD, fd_of(waker.handle()), tag, EPOLLIN);
}

int WaitSet::add_link(Link link, bool exclusive) {
    const uint32_t events = exclusive ? EPOLLIN | EPOLLEXCLUSIVE : uint32_t{EPOLLIN};
    const int added = control(handle_, EPOLL_CTL_ADD, fd_of(link), kLinkTag, events);
    // A link that takes no exclusive waiter (some devices) reads as "not here".
    return exclusive && added == -COMM_EINVAL ? -COMM_EOPNOTSUPP : added;
}

int WaitSet::remove_link(Link link) {
    return control(handle_, EPOLL_CTL_DEL, fd_of(link), kLinkTag, 0);
}

int WaitSet::wait(int timeout_ms, Ready* ready) {
    *ready = Ready{};
    epoll_event events[8];
    const int n = epoll_wait(fd_of(handle_), events, 8, timeout_ms);
    if (n < 0) {
        return errno == EINTR ? 0 : last_error();
    }
    for (int i = 0; i < n; ++i) {
        const int tag = events[i].data.fd;
        if (tag == kLinkTag) {
            ready->link = true;
            ready->hung_up = (events[i].events & (EPOLLHUP | EPOLLERR)) != 0;
        } else {
            ready->wakers |= 1U << tag;
        }
    }
    return 0;
}

int wait_writable(Link link, const Waker& stop, int timeout_ms) {
    pollfd fds[2] = {{fd_of(link), POLLOUT, 0}, {fd_of(stop.handle()), POLLIN, 0}};
    if (poll(fds, 2, timeout_ms) < 0 && errno != EINTR) {
        return last_error();
    }
    return 0;
}

} // namespace comm::os

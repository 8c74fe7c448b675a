#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim_link_posix.h"

namespace vuxo::sim {

LinkState::~LinkState() {
    ::close(fd);
}

Link::Link() = default;
Link::Link(std::unique_ptr<LinkState> state) : state_(std::move(state)) {}
Link::~Link() = default;
Link::Link(Link&& other) noexcept = default;
Link& Link::operator=(Link&& other) noexcept = default;

void Link::reset() {
    state_.reset();
}

Link fd_link(int fd, bool socket) {
    if (fd < 0) {
        return {};
    }
    return Link(std::make_unique<LinkState>(fd, socket));
}

std::string errno_text(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool Waker::open() {
    handle_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return handle_ >= 0;
}

void Waker::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(static_cast<int>(handle_), &one, sizeof one);
}

void Waker::close() {
    if (handle_ != kNone) {
        ::close(static_cast<int>(handle_));
        handle_ = kNone;
    }
}

Link open_listener(uint16_t port, uint16_t* bound, std::string* error) {
    Link link = fd_link(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), true);
    if (!link.valid()) {
        *error = errno_text("socket");
        return {};
    }
    const int fd = link.state().fd;
    // A restarted simulator must be able to take its port back while old connections linger.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        *error = errno_text("bind");
        return {};
    }
    if (::listen(fd, 4) != 0) {
        *error = errno_text("listen");
        return {};
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *bound = ntohs(addr.sin_port);
    return link;
}

Link accept_host(Link& listener) {
    Link link = fd_link(
        ::accept4(listener.state().fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC), true);
    if (link.valid()) {
        // Answers are small and must leave at once, as they would over a serial line.
        const int on = 1;
        ::setsockopt(link.state().fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return link;
}

Readiness wait_ready(const Link& link, Waker& waker, int timeout_ms) {
    const int wake_fd = static_cast<int>(waker.handle());
    pollfd p[2] = {{link.state().fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    Readiness r;
    if (::poll(p, 2, timeout_ms) <= 0) {
        return r;
    }
    if ((p[1].revents & POLLIN) != 0) {
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(wake_fd, &value, sizeof value);
        r.woken = true;
    }
    r.readable = (p[0].revents & POLLIN) != 0;
    r.hung_up = (p[0].revents & (POLLHUP | POLLERR)) != 0;
    return r;
}

std::ptrdiff_t read_link(Link& link, unsigned char* buf, std::size_t n) {
    const ssize_t got = ::read(link.state().fd, buf, n);
    if (got > 0) {
        return got;
    }
    return got < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

bool write_all(Link& link, const std::atomic<bool>& stop, const unsigned char* data,
               std::size_t n) {
    const LinkState& s = link.state();
    std::size_t done = 0;
    while (done < n) {
        if (stop.load()) {
            return false;
        }
        const ssize_t w = s.socket ? ::send(s.fd, data + done, n - done, MSG_NOSIGNAL)
                                   : ::write(s.fd, data + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A short poll keeps stop() prompt while a host does not read.
            pollfd p{s.fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            if ((p.revents & (POLLERR | POLLHUP)) != 0) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

FILE* open_log(const std::string& path) {
    return std::fopen(path.c_str(), "we");
}

} // namespace vuxo::sim

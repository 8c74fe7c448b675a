#include "sim_link.h"

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

namespace vuxo::sim {

std::string errno_text(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

UniqueFd open_listener(uint16_t port, uint16_t* bound, std::string* error) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        *error = errno_text("socket");
        return {};
    }
    // A restarted simulator must be able to take its port back while old connections linger.
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        *error = errno_text("bind");
        return {};
    }
    if (::listen(fd.get(), 4) != 0) {
        *error = errno_text("listen");
        return {};
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    *bound = ntohs(addr.sin_port);
    return fd;
}

UniqueFd accept_host(int listener) {
    UniqueFd fd(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (fd.valid()) {
        // Answers are small and must leave at once, as they would over a serial line.
        const int on = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

UniqueFd open_wake() {
    return UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void signal_wake(int wake_fd) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_fd, &one, sizeof one);
}

void drain_wake(int wake_fd) {
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_fd, &value, sizeof value);
}

bool write_all(int fd, bool is_socket, const std::atomic<bool>& stop, const unsigned char* data,
               std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        if (stop.load()) {
            return false;
        }
        const ssize_t w = is_socket ? ::send(fd, data + done, n - done, MSG_NOSIGNAL)
                                    : ::write(fd, data + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A short poll keeps stop() prompt while a host does not read.
            pollfd p{fd, POLLOUT, 0};
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

} // namespace vuxo::sim

// TCP links: non-blocking connect bounded by the string's time-out, no Nagle
// delay for 13-byte requests, and no SIGPIPE from a peer that went away.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "comm.h"
#include "os_error.h"
#include "socket_link.h"
#include "transport.h"

namespace comm {
namespace {

using Clock = std::chrono::steady_clock;

} // namespace

int socket_finish_connect(int fd, const os::Waker& stop, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int wait = -1;
        if (timeout_ms > 0) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) {
                return -COMM_ETIMEDOUT;
            }
            wait = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {static_cast<int>(stop.handle()), POLLIN, 0}};
        const int ready = poll(fds, 2, wait);
        if (ready < 0 && errno != EINTR) {
            return os::last_error();
        }
        if (fds[1].revents != 0) {
            return -COMM_ECANCELED;
        }
        if (fds[0].revents != 0) {
            int error = 0;
            socklen_t size = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                return os::last_error();
            }
            return error == 0 ? 0 : -os::from_errno(error);
        }
    }
}

namespace {

int connect_one(const addrinfo* ai, const os::Waker& stop, int timeout_ms) {
    const int fd =
        socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) {
        return os::last_error();
    }
    int result = 0;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
        result =
            errno == EINPROGRESS ? socket_finish_connect(fd, stop, timeout_ms) : os::last_error();
    }
    if (result != 0) {
        ::close(fd);
        return result;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

os::Link tcp_open(const ConnTarget& target, const os::Waker& stop) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(target.port);
    const int found = getaddrinfo(target.where.c_str(), port.c_str(), &hints, &list);
    if (found != 0) {
        return found == EAI_SYSTEM ? os::last_error() : -COMM_EHOSTUNREACH;
    }
    int result = -COMM_EHOSTUNREACH;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        result = connect_one(ai, stop, target.timeout_ms);
        if (result >= 0 || result == -COMM_ECANCELED) {
            break;
        }
    }
    freeaddrinfo(list);
    return result;
}

} // namespace

std::ptrdiff_t socket_read(os::Link link, unsigned char* buf, std::size_t n) {
    const ssize_t got = recv(static_cast<int>(link), buf, n, 0);
    if (got > 0) {
        return got;
    }
    return got == 0 ? -COMM_ECONNRESET : os::last_error(); // 0: the peer closed its side
}

std::ptrdiff_t socket_write(os::Link link, const unsigned char* buf, std::size_t n) {
    const ssize_t put = send(static_cast<int>(link), buf, n, MSG_NOSIGNAL);
    return put >= 0 ? put : os::last_error();
}

void socket_close(os::Link link) {
    ::close(static_cast<int>(link));
}

const Transport kTcpTransport = {"tcp", tcp_open, socket_read, socket_write, socket_close};

} // namespace comm

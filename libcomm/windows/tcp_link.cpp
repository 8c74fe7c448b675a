// TCP links over Winsock: a non-blocking connect bounded by the string's
// time-out, no Nagle delay for 13-byte requests. The socket's network events
// (bytes, the peer's close) set the link's ready event.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <string>

#include "comm.h"
#include "os_error.h"
#include "socket_link.h"
#include "transport.h"
#include "win_link.h"

namespace comm {
namespace {

using Clock = std::chrono::steady_clock;

class SocketLink final : public os::WinLink {
  public:
    SocketLink(SOCKET s, WSAEVENT event) : socket_(s), event_(event) {}
    ~SocketLink() override {
        closesocket(socket_);
        WSACloseEvent(event_);
    }
    HANDLE ready_event() const override { return event_; }

    std::ptrdiff_t read(unsigned char* buf, std::size_t n) override {
        // Resets the event; a read that leaves bytes behind sets it again. The
        // peer's close is reported once, so it is kept until the bytes before
        // it are read, and the event stays set for the read that finds it.
        WSANETWORKEVENTS seen{};
        WSAEnumNetworkEvents(socket_, event_, &seen);
        peer_closed_ = peer_closed_ || (seen.lNetworkEvents & FD_CLOSE) != 0;
        const int got = recv(socket_, reinterpret_cast<char*>(buf), static_cast<int>(n), 0);
        if (got > 0) {
            if (peer_closed_) {
                SetEvent(event_);
            }
            return got;
        }
        if (got == 0 || (peer_closed_ && WSAGetLastError() == WSAEWOULDBLOCK)) {
            return -COMM_ECONNRESET; // the peer closed its side
        }
        return os::last_socket_error();
    }

    std::ptrdiff_t write(const unsigned char* buf, std::size_t n) override {
        const int put = send(socket_, reinterpret_cast<const char*>(buf), static_cast<int>(n), 0);
        return put >= 0 ? put : os::last_socket_error();
    }

    int wait_writable(HANDLE stop, int timeout_ms) override {
        (void)stop;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(socket_, &writable);
        timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
        return select(0, nullptr, &writable, nullptr, &limit) == SOCKET_ERROR
                   ? os::last_socket_error()
                   : 0;
    }

  private:
    SOCKET socket_;
    WSAEVENT event_;
    bool peer_closed_ = false;
};

int wait_connected(SOCKET s, WSAEVENT event, const os::Waker& stop, int timeout_ms) {
    const HANDLE events[2] = {event, reinterpret_cast<HANDLE>(stop.handle())};
    const DWORD limit = timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : INFINITE;
    const DWORD got = WaitForMultipleObjects(2, events, FALSE, limit);
    if (got == WAIT_TIMEOUT) {
        return -COMM_ETIMEDOUT;
    }
    if (got == WAIT_OBJECT_0 + 1) {
        return -COMM_ECANCELED;
    }
    WSANETWORKEVENTS seen{};
    if (WSAEnumNetworkEvents(s, event, &seen) != 0) {
        return os::last_socket_error();
    }
    const int error = seen.iErrorCode[FD_CONNECT_BIT];
    return error == 0 ? 0 : -os::from_win32(static_cast<unsigned long>(error));
}

os::Link tcp_open(const ConnTarget& target, const os::Waker& stop) {
    if (const int started = winsock_start(); started != 0) {
        return started;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(target.port);
    if (getaddrinfo(target.where.c_str(), port.c_str(), &hints, &list) != 0) {
        return -COMM_EHOSTUNREACH;
    }
    os::Link result = -COMM_EHOSTUNREACH;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        const SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (s == INVALID_SOCKET) {
            result = os::last_socket_error();
            continue;
        }
        result = socket_connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen), stop,
                                target.timeout_ms);
        if (result >= 0) {
            const BOOL on = TRUE;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            break;
        }
        if (result == -COMM_ECANCELED) {
            break;
        }
    }
    freeaddrinfo(list);
    return result;
}

} // namespace

int winsock_start() {
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 0 : -COMM_ENETDOWN;
    }();
    return started;
}

os::Link socket_connect(SOCKET s, const sockaddr* addr, int addr_len, const os::Waker& stop,
                        int timeout_ms) {
    WSAEVENT event = WSACreateEvent();
    if (event == WSA_INVALID_EVENT) {
        closesocket(s);
        return os::last_socket_error();
    }
    // Non-blocking from here; the same event then carries the link's bytes.
    int result = WSAEventSelect(s, event, FD_CONNECT) == 0 ? 0 : os::last_socket_error();
    if (result == 0 && connect(s, addr, addr_len) != 0) {
        result = WSAGetLastError() == WSAEWOULDBLOCK ? wait_connected(s, event, stop, timeout_ms)
                                                     : os::last_socket_error();
    }
    if (result == 0) {
        ResetEvent(event);
        result = WSAEventSelect(s, event, FD_READ | FD_CLOSE) == 0 ? 0 : os::last_socket_error();
    }
    if (result != 0) {
        closesocket(s);
        WSACloseEvent(event);
        return result;
    }
    return os::as_link(new SocketLink(s, event));
}

const Transport kTcpTransport = {"tcp", tcp_open, os::link_read, os::link_write, os::link_close};

} // namespace comm

// Links over Winsock. Each socket's network events (bytes, a pending host, the peer's
// close) set its own event, which the serving thread waits on beside the waker's.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "sim_link.h"

namespace vuxo::sim {

struct LinkState {
    LinkState(SOCKET s, WSAEVENT e) : socket(s), event(e) {}
    ~LinkState() {
        closesocket(socket);
        WSACloseEvent(event);
    }
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;

    SOCKET socket;
    WSAEVENT event;
    // The peer's close is reported once: kept until the bytes before it are read.
    bool peer_closed = false;
};

namespace {

std::string error_text(const char* what, int code) {
    char text[256] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' ')) {
        message.pop_back();
    }
    if (message.empty()) {
        message = "error " + std::to_string(code);
    }
    return std::string(what) + ": " + message;
}

bool winsock_started() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

bool is_set(HANDLE event) {
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// Non-blocking from here on: the socket's events in mask set a new event.
Link socket_link(SOCKET s, long mask) {
    if (s == INVALID_SOCKET) {
        return {};
    }
    const WSAEVENT event = WSACreateEvent();
    if (event == WSA_INVALID_EVENT) {
        closesocket(s);
        return {};
    }
    Link link(std::make_unique<LinkState>(s, event));
    if (WSAEventSelect(s, event, mask) != 0) {
        return {};
    }
    return link;
}

} // namespace

Link::Link() = default;
Link::Link(std::unique_ptr<LinkState> state) : state_(std::move(state)) {}
Link::~Link() = default;
Link::Link(Link&& other) noexcept = default;
Link& Link::operator=(Link&& other) noexcept = default;

void Link::reset() {
    state_.reset();
}

bool Waker::open() {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(event);
    return true;
}

void Waker::wake() {
    SetEvent(reinterpret_cast<HANDLE>(handle_));
}

void Waker::close() {
    if (handle_ != kNone) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
        handle_ = kNone;
    }
}

Link open_listener(uint16_t port, uint16_t* bound, std::string* error) {
    if (!winsock_started()) {
        *error = error_text("WSAStartup", WSAGetLastError());
        return {};
    }
    Link link = socket_link(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), FD_ACCEPT);
    if (!link.valid()) {
        *error = error_text("socket", WSAGetLastError());
        return {};
    }
    const SOCKET s = link.state().socket;
    // Windows binds a port held only by lingering connections anyway; exclusive use keeps
    // another program from binding the same port beside the simulator.
    const BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        *error = error_text("bind", WSAGetLastError());
        return {};
    }
    if (listen(s, 4) != 0) {
        *error = error_text("listen", WSAGetLastError());
        return {};
    }
    int len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    *bound = ntohs(addr.sin_port);
    return link;
}

Link accept_host(Link& listener) {
    // Resets the listener's event; Winsock sets it again while more hosts wait.
    WSANETWORKEVENTS seen{};
    WSAEnumNetworkEvents(listener.state().socket, listener.state().event, &seen);
    // The accepted socket would share the listener's event: it gets its own.
    Link link = socket_link(accept(listener.state().socket, nullptr, nullptr), FD_READ | FD_CLOSE);
    if (link.valid()) {
        // Answers are small and must leave at once, as they would over a serial line.
        const BOOL on = TRUE;
        setsockopt(link.state().socket, IPPROTO_TCP, TCP_NODELAY,
                   reinterpret_cast<const char*>(&on), sizeof on);
    }
    return link;
}

Readiness wait_ready(const Link& link, Waker& waker, int timeout_ms) {
    const HANDLE wake = reinterpret_cast<HANDLE>(waker.handle());
    const HANDLE events[2] = {link.state().event, wake};
    Readiness r;
    const DWORD got = WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(timeout_ms));
    if (got == WAIT_TIMEOUT || got == WAIT_FAILED) {
        return r;
    }
    // The wait names the first event set; the other may be set as well.
    if (is_set(wake)) {
        ResetEvent(wake);
        r.woken = true;
    }
    r.readable = is_set(link.state().event);
    return r;
}

std::ptrdiff_t read_link(Link& link, unsigned char* buf, std::size_t n) {
    LinkState& s = link.state();
    // Resets the event; a read that leaves bytes behind sets it again.
    WSANETWORKEVENTS seen{};
    WSAEnumNetworkEvents(s.socket, s.event, &seen);
    s.peer_closed = s.peer_closed || (seen.lNetworkEvents & FD_CLOSE) != 0;
    const int got = recv(s.socket, reinterpret_cast<char*>(buf), static_cast<int>(n), 0);
    if (got > 0) {
        if (s.peer_closed) {
            SetEvent(s.event); // so that the next wait finds the end
        }
        return got;
    }
    if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK && !s.peer_closed) {
        return 0;
    }
    return -1;
}

bool write_all(Link& link, const std::atomic<bool>& stop, const unsigned char* data,
               std::size_t n) {
    const SOCKET s = link.state().socket;
    std::size_t done = 0;
    while (done < n) {
        if (stop.load()) {
            return false;
        }
        const int w =
            send(s, reinterpret_cast<const char*>(data + done), static_cast<int>(n - done), 0);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            // A short wait keeps stop() prompt while a host does not read.
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(s, &writable);
            timeval limit{0, 100 * 1000};
            if (select(0, nullptr, &writable, nullptr, &limit) == SOCKET_ERROR) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

FILE* open_log(const std::string& path) {
    // The C runtime refuses modes it does not know, such as POSIX's close-on-exec "e".
    return std::fopen(path.c_str(), "w");
}

} // namespace vuxo::sim

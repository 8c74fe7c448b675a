// Real ports for transport tests: a pseudo-terminal pair, a loopback TCP
// peer, and an event recorder standing in for the event procedure.
#ifndef VUXO_TEST_TRANSPORT_SUPPORT_H
#define VUXO_TEST_TRANSPORT_SUPPORT_H

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "comm.h"
#include "started.h"

namespace ttest {

// Bounds every wait in these tests: long enough for a loaded machine under a
// sanitizer, short enough that a fault fails instead of hanging.
inline constexpr auto kPatience = std::chrono::seconds(20);

struct Event {
    int kind;
    std::string data;
    int value;
};

// Records every event of one connection; `react` may act from inside the
// event procedure (seeing all bytes received so far) and chooses its result.
struct Recorder {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<Event> events;
    std::function<int(int conn_id, int kind, int value, const std::string& so_far)> react;

    // DISCONNECTED is recorded as the very last act, under the lock, so a test
    // that saw it may destroy the recorder at once.
    static int proc(int conn_id, int kind, unsigned char* data, int value, void* context) {
        auto* self = static_cast<Recorder*>(context);
        if (kind == COMM_EV_DISCONNECTED) {
            const int result =
                self->react ? self->react(conn_id, kind, value, self->received()) : 0;
            self->record(kind, data, value);
            return result;
        }
        const std::string so_far = self->record(kind, data, value);
        return self->react ? self->react(conn_id, kind, value, so_far) : 0;
    }

    // Returns every byte received so far.
    std::string record(int kind, const unsigned char* data, int value) {
        std::lock_guard lock(mu);
        std::string bytes;
        if (kind == COMM_EV_DATA && data != nullptr && value > 0) {
            bytes.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(value));
        }
        events.push_back({kind, bytes, value});
        std::string so_far;
        for (const Event& e : events) {
            so_far += e.data;
        }
        cv.notify_all();
        return so_far;
    }

    int count(int kind) {
        std::lock_guard lock(mu);
        int n = 0;
        for (const Event& e : events) {
            n += e.kind == kind ? 1 : 0;
        }
        return n;
    }

    std::string received() {
        std::lock_guard lock(mu);
        std::string all;
        for (const Event& e : events) {
            all += e.data;
        }
        return all;
    }

    std::vector<Event> snapshot() {
        std::lock_guard lock(mu);
        return events;
    }

    bool wait_for(const std::function<bool()>& done) {
        std::unique_lock lock(mu);
        return cv.wait_for(lock, kPatience, done);
    }
    bool wait_kind(int kind, int n = 1) {
        return wait_for([&] {
            int seen = 0;
            for (const Event& e : events) {
                seen += e.kind == kind ? 1 : 0;
            }
            return seen >= n;
        });
    }
    bool wait_received(const std::string& text) {
        return wait_for([&] {
            std::string all;
            for (const Event& e : events) {
                all += e.data;
            }
            return all.find(text) != std::string::npos;
        });
    }
};

// A pseudo-terminal: the transport opens the slave by path, the test plays
// the instrument on the master.
struct Pty {
    int master = -1;
    std::string slave;

    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
            slave = ptsname(master);
        }
    }
    ~Pty() { hang_up(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void hang_up() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
    }
    bool send(const std::string& bytes) const {
        return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Reads until `n` bytes came or the patience ran out.
    std::string read_n(size_t n) const { return read_exactly(master, n); }

    static std::string read_exactly(int fd, size_t n) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                continue;
            }
            char buf[256];
            const ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) {
                break;
            }
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }
};

// A loopback TCP peer on an ephemeral port.
struct TcpPeer {
    int listener = -1;
    int conn = -1;
    uint16_t port = 0;

    TcpPeer() {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            listen(listener, 8) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            port = ntohs(addr.sin_port);
        }
    }
    ~TcpPeer() {
        close_conn();
        if (listener >= 0) {
            ::close(listener);
        }
    }
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    bool accept_one() {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) != 1) {
            return false;
        }
        conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        return conn >= 0;
    }
    void close_conn() {
        if (conn >= 0) {
            ::close(conn);
            conn = -1;
        }
    }
    bool send(const std::string& bytes) const {
        return ::send(conn, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    std::string read_n(size_t n) const { return Pty::read_exactly(conn, n); }

    std::string conn_string() const { return "NET:127.0.0.1:" + std::to_string(port) + ",5000"; }
};

inline std::string serial_string(const std::string& path) {
    return "SER:" + path + "@115200,8N1";
}

// Opens the serial port at path with rec recording its events; comm_connect's result.
inline int connect_serial(const std::string& path, Recorder& rec, int* id, int rx_size = 4096,
                          int tick_ms = 200) {
    return comm_connect(id, serial_string(path).c_str(), Recorder::proc, rx_size, tick_ms, &rec);
}

} // namespace ttest

#endif

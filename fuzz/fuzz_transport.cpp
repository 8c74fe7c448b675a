// The real transport with commands running: fuzzed bytes, cut into pieces
// with fuzzed pauses between them, come from the instrument's side of a
// loopback TCP connection into a libcomm connection while a thread runs
// commands on it, and the connection ends from either side at a fuzzed point.
// The wait path, the response capture, the answers owed and the close are all
// in reach.
//
// Input: attempts (1 + b % 3), number of commands (1 + b % 4), flags (bit 0:
// the instrument hangs up at the end, else the host disconnects; bit 1: the
// host disconnects before the instrument has sent everything); per command:
// number (8000 + b % 64), wait (b & 1), time-out (1 + b % 16 ms), capacity
// (u16 % 4400); then pieces until the input ends: length (u8), pause
// (b % 4 ms), that many bytes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "fuzz_input.h"
#include "mxx_comm.h"

namespace {

int g_listener = -1;
std::string g_conn_string;

struct Closed {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
};

int on_disconnected(int, MXX_link*, void* user, int) {
    auto* closed = static_cast<Closed*>(user);
    std::lock_guard lock(closed->mu);
    closed->done = true;
    closed->cv.notify_all();
    return 0;
}

struct Command {
    int number;
    int wait;
    int timeout_ms;
    int cap;
};

void run_command(int conn_id, const Command& c) {
    fuzz::Guarded response(static_cast<std::size_t>(c.cap));
    int out_len = -7;
    const int r = MXX_send_cmd(conn_id, c.number, nullptr, 0, response.data(), c.cap, &out_len,
                               nullptr, nullptr, c.timeout_ms, c.wait);
    FUZZ_CHECK(r == 0 || r == 1 || r == 255 || r < 0);
    FUZZ_CHECK(response.guards_intact());
    FUZZ_CHECK(out_len == -7 || (r == 0 && out_len > 0 && out_len <= c.cap));
    if (out_len == -7) {
        FUZZ_CHECK(response.untouched_from(0));
    }
}

// libFuzzer's time-out alarm interrupts whichever thread it lands on, so the
// harness's own waits go on after EINTR rather than failing the input.
int accept_peer() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    pollfd p{g_listener, POLLIN, 0};
    while (std::chrono::steady_clock::now() < deadline) {
        const int ready = poll(&p, 1, 100);
        if (ready == 1) {
            return accept4(g_listener, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (ready < 0 && errno != EINTR) {
            return -1;
        }
    }
    return -1;
}

bool send_all(int fd, const std::vector<unsigned char>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FUZZ_CHECK(MXX_init(nullptr, 0, 0) == 0);
    g_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    FUZZ_CHECK(bind(g_listener, reinterpret_cast<sockaddr*>(&addr), len) == 0);
    FUZZ_CHECK(listen(g_listener, 4) == 0);
    FUZZ_CHECK(getsockname(g_listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
    g_conn_string = "NET:127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + ",1000";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const int attempts = 1 + in.u8() % 3;
    const int count = 1 + in.u8() % 4;
    const uint8_t flags = in.u8();
    std::vector<Command> commands;
    for (int i = 0; i < count; ++i) {
        const int number = 8000 + in.u8() % 64;
        const int wait = in.u8() & 1;
        const int timeout_ms = 1 + in.u8() % 16;
        commands.push_back({number, wait, timeout_ms, in.u16() % 4400});
    }

    Closed closed;
    int id = -1;
    FUZZ_CHECK(MXX_connect(g_conn_string.c_str(), &id, nullptr, nullptr, on_disconnected, nullptr,
                           nullptr, &closed) == 0);
    const int peer = accept_peer();
    FUZZ_CHECK(peer >= 0);
    MXX_set_cmd_num_try(id, attempts);
    std::thread host([&] {
        for (const Command& c : commands) {
            run_command(id, c);
        }
    });
    const bool host_closes_early = (flags & 2) != 0;
    std::size_t pieces = 0;
    while (!in.empty()) {
        const std::size_t n = in.u8();
        const int pause_ms = in.u8() % 4;
        const std::vector<unsigned char> bytes = in.bytes(n);
        if (pause_ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        }
        if (!send_all(peer, bytes)) {
            break;
        }
        if (host_closes_early && ++pieces == 2) {
            MXX_disconnect(id);
        }
    }
    if ((flags & 1) != 0) {
        shutdown(peer, SHUT_RDWR);
    }
    host.join();
    MXX_disconnect(id);
    {
        std::unique_lock lock(closed.mu);
        FUZZ_CHECK(closed.cv.wait_for(lock, std::chrono::seconds(5), [&] { return closed.done; }));
    }
    close(peer);
    return 0;
}

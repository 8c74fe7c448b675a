#include "delay_proxy.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "net_util.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// One direction: a reader queues what arrives with the time it may leave, a
// writer sends it then, so the delay adds to each message once, not per chunk.
void pump(int from, int to, std::chrono::milliseconds delay) {
    struct Chunk {
        Clock::time_point due;
        std::vector<unsigned char> bytes;
    };
    std::mutex mu;
    std::condition_variable cv;
    std::deque<Chunk> queue;
    bool done = false;
    std::thread writer([&] {
        for (;;) {
            std::unique_lock lock(mu);
            cv.wait(lock, [&] { return done || !queue.empty(); });
            if (queue.empty()) {
                return;
            }
            Chunk c = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            std::this_thread::sleep_until(c.due);
            if (!write_full(to, c.bytes.data(), c.bytes.size())) {
                return;
            }
        }
    });
    unsigned char buf[65536];
    for (;;) {
        const ssize_t n = ::read(from, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        std::lock_guard lock(mu);
        queue.push_back({Clock::now() + delay, {buf, buf + n}});
        cv.notify_one();
    }
    {
        std::lock_guard lock(mu);
        done = true;
    }
    cv.notify_one();
    writer.join();
    ::shutdown(to, SHUT_WR);
}

int connect_unix(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        return fd;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return -1;
}

} // namespace

DelayProxy::DelayProxy(std::string unix_path, std::chrono::milliseconds delay)
    : unix_path_(std::move(unix_path)), delay_(delay) {
    // port_ is set by the listen, so it is written here rather than in the
    // initializer list, whose member defaults would reset it.
    listen_fd_ = listen_loopback(&port_);
    acceptor_ = std::thread([this] { accept_loop(); });
}

DelayProxy::~DelayProxy() {
    ::shutdown(listen_fd_, SHUT_RDWR);
    acceptor_.join();
    ::close(listen_fd_);
    for (std::thread& t : pumps_) {
        t.detach(); // each ends with its connection; the program is ending anyway
    }
}

void DelayProxy::accept_loop() {
    for (;;) {
        const int client = ::accept(listen_fd_, nullptr, nullptr);
        if (client < 0) {
            return;
        }
        const int server = connect_unix(unix_path_);
        if (server < 0) {
            ::close(client);
            continue;
        }
        pumps_.emplace_back([client, server, d = delay_] {
            std::thread back([=] { pump(server, client, d); });
            pump(client, server, d);
            back.join();
            ::close(client);
            ::close(server);
        });
    }
}

} // namespace bench

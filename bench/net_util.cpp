#include "net_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "le.h"

namespace bench {

int listen_loopback(uint16_t* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), size) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

int connect_loopback(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

bool read_full(int fd, unsigned char* buf, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = recv(fd, buf + done, n - done, 0);
        if (r > 0) {
            done += static_cast<std::size_t>(r);
        } else if (r == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool write_full(int fd, const unsigned char* buf, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = send(fd, buf + done, n - done, MSG_NOSIGNAL);
        if (r > 0) {
            done += static_cast<std::size_t>(r);
        } else if (r < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

EchoPeer::EchoPeer(std::vector<Answer> answers) : answers_(std::move(answers)) {
    listen_fd_ = listen_loopback(&port_);
    if (listen_fd_ >= 0) {
        thread_ = std::thread([this] { serve(); });
    }
}

const Bytes* EchoPeer::answer_for(uint16_t command) const {
    for (const Answer& a : answers_) {
        if (a.command == command) {
            return &a.bytes;
        }
    }
    return nullptr;
}

EchoPeer::~EchoPeer() {
    // Unblocks an accept that never got its client.
    if (listen_fd_ >= 0) {
        shutdown(listen_fd_, SHUT_RDWR);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listen_fd_ >= 0) {
        close(listen_fd_);
    }
}

void EchoPeer::serve() {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // Frames are taken as they come: header, then the body its length announces.
    unsigned char head[12];
    Bytes body(65536);
    while (read_full(fd, head, sizeof head)) {
        const std::size_t length = vuxo::load_le<uint16_t>(head + 6);
        if (!read_full(fd, body.data(), length)) {
            break;
        }
        const Bytes* answer = answer_for(vuxo::load_le<uint16_t>(head + 4));
        if (answer != nullptr && !write_full(fd, answer->data(), answer->size())) {
            break;
        }
    }
    close(fd);
}

std::vector<double> raw_round_trips(int fd, const Bytes& request, std::size_t answer_size,
                                    int count) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(count));
    Bytes answer(answer_size);
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!write_full(fd, request.data(), request.size()) ||
            !read_full(fd, answer.data(), answer.size())) {
            return {};
        }
        times.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
    }
    return times;
}

std::vector<double> relayed_round_trips(int fd, const Bytes& request, std::size_t answer_size,
                                        int count) {
    using Clock = std::chrono::steady_clock;
    std::mutex mu;
    std::condition_variable cv;
    std::size_t arrived = 0; // answer bytes since the last request
    bool broken = false;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        Bytes buf(4096);
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
            std::lock_guard lock(mu);
            if (n <= 0) {
                broken = true;
            } else {
                arrived += static_cast<std::size_t>(n);
            }
            cv.notify_all();
            if (n <= 0) {
                return;
            }
        }
    });
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!write_full(fd, request.data(), request.size())) {
            break;
        }
        std::unique_lock lock(mu);
        cv.wait(lock, [&] { return arrived >= answer_size || broken; });
        if (broken) {
            break;
        }
        arrived -= answer_size;
        times.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
    }
    stop = true;
    reader.join();
    if (static_cast<int>(times.size()) != count) {
        return {};
    }
    return times;
}

std::vector<double> waited_round_trips(int fd, const Bytes& request, std::size_t answer_size,
                                       int count) {
    using Clock = std::chrono::steady_clock;
    const int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd < 0) {
        return {};
    }
    epoll_event watch{};
    watch.events = EPOLLIN;
    watch.data.fd = fd;
    std::vector<double> times;
    if (epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &watch) != 0) {
        close(epoll_fd);
        return {};
    }
    times.reserve(static_cast<std::size_t>(count));
    Bytes answer(answer_size);
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        const auto start = Clock::now();
        ok = write_full(fd, request.data(), request.size());
        std::size_t done = 0;
        while (ok && done < answer_size) {
            epoll_event ready{};
            const int n = epoll_wait(epoll_fd, &ready, 1, -1);
            if (n < 0 && errno != EINTR) {
                ok = false;
            } else if (n > 0) {
                const ssize_t r = recv(fd, answer.data() + done, answer_size - done, 0);
                ok = r > 0 || (r < 0 && (errno == EINTR || errno == EAGAIN));
                done += r > 0 ? static_cast<std::size_t>(r) : 0;
            }
        }
        if (ok) {
            times.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
        }
    }
    close(epoll_fd);
    if (!ok) {
        return {};
    }
    return times;
}

bool place_on(Side side) {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2) {
        return false;
    }
    // The first two CPUs this process may use: the host's, then the instrument's.
    int picked[2] = {-1, -1};
    int found = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && found < 2; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            picked[found++] = cpu;
        }
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(picked[side == Side::host ? 0 : 1], &one);
    return pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    const auto mid = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

} // namespace bench

#include "live_peer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include "frames.h"
#include "le.h"

namespace bench {

namespace {
constexpr uint16_t kSerialCommand = 8007;
constexpr int32_t kNewMeasurement = 256;
} // namespace

LivePeer::LivePeer(Bytes answer, int every, int messages)
    : answer_(std::move(answer)), every_(every), stamps_(static_cast<std::size_t>(messages)) {
    listen_fd_ = listen_loopback(&port_);
    if (listen_fd_ >= 0) {
        thread_ = std::thread([this] { serve(); });
    }
}

LivePeer::~LivePeer() {
    finish();
    if (listen_fd_ >= 0) {
        close(listen_fd_);
    }
}

void LivePeer::finish() {
    // Unblocks an accept that never got its client.
    if (listen_fd_ >= 0) {
        shutdown(listen_fd_, SHUT_RDWR);
    }
    {
        std::lock_guard lock(client_mu_);
        finishing_ = true;
        if (client_fd_ >= 0) {
            shutdown(client_fd_, SHUT_RDWR);
        }
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

// The stamp is taken right before the send that carries the message, so the
// latency counts the loopback, the host's wake-up and the library's work.
bool LivePeer::answer_with_message(int fd) {
    const int i = sent_;
    Bytes message = live_data_frame(kNewMeasurement, i, 1.5f, 2.5f);
    Bytes both;
    bool ok = true;
    switch (static_cast<Placement>(i % kPlacements)) {
    case own_send_before:
        stamps_[static_cast<std::size_t>(i)] = Clock::now();
        ok = write_full(fd, message.data(), message.size()) &&
             write_full(fd, answer_.data(), answer_.size());
        break;
    case same_send_ahead:
        both = message;
        both.insert(both.end(), answer_.begin(), answer_.end());
        stamps_[static_cast<std::size_t>(i)] = Clock::now();
        ok = write_full(fd, both.data(), both.size());
        break;
    case same_send_behind:
        both = answer_;
        both.insert(both.end(), message.begin(), message.end());
        stamps_[static_cast<std::size_t>(i)] = Clock::now();
        ok = write_full(fd, both.data(), both.size());
        break;
    case own_send_after:
        ok = write_full(fd, answer_.data(), answer_.size());
        stamps_[static_cast<std::size_t>(i)] = Clock::now();
        ok = ok && write_full(fd, message.data(), message.size());
        break;
    }
    ++sent_;
    return ok;
}

void LivePeer::serve() {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    {
        std::lock_guard lock(client_mu_);
        if (finishing_) {
            close(fd);
            return;
        }
        client_fd_ = fd;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    unsigned char head[12];
    Bytes body(65536);
    int requests = 0;
    while (read_full(fd, head, sizeof head)) {
        const std::size_t length = vuxo::load_le<uint16_t>(head + 6);
        if (!read_full(fd, body.data(), length)) {
            break;
        }
        if (vuxo::load_le<uint16_t>(head + 4) != kSerialCommand) {
            continue;
        }
        bool ok = true;
        if (armed_.load(std::memory_order_acquire) && ++requests % every_ == 0 &&
            sent_ < static_cast<int>(stamps_.size())) {
            ok = answer_with_message(fd);
        } else {
            ok = write_full(fd, answer_.data(), answer_.size());
        }
        if (!ok) {
            break;
        }
    }
    std::lock_guard lock(client_mu_);
    client_fd_ = -1;
    close(fd);
}

} // namespace bench

#include "raw_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "le.h"

namespace simtest {

using Clock = std::chrono::steady_clock;

std::vector<unsigned char> request(uint16_t cmd, const std::vector<unsigned char>& payload,
                                   uint16_t word) {
    std::vector<unsigned char> f(payload.size() + 13);
    f.resize(vuxo::build_frame(f.data(), cmd, word, 0, payload.data(), payload.size()));
    return f;
}

std::vector<unsigned char> i32(int32_t v) {
    std::vector<unsigned char> b(4);
    vuxo::store_le<int32_t>(b.data(), v);
    return b;
}

std::vector<unsigned char> cat(std::vector<unsigned char> a, const std::vector<unsigned char>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<unsigned char> file_request(const std::string& name, int32_t offset, int32_t length) {
    std::vector<unsigned char> head(40, 0);
    std::memcpy(head.data(), name.data(), std::min<std::size_t>(name.size(), 32));
    vuxo::store_le<int32_t>(head.data() + 32, offset);
    vuxo::store_le<int32_t>(head.data() + 36, length);
    return head;
}

RawClient::~RawClient() {
    close();
}

void RawClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    rx_->reset();
    pending_.clear();
}

bool RawClient::connect_tcp(uint16_t port) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socket_ = true;
    return fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

bool RawClient::open_pty(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
    socket_ = false;
    return true;
}

bool RawClient::send_bytes(const std::vector<unsigned char>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = socket_
                              ? ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                              : ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool RawClient::send(uint16_t cmd, const std::vector<unsigned char>& payload) {
    return send_bytes(request(cmd, payload));
}

std::vector<unsigned char> RawClient::read_raw(std::size_t n, std::chrono::milliseconds timeout) {
    std::vector<unsigned char> out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < n) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        unsigned char buf[8192];
        const ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

std::optional<Answer> RawClient::next(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        std::size_t used = 0;
        while (used < pending_.size()) {
            bool complete = false;
            used += rx_->consume(pending_.data() + used, pending_.size() - used, &complete);
            if (complete) {
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
                const unsigned char* f = rx_->buf;
                Answer a;
                a.frame.assign(f, f + rx_->pos);
                a.id = vuxo::frame_id(f);
                a.word = vuxo::load_le<uint16_t>(f + vuxo::kOffWord);
                a.status = f[vuxo::kOffStatus];
                const uint16_t len = vuxo::frame_length(f);
                if (len > 1) {
                    a.payload.assign(f + vuxo::kHeaderSize, f + vuxo::kHeaderSize + len - 1);
                }
                rx_->pos = 0;
                return a;
            }
        }
        pending_.clear();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return std::nullopt;
        }
        unsigned char buf[8192];
        const ssize_t got = ::read(fd_, buf, sizeof buf);
        if (got <= 0) {
            return std::nullopt;
        }
        pending_.assign(buf, buf + got);
    }
}

std::optional<Answer> RawClient::ask(uint16_t cmd, const std::vector<unsigned char>& payload) {
    if (!send(cmd, payload)) {
        return std::nullopt;
    }
    return next();
}

bool RawClient::wait_closed(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        unsigned char buf[4096];
        const ssize_t got = ::read(fd_, buf, sizeof buf);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            return true;
        }
    }
    return false;
}

} // namespace simtest

// Descriptors of the simulator's links: the loopback listener, an accepted host, and
// the waits on them (the pseudo-terminal is in sim_pty.h).
#ifndef VUXO_SIM_LINK_H
#define VUXO_SIM_LINK_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vuxo::sim {

// Owns one file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// "what: " and the text of errno.
std::string errno_text(const char* what);

// A listening socket on 127.0.0.1:port (0 = any free port); *bound receives the port.
UniqueFd open_listener(uint16_t port, uint16_t* bound, std::string* error);
// Accepts one pending host: non-blocking, close-on-exec, no Nagle delay. Invalid when none.
UniqueFd accept_host(int listener);

// A counter the simulator's thread polls beside its link, so other threads can wake it.
UniqueFd open_wake();
void signal_wake(int wake_fd);
void drain_wake(int wake_fd);

// Writes all bytes to a non-blocking descriptor, waiting for room with poll. Returns false
// on a write error (the host hung up) or once stop is set.
bool write_all(int fd, bool is_socket, const std::atomic<bool>& stop, const unsigned char* data,
               std::size_t n);

} // namespace vuxo::sim

#endif

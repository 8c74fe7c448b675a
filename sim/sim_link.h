// The simulator's links to its host behind one small interface per OS: the loopback
// listener, an accepted host, the pseudo-terminal (sim_pty.h), and the waker other
// threads rouse the serving thread with. Only the serving thread uses a link; wake()
// may come from any thread.
#ifndef VUXO_SIM_LINK_H
#define VUXO_SIM_LINK_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace vuxo::sim {

// What a link is on this OS (sim_link_posix.h, sim_link_windows.cpp).
struct LinkState;

// Owns one link; an empty Link is invalid.
class Link {
  public:
    Link();
    explicit Link(std::unique_ptr<LinkState> state);
    ~Link();
    Link(Link&& other) noexcept;
    Link& operator=(Link&& other) noexcept;

    bool valid() const { return state_ != nullptr; }
    void reset();
    LinkState& state() const { return *state_; }

  private:
    std::unique_ptr<LinkState> state_;
};

// A flag the serving thread waits on beside its link, so other threads can wake it.
class Waker {
  public:
    Waker() = default;
    ~Waker() { close(); }
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    bool open();
    bool valid() const { return handle_ != kNone; }
    void wake();
    void close();
    std::intptr_t handle() const { return handle_; }

  private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
};

// A listening socket on 127.0.0.1:port (0 = any free port); *bound receives the port.
Link open_listener(uint16_t port, uint16_t* bound, std::string* error);
// Accepts one pending host: non-blocking, no Nagle delay. Invalid when none is waiting.
Link accept_host(Link& listener);

struct Readiness {
    bool readable = false; // bytes, the end of the link, or (a listener) a pending host
    bool hung_up = false;  // the far side is gone with nothing left to read
    bool woken = false;    // the waker was set; the wait has cleared it
};

// Waits at most timeout_ms for the link or the waker.
Readiness wait_ready(const Link& link, Waker& waker, int timeout_ms);

// Bytes read (> 0), 0 while none are waiting, or -1 once the host has gone.
std::ptrdiff_t read_link(Link& link, unsigned char* buf, std::size_t n);

// Writes all bytes, waiting for room in short steps. Returns false on a write error (the
// host hung up) or once stop is set.
bool write_all(Link& link, const std::atomic<bool>& stop, const unsigned char* data, std::size_t n);

// The file of received frames, kept from any child process.
FILE* open_log(const std::string& path);

} // namespace vuxo::sim

#endif

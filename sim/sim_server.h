// The serving thread of the simulator: its state and its steps. Private to sim/.
#ifndef VUXO_SIM_SERVER_H
#define VUXO_SIM_SERVER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "frame.h"
#include "sim_link.h"
#include "simulator.h"

namespace vuxo::sim {

using Clock = std::chrono::steady_clock;

std::vector<unsigned char> make_frame(uint16_t id, uint16_t word, uint8_t status,
                                      const std::vector<unsigned char>& payload);

// splitmix64, seeded by --chaos, so a chaos run repeats exactly.
struct ChaosRng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

// One frame on its way out, with the write modes that apply to it.
struct Outgoing {
    std::vector<unsigned char> bytes;
    bool byte_by_byte = false;
    bool garbage = false;
};

enum class ChaosKind { none, drop, bad_header, bad_body, resend, split, garbage };

struct Simulator::Impl {
    explicit Impl(const Config& c) : cfg(c), device(c.data), faults(c.faults) {
        if (c.clock) {
            device.set_clock(*c.clock);
        }
        rng.state = c.faults.chaos_seed;
    }

    Config cfg;

    // Guards everything below up to the thread's own state.
    mutable std::mutex mu;
    mutable std::condition_variable changed;
    Device device;
    Faults faults;
    std::set<uint16_t> resend_done;
    std::set<uint16_t> error_done;
    std::map<uint16_t, uint64_t> counts;
    std::map<uint16_t, uint64_t> fault_base; // counts when the faults were set
    std::vector<std::vector<unsigned char>> frames;
    uint64_t total = 0;
    uint64_t accepted = 0;
    uint64_t hung_up = 0;
    bool host = false;
    std::vector<std::vector<unsigned char>> outbox;
    bool stopping = false;

    std::atomic<bool> stop_flag{false};
    bool started = false;
    Waker wake;
    Link listener;
    Link pty;
    uint16_t bound_port = 0;
    std::string pty_name;
    std::thread thread;

    // The thread's own state.
    Link client;
    std::unique_ptr<FrameReceiver> rx;
    FILE* log = nullptr;
    ChaosRng rng{0};
    uint64_t conn_frames = 0;
    bool armed = false; // the host read log data since the last idle measurement
    Clock::time_point last_rx;
    Clock::time_point next_every;

    Link& link() { return cfg.link == LinkKind::pty ? pty : client; }

    // Returns false when stop() was called during the sleep.
    bool sleep_ms(double ms) {
        if (ms <= 0) {
            return !stop_flag.load();
        }
        std::unique_lock<std::mutex> lock(mu);
        return !changed.wait_for(lock, std::chrono::duration<double, std::milli>(ms),
                                 [this] { return stopping; });
    }

    void run();
    bool serve_tcp_accept();
    void serve_link();
    void on_bytes(const unsigned char* data, std::size_t n);
    void on_frame(const unsigned char* f, std::size_t n);
    // Counts and logs a request; returns its number among its command's requests since the
    // faults were set. The caller holds mu.
    uint64_t record(const unsigned char* f, std::size_t n);
    Reply reply_for(const unsigned char* f, std::size_t n, uint64_t since, ChaosKind chaos);
    std::optional<Outgoing> shape(const Reply& r, uint16_t word, ChaosKind chaos);
    bool transmit(const Outgoing& out);
    void hang_up();
    void set_host(bool present);
    void flush_outbox();
    void timers();
    int poll_timeout_ms() const;
    void store_and_report();
    std::vector<unsigned char> stored_report(int64_t slot);
};

} // namespace vuxo::sim

#endif

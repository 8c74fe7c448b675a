#include "simulator.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "frame.h"
#include "le.h"
#include "sim_link.h"

namespace vuxo::sim {
namespace {

using Clock = std::chrono::steady_clock;

// Stray bytes between frames. No complete sync word, and the last byte cannot begin one:
// a receiver drops a byte that breaks a partial sync word without looking at it again, so a
// trailing "BRN" would cost the frame that follows.
constexpr unsigned char kGarbage[] = {0x00, 0xFF, 'B',  'R', 'N',  0x00, 'B',
                                      'R',  0x13, 0x37, 'B', 0x00, 0x55, 0xAA};

std::vector<unsigned char> make_frame(uint16_t id, uint16_t word, uint8_t status,
                                      const std::vector<unsigned char>& payload) {
    std::vector<unsigned char> f(payload.size() + kHeaderSize + 1);
    f.resize(build_frame(f.data(), id, word, status, payload.data(), payload.size()));
    return f;
}

std::string hex_line(const unsigned char* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(n * 2 + 1);
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    s += '\n';
    return s;
}

struct Rng {
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

} // namespace

std::vector<unsigned char> live_data_frame(int32_t code, int32_t value, float a, float b) {
    std::vector<unsigned char> payload(16);
    store_le<int32_t>(payload.data(), code);
    store_le<int32_t>(payload.data() + 4, value);
    store_le<float>(payload.data() + 8, a);
    store_le<float>(payload.data() + 12, b);
    return make_frame(kMsgLiveData, 0, 0, payload);
}

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
    UniqueFd wake;
    UniqueFd listener;
    UniqueFd pty;
    uint16_t bound_port = 0;
    std::string pty_name;
    std::thread thread;

    // The thread's own state.
    UniqueFd client;
    std::unique_ptr<FrameReceiver> rx;
    FILE* log = nullptr;
    Rng rng{0};
    uint64_t conn_frames = 0;
    bool armed = false; // the host read log data since the last idle measurement
    Clock::time_point last_rx;
    Clock::time_point next_every;

    int link_fd() const { return cfg.link == LinkKind::pty ? pty.get() : client.get(); }
    bool is_socket() const { return cfg.link == LinkKind::tcp; }

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
    bool transmit(const Outgoing& out);
    void hang_up();
    void set_host(bool present);
    void flush_outbox();
    void timers();
    int poll_timeout_ms() const;
    void store_and_report();
    std::vector<unsigned char> stored_report(int64_t slot);
};

void Simulator::Impl::set_host(bool present) {
    {
        std::lock_guard<std::mutex> lock(mu);
        if (present && !host) {
            ++accepted;
        }
        if (!present && host) {
            ++hung_up;
        }
        host = present;
        if (!present) {
            outbox.clear();
        }
    }
    changed.notify_all();
    if (present) {
        rx->reset();
        conn_frames = 0;
        armed = false;
        last_rx = Clock::now();
        next_every = last_rx + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(cfg.measure_every));
    }
}

void Simulator::Impl::hang_up() {
    if (cfg.link == LinkKind::tcp) {
        client.reset();
    }
    rx->reset();
    set_host(false);
}

std::vector<unsigned char> Simulator::Impl::stored_report(int64_t slot) {
    const std::vector<unsigned char> rec = device.log().record_bytes(static_cast<uint32_t>(slot));
    float a = 0;
    float b = 0;
    if (device.generation() == Generation::v1) {
        a = load_le<float>(rec.data() + kV1OffKappa);
    } else {
        a = load_le<float>(rec.data() + kV2OffSusc);
        b = load_le<float>(rec.data() + kV2OffCond);
    }
    return live_data_frame(kEventStored, static_cast<int32_t>(slot), a, b);
}

void Simulator::Impl::store_and_report() {
    {
        std::lock_guard<std::mutex> lock(mu);
        const int64_t slot = device.log().store_new();
        if (slot >= 0 && host) {
            outbox.push_back(stored_report(slot));
        }
    }
    changed.notify_all();
    flush_outbox();
}

void Simulator::Impl::flush_outbox() {
    std::vector<std::vector<unsigned char>> pending;
    Faults f;
    {
        std::lock_guard<std::mutex> lock(mu);
        pending.swap(outbox);
        f = faults;
    }
    if (f.silent) {
        return; // a silent instrument sends nothing, live data included
    }
    for (auto& frame : pending) {
        if (!transmit(Outgoing{std::move(frame), f.byte_by_byte, f.garbage})) {
            hang_up();
            return;
        }
    }
}

bool Simulator::Impl::transmit(const Outgoing& out) {
    uint32_t baud = 0;
    {
        std::lock_guard<std::mutex> lock(mu);
        baud = faults.baud;
    }
    std::vector<unsigned char> wire;
    if (out.garbage) {
        wire.assign(std::begin(kGarbage), std::end(kGarbage));
    }
    wire.insert(wire.end(), out.bytes.begin(), out.bytes.end());
    // Pieces of at most 10 ms of wire time keep the pacing smooth at any line speed.
    std::size_t piece = wire.size();
    if (baud > 0) {
        piece = std::max<std::size_t>(1, baud / 10 / 100);
    }
    if (out.byte_by_byte) {
        piece = 1;
    }
    const auto t0 = Clock::now();
    std::size_t sent = 0;
    while (sent < wire.size()) {
        const std::size_t n = std::min(piece, wire.size() - sent);
        if (!write_all(link_fd(), is_socket(), stop_flag, wire.data() + sent, n)) {
            return false;
        }
        sent += n;
        if (baud > 0) {
            const auto due = t0 + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(sent * 10.0 / baud));
            const double ms = std::chrono::duration<double, std::milli>(due - Clock::now()).count();
            if (!sleep_ms(ms)) {
                return false;
            }
        }
    }
    return true;
}

void Simulator::Impl::on_frame(const unsigned char* f, std::size_t n) {
    const uint16_t cmd = frame_id(f);
    const uint16_t word = load_le<uint16_t>(f + kOffWord);
    last_rx = Clock::now();
    ++conn_frames;
    std::vector<Outgoing> outs;
    bool measure = false;
    bool hangup = false;
    uint32_t latency = 0;
    {
        std::lock_guard<std::mutex> lock(mu);
        const uint64_t nth = ++counts[cmd];
        ++total;
        if (frames.size() < cfg.keep_frames) {
            frames.emplace_back(f, f + n);
        }
        if (log != nullptr) {
            std::fputs(hex_line(f, n).c_str(), log);
            std::fflush(log);
        }
        latency = faults.latency_ms;
        hangup = faults.hangup_after > 0 && conn_frames >= faults.hangup_after &&
                 cfg.link == LinkKind::tcp;

        ChaosKind chaos = ChaosKind::none;
        if (faults.chaos && rng.unit() < faults.chaos_rate) {
            chaos = static_cast<ChaosKind>(1 + rng.next() % 6);
        }
        const uint64_t since = nth - fault_base[cmd];
        Reply r;
        bool real = false;
        if (auto it = faults.fail_from.find(cmd);
            it != faults.fail_from.end() && since >= it->second) {
            r = error_reply();
        } else if (faults.error_first.count(cmd) != 0 && error_done.insert(cmd).second) {
            r = error_reply();
        } else if ((faults.resend_first.count(cmd) != 0 && resend_done.insert(cmd).second) ||
                   chaos == ChaosKind::resend) {
            r.id = kMsgResend;
        } else {
            r = device.handle(f, n);
            real = true;
        }
        if (real && cmd == 8211 && r.kind == Reply::Kind::answer && faults.empty_chunk_from > 0 &&
            since >= faults.empty_chunk_from) {
            r.payload.assign(4, 0);
        }
        armed = armed || r.log_read;
        measure = r.measure;
        const bool drop = faults.silent || r.kind == Reply::Kind::none || hangup ||
                          chaos == ChaosKind::drop || faults.drop_next > 0;
        if (faults.drop_next > 0 && !faults.silent && r.kind != Reply::Kind::none && !hangup) {
            --faults.drop_next;
        }
        if (!drop) {
            Outgoing out{make_frame(r.id, word, r.status, r.payload), faults.byte_by_byte,
                         faults.garbage};
            if (faults.corrupt_header_next > 0 || chaos == ChaosKind::bad_header) {
                faults.corrupt_header_next -= faults.corrupt_header_next > 0 ? 1 : 0;
                out.bytes[kOffCheck] ^= 0x5A;
            } else if (faults.corrupt_body_next > 0 || chaos == ChaosKind::bad_body) {
                faults.corrupt_body_next -= faults.corrupt_body_next > 0 ? 1 : 0;
                out.bytes.back() ^= 0x5A;
            }
            out.byte_by_byte = out.byte_by_byte || chaos == ChaosKind::split;
            out.garbage = out.garbage || chaos == ChaosKind::garbage;
            outs.push_back(std::move(out));
        }
    }
    changed.notify_all();
    if (hangup) {
        hang_up();
        return;
    }
    if (!outs.empty() && !sleep_ms(latency)) {
        return;
    }
    for (const Outgoing& out : outs) {
        if (!transmit(out)) {
            hang_up();
            return;
        }
    }
    if (measure) {
        store_and_report();
    }
}

void Simulator::Impl::on_bytes(const unsigned char* data, std::size_t n) {
    std::size_t used = 0;
    while (used < n && host) {
        bool complete = false;
        used += rx->consume(data + used, n - used, &complete);
        if (complete) {
            const std::size_t size = static_cast<std::size_t>(rx->pos);
            rx->pos = 0;
            on_frame(rx->buf, size);
        }
    }
}

int Simulator::Impl::poll_timeout_ms() const {
    auto next = Clock::now() + std::chrono::milliseconds(500);
    if (cfg.measure_after_idle > 0 && armed) {
        next = std::min(next, last_rx + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(cfg.measure_after_idle)));
    }
    if (cfg.measure_every > 0) {
        next = std::min(next, next_every);
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(ms + 1, 0, 500));
}

void Simulator::Impl::timers() {
    const auto now = Clock::now();
    if (cfg.measure_after_idle > 0 && armed &&
        now - last_rx >= std::chrono::duration<double>(cfg.measure_after_idle)) {
        armed = false;
        store_and_report();
    }
    if (cfg.measure_every > 0 && now >= next_every) {
        next_every = now + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(cfg.measure_every));
        store_and_report();
    }
}

bool Simulator::Impl::serve_tcp_accept() {
    pollfd p[2] = {{listener.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
    if (::poll(p, 2, 500) <= 0) {
        return false;
    }
    if ((p[1].revents & POLLIN) != 0) {
        drain_wake(wake.get());
        std::lock_guard<std::mutex> lock(mu);
        outbox.clear(); // nobody to send to
    }
    if ((p[0].revents & POLLIN) == 0) {
        return false;
    }
    client = accept_host(listener.get());
    if (!client.valid()) {
        return false;
    }
    set_host(true);
    return true;
}

void Simulator::Impl::serve_link() {
    pollfd p[2] = {{link_fd(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
    const int ready = ::poll(p, 2, poll_timeout_ms());
    if (ready < 0) {
        return;
    }
    if ((p[1].revents & POLLIN) != 0) {
        drain_wake(wake.get());
    }
    if ((p[0].revents & POLLIN) != 0) {
        unsigned char buf[4096];
        const ssize_t got = ::read(link_fd(), buf, sizeof buf);
        if (got > 0) {
            on_bytes(buf, static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            hang_up();
            return;
        }
    } else if ((p[0].revents & (POLLHUP | POLLERR)) != 0) {
        hang_up();
        return;
    }
    if (host) {
        flush_outbox();
    }
    if (host) {
        timers();
    }
}

void Simulator::Impl::run() {
    while (!stop_flag.load()) {
        if (cfg.link == LinkKind::tcp) {
            if (!host) {
                serve_tcp_accept();
                continue;
            }
            serve_link();
            continue;
        }
        if (host) {
            serve_link();
            continue;
        }
        // A pty master reads as hung up while no host holds the slave side open.
        pollfd p{pty.get(), POLLIN, 0};
        ::poll(&p, 1, 0);
        if ((p.revents & POLLHUP) == 0) {
            make_raw(pty.get());
            set_host(true);
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mu);
            outbox.clear();
        }
        sleep_ms(20);
    }
}

Simulator::Simulator(const Config& config) : impl_(std::make_unique<Impl>(config)) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(std::string* error) {
    std::string local;
    std::string& err = error != nullptr ? *error : local;
    Impl& s = *impl_;
    if (s.started) {
        err = "already started";
        return false;
    }
    s.wake = open_wake();
    if (!s.wake.valid()) {
        err = "eventfd failed";
        return false;
    }
    if (s.cfg.link == LinkKind::tcp) {
        s.listener = open_listener(s.cfg.port, &s.bound_port, &err);
        if (!s.listener.valid()) {
            return false;
        }
    } else {
        s.pty = open_pty(&s.pty_name, &err);
        if (!s.pty.valid()) {
            return false;
        }
    }
    if (!s.cfg.log_path.empty()) {
        s.log = std::fopen(s.cfg.log_path.c_str(), "we");
        if (s.log == nullptr) {
            err = "cannot open " + s.cfg.log_path;
            return false;
        }
    }
    s.stop_flag.store(false);
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.stopping = false;
    }
    s.rx = std::make_unique<FrameReceiver>();
    s.rx->reset();
    s.started = true;
    s.thread = std::thread([&s] { s.run(); });
    return true;
}

void Simulator::stop() {
    Impl& s = *impl_;
    if (!s.started) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.stopping = true;
    }
    s.stop_flag.store(true);
    s.changed.notify_all();
    signal_wake(s.wake.get());
    if (s.thread.joinable()) {
        s.thread.join();
    }
    s.client.reset();
    s.listener.reset();
    s.pty.reset();
    if (s.log != nullptr) {
        std::fclose(s.log);
        s.log = nullptr;
    }
    s.started = false;
}

uint16_t Simulator::port() const {
    return impl_->bound_port;
}
std::string Simulator::pty_path() const {
    return impl_->pty_name;
}
Generation Simulator::generation() const {
    return impl_->cfg.data.gen;
}

std::vector<std::vector<unsigned char>> Simulator::received_frames() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->frames;
}

uint64_t Simulator::received_count() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->total;
}

uint64_t Simulator::count(uint16_t command) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const auto it = impl_->counts.find(command);
    return it == impl_->counts.end() ? 0 : it->second;
}

std::map<uint16_t, uint64_t> Simulator::counts() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->counts;
}

bool Simulator::wait_for_count(uint16_t command, uint64_t n,
                               std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->changed.wait_for(lock, timeout, [&] {
        const auto it = impl_->counts.find(command);
        return it != impl_->counts.end() && it->second >= n;
    });
}

bool Simulator::wait_for_frames(uint64_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->total >= n; });
}

bool Simulator::wait_for_connections(uint64_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->accepted >= n; });
}

uint64_t Simulator::connections() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->accepted;
}

uint64_t Simulator::hangups() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->hung_up;
}

uint32_t Simulator::entry_count() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().count();
}

Entry Simulator::entry(uint32_t slot) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().entry(slot);
}

std::vector<unsigned char> Simulator::record_bytes(uint32_t slot) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().record_bytes(slot);
}

std::vector<unsigned char> Simulator::param_block() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().param_block();
}

std::vector<unsigned char> Simulator::entry_page(int32_t first) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().entry_page(first);
}

std::optional<std::vector<unsigned char>> Simulator::file(const std::string& name) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.file(name);
}

ClockRecord Simulator::clock() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.clock();
}

int32_t Simulator::state() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.state();
}

std::vector<int32_t> Simulator::events() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.events();
}

std::vector<unsigned char> Simulator::flash() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.flash();
}

std::string Simulator::serial() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.serial();
}

int64_t Simulator::store_measurement() {
    int64_t slot = -1;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        slot = impl_->device.log().store_new();
        if (slot >= 0 && impl_->host) {
            impl_->outbox.push_back(impl_->stored_report(slot));
        }
    }
    impl_->changed.notify_all();
    if (impl_->wake.valid()) {
        signal_wake(impl_->wake.get());
    }
    return slot;
}

void Simulator::send_frame(std::vector<unsigned char> frame) {
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        if (impl_->host) {
            impl_->outbox.push_back(std::move(frame));
        }
    }
    if (impl_->wake.valid()) {
        signal_wake(impl_->wake.get());
    }
}

Faults Simulator::faults() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->faults;
}

void Simulator::set_faults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults = faults;
    impl_->resend_done.clear();
    impl_->error_done.clear();
    impl_->fault_base = impl_->counts;
    if (faults.chaos) {
        impl_->rng.state = faults.chaos_seed;
    }
}

} // namespace vuxo::sim

#include "sim_server.h"

#include <algorithm>

#include "le.h"
#include "sim_pty.h"

namespace vuxo::sim {
namespace {

// Stray bytes between frames. No complete sync word, and the last byte cannot begin one:
// a receiver drops a byte that breaks a partial sync word without looking at it again, so a
// trailing "BRN" would cost the frame that follows.
constexpr unsigned char kGarbage[] = {0x00, 0xFF, 'B',  'R', 'N',  0x00, 'B',
                                      'R',  0x13, 0x37, 'B', 0x00, 0x55, 0xAA};

// Where a file read's request carries the length it asks for: after the name and offset.
constexpr std::size_t kReadLengthAt = 36;

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

} // namespace

std::vector<unsigned char> make_frame(uint16_t id, uint16_t word, uint8_t status,
                                      const std::vector<unsigned char>& payload) {
    std::vector<unsigned char> f(payload.size() + kHeaderSize + 1);
    f.resize(build_frame(f.data(), id, word, status, payload.data(), payload.size()));
    return f;
}

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
        if (!write_all(link(), stop_flag, wire.data() + sent, n)) {
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

uint64_t Simulator::Impl::record(const unsigned char* f, std::size_t n) {
    const uint16_t cmd = frame_id(f);
    const uint64_t nth = ++counts[cmd];
    ++total;
    if (frames.size() < cfg.keep_frames) {
        frames.emplace_back(f, f + n);
    }
    if (log != nullptr) {
        std::fputs(hex_line(f, n).c_str(), log);
        std::fflush(log);
    }
    return nth - fault_base[cmd];
}

// The per-command switches are decided before the device sees the request, so a refused
// request changes nothing on the instrument.
Reply Simulator::Impl::reply_for(const unsigned char* f, std::size_t n, uint64_t since,
                                 ChaosKind chaos) {
    const uint16_t cmd = frame_id(f);
    if (auto it = faults.fail_from.find(cmd); it != faults.fail_from.end() && since >= it->second) {
        return error_reply();
    }
    if (faults.error_first.count(cmd) != 0 && error_done.insert(cmd).second) {
        return error_reply();
    }
    if ((faults.resend_first.count(cmd) != 0 && resend_done.insert(cmd).second) ||
        chaos == ChaosKind::resend) {
        Reply r;
        r.id = kMsgResend;
        return r;
    }
    if (cmd == 8211 && faults.large_reads != Faults::LargeReads::allow &&
        n >= kHeaderSize + kFileHead &&
        load_le<int32_t>(f + kHeaderSize + kReadLengthAt) > Faults::kSmallReadLimit) {
        if (faults.large_reads == Faults::LargeReads::error) {
            return error_reply();
        }
        Reply refused;
        refused.id = static_cast<uint16_t>(cmd + kAnswerIdOffset);
        refused.status = 1;
        return refused;
    }
    Reply r = device.handle(f, n);
    if (cmd == 8211 && r.kind == Reply::Kind::answer && faults.empty_chunk_from > 0 &&
        since >= faults.empty_chunk_from) {
        r.payload.assign(4, 0);
    }
    if (auto it = faults.answer_size.find(cmd);
        it != faults.answer_size.end() && r.kind == Reply::Kind::answer) {
        r.payload.resize(it->second);
    }
    return r;
}

std::optional<Outgoing> Simulator::Impl::shape(const Reply& r, uint16_t word, ChaosKind chaos) {
    if (faults.silent || r.kind == Reply::Kind::none) {
        return std::nullopt;
    }
    if (faults.drop_next > 0) {
        --faults.drop_next;
        return std::nullopt;
    }
    if (chaos == ChaosKind::drop) {
        return std::nullopt;
    }
    Outgoing out{make_frame(r.id, word, r.status, r.payload), faults.byte_by_byte, faults.garbage};
    if (faults.corrupt_header_next > 0 || chaos == ChaosKind::bad_header) {
        faults.corrupt_header_next -= faults.corrupt_header_next > 0 ? 1 : 0;
        out.bytes[kOffCheck] ^= 0x5A;
    } else if (faults.corrupt_body_next > 0 || chaos == ChaosKind::bad_body) {
        faults.corrupt_body_next -= faults.corrupt_body_next > 0 ? 1 : 0;
        out.bytes.back() ^= 0x5A;
    }
    out.byte_by_byte = out.byte_by_byte || chaos == ChaosKind::split;
    out.garbage = out.garbage || chaos == ChaosKind::garbage;
    return out;
}

void Simulator::Impl::on_frame(const unsigned char* f, std::size_t n) {
    last_rx = Clock::now();
    ++conn_frames;
    std::optional<Outgoing> out;
    bool measure = false;
    bool stored = false;
    bool hangup = false;
    uint32_t latency = 0;
    {
        std::lock_guard<std::mutex> lock(mu);
        const uint64_t since = record(f, n);
        latency = faults.latency_ms;
        if (faults.slow_answer_at > 0 && --faults.slow_answer_at == 0) {
            latency += faults.slow_answer_ms;
        }
        hangup = faults.hangup_after > 0 && conn_frames >= faults.hangup_after &&
                 cfg.link == LinkKind::tcp;
        ChaosKind chaos = ChaosKind::none;
        if (faults.chaos && rng.unit() < faults.chaos_rate) {
            chaos = static_cast<ChaosKind>(1 + rng.next() % 6);
        }
        // Stored before the answer is built, so the answer already counts it.
        if (auto it = faults.store_at.find(frame_id(f));
            it != faults.store_at.end() && since == it->second) {
            const int64_t slot = device.log().store_new();
            if (slot >= 0) {
                outbox.push_back(stored_report(slot));
                stored = true;
            }
        }
        const Reply r = reply_for(f, n, since, chaos);
        armed = armed || r.log_read;
        measure = r.measure;
        if (!hangup) {
            out = shape(r, load_le<uint16_t>(f + kOffWord), chaos);
        }
    }
    changed.notify_all();
    if (hangup) {
        hang_up();
        return;
    }
    if (stored) {
        flush_outbox();
    }
    if (out && (!sleep_ms(latency) || !transmit(*out))) {
        hang_up();
        return;
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
    const Readiness r = wait_ready(listener, wake, 500);
    if (r.woken) {
        std::lock_guard<std::mutex> lock(mu);
        outbox.clear(); // nobody to send to
    }
    if (!r.readable) {
        return false;
    }
    client = accept_host(listener);
    if (!client.valid()) {
        return false;
    }
    set_host(true);
    return true;
}

void Simulator::Impl::serve_link() {
    const Readiness r = wait_ready(link(), wake, poll_timeout_ms());
    if (r.readable) {
        unsigned char buf[4096];
        const std::ptrdiff_t got = read_link(link(), buf, sizeof buf);
        if (got > 0) {
            on_bytes(buf, static_cast<std::size_t>(got));
        } else if (got < 0) {
            hang_up();
            return;
        }
    } else if (r.hung_up) {
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
        if (pty_host_attached(pty)) {
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

} // namespace vuxo::sim

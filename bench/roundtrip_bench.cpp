// Transaction round trip: the median time of vuxo_get_serial against the
// simulator over loopback TCP, beside a raw ping-pong of the same request and
// answer bytes between two plain sockets, measured in alternating blocks.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "frames.h"
#include "net_util.h"
#include "report.h"
#include "session.h"
#include "vuxoint.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;
constexpr int kPerRound = 2000;
constexpr int kWarmUp = 200;

// Times `count` waited serial-number commands; empty when one fails.
std::vector<double> library_round_trips(int conn_id, int count) {
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(count));
    char serial[9];
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (vuxo_get_serial(conn_id, serial) != 0) {
            return {};
        }
        times.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
    }
    return times;
}

bool append(std::vector<double>& all, const std::vector<double>& more) {
    all.insert(all.end(), more.begin(), more.end());
    return !more.empty();
}

struct Pair {
    double library_ns = 0;
    double raw_ns = 0;
};

// Alternates blocks of library and raw exchanges so that drift of the machine
// reaches both alike; returns the two medians (0 on failure).
Pair measure(int conn_id, int raw_fd, const bench::Bytes& request, std::size_t answer_size) {
    std::vector<double> lib;
    std::vector<double> raw;
    if (library_round_trips(conn_id, kWarmUp).empty() ||
        bench::raw_round_trips(raw_fd, request, answer_size, kWarmUp).empty()) {
        return {};
    }
    for (int r = 0; r < kRounds; ++r) {
        if (!append(lib, library_round_trips(conn_id, kPerRound)) ||
            !append(raw, bench::raw_round_trips(raw_fd, request, answer_size, kPerRound))) {
            return {};
        }
    }
    return {bench::median(lib), bench::median(raw)};
}

void report(const char* item, const Pair& p) {
    if (p.library_ns <= 0 || p.raw_ns <= 0) {
        bench::row(item, "failed", "-", "-", "ratio <= 1.5", bench::Verdict::missed);
        return;
    }
    const double ratio = p.library_ns / p.raw_ns;
    bench::row(item, bench::fmt("%.1f us", p.library_ns / 1000),
               bench::fmt("raw %.1f us", p.raw_ns / 1000), bench::fmt("%.2f", ratio),
               "ratio <= 1.5", bench::at_most(ratio, 1.5));
}

} // namespace

int main() {
    if (vuxo_library_init() != 0) {
        std::fprintf(stderr, "the transport did not start\n");
        return 1;
    }
    const auto sim = bench::start_v2_sim(1);
    if (!sim) {
        return 1;
    }
    const bench::Bytes request = bench::serial_request();
    const bench::Bytes answer = bench::serial_answer(sim->serial());
    bench::EchoPeer echo({{8007, answer}});
    const int raw_fd = bench::connect_loopback(echo.port());
    const int conn_id = bench::open_net(sim->port());
    if (raw_fd < 0 || conn_id < 0) {
        std::fprintf(stderr, "could not connect (raw %d, library %d)\n", raw_fd, conn_id);
        return 1;
    }
    const Pair p = measure(conn_id, raw_fd, request, answer.size());
    std::printf("vuxo_get_serial against the simulator: median %.1f us; raw ping-pong %.1f us\n",
                p.library_ns / 1000, p.raw_ns / 1000);
    report("round trip vuxo_get_serial", p);

    // The same command against a peer as trivial as the raw one: what the
    // library and the transport add, without the simulator's own work.
    bench::EchoPeer lib_echo({{8007, answer}});
    const int echo_id = bench::open_net(lib_echo.port());
    const Pair e = echo_id >= 0 ? measure(echo_id, raw_fd, request, answer.size()) : Pair{};
    std::printf("vuxo_get_serial against an echo peer: median %.1f us; raw ping-pong %.1f us\n",
                e.library_ns / 1000, e.raw_ns / 1000);
    if (e.library_ns > 0 && e.raw_ns > 0) {
        bench::row("  same, echo peer for the sim", bench::fmt("%.1f us", e.library_ns / 1000),
                   bench::fmt("raw %.1f us", e.raw_ns / 1000),
                   bench::fmt("%.2f", e.library_ns / e.raw_ns), "-", bench::Verdict::none);
    }
    vuxo_disconnect(echo_id);

    vuxo_disconnect(conn_id);
    close(raw_fd);
    vuxo_library_shut();
    return 0;
}

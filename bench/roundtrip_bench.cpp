// Transaction round trip: the median time of vuxo_get_serial against the
// simulator over loopback TCP, beside a raw ping-pong of the same request and
// answer bytes between two plain sockets. Diagnostics measured in the same
// rounds: the library against a peer as trivial as the raw one (without the
// simulator's own work), and the raw exchange with the answer handed over by
// a reader thread (the structure of the transport, without its code).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
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

using Series = std::function<std::vector<double>(int count)>;

// Runs the series in turn, kRounds blocks each, so that drift of the machine
// reaches all alike; returns their medians (all 0 when one failed).
std::vector<double> medians(const std::vector<Series>& series) {
    std::vector<std::vector<double>> samples(series.size());
    for (const Series& s : series) {
        if (s(kWarmUp).empty()) {
            return std::vector<double>(series.size(), 0.0);
        }
    }
    for (int r = 0; r < kRounds; ++r) {
        for (std::size_t i = 0; i < series.size(); ++i) {
            const std::vector<double> block = series[i](kPerRound);
            if (block.empty()) {
                return std::vector<double>(series.size(), 0.0);
            }
            samples[i].insert(samples[i].end(), block.begin(), block.end());
        }
    }
    std::vector<double> out;
    for (std::vector<double>& s : samples) {
        out.push_back(bench::median(std::move(s)));
    }
    return out;
}

void diagnostic(const char* item, double ns, double raw_ns) {
    if (ns > 0 && raw_ns > 0) {
        bench::row(item, bench::fmt("%.1f us", ns / 1000), bench::fmt("raw %.1f us", raw_ns / 1000),
                   bench::fmt("%.2f", ns / raw_ns), "-", bench::Verdict::none);
    }
}

} // namespace

int main() {
    if (vuxo_library_init() != 0) {
        std::fprintf(stderr, "the transport did not start\n");
        return 1;
    }
    const bool placed = bench::place_on(bench::Side::instrument);
    const auto sim = bench::start_v2_sim(1);
    if (!sim) {
        return 1;
    }
    const bench::Bytes request = bench::serial_request();
    const bench::Bytes answer = bench::serial_answer(sim->serial());
    bench::EchoPeer raw_peer({{8007, answer}});
    bench::EchoPeer relay_peer({{8007, answer}});
    bench::EchoPeer lib_peer({{8007, answer}});
    bench::place_on(bench::Side::host);
    std::printf("threads %s\n", placed ? "placed: instrument side on one CPU, host side on "
                                         "another"
                                       : "not placed (one CPU)");
    const int raw_fd = bench::connect_loopback(raw_peer.port());
    const int relay_fd = bench::connect_loopback(relay_peer.port());
    const int sim_id = bench::open_net(sim->port());
    const int echo_id = bench::open_net(lib_peer.port());
    if (raw_fd < 0 || relay_fd < 0 || sim_id < 0 || echo_id < 0) {
        std::fprintf(stderr, "could not connect\n");
        return 1;
    }
    const std::vector<double> m = medians({
        [&](int n) { return library_round_trips(sim_id, n); },
        [&](int n) { return bench::raw_round_trips(raw_fd, request, answer.size(), n); },
        [&](int n) { return library_round_trips(echo_id, n); },
        [&](int n) { return bench::relayed_round_trips(relay_fd, request, answer.size(), n); },
    });
    const double lib_ns = m[0];
    const double raw_ns = m[1];
    std::printf("medians of %d: vuxo_get_serial against the simulator %.1f us, against an echo "
                "peer %.1f us; raw ping-pong %.1f us, raw with a reader thread %.1f us\n",
                kRounds * kPerRound, m[0] / 1000, m[2] / 1000, m[1] / 1000, m[3] / 1000);
    if (lib_ns <= 0 || raw_ns <= 0) {
        bench::row("round trip vuxo_get_serial", "failed", "-", "-", "ratio <= 1.5",
                   bench::Verdict::missed);
    } else {
        bench::row("round trip vuxo_get_serial", bench::fmt("%.1f us", lib_ns / 1000),
                   bench::fmt("raw %.1f us", raw_ns / 1000), bench::fmt("%.2f", lib_ns / raw_ns),
                   "ratio <= 1.5", bench::at_most(lib_ns / raw_ns, 1.5));
        diagnostic("  same, echo peer for the sim", m[2], raw_ns);
        diagnostic("  raw, answer via reader thread", m[3], raw_ns);
    }

    vuxo_disconnect(sim_id);
    vuxo_disconnect(echo_id);
    close(raw_fd);
    close(relay_fd);
    vuxo_library_shut();
    return 0;
}

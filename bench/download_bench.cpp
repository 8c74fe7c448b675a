// Log download: a V2 log of 300 records read from the simulator over loopback
// with vuxov2_read_file, 450 bytes at a time, as vuxoint-test reads it; beside
// the number of round trips times the raw round trip of the same request and
// answer sizes. Then the same with the simulator pacing its writes to 115,200
// baud, beside the wire time of every byte in both directions.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "frames.h"
#include "net_util.h"
#include "report.h"
#include "session.h"
#include "vuxoint.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRecords = 300;
// At 115,200 baud one record takes about 0.4 s of wire time; fewer records
// keep `make bench` short and give the same per-byte ratio.
constexpr int kPacedRecords = 30;
constexpr uint32_t kBaud = 115200;
// A loopback download lasts about 0.1 s, short enough for one burst of other
// work on the machine to spoil it: rounds of download and raw exchanges
// alternate, and the medians count.
constexpr int kRounds = 5;

struct Download {
    bool ok = false;
    double seconds = 0;
    bench::Traffic traffic;
};

// Downloads the records of `slots` on an open connection; with `expected`
// each is compared with the simulator's bytes.
Download download_slots(int conn_id, const std::vector<uint32_t>& slots,
                        const vuxo::sim::Simulator* expected) {
    Download d;
    std::vector<std::vector<unsigned char>> got(slots.size());
    const auto start = Clock::now();
    bool ok = true;
    for (std::size_t i = 0; i < slots.size() && ok; ++i) {
        ok = bench::download_record(conn_id, slots[i], &got[i], &d.traffic);
    }
    d.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (std::size_t i = 0; i < slots.size() && ok && expected != nullptr; ++i) {
        ok = got[i] == expected->record_bytes(slots[i]);
    }
    d.ok = ok;
    return d;
}

const bench::Bytes& chunk_request() {
    static const bench::Bytes r = bench::read_file_request("meas/meas0000.dat", 0, bench::kChunk);
    return r;
}
const bench::Bytes& chunk_answer() {
    static const bench::Bytes a = bench::read_file_answer(bench::Bytes(bench::kChunk, 0x5A));
    return a;
}

struct Rounds {
    bool ok = true;
    int round_trips = 0; // of one download
    std::vector<double> sim_s;
    std::vector<double> echo_s;
    std::vector<double> raw_s; // as many raw exchanges as one download has round trips
};

// Alternates: the log from the simulator, the same number of chunk reads from
// a peer as trivial as the raw one (what the library and the transport add
// without the simulator's own work), and raw exchanges of a chunk request
// (53 bytes) and a 450-byte chunk answer (467 bytes).
Rounds measure(const vuxo::sim::Simulator& sim, int sim_id, int echo_id, int raw_fd) {
    Rounds r;
    const std::vector<uint32_t> slots = bench::record_slots(sim, kRecords);
    const std::vector<uint32_t> echo_slots(slots.size(), 0);
    r.ok = static_cast<int>(slots.size()) == kRecords;
    for (int round = 0; round < kRounds && r.ok; ++round) {
        const Download d = download_slots(sim_id, slots, &sim);
        const Download e = download_slots(echo_id, echo_slots, nullptr);
        const std::vector<double> raw = bench::raw_round_trips(
            raw_fd, chunk_request(), chunk_answer().size(), d.traffic.round_trips);
        r.ok = d.ok && e.ok && !raw.empty();
        r.round_trips = d.traffic.round_trips;
        r.sim_s.push_back(d.seconds);
        r.echo_s.push_back(e.seconds);
        double total_ns = 0;
        for (double ns : raw) {
            total_ns += ns;
        }
        r.raw_s.push_back(total_ns / 1e9);
    }
    return r;
}

void loopback() {
    bench::place_on(bench::Side::instrument);
    const auto sim = bench::start_v2_sim(kRecords);
    bench::EchoPeer echo({{8007, bench::serial_answer("A0000001")}, {8211, chunk_answer()}});
    bench::EchoPeer raw_peer({{8211, chunk_answer()}});
    bench::place_on(bench::Side::host);
    const int sim_id = sim ? bench::open_net(sim->port()) : -1;
    const int echo_id = bench::open_net(echo.port());
    const int raw_fd = bench::connect_loopback(raw_peer.port());
    Rounds r;
    r.ok = sim_id >= 0 && echo_id >= 0 && raw_fd >= 0;
    if (r.ok) {
        r = measure(*sim, sim_id, echo_id, raw_fd);
    }
    vuxo_disconnect(sim_id);
    vuxo_disconnect(echo_id);
    if (raw_fd >= 0) {
        close(raw_fd);
    }
    if (!r.ok) {
        bench::row("download 300 V2 records", "failed", "-", "-", "ratio <= 1.3",
                   bench::Verdict::missed);
        return;
    }
    const double sim_s = bench::median(r.sim_s);
    const double echo_s = bench::median(r.echo_s);
    // A download's time is a sum, tail latencies included, so the limit is
    // the sum of as many raw exchanges, not their median times their count.
    const double limit_s = bench::median(r.raw_s);
    const double raw_ns = limit_s * 1e9 / r.round_trips;
    std::printf("download %d records, median of %d: %.3f s, %d round trips (%.1f us each); "
                "from an echo peer %.3f s (%.1f us each); raw chunk round trip %.1f us on average; "
                "records identical\n",
                kRecords, kRounds, sim_s, r.round_trips, sim_s * 1e6 / r.round_trips, echo_s,
                echo_s * 1e6 / r.round_trips, raw_ns / 1000);
    const std::string limit =
        std::to_string(r.round_trips) + " x raw = " + bench::fmt("%.3f s", limit_s);
    bench::row("download 300 V2 records", bench::fmt("%.3f s", sim_s), limit,
               bench::fmt("%.2f", sim_s / limit_s), "ratio <= 1.3",
               bench::at_most(sim_s / limit_s, 1.3));
    bench::row("  same, echo peer for the sim", bench::fmt("%.3f s", echo_s), limit,
               bench::fmt("%.2f", echo_s / limit_s), "-", bench::Verdict::none);
}

void paced() {
    bench::place_on(bench::Side::instrument);
    const auto sim = bench::start_v2_sim(kPacedRecords, kBaud);
    bench::place_on(bench::Side::host);
    const int id = sim ? bench::open_net(sim->port()) : -1;
    const Download d = id >= 0
                           ? download_slots(id, bench::record_slots(*sim, kPacedRecords), sim.get())
                           : Download{};
    vuxo_disconnect(id);
    const double wire_s = static_cast<double>(d.traffic.wire_bytes) * 10.0 / kBaud;
    // The simulator paces only what it sends; the requests cost it no wire time.
    const double request_bytes =
        static_cast<double>(d.traffic.round_trips * bench::kChunkRequestBytes);
    const double answer_wire_s =
        (static_cast<double>(d.traffic.wire_bytes) - request_bytes) * 10.0 / kBaud;
    std::printf("download %d records at %u baud: %.3f s, %llu bytes on the wire (%.3f s; the "
                "answers alone %.3f s, ratio %.3f); %s\n",
                kPacedRecords, kBaud, d.seconds,
                static_cast<unsigned long long>(d.traffic.wire_bytes), wire_s, answer_wire_s,
                answer_wire_s > 0 ? d.seconds / answer_wire_s : 0,
                d.ok ? "records identical" : "FAILED or records differ");
    const std::string item = "download " + std::to_string(kPacedRecords) + " rec, 115200 Bd";
    if (!d.ok) {
        bench::row(item, "failed", "-", "-", "ratio <= 1.05", bench::Verdict::missed);
        return;
    }
    const double ratio = d.seconds / wire_s;
    bench::row(item, bench::fmt("%.2f s", d.seconds), bench::fmt("wire %.2f s", wire_s),
               bench::fmt("%.3f", ratio), "ratio <= 1.05", bench::at_most(ratio, 1.05));
}

} // namespace

int main() {
    if (vuxo_library_init() != 0) {
        std::fprintf(stderr, "the transport did not start\n");
        return 1;
    }
    loopback();
    paced();
    vuxo_library_shut();
    return 0;
}

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
constexpr int kRawSamples = 3000;

struct Download {
    bool ok = false;
    double seconds = 0;
    bench::Traffic traffic;
};

// Downloads slots 0..records-1 and checks each against the simulator's bytes.
Download download_log(vuxo::sim::Simulator& sim, int records) {
    Download d;
    const int id = bench::open_net(sim.port());
    if (id < 0) {
        return d;
    }
    const std::vector<uint32_t> slots = bench::record_slots(sim, records);
    std::vector<std::vector<unsigned char>> got(slots.size());
    const auto start = Clock::now();
    bool ok = static_cast<int>(slots.size()) == records;
    for (std::size_t i = 0; i < slots.size() && ok; ++i) {
        ok = bench::download_record(id, slots[i], &got[i], &d.traffic);
    }
    d.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    vuxo_disconnect(id);
    for (std::size_t i = 0; i < slots.size() && ok; ++i) {
        ok = got[i] == sim.record_bytes(slots[i]);
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

// The median raw exchange of a 450-byte chunk request and its answer.
double raw_chunk_round_trip() {
    bench::EchoPeer echo({{8211, chunk_answer()}});
    const int fd = bench::connect_loopback(echo.port());
    if (fd < 0) {
        return 0;
    }
    bench::raw_round_trips(fd, chunk_request(), chunk_answer().size(), 200);
    const double ns = bench::median(
        bench::raw_round_trips(fd, chunk_request(), chunk_answer().size(), kRawSamples));
    close(fd);
    return ns;
}

// The same number of chunk reads through the library from a peer as trivial
// as the raw one, which answers every chunk read with 450 bytes: what the
// library and the transport add, without the simulator's own work.
Download download_from_echo(int records) {
    Download d;
    bench::EchoPeer echo({{8007, bench::serial_answer("A0000001")}, {8211, chunk_answer()}});
    const int id = bench::open_net(echo.port());
    if (id < 0) {
        return d;
    }
    std::vector<unsigned char> got;
    const auto start = Clock::now();
    d.ok = true;
    for (int i = 0; i < records && d.ok; ++i) {
        d.ok = bench::download_record(id, 0, &got, &d.traffic);
    }
    d.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    vuxo_disconnect(id);
    return d;
}

void loopback() {
    const auto sim = bench::start_v2_sim(kRecords);
    const Download d = sim ? download_log(*sim, kRecords) : Download{};
    const double raw_ns = raw_chunk_round_trip();
    const double limit_s = d.traffic.round_trips * raw_ns / 1e9;
    std::printf("download %d records: %.3f s, %d round trips (%.1f us each); raw chunk round "
                "trip %.1f us; %s\n",
                kRecords, d.seconds, d.traffic.round_trips,
                d.traffic.round_trips > 0 ? d.seconds * 1e6 / d.traffic.round_trips : 0,
                raw_ns / 1000, d.ok ? "records identical" : "FAILED or records differ");
    if (!d.ok || raw_ns <= 0) {
        bench::row("download 300 V2 records", "failed", "-", "-", "ratio <= 1.6",
                   bench::Verdict::missed);
        return;
    }
    const double ratio = d.seconds / limit_s;
    bench::row("download 300 V2 records", bench::fmt("%.3f s", d.seconds),
               std::to_string(d.traffic.round_trips) + " x raw = " + bench::fmt("%.3f s", limit_s),
               bench::fmt("%.2f", ratio), "ratio <= 1.6", bench::at_most(ratio, 1.6));

    const Download e = download_from_echo(kRecords);
    const double echo_limit_s = e.traffic.round_trips * raw_ns / 1e9;
    std::printf("the same reads from an echo peer: %.3f s, %d round trips (%.1f us each)\n",
                e.seconds, e.traffic.round_trips,
                e.traffic.round_trips > 0 ? e.seconds * 1e6 / e.traffic.round_trips : 0);
    if (e.ok) {
        bench::row("  same, echo peer for the sim", bench::fmt("%.3f s", e.seconds),
                   std::to_string(e.traffic.round_trips) +
                       " x raw = " + bench::fmt("%.3f s", echo_limit_s),
                   bench::fmt("%.2f", e.seconds / echo_limit_s), "-", bench::Verdict::none);
    }
}

void paced() {
    const auto sim = bench::start_v2_sim(kPacedRecords, kBaud);
    const Download d = sim ? download_log(*sim, kPacedRecords) : Download{};
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

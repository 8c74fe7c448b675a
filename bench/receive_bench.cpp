// Receive path throughput: a stream of valid frames fed as COMM_EV_DATA events
// through the event procedure of a connection opened with vuxo_connect (so the
// library's own detection and live-data hook are installed) over the scripted
// in-process transport, against memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "comm.h"
#include "fake_comm.h"
#include "report.h"
#include "vuxoint.h"

namespace {

constexpr std::size_t kEventSize = 4096;
// 64 events (256 KB) are cycled, so every event reads bytes that are not hot in L1.
constexpr std::size_t kStreamSize = 64 * kEventSize;
constexpr uint16_t kAnswerId = 9211; // a file chunk answer: no hook takes it
constexpr std::size_t kLargeFrame = 4096;
constexpr std::size_t kSmallFrame = 16;

std::vector<unsigned char> make_stream(std::size_t frame_size) {
    std::vector<unsigned char> stream;
    stream.reserve(kStreamSize);
    fake::Bytes payload(frame_size - 13);
    unsigned seed = 12345;
    while (stream.size() < kStreamSize) {
        for (unsigned char& b : payload) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<unsigned char>(seed >> 16);
        }
        const fake::Bytes f = fake::frame(kAnswerId, 0, payload);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    return stream;
}

// Opens a connection on the fake transport and identifies it as a V2 instrument
// through the library's probe and test-probe; returns its id or -1.
int open_identified() {
    fake::reset();
    int id = -1;
    if (vuxo_connect("fake", &id, 0, nullptr, nullptr, nullptr, nullptr, nullptr) != 0) {
        return -1;
    }
    fake::link_up(id);
    fake::data(id, fake::frame(9007, 0, {'A', '0', '0', '1', '2', '3', '4', '5'}));
    return vuxo_get_type(id) == 1 ? id : -1;
}

void receive(benchmark::State& state, std::size_t frame_size) {
    const std::vector<unsigned char> stream = make_stream(frame_size);
    const int id = open_identified();
    if (id < 0) {
        state.SkipWithError("the connection was not identified");
        return;
    }
    // Every frame of an event must reach the transport, or nothing was measured.
    fake::state().filled.clear();
    fake::event(id, COMM_EV_DATA, stream.data(), static_cast<int>(kEventSize));
    if (fake::state().filled.size() != kEventSize / frame_size) {
        state.SkipWithError("frames were not received");
        return;
    }
    std::size_t at = 0;
    for (auto _ : state) {
        fake::event(id, COMM_EV_DATA, stream.data() + at, static_cast<int>(kEventSize));
        // The fake keeps a copy of every frame handed to it; drop them as they come.
        fake::state().filled.clear();
        at = (at + kEventSize) % kStreamSize;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kEventSize));
    fake::disconnect(id);
}

void copy(benchmark::State& state, std::size_t frame_size) {
    const std::vector<unsigned char> stream = make_stream(frame_size);
    std::vector<unsigned char> dest(65536);
    std::size_t at = 0;
    for (auto _ : state) {
        std::memcpy(dest.data(), stream.data() + at, kEventSize);
        benchmark::ClobberMemory();
        at = (at + kEventSize) % kStreamSize;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kEventSize));
}

// What the fake transport alone costs per event: the same hand-offs, no library.
void fake_only(benchmark::State& state, std::size_t frame_size) {
    const std::vector<unsigned char> stream = make_stream(frame_size);
    fake::reset();
    int id = -1;
    comm_connect(&id, "fake", nullptr, 4096, 200, nullptr);
    std::size_t at = 0;
    for (auto _ : state) {
        for (std::size_t f = 0; f < kEventSize; f += frame_size) {
            comm_fill_rsp_buff(id, kAnswerId, stream.data() + at + f, static_cast<int>(frame_size));
        }
        fake::state().filled.clear();
        at = (at + kEventSize) % kStreamSize;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kEventSize));
}

BENCHMARK_CAPTURE(receive, large, kLargeFrame);
BENCHMARK_CAPTURE(copy, large, kLargeFrame);
BENCHMARK_CAPTURE(fake_only, large, kLargeFrame);
BENCHMARK_CAPTURE(receive, small, kSmallFrame);
BENCHMARK_CAPTURE(copy, small, kSmallFrame);
BENCHMARK_CAPTURE(fake_only, small, kSmallFrame);

// Keeps the console output and notes bytes per CPU second of each run by name.
class Capture : public benchmark::ConsoleReporter {
  public:
    Capture() : ConsoleReporter(OO_Tabular) {}

    std::map<std::string, double> rate;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            // CPU time: the loop never waits, and on a shared machine the time
            // other processes take from it is not the receive path's.
            if (!r.error_occurred && r.cpu_accumulated_time > 0 && r.iterations > 0) {
                rate[r.benchmark_name()] =
                    static_cast<double>(r.iterations) * kEventSize / r.cpu_accumulated_time;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void report(const Capture& c, const std::string& size, const std::string& item, bool has_target) {
    const auto got = c.rate.find("receive/" + size);
    const auto base = c.rate.find("copy/" + size);
    if (got == c.rate.end() || base == c.rate.end()) {
        bench::row(item, "failed", "-", "-", has_target ? ">= 1 GB/s" : "-",
                   has_target ? bench::Verdict::missed : bench::Verdict::none);
        return;
    }
    const double gbs = got->second / 1e9;
    const double base_gbs = base->second / 1e9;
    bench::row(item, bench::fmt("%.2f GB/s", gbs), bench::fmt("memcpy %.1f GB/s", base_gbs),
               bench::fmt("%.3f", gbs / base_gbs), has_target ? ">= 1 GB/s" : "-",
               has_target ? bench::at_least(gbs, 1.0) : bench::Verdict::none);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Capture capture;
    benchmark::RunSpecifiedBenchmarks(&capture);
    benchmark::Shutdown();
    report(capture, "large", "receive 4 KB frames", true);
    report(capture, "small", "receive 16 B frames", false);
    return 0;
}

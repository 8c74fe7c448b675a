// Many instruments: 32 simulators on 32 connections, each downloading from its
// own thread at the same time; the aggregate records per second beside one
// connection alone, and every record compared byte for byte with what the
// simulator's own API says it holds.
#include <chrono>
#include <cstdio>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include "report.h"
#include "session.h"
#include "vuxoint.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInstruments = 32;
constexpr int kRecordsEach = 60;
constexpr int kRecordsAlone = 300;

struct Instrument {
    std::unique_ptr<vuxo::sim::Simulator> sim;
    int conn_id = -1;
    std::vector<uint32_t> slots;
    std::vector<std::vector<unsigned char>> records;
    bool ok = false;
};

void download_all(Instrument& in) {
    in.records.resize(in.slots.size());
    bench::Traffic traffic;
    in.ok = true;
    for (std::size_t i = 0; i < in.slots.size() && in.ok; ++i) {
        in.ok = bench::download_record(in.conn_id, in.slots[i], &in.records[i], &traffic);
    }
}

// How many downloaded records equal the simulator's own bytes.
int count_identical(const std::vector<Instrument>& all) {
    int same = 0;
    for (const Instrument& in : all) {
        for (std::size_t i = 0; i < in.records.size(); ++i) {
            if (in.records[i] == in.sim->record_bytes(in.slots[i])) {
                ++same;
            }
        }
    }
    return same;
}

bool open_all(std::vector<Instrument>& all, int records) {
    for (Instrument& in : all) {
        in.sim = bench::start_v2_sim(records);
        if (!in.sim) {
            return false;
        }
        in.slots = bench::record_slots(*in.sim, records);
        in.conn_id = bench::open_net(in.sim->port());
        if (in.conn_id < 0) {
            return false;
        }
    }
    return true;
}

void close_all(std::vector<Instrument>& all) {
    for (Instrument& in : all) {
        if (in.conn_id >= 0) {
            vuxo_disconnect(in.conn_id);
        }
    }
}

// Records per second of one connection alone; 0 on failure.
double alone() {
    std::vector<Instrument> one(1);
    if (!open_all(one, kRecordsAlone)) {
        close_all(one);
        return 0;
    }
    const auto start = Clock::now();
    download_all(one[0]);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool same = count_identical(one) == kRecordsAlone;
    close_all(one);
    return one[0].ok && same ? kRecordsAlone / seconds : 0;
}

// Seconds for every instrument to download its records, each on its own thread.
double all_at_once(std::vector<Instrument>& all) {
    std::vector<std::thread> threads;
    // Every thread is running before the clock starts.
    std::latch start_line(kInstruments + 1);
    for (Instrument& in : all) {
        threads.emplace_back([&in, &start_line] {
            start_line.arrive_and_wait();
            download_all(in);
        });
    }
    start_line.arrive_and_wait();
    const auto start = Clock::now();
    for (std::thread& t : threads) {
        t.join();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main() {
    if (vuxo_library_init() != 0) {
        std::fprintf(stderr, "the transport did not start\n");
        return 1;
    }
    const double single = alone();

    std::vector<Instrument> all(kInstruments);
    const bool opened = open_all(all, kRecordsEach);
    const double seconds = opened ? all_at_once(all) : 0;
    close_all(all);

    bool all_ok = opened;
    for (const Instrument& in : all) {
        all_ok = all_ok && in.ok;
    }
    const int total = kInstruments * kRecordsEach;
    const int same = opened ? count_identical(all) : 0;
    const double aggregate = seconds > 0 ? total / seconds : 0;
    std::printf("one connection: %.0f records/s; %d connections: %d records in %.3f s = %.0f "
                "records/s; %d of %d records identical to the simulator's\n",
                single, kInstruments, total, seconds, aggregate, same, total);
    const bool valid = all_ok && same == total && single > 0;
    bench::row("32 instruments at once", valid ? bench::fmt("%.0f rec/s", aggregate) : "failed",
               bench::fmt("alone %.0f rec/s", single),
               valid ? bench::fmt("%.2f", aggregate / single) : "-", "ratio >= 1",
               valid ? bench::at_least(aggregate, single) : bench::Verdict::missed);
    bench::row("  records byte-identical", std::to_string(same), "of " + std::to_string(total), "-",
               "all", same == total ? bench::Verdict::met : bench::Verdict::missed);
    vuxo_library_shut();
    return 0;
}

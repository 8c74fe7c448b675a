// Many instruments: 32 simulators on 32 connections, each downloading from its
// own thread at the same time; the aggregate records per second beside one
// connection alone, and every record compared byte for byte with what the
// simulator's own API says it holds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include "net_util.h"
#include "report.h"
#include "session.h"
#include "vuxoint.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInstruments = 32;
constexpr int kRecordsEach = 60;
constexpr int kRecordsAlone = 300;
constexpr int kRounds = 3;

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

// Seconds for every instrument to download its records, each on its own thread.
double all_at_once(std::vector<Instrument>& all) {
    std::vector<std::thread> threads;
    // Every thread is running before the clock starts.
    std::latch start_line(static_cast<std::ptrdiff_t>(all.size()) + 1);
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

bool all_ok(const std::vector<Instrument>& all) {
    for (const Instrument& in : all) {
        if (!in.ok) {
            return false;
        }
    }
    return true;
}

} // namespace

int main() {
    if (vuxo_library_init() != 0) {
        std::fprintf(stderr, "the transport did not start\n");
        return 1;
    }
    std::vector<Instrument> one(1);
    std::vector<Instrument> all(kInstruments);
    bool ok = open_all(one, kRecordsAlone) && open_all(all, kRecordsEach);

    // Rounds alternate one connection alone and all at once, so that a burst
    // of other work on the machine reaches both; the medians count.
    std::vector<double> alone_rate;
    std::vector<double> many_rate;
    int same = kInstruments * kRecordsEach; // the fewest identical in any round
    for (int round = 0; round < kRounds && ok; ++round) {
        const auto start = Clock::now();
        download_all(one[0]);
        const double alone_s = std::chrono::duration<double>(Clock::now() - start).count();
        const double many_s = all_at_once(all);
        ok = all_ok(one) && all_ok(all) && count_identical(one) == kRecordsAlone;
        same = std::min(same, count_identical(all));
        alone_rate.push_back(kRecordsAlone / alone_s);
        many_rate.push_back(kInstruments * kRecordsEach / many_s);
    }
    close_all(one);
    close_all(all);

    const int total = kInstruments * kRecordsEach;
    const double single = bench::median(alone_rate);
    const double aggregate = bench::median(many_rate);
    std::printf("median of %d rounds: one connection %.0f records/s; %d connections at once "
                "%.0f records/s (%d records a round); %d of %d records identical to the "
                "simulator's in every round\n",
                kRounds, single, kInstruments, aggregate, total, same, total);
    if (!ok) {
        same = 0; // a failed round proves nothing about the records
    }
    const bool valid = ok && same == total;
    bench::row("32 instruments at once", valid ? bench::fmt("%.0f rec/s", aggregate) : "failed",
               bench::fmt("alone %.0f rec/s", single),
               valid ? bench::fmt("%.2f", aggregate / single) : "-", "ratio >= 1",
               valid ? bench::at_least(aggregate, single) : bench::Verdict::missed);
    bench::row("  records byte-identical", std::to_string(same), "of " + std::to_string(total), "-",
               "all", same == total ? bench::Verdict::met : bench::Verdict::missed);
    vuxo_library_shut();
    return 0;
}

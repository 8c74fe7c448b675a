// vuxoint sync, in process, against the simulator over loopback TCP:
//   - a full sync of 300 V2 records into a new database, beside the same
//     session with the record layer alone (connect, identify, read the log,
//     records thrown away): what the database adds;
//   - a re-sync of an unchanged 10,000-entry V2 log whose records the database
//     holds, beside the same session reading the entry count and the 313 entry
//     pages with the record layer alone;
//   - paced to 115,200 baud: a sync of 30 records beside the wire time of the
//     answers it received; and with 16 ms before every answer as well, beside
//     the same records read the console's way (450-byte chunks), in the same run.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connect.h"
#include "le.h"
#include "net_util.h"
#include "report.h"
#include "session.h"
#include "store.h"
#include "store_fill.h"
#include "sync_bench.h"
#include "sync_command.h"
#include "vuxodata.h"
#include "vuxoint.h"

namespace sync_bench {

double seconds_of(const std::function<bool()>& work, bool* ok) {
    const auto start = Clock::now();
    *ok = work() && *ok;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

uint32_t entries_for(int records) {
    vuxo::sim::Config cfg;
    cfg.data.gen = vuxo::sim::Generation::v2;
    cfg.data.set = vuxo::sim::DataSet::big;
    cfg.data.entries = records * 2 + 16;
    const vuxo::sim::Simulator probe(cfg);
    int found = 0;
    for (uint32_t slot = 0; slot < probe.entry_count(); ++slot) {
        const uint32_t key = probe.entry(slot).key;
        if (key != 0 && key != 0xFFFFFFFFu && ++found == records) {
            return slot + 1;
        }
    }
    return probe.entry_count();
}

// The simulator's thread on the instrument's CPU, the caller (and the
// transport threads it starts) on the host's, as the other latency benchmarks
// place them.
std::unique_ptr<vuxo::sim::Simulator> start_sim(uint32_t entries, uint32_t baud,
                                                uint32_t latency_ms, bool keep_frames) {
    bench::place_on(bench::Side::instrument);
    vuxo::sim::Config cfg;
    cfg.data.gen = vuxo::sim::Generation::v2;
    cfg.data.set = vuxo::sim::DataSet::big;
    cfg.data.entries = entries;
    cfg.faults.baud = baud;
    cfg.faults.latency_ms = latency_ms;
    cfg.keep_frames = keep_frames ? 100000 : 0;
    auto sim = std::make_unique<vuxo::sim::Simulator>(cfg);
    std::string error;
    const bool started = sim->start(&error);
    bench::place_on(bench::Side::host);
    if (!started) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return nullptr;
    }
    return sim;
}

std::string conn_of(const vuxo::sim::Simulator& sim) {
    return "tcp://127.0.0.1:" + std::to_string(sim.port());
}

// The whole tool run, as `vuxoint sync CONN --db FILE` does it.
bool tool_sync(const vuxo::sim::Simulator& sim, const std::string& db) {
    vuxocli::SyncOptions opt;
    opt.conn = conn_of(sim);
    opt.db = db;
    return vuxocli::run_sync(opt) == 0;
}

static int discard(const vuxod_record*, void*) {
    return 0;
}

// The same session with the record layer alone: connect, identify, read the
// log (or only its entry list) and throw the records away.
bool library_session(const vuxo::sim::Simulator& sim, bool records, double* pages_s) {
    std::string why;
    const auto target = vuxocli::parse_conn(conn_of(sim), &why);
    vuxocli::Library library;
    vuxocli::Instrument inst;
    std::string error;
    if (!target || !library.started() || !vuxocli::open_instrument(*target, &inst, &error)) {
        std::fprintf(stderr, "library session: %s\n", error.c_str());
        return false;
    }
    vuxod_session s;
    int rc = vuxod_session_open(&s, inst.conn_id);
    if (records && rc == VUXOD_OK) {
        vuxod_log_options o;
        vuxod_log_options_init(&o);
        o.on_record = discard;
        vuxod_log_report report{};
        rc = vuxod_read_log(&s, &o, &report);
    } else if (rc == VUXOD_OK) {
        uint32_t count = 0;
        rc = vuxod_entry_count(&s, &count);
        std::vector<vuxod_entry> entries(count);
        const auto start = Clock::now();
        if (rc == VUXOD_OK) {
            rc = vuxod_read_entries(&s, count, entries.data(), count, nullptr, nullptr, nullptr);
        }
        *pages_s = std::chrono::duration<double>(Clock::now() - start).count();
    }
    vuxocli::close_instrument(inst);
    return rc == VUXOD_OK;
}

} // namespace sync_bench

namespace {

using namespace sync_bench;

void full_sync(const fs::path& dir) {
    const auto sim = start_sim(entries_for(kRecords), 0, 0, false);
    bool ok = sim != nullptr;
    std::vector<double> sync_s;
    std::vector<double> lib_s;
    double pages = 0;
    for (int round = 0; round < kRounds && ok; ++round) {
        const fs::path db = dir / "full.db";
        fs::remove(db);
        sync_s.push_back(seconds_of([&] { return tool_sync(*sim, db); }, &ok));
        lib_s.push_back(seconds_of([&] { return library_session(*sim, true, &pages); }, &ok));
    }
    bench::StoreTimes t;
    fs::remove(dir / "store.db");
    ok = ok && bench::fill_store(*sim, dir / "store.db", &t);
    const double s = bench::median(sync_s);
    const double l = bench::median(lib_s);
    std::printf("full sync of %d records, median of %d: %.3f s; record layer alone %.3f s; the "
                "store alone: open (new file) %.4f s, %d puts %.4f s, close %.4f s\n",
                kRecords, kRounds, s, l, t.open_s, kRecords, t.put_s, t.close_s);
    bench::row("sync 300 V2 records, new db", ok ? bench::fmt("%.3f s", s) : "failed",
               bench::fmt("layer alone %.3f s", l), bench::fmt("%.2f", s / l), "ratio <= 1.1",
               ok ? bench::at_most(s / l, 1.1) : bench::Verdict::missed);
}

void resync(const fs::path& dir) {
    const auto sim = start_sim(kResyncEntries, 0, 0, false);
    const fs::path db = dir / "resync.db";
    bench::StoreTimes t;
    bool ok = sim != nullptr && bench::fill_store(*sim, db, &t);
    std::printf("database of %u entries filled: open %.4f s, puts %.3f s, close %.3f s\n",
                kResyncEntries, t.open_s, t.put_s, t.close_s);
    std::vector<double> sync_s;
    std::vector<double> lib_s;
    std::vector<double> pages_s;
    const uint64_t reads_before = ok ? sim->count(8211) : 0;
    for (int round = 0; round < kRounds && ok; ++round) {
        double pages = 0;
        sync_s.push_back(seconds_of([&] { return tool_sync(*sim, db); }, &ok));
        lib_s.push_back(seconds_of([&] { return library_session(*sim, false, &pages); }, &ok));
        pages_s.push_back(pages);
    }
    ok = ok && sim->count(8211) == reads_before;
    // The store's part of a re-sync: open, what is held, the instrument's row, close.
    double held_s[4] = {};
    if (ok) {
        std::string error;
        auto start = Clock::now();
        auto store = vuxocli::Store::open(db, vuxocli::Store::Mode::write, &error);
        held_s[0] = std::chrono::duration<double>(Clock::now() - start).count();
        std::vector<vuxod_slot_key> held;
        int64_t id = 0;
        start = Clock::now();
        ok = store && store->held(sim->serial(), &held, &error);
        held_s[1] = std::chrono::duration<double>(Clock::now() - start).count();
        start = Clock::now();
        std::string firmware;
        ok = ok && store->find_instrument(sim->serial(), &id, &firmware, &error);
        held_s[2] = std::chrono::duration<double>(Clock::now() - start).count();
        start = Clock::now();
        store.reset();
        held_s[3] = std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double s = bench::median(sync_s);
    const double l = bench::median(lib_s);
    std::printf("re-sync of an unchanged %u-entry log, median of %d: %.3f s, no record read; "
                "layer alone (connect, identify, entry count, %u pages) %.3f s, the pages "
                "alone %.3f s\n",
                kResyncEntries, kRounds, s, (kResyncEntries + 31) / 32, l, bench::median(pages_s));
    std::printf("  the store's part: open %.4f s, held pairs %.4f s, instrument lookup %.4f s, "
                "close %.4f s\n",
                held_s[0], held_s[1], held_s[2], held_s[3]);
    bench::row("re-sync 10,000 entries", ok ? bench::fmt("%.3f s", s) : "failed",
               bench::fmt("layer alone %.3f s", l), bench::fmt("%.2f", s / l), "ratio <= 1.2",
               ok ? bench::at_most(s / l, 1.2) : bench::Verdict::missed);
}

// Bytes the simulator sent in answer to the frames it received: header and
// check (13) around each payload.
uint64_t answer_bytes(const vuxo::sim::Simulator& sim) {
    uint64_t total = 0;
    for (const auto& f : sim.received_frames()) {
        const uint16_t cmd = vuxo::load_le<uint16_t>(f.data() + 4);
        uint64_t payload = 0;
        switch (cmd) {
        case 8201:
            payload = sim.param_block().size();
            break;
        case 8204:
            payload = 160;
            break;
        case 8007:
            payload = sim.serial().size();
            break;
        case 8211: {
            const int32_t offset = vuxo::load_le<int32_t>(f.data() + 12 + 32);
            const int32_t length = vuxo::load_le<int32_t>(f.data() + 12 + 36);
            payload = 4 + static_cast<uint64_t>(std::min(length, 4063 - offset));
            break;
        }
        default:
            payload = 8; // the firmware version and the other short answers
        }
        total += 13 + payload;
    }
    return total;
}

void paced(const fs::path& dir) {
    const uint32_t entries = entries_for(kPacedRecords);
    {
        const auto sim = start_sim(entries, kBaud, 0, true);
        bool ok = sim != nullptr;
        fs::remove(dir / "paced.db");
        const double s = seconds_of([&] { return tool_sync(*sim, dir / "paced.db"); }, &ok);
        const double wire = ok ? static_cast<double>(answer_bytes(*sim)) * 10.0 / kBaud : 0;
        std::printf("paced sync of %d records at %u baud: %.3f s; answers' wire time %.3f s\n",
                    kPacedRecords, kBaud, s, wire);
        bench::row("sync 30 rec, 115200 Bd", ok ? bench::fmt("%.2f s", s) : "failed",
                   bench::fmt("answers %.2f s", wire), bench::fmt("%.3f", s / wire),
                   "ratio <= 1.05", ok ? bench::at_most(s / wire, 1.05) : bench::Verdict::missed);
    }
    const auto sim = start_sim(entries, kBaud, 16, false);
    bool ok = sim != nullptr;
    fs::remove(dir / "latency.db");
    const double s = seconds_of([&] { return tool_sync(*sim, dir / "latency.db"); }, &ok);
    const std::vector<uint32_t> slots = bench::record_slots(*sim, kPacedRecords);
    // The sync started and stopped the library itself; the console's way needs it too.
    ok = vuxo_library_init() == 0 && ok;
    const int id = ok ? bench::open_net(sim->port()) : -1;
    bench::Traffic traffic;
    const double console = seconds_of(
        [&] {
            std::vector<unsigned char> record;
            for (uint32_t slot : slots) {
                if (!bench::download_record(id, slot, &record, &traffic)) {
                    return false;
                }
            }
            return id >= 0;
        },
        &ok);
    vuxo_disconnect(id);
    vuxo_library_shut();
    std::printf("with 16 ms latency: sync %.3f s (connect and entry list included); the same %zu "
                "records in 450-byte reads %.3f s (%d requests)\n",
                s, slots.size(), console, traffic.round_trips);
    bench::row("  same, 16 ms latency", ok ? bench::fmt("%.2f s", s) : "failed",
               bench::fmt("450-byte reads %.2f s", console), bench::fmt("%.3f", s / console),
               "ratio <= 0.65", ok ? bench::at_most(s / console, 0.65) : bench::Verdict::missed);
}

} // namespace

int main() {
    namespace fs = std::filesystem;
    char name[] = "/tmp/vuxoint-bench-XXXXXX";
    if (mkdtemp(name) == nullptr) {
        return 1;
    }
    const fs::path dir = name;
    // VUXO_BENCH_ONLY=postgres: the PostgreSQL rows alone.
    const char* only = std::getenv("VUXO_BENCH_ONLY");
    if (only == nullptr || std::string(only) != "postgres") {
        full_sync(dir);
        resync(dir);
        paced(dir);
    }
    postgres(dir);
    fs::remove_all(dir);
    return 0;
}

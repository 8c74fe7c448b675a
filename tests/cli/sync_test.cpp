// vuxoint sync and export end to end: the program as a child process against the
// in-process simulator over TCP, the database read back with SQLite and compared
// with the simulator's own records byte for byte.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "child.h"
#include "simulator.h"

namespace {

namespace fs = std::filesystem;
using vuxo::sim::Generation;
using Key = std::pair<int64_t, int64_t>; // (slot, key)
using Bytes = std::vector<unsigned char>;

constexpr uint16_t kV1FetchRecord = 8205;
constexpr uint16_t kV2ReadFile = 8211;
constexpr uint16_t kV2Params = 8201;
constexpr uint16_t kParamBlock = 8201; // the entry count, in both generations
constexpr uint16_t kClearLog = 8206;

vuxo::sim::Config sim_config(Generation gen, vuxo::sim::DataSet set, int64_t entries = -1) {
    vuxo::sim::Config cfg;
    cfg.data.gen = gen;
    cfg.data.set = set;
    cfg.data.entries = entries;
    return cfg;
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every (slot, key) row of the measurements table with its raw record; a pair
// that appears twice keeps both rows in `count`.
struct Held {
    std::map<Key, Bytes> raw;
    int rows = 0;
};

Held read_db(const fs::path& db) {
    Held h;
    sqlite3* handle = nullptr;
    if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(handle, "SELECT slot, key, raw FROM measurements", -1, &st, nullptr);
        while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
            const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(st, 2));
            h.raw[{sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1)}] =
                Bytes(blob, blob + sqlite3_column_bytes(st, 2));
            ++h.rows;
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(handle);
    return h;
}

void write_sql(const fs::path& db, const char* sql) {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(handle, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(handle);
}

class SyncTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vuxoint-cli-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        // Readable by everyone: the read-only case runs the tool as another user.
        chmod(dir.c_str(), 0755);
        db = dir / "vuxoint.db";
    }
    void TearDown() override {
        if (sim) {
            sim->stop();
        }
        fs::remove_all(dir);
    }

    void start(const vuxo::sim::Config& cfg) {
        sim = std::make_unique<vuxo::sim::Simulator>(cfg);
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
    }
    std::string conn() const { return "tcp://127.0.0.1:" + std::to_string(sim->port()); }

    child::Result sync(std::vector<std::string> extra = {}, const child::Options& opt = {}) {
        std::vector<std::string> argv = {VUXOCLI_BIN, "sync", conn(), "--db", db.string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return child::run(argv, opt);
    }

    // What a complete sync must hold: every entry with a key worth fetching.
    std::map<Key, Bytes> expected() const {
        std::map<Key, Bytes> out;
        for (uint32_t slot = 0; slot < sim->entry_count(); ++slot) {
            const uint32_t key = sim->entry(slot).key;
            if (key != 0 && key != 0xFFFFFFFFu) {
                out[{slot, key}] = sim->record_bytes(slot);
            }
        }
        return out;
    }

    // Every stored record exactly once and identical to the simulator's.
    void expect_subset_identical(const Held& h) {
        const std::map<Key, Bytes> all = expected();
        EXPECT_EQ(h.rows, static_cast<int>(h.raw.size())) << "a record was stored twice";
        for (const auto& [k, raw] : h.raw) {
            ASSERT_TRUE(all.count(k)) << "slot " << k.first << " key " << k.second;
            EXPECT_EQ(raw, all.at(k)) << "slot " << k.first;
        }
    }
    void expect_complete() {
        const Held h = read_db(db);
        expect_subset_identical(h);
        EXPECT_EQ(h.raw.size(), expected().size());
    }

    uint16_t fetch_command() const {
        return sim->generation() == Generation::v1 ? kV1FetchRecord : kV2ReadFile;
    }

    fs::path dir;
    fs::path db;
    std::unique_ptr<vuxo::sim::Simulator> sim;
};

class FullSync : public SyncTest, public ::testing::WithParamInterface<Generation> {};

// A full sync stores the whole log; the next one reads the entry list and
// fetches nothing; measurements stored since are all the one after fetches.
TEST_P(FullSync, ThenOnlyWhatIsNew) {
    start(sim_config(GetParam(), vuxo::sim::DataSet::big, 40));
    const std::size_t n = expected().size();
    child::Result r = sync();
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find(": " + std::to_string(n) + " new, 0 already held, 0 failed"),
              std::string::npos)
        << r.out;
    expect_complete();
    const uint64_t fetches = sim->count(fetch_command());

    r = sync({"--json"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("\"new\":0,\"already_held\":" + std::to_string(n) + ",\"failed\":0"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(sim->count(fetch_command()), fetches);

    ASSERT_GE(sim->store_measurement(), 0);
    ASSERT_GE(sim->store_measurement(), 0);
    r = sync();
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find(": 2 new, " + std::to_string(n) + " already held"), std::string::npos)
        << r.out;
    EXPECT_EQ(sim->count(fetch_command()) - fetches, 2 * fetches / n);
    expect_complete();
    EXPECT_TRUE(r.err.empty()) << "no progress line when stderr is not a terminal: " << r.err;
}

// The instrument hangs up in the middle of the log: the sync connects again and goes
// on where it stopped; without reconnecting, the summary still accounts for every
// entry and says the next sync fetches the rest.
TEST_P(FullSync, LostLinkReconnectsAndFinishes) {
    start(sim_config(GetParam(), vuxo::sim::DataSet::big, 40));
    const std::size_t n = expected().size();
    vuxo::sim::Faults hangup;
    hangup.hangup_after = GetParam() == Generation::v1 ? 20 : 50;
    sim->set_faults(hangup);

    child::Result r = sync({"--reconnect", "0"});
    EXPECT_EQ(r.exit_status, 1) << r.err;
    const Held partial = read_db(db);
    expect_subset_identical(partial);
    const std::size_t left = n - partial.raw.size();
    EXPECT_NE(r.out.find(": " + std::to_string(partial.raw.size()) +
                         " new, 0 already held, 1 failed, " + std::to_string(left - 1) +
                         " not fetched"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("the next sync fetches them"), std::string::npos) << r.err;

    fs::remove(db);
    r = sync();
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(
        r.out.find(": " + std::to_string(n) + " new, 0 already held, 0 failed, 0 not fetched"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("connecting again"), std::string::npos) << r.err;
    expect_complete();
}

// --clear-after clears only what the database holds in full: after a complete
// sync, never after a failed record, a measurement taken after the sync read
// its list, or without --yes where there is no terminal to ask on. A log left
// alone is said with the reason and is exactly as it was.
TEST_P(FullSync, ClearAfterOnlyWhenAllIsHeld) {
    struct Case {
        const char* name;
        vuxo::sim::Faults faults;
        std::vector<std::string> args;
        int status;
        const char* out;
        const char* err;
        const char* typed = nullptr; // on a terminal, answered with this
    };
    vuxo::sim::Faults failing;
    failing.fail_from[GetParam() == Generation::v1 ? kV1FetchRecord : kV2ReadFile] = 3;
    vuxo::sim::Faults measuring;
    // The sync reads the parameter block once; the second read is the clear's own.
    measuring.store_at[kParamBlock] = 2;
    const std::vector<Case> cases = {
        {"complete", {}, {"--yes"}, 0, "cleared; the instrument now lists 0 entries\n", ""},
        {"complete, JSON",
         {},
         {"--yes", "--json"},
         0,
         "\"cleared\":true,\"clear_reason\":\"\",\"entries_after_clear\":0}",
         ""},
        {"a failed record",
         failing,
         {"--yes", "--retries", "0", "--json"},
         1,
         "\"cleared\":false,\"clear_reason\":\"the sync did not store every measurement\"",
         "the log was not cleared: the sync did not store every measurement"},
        {"measured meanwhile",
         measuring,
         {"--yes"},
         1,
         " 0 not fetched\n",
         "the log was not cleared: 1 measurement on the instrument not in the database"},
        {"no terminal, no --yes", {}, {}, 1, " 0 not fetched\n", "--yes clears without asking"},
        {"asked, yes", {}, {}, 0, "now lists 0 entries\n", "Clear 5 measurements from ", "y\n"},
        {"asked, no",
         {},
         {},
         1,
         " 0 not fetched\n",
         "the log was not cleared: not confirmed",
         "n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(db);
        start(sim_config(GetParam(), vuxo::sim::DataSet::basic));
        sim->set_faults(c.faults);
        const std::map<Key, Bytes> before = expected();
        std::vector<std::string> args = {"--clear-after"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        child::Options opt;
        opt.terminal = c.typed != nullptr;
        if (c.typed != nullptr) {
            opt.input = c.typed;
        }
        const child::Result r = sync(args, opt);
        EXPECT_EQ(r.exit_status, c.status) << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        const Held h = read_db(db);
        if (c.status == 0) {
            EXPECT_EQ(sim->entry_count(), 0u);
            EXPECT_EQ(h.raw, before);
            EXPECT_EQ(h.rows, static_cast<int>(before.size()));
        } else {
            expect_subset_identical(h);
            EXPECT_EQ(sim->count(kClearLog), 0u);
            EXPECT_GE(expected().size(), before.size());
        }
    }
}

// The instrument's side dies in the middle of the log and comes back on the same port:
// the sync connects again and every record ends up stored once.
TEST_F(SyncTest, SimulatorKilledAndRestartedMidLog) {
    vuxo::sim::Config cfg = sim_config(Generation::v2, vuxo::sim::DataSet::big, 60);
    cfg.faults.latency_ms = 10;
    start(cfg);
    const std::string where = conn();
    // The thread is given everything it needs: `sim` is replaced while it runs.
    const std::vector<std::string> argv = {VUXOCLI_BIN, "sync", where, "--db", db.string()};
    child::Result r;
    std::thread run([&r, argv] { r = child::run(argv); });
    ASSERT_TRUE(sim->wait_for_count(kV2ReadFile, 30, std::chrono::seconds(30)));
    cfg.port = sim->port();
    sim->stop();
    start(cfg);
    run.join();
    ASSERT_EQ(conn(), where);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find("connecting again"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(" 0 failed, 0 not fetched"), std::string::npos) << r.out;
    expect_complete();
}

INSTANTIATE_TEST_SUITE_P(Generations, FullSync, ::testing::Values(Generation::v1, Generation::v2),
                         [](const auto& info) {
                             return info.param == Generation::v1 ? "V1" : "V2";
                         });

// kill -9 or Ctrl-C in the middle: what was stored stays, and the next sync
// completes the log with every record exactly once.
TEST_F(SyncTest, InterruptedThenCompleted) {
    vuxo::sim::Config cfg = sim_config(Generation::v2, vuxo::sim::DataSet::big, 60);
    start(cfg);
    const std::pair<int, int> signals[] = {{SIGKILL, -SIGKILL}, {SIGINT, 130}};
    for (const auto& [signo, status] : signals) {
        SCOPED_TRACE(signo);
        fs::remove(db);
        fs::remove(dir / "vuxoint.db-wal");
        fs::remove(dir / "vuxoint.db-shm");
        vuxo::sim::Faults slow;
        slow.latency_ms = 10;
        sim->set_faults(slow);
        const uint64_t reads = sim->count(kV2ReadFile);
        const pid_t pid = child::start({VUXOCLI_BIN, "sync", conn(), "--db", db.string()});
        ASSERT_TRUE(sim->wait_for_count(kV2ReadFile, reads + 30, std::chrono::seconds(30)));
        EXPECT_EQ(child::finish(pid, signo), status);
        const Held partial = read_db(db);
        expect_subset_identical(partial);
        EXPECT_GT(partial.raw.size(), 0u);
        EXPECT_LT(partial.raw.size(), expected().size());

        sim->set_faults({});
        const child::Result r = sync();
        ASSERT_EQ(r.exit_status, 0) << r.err;
        EXPECT_NE(r.out.find(std::to_string(partial.raw.size()) + " already held"),
                  std::string::npos)
            << r.out;
        expect_complete();
    }
}

// Random faults once the entry list is in: failed records are reported with the
// connection, the step and the result in words; the rest is stored, and a later
// sync fetches the missing ones.
TEST_F(SyncTest, ChaosReportsFailuresAndKeepsTheRest) {
    start(sim_config(Generation::v2, vuxo::sim::DataSet::big, 12));
    vuxo::sim::Faults chaos;
    chaos.chaos = true;
    chaos.chaos_seed = 3;
    chaos.chaos_rate = 0.2;
    child::Result r;
    std::thread run([&] { r = sync({"--retries", "0"}); });
    const bool listed = sim->wait_for_count(kV2ReadFile, 1, std::chrono::seconds(20));
    sim->set_faults(chaos);
    run.join();
    ASSERT_TRUE(listed);
    ASSERT_EQ(r.exit_status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find(conn() + " (NET:127.0.0.1:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": fetching the record of slot "), std::string::npos) << r.err;
    // The result in words, then its code.
    EXPECT_TRUE(r.err.find("no answer from the instrument in time (255)\n") != std::string::npos ||
                r.err.find("the instrument reported a failure (1)\n") != std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find(" 0 failed"), std::string::npos) << r.out;
    const Held partial = read_db(db);
    expect_subset_identical(partial);
    EXPECT_GT(partial.raw.size(), 0u);

    sim->set_faults({});
    r = sync();
    ASSERT_EQ(r.exit_status, 0) << r.err;
    expect_complete();
}

// A database the tool must not write: a clear message naming the file, exit
// status 4, the file byte for byte as it was, and the instrument never asked.
TEST_F(SyncTest, UnusableDatabaseIsLeftAlone) {
    start(sim_config(Generation::v2, vuxo::sim::DataSet::basic));
    ASSERT_EQ(sync().exit_status, 0);
    const uint64_t connections = sim->connections();
    const std::string synced = read_file(db);
    fs::remove(dir / "vuxoint.db-wal");
    fs::remove(dir / "vuxoint.db-shm");

    struct Case {
        const char* name;
        std::function<void()> prepare;
        bool as_nobody;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"garbage", [&] { std::ofstream(db) << std::string(8192, 'x'); }, false, "not a database"},
        {"another program's",
         [&] { write_sql(db, "CREATE TABLE t (a); INSERT INTO t VALUES (1)"); }, false,
         "not a vuxoint database"},
        {"newer",
         [&] { write_sql(db, "PRAGMA application_id = 1448628041; PRAGMA user_version = 99"); },
         false, "newer vuxoint"},
        {"read-only",
         [&] {
             std::ofstream(db, std::ios::binary) << synced;
             chmod(db.c_str(), 0444);
         },
         true, "read-only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(db);
        c.prepare();
        const std::string before = read_file(db);
        child::Options opt;
        opt.as_nobody = c.as_nobody;
        const child::Result r = sync({}, opt);
        EXPECT_EQ(r.exit_status, 4) << r.err;
        EXPECT_NE(r.err.find("database " + db.string()), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(read_file(db), before);
        EXPECT_FALSE(fs::exists(dir / "vuxoint.db-wal"));
        EXPECT_EQ(sim->connections(), connections);
    }
}

// The documented exit statuses a script relies on, and the message beside each.
TEST_F(SyncTest, ExitStatuses) {
    // A port nothing listens on: bound, then closed again.
    vuxo::sim::Config cfg;
    start(cfg);
    const std::string closed = conn();
    sim->stop();
    sim.reset();
    const std::string bin = VUXOCLI_BIN;
    const std::string dbs = db.string();
    struct Case {
        std::vector<std::string> argv;
        int status;
        const char* err;
    };
    const std::vector<Case> cases = {
        {{bin, "--version"}, 0, ""},
        {{bin}, 2, "subcommand"},
        {{bin, "sync"}, 2, "CONN"},
        {{bin, "sync", "tcp://127.0.0.1", "--db", dbs}, 2, "HOST:PORT"},
        {{bin, "sync", closed, "--db", dbs, "--bogus"}, 2, "--bogus"},
        {{bin, "export", "--db", dbs, "--since", "June"}, 2, "--since"},
        {{bin, "sync", closed, "--db", dbs}, 3, ": connect: Connection refused"},
        {{bin, "export", "--db", (dir / "none.db").string()}, 4, "no such file"},
    };
    for (const Case& c : cases) {
        const child::Result r = child::run(c.argv);
        EXPECT_EQ(r.exit_status, c.status) << c.argv.back() << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

// Export: CSV (both forms), JSON and NDJSON of two instruments' edge data,
// checked by Python's csv and json modules against the database.
TEST_F(SyncTest, ExportReadsBackAsTheDatabase) {
    std::string v2_serial;
    for (Generation gen : {Generation::v1, Generation::v2}) {
        start(sim_config(gen, vuxo::sim::DataSet::edge));
        const child::Result r = sync();
        ASSERT_EQ(r.exit_status, 0) << r.err;
        v2_serial = sim->serial();
        sim->stop();
    }
    const std::vector<std::pair<std::string, std::vector<std::string>>> outputs = {
        {"m.csv", {"--format", "csv"}},
        {"s.csv", {"--scans"}},
        {"m.json", {"--format", "json"}},
        {"m.ndjson", {"--format", "ndjson"}},
        {"since.csv", {"--since", "2026-06-01", "--instrument", v2_serial}},
    };
    for (const auto& [file, args] : outputs) {
        std::vector<std::string> argv = {VUXOCLI_BIN, "export", "--db",
                                         db.string(), "-o",     (dir / file).string()};
        argv.insert(argv.end(), args.begin(), args.end());
        const child::Result r = child::run(argv);
        ASSERT_EQ(r.exit_status, 0) << file << ": " << r.err;
    }
    const child::Result check =
        child::run({"/usr/bin/env", "python3", VUXOCLI_CHECK_SCRIPT, db.string(), dir.string()});
    EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
}

// A V1 measurement's note comes with its record, once, and shows in the export.
TEST_F(SyncTest, V1NotesStoredOnceAndExported) {
    start(sim_config(Generation::v1, vuxo::sim::DataSet::basic));
    std::map<int64_t, std::string> want;
    for (const auto& [k, raw] : expected()) {
        if ((sim->entry(static_cast<uint32_t>(k.first)).flags & 1) != 0) {
            want[k.first] = "Note of measurement " + std::to_string(k.first + 1);
        }
    }
    ASSERT_FALSE(want.empty());
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(sync().exit_status, 0);
        std::map<int64_t, std::string> notes;
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(handle,
                           "SELECT m.slot, n.text FROM notes n "
                           "JOIN measurements m ON m.id = n.measurement_id",
                           -1, &st, nullptr);
        while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
            notes[sqlite3_column_int64(st, 0)] =
                reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
        }
        sqlite3_finalize(st);
        sqlite3_close(handle);
        EXPECT_EQ(notes, want);
    }
    const child::Result r =
        child::run({VUXOCLI_BIN, "export", "--db", db.string(), "--format", "ndjson"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("\"note_text\":\"" + want.begin()->second + "\""), std::string::npos)
        << r.out;
}

} // namespace

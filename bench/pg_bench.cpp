// The sync into a PostgreSQL server: a throwaway cluster (the tests' own
// script), reached through a proxy that adds 10 ms each way, and sixteen
// instruments syncing into it at once.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "child.h"
#include "delay_proxy.h"
#include "net_util.h"
#include "report.h"
#include "sync_bench.h"

namespace sync_bench {

namespace {

constexpr std::chrono::milliseconds kDelay{10};
constexpr int kPgRounds = 3;
constexpr int kFleet = 16;

class Cluster {
  public:
    explicit Cluster(fs::path dir) : dir_(std::move(dir)) {
        ok_ = std::system(command("start").c_str()) == 0;
        std::ifstream uri(dir_ / "uri");
        ok_ = ok_ && std::getline(uri, uri_).good();
    }
    ~Cluster() { std::system(command("stop").c_str()); }
    bool ok() const { return ok_; }
    std::string socket() const { return (dir_ / "socket" / ".s.PGSQL.5432").string(); }

    // A new, empty database; its URI on the socket, or through the proxy's port.
    std::string database(const std::string& name, uint16_t port = 0) const {
        const std::string create = "psql -XqAt '" + uri_ + "' -c 'CREATE DATABASE " + name + "'";
        if (std::system(create.c_str()) != 0) {
            return "";
        }
        if (port == 0) {
            return uri_.substr(0, uri_.rfind('/') + 1) + name;
        }
        return "postgresql://postgres@127.0.0.1:" + std::to_string(port) + "/" + name;
    }

  private:
    std::string command(const char* action) const {
        return std::string(VUXO_PG_CLUSTER_SCRIPT) + " " + action + " " + dir_.string() +
               " >/dev/null 2>&1";
    }
    fs::path dir_;
    std::string uri_;
    bool ok_ = false;
};

void at_a_distance(const Cluster& c) {
    const bench::DelayProxy proxy(c.socket(), kDelay);
    const auto sim = start_sim(entries_for(kRecords), 0, 0, false);
    bool ok = sim != nullptr;
    std::vector<double> sync_s;
    std::vector<double> lib_s;
    double pages = 0;
    for (int round = 0; round < kPgRounds && ok; ++round) {
        const std::string db = c.database("far" + std::to_string(round), proxy.port());
        ok = ok && !db.empty();
        sync_s.push_back(seconds_of([&] { return tool_sync(*sim, db); }, &ok));
        lib_s.push_back(seconds_of([&] { return library_session(*sim, true, &pages); }, &ok));
    }
    const double s = bench::median(sync_s);
    const double l = bench::median(lib_s);
    std::printf("sync of %d records into PostgreSQL %lld ms away each way, median of %d: %.3f s; "
                "record layer alone %.3f s\n",
                kRecords, static_cast<long long>(kDelay.count()), kPgRounds, s, l);
    bench::row("sync 300 V2 into PostgreSQL, 10 ms away", ok ? bench::fmt("%.3f s", s) : "failed",
               bench::fmt("layer alone %.3f s", l), bench::fmt("%.2f", s / l), "ratio <= 1.15",
               ok ? bench::at_most(s / l, 1.15) : bench::Verdict::missed);

    // On a real link (115,200 baud) the download, not the store, is the slow side.
    const auto paced = start_sim(entries_for(kPacedRecords), kBaud, 0, false);
    ok = paced != nullptr;
    const std::string db = c.database("paced", proxy.port());
    const double ps = seconds_of([&] { return tool_sync(*paced, db); }, &ok);
    const double pl = seconds_of([&] { return library_session(*paced, true, &pages); }, &ok);
    bench::row("  same, 30 rec at 115200 Bd", ok ? bench::fmt("%.2f s", ps) : "failed",
               bench::fmt("layer alone %.2f s", pl), bench::fmt("%.3f", ps / pl), "ratio <= 1.15",
               ok ? bench::at_most(ps / pl, 1.15) : bench::Verdict::missed);
}

// Each sync a process of its own, as sixteen laptops' would be.
bool tool_processes(const std::vector<std::unique_ptr<vuxo::sim::Simulator>>& sims,
                    const std::string& db) {
    std::vector<int> status(sims.size(), -1);
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        runs.emplace_back([&, i] {
            status[i] =
                child::run({VUXOCLI_BIN, "sync", conn_of(*sims[i]), "--db", db}, child::quiet())
                    .exit_status;
        });
    }
    for (std::thread& t : runs) {
        t.join();
    }
    return std::all_of(status.begin(), status.end(), [](int s) { return s == 0; });
}

void fleet(const Cluster& c) {
    std::vector<std::unique_ptr<vuxo::sim::Simulator>> sims;
    for (int i = 0; i < kFleet; ++i) {
        sims.push_back(start_sim(entries_for(kRecords), 0, 0, false));
    }
    bool ok = std::all_of(sims.begin(), sims.end(), [](const auto& s) { return s != nullptr; });
    const std::string alone_db = c.database("alone");
    const double alone = seconds_of(
        [&] {
            return ok && child::run({VUXOCLI_BIN, "sync", conn_of(*sims[0]), "--db", alone_db},
                                    child::quiet())
                                 .exit_status == 0;
        },
        &ok);
    const std::string fleet_db = c.database("fleet");
    const double all = seconds_of([&] { return tool_processes(sims, fleet_db); }, &ok);
    const double rate_one = kRecords / alone;
    const double rate_all = kFleet * kRecords / all;
    std::printf("%d instruments at once into one server: %.2f s, %.0f records/s; one alone "
                "%.2f s, %.0f records/s\n",
                kFleet, all, rate_all, alone, rate_one);
    bench::row("16 instruments into one server", ok ? bench::fmt("%.0f rec/s", rate_all) : "failed",
               bench::fmt("one alone %.0f rec/s", rate_one),
               bench::fmt("%.1f", rate_all / rate_one), "ratio >= 8",
               ok ? bench::at_least(rate_all / rate_one, 8) : bench::Verdict::missed);
}

} // namespace

void postgres(const fs::path& dir) {
    // The cluster runs as nobody when the benchmark runs as root.
    std::error_code ec;
    fs::permissions(dir,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
    const Cluster c(dir / "pg");
    if (!c.ok()) {
        bench::row("sync into PostgreSQL", "no server (Debian: postgresql)", "-", "-", "-",
                   bench::Verdict::missed);
        return;
    }
    at_a_distance(c);
    fleet(c);
}

} // namespace sync_bench

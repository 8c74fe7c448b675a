// vuxoint list, info, clock and watch end to end: the program as a child process
// against the in-process simulator over TCP (list against a fake sysfs tree).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "child.h"
#include "simulator.h"

namespace {

namespace fs = std::filesystem;
using vuxo::sim::Generation;
using namespace std::chrono_literals;

constexpr uint16_t kSetClock = 8003;
constexpr uint16_t kFirmware = 8001; // the last thing the tool reads before its command

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class InstrumentCommands : public ::testing::TestWithParam<Generation> {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vuxoint-cmd-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        vuxo::sim::Config cfg;
        cfg.data.gen = GetParam();
        cfg.clock = vuxo::sim::ClockRecord{6, 12, 2025, 9, 5, 7};
        sim = std::make_unique<vuxo::sim::Simulator>(cfg);
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
    }
    void TearDown() override {
        sim->stop();
        fs::remove_all(dir);
    }
    std::string conn() const { return "tcp://127.0.0.1:" + std::to_string(sim->port()); }
    child::Result run(std::vector<std::string> args) const {
        args.insert(args.begin(), VUXOCLI_BIN);
        return child::run(args);
    }

    fs::path dir;
    std::unique_ptr<vuxo::sim::Simulator> sim;
};

int64_t rows(const fs::path& db, const char* sql) {
    sqlite3* h = nullptr;
    int64_t n = -1;
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(h, sql, -1, &st, nullptr);
        if (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
            n = sqlite3_column_int64(st, 0);
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(h);
    return n;
}

// info reads every field from the instrument and warns about a clock a year off.
TEST_P(InstrumentCommands, InfoShowsTheInstrumentAndWarnsOfItsClock) {
    const child::Result r = run({"info", conn(), "--json"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const bool v1 = GetParam() == Generation::v1;
    for (const std::string& part :
         {"\"generation\":\"" + std::string(v1 ? "V1" : "V2") + "\"",
          "\"serial\":\"" + sim->serial() + "\"",
          "\"model_revision\":" + std::string(v1 ? "3" : "7"),
          "\"entries\":" + std::to_string(sim->entry_count()),
          "\"memory_text\":\"Used " + std::to_string(sim->entry_count()) + " of ",
          std::string("\"clock\":\"2025-12-06T09:05:07\"")}) {
        EXPECT_TRUE(has(r.out, part)) << part << " in " << r.out;
    }
    EXPECT_TRUE(has(r.err, "warning")) << r.err;
}

// Set, read back, and bad times refused before anything is sent.
TEST_P(InstrumentCommands, ClockSetsReadsBackAndRefusesBadTimes) {
    child::Result r = run({"clock", conn(), "--set", "2028-02-29T23:59:58"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(sim->clock(), (vuxo::sim::ClockRecord{29, 2, 2028, 23, 59, 58}));
    EXPECT_TRUE(has(r.out, "set 2028-02-29T23:59:58; reads back 2028-02-29T23:59:58")) << r.out;

    r = run({"clock", conn(), "--set-now", "--json"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    EXPECT_EQ(sim->clock()[2], tm.tm_year + 1900);
    EXPECT_TRUE(has(r.out, "\"clock_offset_s\":")) << r.out;
    EXPECT_FALSE(has(r.err, "warning")) << r.err;

    const uint64_t sets = sim->count(kSetClock);
    const uint64_t hosts = sim->connections();
    for (const char* bad : {"2027-02-29T10:00", "2026-04-31T00:00", "2026-01-01T24:00",
                            "2026-01-01T10:60", "2026-01-01", "2026-1-1T10:00", "now"}) {
        r = run({"clock", conn(), "--set", bad});
        EXPECT_EQ(r.exit_status, 2) << bad;
        EXPECT_TRUE(has(r.err, bad)) << r.err;
    }
    EXPECT_EQ(run({"clock", conn(), "--set", "2026-01-01T10:00", "--set-now"}).exit_status, 2);
    EXPECT_EQ(sim->count(kSetClock), sets);
    EXPECT_EQ(sim->connections(), hosts) << "a usage error connects to nothing";
}

// What watch stores, a later sync finds held: every record exactly once.
TEST_P(InstrumentCommands, WatchPrintsAndStoresWhatSyncThenHolds) {
    const fs::path db = dir / "watch.db";
    auto watch = std::async(std::launch::async, [&] {
        return run(
            {"watch", conn(), "--db", db.string(), "--count", "2", "--json", "--timeout", "30"});
    });
    ASSERT_TRUE(sim->wait_for_count(kFirmware, 1, 10s));
    const int64_t first = sim->store_measurement();
    const int64_t second = sim->store_measurement();
    const child::Result r = watch.get();
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    for (std::size_t i = 0; i < 2; ++i) {
        const int64_t slot = i == 0 ? first : second;
        const std::string key = std::to_string(sim->entry(static_cast<uint32_t>(slot)).key);
        EXPECT_TRUE(has(out[i], "\"slot\":" + std::to_string(slot) + ",\"key\":" + key)) << out[i];
        EXPECT_TRUE(has(out[i], "\"stored\":true")) << out[i];
    }
    const child::Result synced = run({"sync", conn(), "--db", db.string()});
    ASSERT_EQ(synced.exit_status, 0) << synced.err;
    EXPECT_TRUE(has(synced.out, ", 2 already held, 0 failed")) << synced.out;
    EXPECT_EQ(rows(db, "SELECT count(*) FROM measurements"),
              rows(db, "SELECT count(DISTINCT slot || '/' || key) FROM measurements"));
    EXPECT_EQ(rows(db, "SELECT count(*) FROM instruments"), 1);

    // Nothing taken in time: the count was not reached.
    const child::Result idle = run({"watch", conn(), "--count", "1", "--timeout", "0.5"});
    EXPECT_EQ(idle.exit_status, 1) << idle.err;
    EXPECT_TRUE(idle.out.empty()) << idle.out;
}

// The instrument going away ends a watch as a lost connection, whether it
// goes while a record is fetched or between two.
TEST_P(InstrumentCommands, WatchEndsWhenTheConnectionIsLost) {
    auto watch = std::async(std::launch::async, [&] { return run({"watch", conn()}); });
    ASSERT_TRUE(sim->wait_for_count(kFirmware, 1, 10s));
    // A fetch proves the watch is past its setup and in its loop.
    const uint16_t fetch = GetParam() == Generation::v1 ? 8205 : 8211;
    sim->store_measurement();
    ASSERT_TRUE(sim->wait_for_count(fetch, 1, 10s));
    sim->stop();
    const child::Result r = watch.get();
    EXPECT_EQ(r.exit_status, 3) << r.err;
    EXPECT_TRUE(has(r.err, "connection was lost") || has(r.err, "(-107)")) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Generations, InstrumentCommands,
                         ::testing::Values(Generation::v1, Generation::v2), [](const auto& info) {
                             return info.param == Generation::v1 ? "V1" : "V2";
                         });

// Connection strings the transport would refuse are usage errors for every
// subcommand that connects, before anything is sent.
TEST(InstrumentUsage, MalformedConnectionStringsAreUsageErrors) {
    for (const char* sub : {"sync", "info", "clock", "watch"}) {
        for (const char* conn : {"NET:127.0.0.1:1,abc", "SER:"}) {
            const child::Result r = child::run({VUXOCLI_BIN, sub, conn});
            EXPECT_EQ(r.exit_status, 2) << sub << " " << conn << ": " << r.err;
            EXPECT_TRUE(has(r.err, "not a connection string")) << r.err;
        }
    }
}

// list against a fake sysfs tree: the instrument's port, USB serial and product,
// another vendor's adapter left out; nothing found is said and is status 3.
TEST(InstrumentList, UsbInstrumentsFromSysfs) {
    char name[] = "/tmp/vuxoint-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const fs::path root = name;
    fs::create_directories(root / "class/tty");
    setenv("VUXO_SYSFS_ROOT", root.c_str(), 1);
    child::Result r = child::run({VUXOCLI_BIN, "list"});
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_TRUE(has(r.err, "no instrument found on USB")) << r.err;

    const auto usb_tty = [&](const std::string& tty, const std::string& dev, const std::string& vid,
                             const std::string& pid) {
        const fs::path usb = root / "devices/pci0000:00/usb1" / dev;
        fs::create_directories(usb / (dev + ":1.0") / tty);
        std::ofstream(usb / "idVendor") << vid << "\n";
        std::ofstream(usb / "idProduct") << pid << "\n";
        std::ofstream(usb / "serial") << "SN-" << dev << "\n";
        fs::create_directories(root / "class/tty" / tty);
        fs::create_symlink(usb / (dev + ":1.0") / tty, root / "class/tty" / tty / "device");
    };
    usb_tty("ttyUSB3", "1-1", "1781", "0c44");
    usb_tty("ttyUSB0", "1-2", "0403", "6001");
    r = child::run({VUXOCLI_BIN, "list", "--json"});
    unsetenv("VUXO_SYSFS_ROOT");
    fs::remove_all(root);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "[{\"link\":\"usb\",\"conn\":\"usb:SN-1-1\",\"port\":\"/dev/ttyUSB3\","
                     "\"usb_serial\":\"SN-1-1\",\"product\":\"0x0c44\"}]\n");
}

} // namespace

// vuxoint given bad input, or a database it may only read: a clear message, the
// documented exit status, and nothing created or changed; the program as a child
// process against the in-process simulator over TCP.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "child.h"
#include "simulator.h"

namespace {

namespace fs = std::filesystem;
using vuxo::sim::Generation;

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

std::size_t lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class ToolInputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vuxoint-input-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        chmod(dir.c_str(), 0755);
        db = dir / "vuxoint.db";
    }
    void TearDown() override {
        if (sim) {
            sim->stop();
        }
        chmod(dir.c_str(), 0755);
        fs::remove_all(dir);
    }

    void start(int64_t entries = -1) {
        vuxo::sim::Config cfg;
        cfg.data.gen = Generation::v2;
        cfg.data.set = vuxo::sim::DataSet::basic;
        cfg.data.entries = entries;
        sim = std::make_unique<vuxo::sim::Simulator>(cfg);
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
    }
    std::string conn() const { return "tcp://127.0.0.1:" + std::to_string(sim->port()); }
    void synced(int64_t entries = -1) {
        start(entries);
        const child::Result r = child::run({VUXOCLI_BIN, "sync", conn(), "--db", db.string()});
        ASSERT_EQ(r.exit_status, 0) << r.err;
        sim->stop();
    }
    child::Result tool(std::vector<std::string> args, const child::Options& opt = {}) {
        args.insert(args.begin(), VUXOCLI_BIN);
        return child::run(args, opt);
    }
    child::Result export_rows(const child::Options& opt = {}) {
        return tool({"export", "--db", db.string(), "--format", "ndjson"}, opt);
    }
    // The first column of the first row, read as the file is (no -wal or -shm made).
    std::string scalar(const char* sql) const {
        sqlite3* h = nullptr;
        sqlite3_open_v2(("file:" + db.string() + "?immutable=1").c_str(), &h,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(h, sql, -1, &st, nullptr);
        std::string text;
        if (sqlite3_step(st) == SQLITE_ROW) {
            text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        }
        sqlite3_finalize(st);
        sqlite3_close(h);
        return text;
    }
    std::size_t stored() const { return std::stoul(scalar("SELECT count(*) FROM measurements")); }

    fs::path dir;
    fs::path db;
    std::unique_ptr<vuxo::sim::Simulator> sim;
};

// Usage errors: exit status 2 with the option named, before any file is made.
TEST_F(ToolInputTest, BadCommandLinesCreateNothing) {
    start();
    const std::string dbs = db.string();
    struct Case {
        std::vector<std::string> args;
        const char* err;
    };
    const std::vector<Case> cases = {
        {{"sync", conn(), "--db", ""}, "--db"},
        {{"export", "--db", ""}, "--db"},
        {{"report", "--db", "", "-o", "r.html"}, "--db"},
        {{"export", "--db", dbs, "--since", "2026-13-45"}, "--since"},
        {{"export", "--db", dbs, "--until", "2026-02-29"}, "--until"},
        {{"report", "--db", dbs, "--until", "2026-06-01T24:00", "-o", "r.html"}, "--until"},
        {{"export", "--db", dbs, "--since", "2026-06-02", "--until", "2026-06-01"}, "after"},
        {{"frobnicate", "--db", dbs}, "unknown subcommand \"frobnicate\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        child::Options opt;
        opt.dir = dir.string();
        const child::Result r = tool(c.args, opt);
        EXPECT_EQ(r.exit_status, 2) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_TRUE(listing(dir).empty());
    }
    EXPECT_EQ(sim->connections(), 0u) << "the instrument was asked";

    // A sync whose instrument never answers leaves no database it would have
    // created, and one that was there (even empty) stays.
    sim->stop();
    const std::string closed = conn();
    child::Result r = tool({"sync", closed, "--db", dbs});
    EXPECT_EQ(r.exit_status, 3) << r.err;
    EXPECT_TRUE(listing(dir).empty());
    std::ofstream(db).close();
    r = tool({"sync", closed, "--db", dbs});
    EXPECT_EQ(r.exit_status, 3) << r.err;
    EXPECT_TRUE(fs::exists(db));
}

// -o - is standard output; --until includes the whole day it names; a serial
// number the database does not know is said; the report lists an instrument
// that has nothing stored.
TEST_F(ToolInputTest, OutputsAndSelections) {
    synced();
    const std::string dbs = db.string();
    child::Options opt;
    opt.dir = dir.string();
    child::Result r = tool({"export", "--db", dbs, "-o", "-"}, opt);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("instrument,generation,", 0), 0u) << r.out;
    r = tool({"report", "--db", dbs, "-o", "-"}, opt);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("</html>"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "-"));

    // Every measurement up to the first one's day, counted from the full export.
    r = export_rows();
    ASSERT_EQ(r.exit_status, 0) << r.err;
    std::vector<std::string> days;
    for (std::size_t at = 0; (at = r.out.find("\"taken_at\":\"", at)) != std::string::npos;) {
        at += 12;
        days.push_back(r.out.substr(at, 10));
    }
    ASSERT_FALSE(days.empty());
    const std::string first = *std::min_element(days.begin(), days.end());
    const auto up_to_first = std::count(days.begin(), days.end(), first);
    r = tool({"export", "--db", dbs, "--format", "ndjson", "--until", first});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(lines(r.out), static_cast<std::size_t>(up_to_first)) << first;

    for (const char* sub : {"export", "report"}) {
        r = tool({sub, "--db", dbs, "--instrument", "NOSUCH01", "-o", "-"}, opt);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_NE(r.err.find("no instrument NOSUCH01"), std::string::npos) << sub << r.err;
    }

    // An instrument synced with an empty log.
    fs::remove(db);
    synced(0);
    r = tool({"report", "--db", dbs, "-o", "-"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find(sim->serial()), std::string::npos) << r.out;
}

// export and report read a database they may not write, and leave no -wal or
// -shm file behind; a -wal a writer left with committed data is read too.
TEST_F(ToolInputTest, ReadsWhereItCannotWrite) {
    synced();
    const std::size_t n = stored();
    ASSERT_GT(n, 0u);

    // A writer that ends without closing: its last commit is in the -wal only.
    const auto crashed_writer = [&] {
        const pid_t pid = fork();
        if (pid == 0) {
            sqlite3* h = nullptr;
            sqlite3_open(db.c_str(), &h);
            const int rc = sqlite3_exec(
                h,
                "CREATE TEMP TABLE c AS SELECT * FROM measurements ORDER BY id LIMIT 1;"
                "UPDATE c SET id = NULL, key = key + 100000; INSERT INTO measurements SELECT * "
                "FROM c",
                nullptr, nullptr, nullptr);
            _exit(rc == SQLITE_OK ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_EQ(status, 0);
        ASSERT_TRUE(fs::exists(dir / "vuxoint.db-wal"));
    };
    struct Case {
        const char* name;
        std::function<void()> prepare;
        bool as_nobody;
        std::size_t rows;
    };
    const std::vector<Case> cases = {
        {"folder not writable", [&] { chmod(dir.c_str(), 0555); }, true, n},
        {"file read-only in a folder all may write",
         [&] {
             chmod(dir.c_str(), 0777);
             chmod(db.c_str(), 0444);
         },
         true, n},
        {"a writer's -wal with committed data", crashed_writer, false, n + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        child::Options opt;
        opt.as_nobody = c.as_nobody;
        opt.dir = dir.string();
        child::Result r = export_rows(opt);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(lines(r.out), c.rows);
        r = tool({"report", "--db", db.string(), "-o", "-"}, opt);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(listing(dir), std::set<std::string>{"vuxoint.db"});
        chmod(dir.c_str(), 0755);
        chmod(db.c_str(), 0644);
    }
}

// The same from read-only media: a read-only bind mount in a mount namespace of
// the tool's own (root only; skipped where that is not permitted).
TEST_F(ToolInputTest, ReadsFromReadOnlyMount) {
    if (geteuid() != 0 || child::run({"/usr/bin/unshare", "-m", "/bin/true"}).exit_status != 0) {
        GTEST_SKIP() << "no mount namespace here (needs root and unshare -m)";
    }
    synced();
    const std::size_t n = stored();
    ASSERT_GT(n, 0u);
    const child::Result r =
        child::run({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                    "mount --bind -o ro \"$1\" \"$1\" && exec \"$2\" export --db \"$1/vuxoint.db\" "
                    "--format ndjson",
                    "sh", dir.string(), VUXOCLI_BIN});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(lines(r.out), n);
    EXPECT_EQ(listing(dir), std::set<std::string>{"vuxoint.db"});
}

// Every completed sync moves the instrument's last_sync on, also one that found
// nothing new.
TEST_F(ToolInputTest, LastSyncMovesOnEverySync) {
    synced();
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    ASSERT_EQ(sqlite3_exec(h, "UPDATE instruments SET last_sync = '2000-01-01T00:00:00Z'", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(h);
    start();
    const child::Result r = tool({"sync", conn(), "--db", db.string()});
    ASSERT_NE(r.out.find(" 0 new"), std::string::npos) << r.out << r.err;
    EXPECT_GT(scalar("SELECT last_sync FROM instruments"), "2000-01-01T00:00:00Z");
}

} // namespace

// The store and its schema: migrations that leave a file whole or untouched,
// files that are not ours, and stored measurements that stay as they were.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "schema.h"
#include "sqlite_handle.h"
#include "store.h"

namespace {

using vuxocli::Store;

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vuxoint-store-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        path = dir + "/t.db";
    }
    void TearDown() override {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            std::remove((path + suffix).c_str());
        }
        rmdir(dir.c_str());
    }
    sqlite3* raw_open() {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        return db;
    }
    int64_t pragma(sqlite3* db, const char* sql) {
        int rc = 0;
        return vuxocli::query_int(db, sql, -1, &rc);
    }

    std::string dir;
    std::string path;
};

TEST_F(StoreTest, MigrationsRunWholeOrNotAtAll) {
    sqlite3* db = raw_open();
    std::string error;
    // A step that fails midway: nothing of it, nor of the steps before it, stays.
    const vuxocli::Migration broken[] = {
        {1, "CREATE TABLE a (x)"},
        {2, "CREATE TABLE b (y); INSERT INTO no_such_table VALUES (1)"},
    };
    EXPECT_FALSE(vuxocli::migrate(db, broken, &error));
    EXPECT_NE(error.find("no_such_table"), std::string::npos) << error;
    EXPECT_EQ(pragma(db, "PRAGMA user_version"), 0);
    EXPECT_EQ(pragma(db, "SELECT count(*) FROM sqlite_schema"), 0);

    // From empty to current, then an older file through the later step only.
    const vuxocli::Migration two[] = {{1, "CREATE TABLE a (x)"}, {2, "CREATE TABLE b (y)"}};
    EXPECT_TRUE(vuxocli::migrate(db, std::span(two).first(1), &error)) << error;
    EXPECT_EQ(pragma(db, "PRAGMA user_version"), 1);
    EXPECT_TRUE(vuxocli::migrate(db, two, &error)) << error;
    EXPECT_EQ(pragma(db, "PRAGMA user_version"), 2);
    EXPECT_EQ(pragma(db, "SELECT count(*) FROM sqlite_schema"), 2);
    EXPECT_TRUE(vuxocli::migrate(db, two, &error)) << "current: nothing to do";

    // Newer than this program knows: refused, untouched.
    EXPECT_FALSE(vuxocli::migrate(db, std::span(two).first(1), &error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
    EXPECT_EQ(pragma(db, "PRAGMA user_version"), 2);
    sqlite3_close(db);
}

TEST_F(StoreTest, StoredMeasurementsAreKept) {
    std::string error;
    auto store = Store::open(path, Store::Mode::write, &error);
    ASSERT_TRUE(store) << error;
    sqlite3* db = raw_open();
    EXPECT_EQ(pragma(db, "PRAGMA user_version"), vuxocli::current_schema_version());
    EXPECT_EQ(pragma(db, "PRAGMA application_id"), vuxocli::kVuxointAppId);
    int64_t id = 0;
    ASSERT_TRUE(store->note_sync({"A2000001", VUXOD_V2, "2.10"}, &id, &error)) << error;

    auto m = std::make_unique<vuxod_measurement>();
    m->generation = VUXOD_V2;
    m->kind = VUXOD_KIND_SCAN;
    m->values_decoded = 3;
    m->raw_size = VUXOD_V2_RECORD_SIZE;
    m->raw[0] = 0x42;
    vuxod_record rec{7, 1234, 0, m->raw, m->raw_size, m.get(), nullptr, 0};
    EXPECT_EQ(store->put(id, rec, &error), vuxocli::PutResult::stored) << error;
    EXPECT_EQ(store->put(id, rec, &error), vuxocli::PutResult::already_held);
    EXPECT_TRUE(store->has(id, 7, 1234, &error));
    EXPECT_FALSE(store->has(id, 7, 1235, &error)) << "a refilled slot is another measurement";
    rec.key = 1235;
    EXPECT_EQ(store->put(id, rec, &error), vuxocli::PutResult::stored) << error;

    std::vector<vuxod_slot_key> held;
    ASSERT_TRUE(store->held("A2000001", &held, &error));
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].key, 1234u);
    EXPECT_EQ(pragma(db, "SELECT count(*) FROM scan_values"), 6);

    for (const char* sql : {"UPDATE measurements SET raw = x'00'", "DELETE FROM measurements",
                            "UPDATE scan_values SET mark = 1", "DELETE FROM scan_values"}) {
        EXPECT_FALSE(vuxocli::exec(db, sql, &error)) << sql;
    }
    EXPECT_EQ(pragma(db, "SELECT count(*) FROM measurements"), 2);

    // A second sync of the same instrument keeps its row and first sync time.
    int64_t again = 0;
    ASSERT_TRUE(store->note_sync({"A2000001", VUXOD_V2, "2.11"}, &again, &error));
    EXPECT_EQ(again, id);
    EXPECT_EQ(pragma(db, "SELECT count(*) FROM instruments"), 1);
    sqlite3_close(db);
}

// Rows come by time taken unless asked in key order, scan values within their
// scan; records come back in the same order with the bytes that were put.
TEST_F(StoreTest, TimeOrKeyOrderAndRawRecords) {
    std::string error;
    auto store = Store::open(path, Store::Mode::write, &error);
    ASSERT_TRUE(store) << error;
    struct Put {
        const char* serial;
        int generation;
        uint32_t key;
        int month;  // of 2024, so time and key order differ
        int values; // a scan's; 0 for a single measurement
    } puts[] = {{"A1", VUXOD_V1, 1, 3, 1}, {"A1", VUXOD_V1, 2, 1, 0}, {"B2", VUXOD_V2, 1, 2, 2}};
    std::vector<std::vector<uint8_t>> raws;
    for (const Put& p : puts) {
        int64_t id = 0;
        ASSERT_TRUE(store->note_sync({p.serial, p.generation, "1.0"}, &id, &error)) << error;
        auto m = std::make_unique<vuxod_measurement>();
        m->generation = p.generation;
        m->year = 2024;
        m->month = p.month;
        m->day = 1;
        m->kind = p.values > 0 ? VUXOD_KIND_SCAN : VUXOD_KIND_SINGLE;
        m->values_decoded = p.values;
        m->raw_size = p.generation == VUXOD_V1 ? VUXOD_V1_RECORD_SIZE : VUXOD_V2_RECORD_SIZE;
        for (uint32_t i = 0; i < m->raw_size; ++i) {
            m->raw[i] = static_cast<uint8_t>(i * 7 + p.key + raws.size());
        }
        raws.emplace_back(m->raw, m->raw + m->raw_size);
        const vuxod_record rec{0, p.key, 0, m->raw, m->raw_size, m.get(), nullptr, 0};
        ASSERT_EQ(store->put(id, rec, &error), vuxocli::PutResult::stored) << error;
    }

    using Rows = std::vector<std::string>; // "serial/key/index"
    const struct {
        bool scans, key_order;
        Rows expected;
    } cases[] = {
        {false, false, {"A1/2/", "B2/1/", "A1/1/"}},
        {false, true, {"A1/1/", "A1/2/", "B2/1/"}},
        {true, false, {"B2/1/0", "B2/1/1", "A1/1/0"}},
        {true, true, {"A1/1/0", "B2/1/0", "B2/1/1"}},
    };
    for (const auto& c : cases) {
        vuxocli::QueryFilter f;
        f.scans = c.scans;
        f.key_order = c.key_order;
        std::vector<std::string> names;
        Rows rows;
        const auto cell = [&](const std::vector<vuxocli::Value>& row, const char* name) {
            const auto i = std::find(names.begin(), names.end(), name) - names.begin();
            if (const auto* t = std::get_if<std::string>(&row[static_cast<std::size_t>(i)])) {
                return *t;
            }
            return std::to_string(std::get<int64_t>(row[static_cast<std::size_t>(i)]));
        };
        ASSERT_TRUE(store->query(
            f, [&](const std::vector<std::string>& n) { names = n; },
            [&](const std::vector<vuxocli::Value>& row) {
                rows.push_back(cell(row, "instrument") + "/" + cell(row, "key") + "/" +
                               (c.scans ? cell(row, "index") : ""));
                return true;
            },
            &error))
            << error;
        EXPECT_EQ(rows, c.expected) << "scans " << c.scans << ", key order " << c.key_order;
        if (c.scans) {
            continue;
        }
        Rows records;
        ASSERT_TRUE(store->records(
            f,
            [&](const vuxocli::StoredRecord& r) {
                records.push_back(r.instrument + "/" + std::to_string(r.key) + "/");
                const std::size_t at = r.instrument == "B2" ? 2 : r.key == 1 ? 0 : 1;
                EXPECT_EQ(r.raw, raws[at]) << records.back();
                EXPECT_EQ(r.generation, puts[at].generation) << records.back();
                EXPECT_EQ(r.taken_at.substr(0, 7), "2024-0" + std::to_string(puts[at].month));
                return true;
            },
            &error))
            << error;
        EXPECT_EQ(records, c.expected) << "records, key order " << c.key_order;
    }
}

// Syncs started together on a database that does not exist yet: every one opens
// it, and the file ends with one schema. Each round is a new path; the processes
// wait on a pipe so that they all start creating at the same moment.
TEST_F(StoreTest, OpenedAtOnceWhileMissing) {
    constexpr int kRounds = 20;
    constexpr int kProcesses = 6;
    std::string error;
    auto reference = Store::open(dir + "/reference.db", Store::Mode::write, &error);
    ASSERT_TRUE(reference) << error;
    reference.reset();
    sqlite3* ref = nullptr;
    ASSERT_EQ(sqlite3_open((dir + "/reference.db").c_str(), &ref), SQLITE_OK);
    const int64_t objects = pragma(ref, "SELECT count(*) FROM sqlite_schema");
    sqlite3_close(ref);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::remove((dir + "/reference.db" + suffix).c_str());
    }
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < kProcesses; ++i) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(go[1]);
                char c;
                (void)read(go[0], &c, 1);
                std::string why;
                auto store = Store::open(path, Store::Mode::write, &why);
                if (!store) {
                    std::fprintf(stderr, "open: %s\n", why.c_str());
                }
                _exit(store ? 0 : 1);
            }
            children.push_back(pid);
        }
        close(go[0]);
        close(go[1]);
        int failures = 0;
        for (const pid_t pid : children) {
            int status = 0;
            waitpid(pid, &status, 0);
            failures += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
        }
        EXPECT_EQ(failures, 0);
        sqlite3* db = raw_open();
        EXPECT_EQ(pragma(db, "SELECT count(*) FROM sqlite_schema"), objects);
        EXPECT_EQ(pragma(db, "PRAGMA application_id"), vuxocli::kVuxointAppId);
        sqlite3_close(db);
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::remove((path + suffix).c_str());
        }
    }
}

} // namespace

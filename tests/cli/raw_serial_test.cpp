// An instrument whose serial number is not UTF-8, into a database whose name is
// not either: every output of sync, export and report shows the bytes through
// the one escape rule, and the database keeps the instrument's own bytes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "child.h"
#include "simulator.h"

namespace {

namespace fs = std::filesystem;

// 'A' (a V2), Latin-1 e acute, a C1 control byte, a backslash.
const std::string kSerial = "A\xE9\x80\\0456";
const std::string kShown = R"(A\xE9\x80\\0456)";

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> stored_serials(const fs::path& db) {
    std::vector<std::string> out;
    sqlite3* h = nullptr;
    sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, "SELECT serial FROM instruments", -1, &st, nullptr);
    while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
        const auto* b = static_cast<const char*>(sqlite3_column_blob(st, 0));
        out.emplace_back(b, static_cast<std::size_t>(sqlite3_column_bytes(st, 0)));
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    return out;
}

TEST(RawSerial, EveryOutputShowsTheBytesEscaped) {
    char name[] = "/tmp/vuxoint-raw-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const fs::path dir = name;
    const std::string db = (dir / "survey-\xE9.db").string(); // a Latin-1 file name
    vuxo::sim::Config cfg;
    cfg.data.serial = kSerial;
    vuxo::sim::Simulator sim(cfg);
    ASSERT_TRUE(sim.start());
    const std::string conn = "tcp://127.0.0.1:" + std::to_string(sim.port());
    const std::string bin = VUXOCLI_BIN;

    child::Result r = child::run({bin, "sync", conn, "--db", db, "--json"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find(R"("instrument":"A\\xE9\\x80\\\\0456")"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"("database":")" + (dir / "survey-\\\\xE9.db").string() + "\""),
              std::string::npos)
        << r.out;
    // The instrument commands show the same bytes the same way.
    for (const char* command : {"info", "clock"}) {
        r = child::run({bin, command, conn, "--json"});
        EXPECT_EQ(r.exit_status, 0) << command << ": " << r.err;
        EXPECT_NE(r.out.find(R"("serial":"A\\xE9\\x80\\\\0456")"), std::string::npos)
            << command << ": " << r.out;
    }
    r = child::run({bin, "sync", conn, "--db", db});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out.rfind(kShown + ": 0 new, 5 already held", 0), 0u) << r.out;
    EXPECT_EQ(stored_serials(db), std::vector<std::string>{kSerial});

    struct Case {
        std::vector<std::string> args;
        std::string expect; // in the output, once per measurement
    };
    const std::vector<Case> cases = {
        {{"--format", "csv"}, "\r\n" + kShown + ","},
        {{"--format", "json"}, R"("instrument":"A\\xE9\\x80\\\\0456")"},
        {{"--format", "ndjson"}, R"("instrument":"A\\xE9\\x80\\\\0456")"},
        // What was shown, typed back, selects the instrument.
        {{"--format", "ndjson", "--instrument", kShown}, R"("instrument":"A\\xE9)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        std::vector<std::string> argv = {bin, "export", "--db", db};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        r = child::run(argv);
        ASSERT_EQ(r.exit_status, 0) << r.err;
        std::size_t n = 0;
        for (std::size_t at = r.out.find(c.expect); at != std::string::npos;
             at = r.out.find(c.expect, at + 1)) {
            ++n;
        }
        EXPECT_EQ(n, 5u) << r.out;
    }

    const fs::path page = dir / "report.html";
    r = child::run({bin, "report", "--db", db, "--instrument", kShown, "-o", page.string()});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string html = read_file(page);
    EXPECT_NE(html.find(R"(A\xE9\x80\\0456)"), std::string::npos);
    EXPECT_EQ(html.find(kSerial), std::string::npos) << "raw bytes in the page";
    sim.stop();
    fs::remove_all(dir);
}

} // namespace

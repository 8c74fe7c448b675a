// vuxoint report end to end: the simulator's log synced over TCP, the report
// written by the program, its figures read back against the database, and the
// page rendered by a headless browser, which must draw it and log no error.
#include <gtest/gtest.h>
#include <png.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "child.h"
#include "report_svg.h"
#include "simulator.h"

namespace {

namespace fs = std::filesystem;
using vuxo::sim::DataSet;
using vuxo::sim::Generation;

struct Scan {
    std::vector<double> susc;
    std::vector<double> cond;
};

// Every scan in the database by (slot, key), its values by index; NULL is NaN.
std::map<std::pair<int64_t, int64_t>, Scan> read_scans(const fs::path& db) {
    std::map<std::pair<int64_t, int64_t>, Scan> out;
    sqlite3* h = nullptr;
    sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h,
                       "SELECT m.slot, m.key, v.susceptibility, v.conductivity, v.idx "
                       "FROM measurements m LEFT JOIN scan_values v ON v.measurement_id = m.id "
                       "WHERE m.kind = 2 ORDER BY m.id, v.idx",
                       -1, &st, nullptr);
    const auto number = [&](int i) {
        return sqlite3_column_type(st, i) == SQLITE_NULL ? std::nan("")
                                                         : sqlite3_column_double(st, i);
    };
    while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
        Scan& s = out[{sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1)}];
        if (sqlite3_column_type(st, 4) != SQLITE_NULL) {
            s.susc.push_back(number(2));
            s.cond.push_back(number(3));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    return out;
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string find_program(const char* name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path p = fs::path(dir) / name;
        if (access(p.c_str(), X_OK) == 0) {
            return p.string();
        }
    }
    return {};
}

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    bool read(const fs::path& file) {
        png_image img{};
        img.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_file(&img, file.c_str()) == 0) {
            return false;
        }
        img.format = PNG_FORMAT_RGB;
        rgb.resize(PNG_IMAGE_SIZE(img));
        width = static_cast<int>(img.width);
        height = static_cast<int>(img.height);
        return png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr) != 0;
    }
    // Pixels within `near` of the colour in each channel.
    std::size_t count(int r, int g, int b, int near) const {
        std::size_t n = 0;
        for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
            n += std::abs(rgb[i] - r) <= near && std::abs(rgb[i + 1] - g) <= near &&
                 std::abs(rgb[i + 2] - b) <= near;
        }
        return n;
    }
};

class ReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vuxoint-report-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        db = dir / "vuxoint.db";
    }
    void TearDown() override {
        if (sim) {
            sim->stop();
        }
        // The browser's helpers may still be leaving its profile directory.
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    void sync(Generation gen, DataSet set, int64_t entries) {
        vuxo::sim::Config cfg;
        cfg.data.gen = gen;
        cfg.data.set = set;
        cfg.data.entries = entries;
        sim = std::make_unique<vuxo::sim::Simulator>(cfg);
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
        const std::vector<std::string> argv = {VUXOCLI_BIN, "sync",
                                               "tcp://127.0.0.1:" + std::to_string(sim->port()),
                                               "--db", db.string()};
        child::Result r = child::run(argv);
        // The sync is only the means here: on a machine busy enough for its first
        // command to time out (status 3), it gets a second chance.
        if (r.exit_status == 3) {
            r = child::run(argv);
        }
        ASSERT_EQ(r.exit_status, 0) << r.err;
    }
    child::Result report(std::vector<std::string> extra) {
        std::vector<std::string> argv = {VUXOCLI_BIN, "report", "--db", db.string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return child::run(argv);
    }

    fs::path dir;
    fs::path db;
    std::unique_ptr<vuxo::sim::Simulator> sim;
};

struct Survey {
    const char* name;
    Generation gen;
    DataSet set;
    int64_t entries;
};

void PrintTo(const Survey& s, std::ostream* os) {
    *os << s.name;
}

class ReportRender : public ReportTest, public ::testing::WithParamInterface<Survey> {};

TEST_P(ReportRender, EveryScanDrawnAndThePageRenders) {
    sync(GetParam().gen, GetParam().set, GetParam().entries);
    const fs::path page = dir / "report.html";
    const child::Result r = report({"-o", page.string()});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string html = read_file(page);

    const auto scans = read_scans(db);
    const auto profiles = report_svg::figures(html, "profile");
    ASSERT_EQ(profiles.size(), scans.size());
    ASSERT_GT(scans.size(), 2u);
    for (const report_svg::Figure& f : profiles) {
        const auto it = scans.find({std::stoll(report_svg::attr(f.tag, "data-slot")),
                                    std::stoll(report_svg::attr(f.tag, "data-key"))});
        ASSERT_NE(it, scans.end()) << f.tag;
        std::vector<double> x;
        for (std::size_t i = 0; i < it->second.susc.size(); ++i) {
            x.push_back(static_cast<double>(i));
        }
        std::vector<std::vector<double>> y = {it->second.susc};
        if (GetParam().gen == Generation::v2) {
            y.push_back(it->second.cond);
        }
        report_svg::expect_drawn(f, x, y);
    }

    const std::string chromium = find_program("chromium");
    if (chromium.empty()) {
        GTEST_SKIP() << "chromium is not installed: the page was not rendered";
    }
    // Into files, not the test's pipes: the browser's helper processes may
    // outlive it holding whatever it was given.
    const fs::path shot = dir / "report.png";
    const fs::path log = dir / "chromium.log";
    const std::string cmd =
        "exec " + chromium +
        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
        " --disable-background-networking --disable-component-update --disable-sync"
        " --enable-logging=stderr --v=0 --window-size=1280,2400 --user-data-dir=" +
        (dir / "profile").string() + " --screenshot=" + shot.string() + " file://" + page.string() +
        " >" + (dir / "chromium.out").string() + " 2>" + log.string();
    child::Options slow;
    slow.limit = std::chrono::seconds(90);
    const child::Result c = child::run({"/bin/sh", "-c", cmd}, slow);
    ASSERT_EQ(c.exit_status, 0) << read_file(log);
    // The page's own messages (a blocked load, a parse error) come as CONSOLE lines.
    std::stringstream lines(read_file(log));
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.find(":CONSOLE"), std::string::npos) << line;
    }
    Screenshot png;
    ASSERT_TRUE(png.read(shot));
    ASSERT_EQ(png.width, 1280);
    const std::size_t pixels = static_cast<std::size_t>(png.width) * png.height;
    EXPECT_GT(pixels - png.count(255, 255, 255, 0), pixels / 50) << "a blank page";
    EXPECT_GT(png.count(0x1d, 0x4e, 0xd8, 24), 100u) << "no susceptibility points drawn";
}

INSTANTIATE_TEST_SUITE_P(Surveys, ReportRender,
                         ::testing::Values(Survey{"EdgeV1", Generation::v1, DataSet::edge, -1},
                                           Survey{"EdgeV2", Generation::v2, DataSet::edge, -1},
                                           Survey{"BigV2", Generation::v2, DataSet::big, 300}),
                         [](const auto& info) { return std::string(info.param.name); });

// --png: every figure of the page as a PNG of its own, drawn.
TEST_F(ReportTest, FiguresAsPng) {
    if (find_program("rsvg-convert").empty()) {
        GTEST_SKIP() << "rsvg-convert is not installed";
    }
    sync(Generation::v2, DataSet::edge, -1);
    const fs::path pngs = dir / "png";
    const child::Result r = report({"-o", (dir / "r.html").string(), "--png", pngs.string()});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string html = read_file(dir / "r.html");
    const std::size_t expected =
        report_svg::figures(html, "profile").size() + report_svg::figures(html, "series").size();
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(pngs)) {
        Screenshot png;
        ASSERT_TRUE(png.read(entry.path())) << entry.path();
        EXPECT_EQ(png.width, 600) << entry.path();
        const std::size_t pixels = static_cast<std::size_t>(png.width) * png.height;
        EXPECT_GT(pixels - png.count(255, 255, 255, 0), pixels / 50) << entry.path() << ": blank";
        EXPECT_GT(png.count(0x1d, 0x4e, 0xd8, 24) + png.count(0xc2, 0x41, 0x0c, 24), 20u)
            << entry.path() << ": no trace colour";
        ++files;
    }
    EXPECT_EQ(files, expected);
    EXPECT_GT(files, 10u);
}

// Usage and database errors have their exit codes, and a selection that
// matches nothing is an empty report, not an error.
TEST_F(ReportTest, ErrorsAndEmptySelections) {
    sync(Generation::v2, DataSet::basic, -1);
    const std::string out = (dir / "r.html").string();
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{}, 2},                                         // no -o
        {{"--since", "2026-13", "-o", out}, 2},          // not a date
        {{"-o", (dir / "none" / "r.html").string()}, 1}, // no such directory
        {{"--instrument", "NOPE", "-o", out}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(report(c.args).exit_status, c.status) << c.args.size();
    }
    const std::string html = read_file(out);
    EXPECT_NE(html.find("0 single measurements, 0 scans"), std::string::npos);
    EXPECT_FALSE(fs::exists(out + ".part"));
    const child::Result missing =
        child::run({VUXOCLI_BIN, "report", "--db", (dir / "no.db").string(), "-o", out});
    EXPECT_EQ(missing.exit_status, 4);
    EXPECT_NE(missing.err.find("no.db"), std::string::npos) << missing.err;
}

} // namespace

// The report's drawing and page: axes that hold their values under labels that
// do not collide, points that land where their values are, and a page with one
// profile per scan whatever the scan holds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "report_page.h"
#include "report_svg.h"
#include "svg_chart.h"

namespace {

using vuxocli::chart::Axis;
using vuxocli::chart::Scale;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

// Ticks ascending inside the range, labels distinct and clear of each other.
void expect_sound(const Axis& a, double lo, double hi, double length, bool vertical,
                  const std::string& what) {
    EXPECT_LE(a.lo, lo) << what;
    EXPECT_GE(a.hi, hi) << what;
    ASSERT_GE(a.ticks.size(), 2u) << what;
    ASSERT_EQ(a.ticks.size(), a.labels.size()) << what;
    EXPECT_EQ(std::set<std::string>(a.labels.begin(), a.labels.end()).size(), a.labels.size())
        << what << ": " << a.labels.front() << " .. " << a.labels.back();
    for (std::size_t i = 0; i + 1 < a.ticks.size(); ++i) {
        EXPECT_LT(a.ticks[i], a.ticks[i + 1]) << what;
        const double gap = vuxocli::chart::place(a, a.ticks[i + 1], 0, length) -
                           vuxocli::chart::place(a, a.ticks[i], 0, length);
        const double need = vertical ? vuxocli::chart::kLabelHeight
                                     : (vuxocli::chart::label_width(a.labels[i]) +
                                        vuxocli::chart::label_width(a.labels[i + 1])) /
                                           2;
        EXPECT_GE(gap, need) << what << ": " << a.labels[i] << " and " << a.labels[i + 1];
    }
    EXPECT_GE(a.ticks.front(), a.lo) << what;
    EXPECT_LE(a.ticks.back(), a.hi) << what;
}

TEST(ReportChart, ValueAxes) {
    struct Case {
        double lo, hi, length;
        bool vertical;
        Scale scale;
        bool log;
        const char* first_label; // "" when any
    } cases[] = {
        {0, 1, 500, false, Scale::automatic, false, "0.0"},
        {-20, 80, 200, true, Scale::automatic, false, "-20"},
        {-4.05, -4.05, 200, true, Scale::automatic, false, ""}, // one value
        {0, 0, 200, true, Scale::automatic, false, ""},
        {0.001, 1000, 200, true, Scale::automatic, true, "0.001"}, // six decades
        {0.5, 40, 200, true, Scale::automatic, false, ""},         // under two decades
        {1e-9, 3e9, 100, true, Scale::automatic, true, ""},        // more decades than room
        {1e-7, 3e-7, 500, false, Scale::linear, false, ""},
        {1e7, 1.00001e7, 500, false, Scale::linear, false, ""},
        {-3.4e38, 3.4e38, 500, false, Scale::linear, false, ""},
        {0.1, 0.35, 500, false, Scale::linear, false, ""}, // steps of 0.025 need 3 decimals
        {0, 479, 500, false, Scale::integer, false, "0"},
        {0, 0, 500, false, Scale::integer, false, "-1"},
        {0, 4, 500, false, Scale::integer, false, "0"},
        {12.5, 12.5, 30, true, Scale::linear, false, ""}, // too short for more than two
    };
    for (const Case& c : cases) {
        const std::string what = "[" + std::to_string(c.lo) + ", " + std::to_string(c.hi) + "]";
        const Axis a = vuxocli::chart::value_axis(c.lo, c.hi, c.length, c.vertical, c.scale);
        expect_sound(a, c.lo, c.hi, c.length, c.vertical, what);
        EXPECT_EQ(a.log, c.log) << what;
        if (*c.first_label != 0) {
            EXPECT_EQ(a.labels.front(), c.first_label) << what;
        }
        if (c.scale == Scale::integer) {
            for (double t : a.ticks) {
                EXPECT_EQ(t, std::floor(t)) << what;
            }
        }
    }
}

TEST(ReportChart, TimeAxes) {
    const double t = vuxocli::taken_seconds("2026-03-03T02:14:26");
    ASSERT_EQ(t, 1772504066.0);
    EXPECT_TRUE(std::isnan(vuxocli::taken_seconds("2026-03-03")));
    const double spans[] = {0,
                            30,
                            5 * 3600,
                            20 * 86400,
                            330 * 86400,
                            30 * 365.25 * 86400,
                            63000 * 365.25 * 86400}; // the last: a clock never set
    for (double span : spans) {
        for (double length : {300.0, 900.0}) {
            const Axis a = vuxocli::chart::time_axis(t, t + span, length);
            expect_sound(a, t, t + span, length, false,
                         "span " + std::to_string(span) + " in " + std::to_string(length));
        }
    }
    EXPECT_EQ(vuxocli::chart::time_axis(t, t + 330 * 86400, 900).labels.front(), "2026-03");
}

TEST(ReportChart, PointsLandInTheirPlaceAndOthersAreCounted) {
    vuxocli::chart::Figure f;
    f.title = "a <title> & more";
    vuxocli::chart::Trace s{"left", "#00f", 0, true, {0, 1, 2, 3, 4}, {1, kNaN, 3, kInf, 5}, {}};
    vuxocli::chart::Trace c{
        "right", "#f00", 1, true, {0, 1, 2, 3, 4}, {0.01, 1, 10, 100, -kInf}, {0, 1, 0, 1, 1}};
    f.traces = {s, c};
    const vuxocli::chart::Drawn d = vuxocli::chart::draw(f);
    EXPECT_EQ(d.points, 7);
    EXPECT_EQ(d.skipped, 3);
    EXPECT_NE(d.svg.find("a &lt;title&gt; &amp; more"), std::string::npos);
    const auto figs = report_svg::figures("<svg class=\"x\"" + d.svg.substr(4), "x");
    ASSERT_EQ(figs.size(), 1u);
    report_svg::expect_drawn(figs[0], s.x, {s.y, c.y});
    // Larger values sit higher; the right axis is logarithmic (four decades).
    EXPECT_GT(figs[0].dots[0][0].second, figs[0].dots[0][1].second);
    const auto& right = figs[0].dots[1]; // 0.01, 1, 10, 100: two decades, one, one
    EXPECT_NEAR(right[1].second - right[0].second, 2 * (right[2].second - right[1].second), 0.2);
    EXPECT_NEAR(right[2].second - right[1].second, right[3].second - right[2].second, 0.2);

    vuxocli::chart::Figure empty;
    empty.traces = {vuxocli::chart::Trace{"none", "#000", 0, true, {}, {}, {}}};
    EXPECT_NE(vuxocli::chart::draw(empty).svg.find(">no values<"), std::string::npos);
}

vuxocli::ReportMeasurement measurement(const char* gen, int64_t slot, int64_t kind,
                                       std::vector<double> susc, std::vector<double> cond = {}) {
    vuxocli::ReportMeasurement m;
    m.instrument = "A1";
    m.generation = gen;
    m.slot = slot;
    m.key = slot + 100;
    m.number = slot + 1;
    m.kind = kind;
    m.taken_at = "2026-01-0" + std::to_string(1 + slot % 9) + "T10:00:00";
    m.susc_units = "SI";
    m.cond_units = m.generation == "V2" ? "S/m" : "";
    m.susceptibility = 1.5 + static_cast<double>(slot);
    m.conductivity = m.generation == "V2" ? kNaN : 0;
    m.marks.assign(susc.size(), 0);
    if (!m.marks.empty()) {
        m.marks[0] = 1;
    }
    m.susc_values = std::move(susc);
    m.cond_values = std::move(cond);
    return m;
}

// Scans of every shape on one page: each gets its profile with one point per
// finite value; what was skipped is counted; the table has every measurement.
TEST(ReportPage, OneProfilePerScanWhateverItHolds) {
    vuxocli::ReportData data;
    data.columns = {"instrument", "slot", "susceptibility"};
    data.measurements = {
        measurement("V2", 0, VUXOD_KIND_SCAN, {1, kNaN, 3, kInf}, {10, 20, kNaN, 1e5}),
        measurement("V2", 1, VUXOD_KIND_SCAN, {}, {}),
        measurement("V2", 2, VUXOD_KIND_SCAN, {-7}, {0.5}),
        measurement("V1", 3, VUXOD_KIND_SCAN, {0.001, 0.1, 10, 1000}),
        measurement("V2", 4, VUXOD_KIND_SINGLE, {}),
        measurement("V1", 5, VUXOD_KIND_SINGLE, {}),
        measurement("V2", 6, 0, {}),
    };
    data.measurements[4].note = true;
    for (const auto& m : data.measurements) {
        data.rows.push_back({m.instrument, m.slot, m.susceptibility});
    }
    data.instruments = {{"A1", "V2", "2.1", "2026-12-08T06:00:00Z"}};
    const std::string page = vuxocli::render_report(data, {"test.db", "", ""});

    const auto profiles = report_svg::figures(page, "profile");
    ASSERT_EQ(profiles.size(), 4u);
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        const vuxocli::ReportMeasurement& m = data.measurements[i];
        EXPECT_EQ(report_svg::attr(profiles[i].tag, "data-slot"), std::to_string(m.slot));
        std::vector<double> x;
        for (std::size_t k = 0; k < m.susc_values.size(); ++k) {
            x.push_back(static_cast<double>(k));
        }
        std::vector<std::vector<double>> y = {m.susc_values};
        if (m.v2()) {
            y.push_back(m.cond_values);
        }
        report_svg::expect_drawn(profiles[i], x, y);
    }
    // Singles: susceptibility in SI (both), conductivity (V2, its NaN skipped).
    EXPECT_EQ(report_svg::figures(page, "series").size(), 2u);
    EXPECT_NE(page.find("4 values not drawn (inf or NaN)"), std::string::npos);
    EXPECT_NE(page.find(">no values<"), std::string::npos);
    EXPECT_NE(page.find("2 single measurements, 4 scans, 1 record of another kind"),
              std::string::npos);
    std::size_t rows = 0;
    for (std::size_t at = page.find("<tr><td>A1</td>"); at != std::string::npos;
         at = page.find("<tr><td>A1</td>", at + 1)) {
        ++rows;
    }
    EXPECT_EQ(rows, data.rows.size());
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("href="), std::string::npos);
    EXPECT_EQ(page.find("src="), std::string::npos);
}

} // namespace

#include "report_page.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

#include "civil_time.h"
#include "export_writer.h"
#include "number_text.h"
#include "svg_chart.h"

namespace vuxocli {

namespace {

using chart::escape;

constexpr const char* kSuscColor = "#1d4ed8";
constexpr const char* kCondColor = "#c2410c";

// Loading nothing is the point: a page that tried would say so in its console.
constexpr const char* kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Survey report</title>
<style>
body{font:14px/1.4 sans-serif;margin:20px;color:#222;background:#fff}
h1{font-size:22px;margin:0 0 6px}
h2{font-size:17px;margin:26px 0 8px;border-bottom:1px solid #ddd}
.summary th{text-align:left;padding-right:16px;font-weight:600;vertical-align:top}
.figures{display:flex;flex-wrap:wrap;gap:10px}
.figures svg{max-width:100%;height:auto;border:1px solid #e4e4e4}
.note{color:#8a4b00}
.small{color:#666;font-size:12px}
.table{overflow-x:auto}
table.data{border-collapse:collapse;font-size:12px;white-space:nowrap}
table.data th,table.data td{border:1px solid #ddd;padding:1px 6px;text-align:right}
table.data th{background:#f2f2f2;position:sticky;top:0}
</style>
</head>
<body>
)";

std::string shown_time(std::string iso) {
    if (iso.size() > 10 && iso[10] == 'T') {
        iso[10] = ' ';
    }
    return iso;
}

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string not_drawn(int skipped) {
    return skipped == 0 ? std::string()
                        : plural(static_cast<std::size_t>(skipped), "value", "values") +
                              " not drawn (inf or NaN)";
}

struct Counts {
    std::size_t singles = 0;
    std::size_t scans = 0;
    std::size_t others = 0;
    std::string first;
    std::string last;
};

Counts count(const ReportData& data) {
    Counts c;
    for (const ReportMeasurement& m : data.measurements) {
        (m.kind == VUXOD_KIND_SINGLE ? c.singles
                                     : (m.kind == VUXOD_KIND_SCAN ? c.scans : c.others))++;
        if (c.first.empty() || m.taken_at < c.first) {
            c.first = m.taken_at;
        }
        if (m.taken_at > c.last) {
            c.last = m.taken_at;
        }
    }
    return c;
}

// Text made fit for a file name: "%" as "pct", anything odd as "-".
std::string file_part(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_') {
            out += c;
        } else {
            out += c == '%' ? "pct" : "-";
        }
    }
    return out;
}

// Draws the figure, with a note under it when some value was not drawn.
chart::Drawn draw_noted(chart::Figure& f, int* skipped) {
    chart::Drawn d = chart::draw(f);
    if (d.skipped > 0) {
        f.note = not_drawn(d.skipped);
        d = chart::draw(f);
    }
    *skipped += d.skipped;
    return d;
}

// Single measurements, one chart per instrument, quantity and units: values in
// different units share no axis.
void time_series(const ReportData& data, int* skipped, std::vector<ReportFigure>* out) {
    using Group = std::tuple<std::string, int, std::string>; // instrument, quantity, units
    std::map<Group, chart::Trace> groups;
    std::map<Group, bool> any_note;
    for (const ReportMeasurement& m : data.measurements) {
        if (m.kind != VUXOD_KIND_SINGLE) {
            continue;
        }
        const double t = taken_seconds(m.taken_at);
        for (int q = 0; q < (m.v2() ? 2 : 1); ++q) {
            const Group g{m.instrument, q, q == 0 ? m.susc_units : m.cond_units};
            chart::Trace& tr = groups[g];
            tr.x.push_back(t);
            tr.y.push_back(q == 0 ? m.susceptibility : m.conductivity);
            tr.flagged.push_back(m.note ? 1 : 0);
            any_note[g] = any_note[g] || m.note;
        }
    }
    for (auto& [g, trace] : groups) {
        const auto& [instrument, q, units] = g;
        const std::string what =
            std::string(q == 0 ? "susceptibility" : "conductivity") + " (" + units + ")";
        trace.label = what;
        trace.color = q == 0 ? kSuscColor : kCondColor;
        trace.line = false;
        chart::Figure f;
        f.title = std::string(q == 0 ? "Susceptibility" : "Conductivity") + " (" + units +
                  ") · instrument " + instrument + " · " +
                  plural(trace.x.size(), "measurement", "measurements");
        f.x_label = "time taken (instrument clock)";
        f.x_time = true;
        f.y_label[0] = what;
        f.flagged_label = any_note[g] ? "note attached" : "";
        f.attributes = "class=\"series\" data-instrument=\"" + escape(instrument) + "\"";
        f.width = 600;
        f.height = 280;
        f.traces.push_back(std::move(trace));
        out->push_back({"series-" + file_part(instrument) + "-" + (q == 0 ? "susc-" : "cond-") +
                            file_part(units),
                        draw_noted(f, skipped).svg});
    }
}

ReportFigure profile(const ReportMeasurement& m, bool name_instrument, int* skipped) {
    chart::Figure f;
    f.title = (name_instrument ? m.instrument + " · " : std::string()) + "Scan " +
              std::to_string(m.number) + " · " + shown_time(m.taken_at) + " · " + m.susc_units +
              ", curve " + std::to_string(m.curve_s);
    if (m.v2()) {
        f.title += " · " + m.cond_units + ", curve " + std::to_string(m.curve_c);
    }
    f.x_label = "index";
    f.x_scale = chart::Scale::integer;
    f.y_label[0] = "susceptibility (" + m.susc_units + ")";
    f.flagged_label = "marked";
    f.attributes = "class=\"profile\" data-instrument=\"" + escape(m.instrument) +
                   "\" data-slot=\"" + std::to_string(m.slot) + "\" data-key=\"" +
                   std::to_string(m.key) + "\"";
    f.width = 600;
    f.height = 280;
    chart::Trace s;
    s.label = f.y_label[0];
    s.color = kSuscColor;
    for (std::size_t i = 0; i < m.susc_values.size(); ++i) {
        s.x.push_back(static_cast<double>(i));
    }
    s.y = m.susc_values;
    s.flagged = m.marks;
    if (m.v2()) {
        chart::Trace c;
        f.y_label[1] = "conductivity (" + m.cond_units + ")";
        c.label = f.y_label[1];
        c.color = kCondColor;
        c.axis = 1;
        c.x = s.x;
        c.y = m.cond_values;
        c.flagged = m.marks;
        f.traces.push_back(std::move(s));
        f.traces.push_back(std::move(c));
    } else {
        f.traces.push_back(std::move(s));
    }
    return {"scan-" + file_part(m.instrument) + "-" + std::to_string(m.slot) + "-" +
                std::to_string(m.key),
            draw_noted(f, skipped).svg};
}

std::string table(const ReportData& data) {
    std::string out = "<div class=\"table\"><table class=\"data\"><thead><tr>";
    for (const std::string& name : data.columns) {
        out += "<th>" + escape(name) + "</th>";
    }
    out += "</tr></thead><tbody>\n";
    for (const std::vector<Value>& row : data.rows) {
        out += "<tr>";
        for (const Value& v : row) {
            out += "<td>" + escape(cell_text(v)) + "</td>";
        }
        out += "</tr>\n";
    }
    return out + "</tbody></table></div>\n";
}

} // namespace

ReportFigure scan_profile(const ReportMeasurement& m) {
    int skipped = 0;
    return profile(m, true, &skipped);
}

double taken_seconds(const std::string& iso) {
    int year = 0;
    vuxo::CivilTime t{};
    char tail = 0;
    if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &t.month, &t.day, &t.hour,
                    &t.minute, &t.second, &tail) != 6) {
        return std::nan("");
    }
    t.year = year;
    return static_cast<double>(vuxo::seconds_from_civil(t));
}

std::string render_report(const ReportData& data, const PageInfo& info,
                          std::vector<ReportFigure>* figures) {
    const Counts c = count(data);
    std::string instruments;
    for (const ReportInstrument& i : data.instruments) {
        instruments += (instruments.empty() ? "" : "<br>") + escape(i.serial) + " (" +
                       escape(i.generation) + ", firmware " + escape(i.firmware) +
                       ", last synced " + escape(shown_time(i.last_sync)) + ")";
    }
    int skipped = 0;
    std::vector<ReportFigure> drawn;
    time_series(data, &skipped, &drawn);
    std::string series;
    for (const ReportFigure& f : drawn) {
        series += f.svg + "\n";
    }
    std::string profiles;
    for (const ReportMeasurement& m : data.measurements) {
        if (m.kind == VUXOD_KIND_SCAN) {
            drawn.push_back(profile(m, data.instruments.size() > 1, &skipped));
            profiles += drawn.back().svg + "\n";
        }
    }
    if (figures != nullptr) {
        *figures = std::move(drawn);
    }

    std::string page = kHead;
    page += "<h1>Survey report</h1>\n<p class=\"small\">From " + escape(info.source) +
            (info.generated.empty() ? "" : ", made " + escape(info.generated)) + "</p>\n";
    page += "<table class=\"summary\">\n<tr><th>Instruments</th><td>" +
            (instruments.empty() ? "none" : instruments) + "</td></tr>\n";
    page += "<tr><th>Period</th><td>" +
            (c.first.empty() ? "none"
                             : escape(shown_time(c.first)) + " to " + escape(shown_time(c.last)) +
                                   " (instrument clock)") +
            "</td></tr>\n";
    page +=
        "<tr><th>Measurements</th><td>" +
        plural(c.singles, "single measurement", "single measurements") + ", " +
        plural(c.scans, "scan", "scans") +
        (c.others > 0 ? ", " + plural(c.others, "record", "records") + " of another kind" : "") +
        "</td></tr>\n";
    if (!info.selection.empty()) {
        page += "<tr><th>Selection</th><td>" + escape(info.selection) + "</td></tr>\n";
    }
    page += "</table>\n";
    if (skipped > 0) {
        page += "<p class=\"note\">" + escape(not_drawn(skipped)) +
                ": the figures skip them; the table shows them (NaN as an empty cell).</p>\n";
    }
    page += "<h2>Single measurements</h2>\n";
    page += series.empty() ? "<p>None.</p>\n" : "<div class=\"figures\">\n" + series + "</div>\n";
    page += "<h2>Scans</h2>\n";
    page +=
        profiles.empty() ? "<p>None.</p>\n" : "<div class=\"figures\">\n" + profiles + "</div>\n";
    page += "<h2>All measurements</h2>\n" + table(data);
    page += "</body>\n</html>\n";
    return page;
}

} // namespace vuxocli

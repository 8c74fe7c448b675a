#include "svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "civil_time.h"

namespace vuxocli::chart {

namespace {

constexpr double kFontSize = 11;
constexpr const char* kFont = "font-family=\"sans-serif\"";
constexpr const char* kRing = "#db2777";
constexpr double kDay = 86400;
constexpr double kInset = 6;

std::string fmt(const char* format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string px(double v) {
    std::string t = fmt("%.1f", v);
    return t == "-0.0" ? "0.0" : t;
}

// A step of 1, 2, 2.5 or 5 times a power of ten, at least raw.
double nice_step(double raw) {
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0}) {
        if (m * power >= raw * (1 - 1e-9)) {
            return m * power;
        }
    }
    return 10 * power;
}

std::vector<std::string> linear_labels(const std::vector<double>& ticks, double step) {
    const double big = std::max(std::fabs(ticks.front()), std::fabs(ticks.back()));
    const int step_exp = static_cast<int>(std::floor(std::log10(step) + 1e-9));
    // 2.5 times a power of ten needs one digit more than its power.
    const double mantissa = step / std::pow(10.0, step_exp);
    const int extra = std::fabs(mantissa - 2.5) < 1e-6 ? 1 : 0;
    std::vector<std::string> out;
    for (double t : ticks) {
        // A tick that is zero but for rounding prints as "0", not "-0" or "1e-17".
        const double v = std::fabs(t) < step * 1e-6 ? 0.0 : t;
        if (big >= 1e6 || step < 1e-4) {
            const int big_exp = static_cast<int>(std::floor(std::log10(std::max(big, step))));
            const int digits = std::clamp(big_exp - step_exp + extra, 0, 9);
            char text[64];
            std::snprintf(text, sizeof text, "%.*e", digits, v);
            out.emplace_back(text);
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "%.*f", std::max(0, -step_exp + extra), v);
            out.emplace_back(text);
        }
    }
    return out;
}

std::string decade_label(int e) {
    if (e >= -4 && e <= 5) {
        char text[32];
        std::snprintf(text, sizeof text, "%.*f", std::max(0, -e), std::pow(10.0, e));
        return text;
    }
    return "1e" + std::to_string(e);
}

// True when labels centred on their positions keep a gap between neighbours
// (horizontal), or when each has a label's height of room (vertical).
bool labels_fit(const Axis& a, double length, bool vertical) {
    if (a.ticks.size() < 2) {
        return true;
    }
    for (std::size_t i = 0; i + 1 < a.ticks.size(); ++i) {
        const double d =
            std::fabs(place(a, a.ticks[i + 1], 0, length) - place(a, a.ticks[i], 0, length));
        const double need =
            vertical ? kLabelHeight
                     : (label_width(a.labels[i]) + label_width(a.labels[i + 1])) / 2 + kLabelGap;
        if (d < need) {
            return false;
        }
    }
    return true;
}

Axis linear_axis(double lo, double hi, double length, bool vertical, bool integer) {
    if (hi <= lo) {
        const double pad = integer ? 1.0 : (lo == 0 ? 1.0 : std::fabs(lo) * 0.1);
        lo -= pad;
        hi += pad;
    }
    Axis a;
    const int most = std::max(2, static_cast<int>(length / (vertical ? 2 * kLabelHeight : 24)) + 1);
    for (int n = most; n >= 2; --n) {
        double step = nice_step((hi - lo) / (n - 1));
        if (integer) {
            step = std::max(1.0, step);
            if (step != std::floor(step)) {
                step *= 2; // 2.5 and the like: 5
            }
        }
        double first = std::floor(lo / step) * step;
        while (first > lo) {
            first -= step;
        }
        double last = std::ceil(hi / step) * step;
        while (last < hi) {
            last += step;
        }
        a = Axis{first, last, false, {}, {}};
        const long count = std::lround((last - first) / step);
        for (long i = 0; i <= count; ++i) {
            a.ticks.push_back(i == count ? last : first + static_cast<double>(i) * step);
        }
        a.labels = linear_labels(a.ticks, step);
        if (labels_fit(a, length, vertical)) {
            break;
        }
    }
    return a;
}

Axis log_axis(double lo, double hi, double length, bool vertical) {
    const int e0 = static_cast<int>(std::floor(std::log10(lo)));
    int e1 = static_cast<int>(std::ceil(std::log10(hi)));
    e1 = std::max(e1, e0 + 1);
    Axis a;
    for (int every = 1; every <= e1 - e0; ++every) {
        a = Axis{std::pow(10.0, e0), std::pow(10.0, e1), true, {}, {}};
        for (int e = e0; e <= e1; e += every) {
            a.ticks.push_back(std::pow(10.0, e));
            a.labels.push_back(decade_label(e));
        }
        if (labels_fit(a, length, vertical)) {
            break;
        }
    }
    // pow may land an ulp inside a value at the ends.
    a.lo = std::min(a.lo, lo);
    a.hi = std::max(a.hi, hi);
    return a;
}

vuxo::CivilTime utc(double t) {
    return vuxo::civil_from_seconds(static_cast<int64_t>(std::floor(t)));
}

double month_start(int months) { // months since year 0
    return static_cast<double>(vuxo::seconds_from_civil({0, months + 1, 1, 0, 0, 0}));
}

// What a tick's label shows: the part of its time that changes along the axis.
enum class Label { time_of_day, day_and_time, date, month, year };

std::string label_text(Label kind, const vuxo::CivilTime& t) {
    const long long year = t.year; // unpadded: year 5 reads "5"
    char text[64] = "";
    switch (kind) {
    case Label::time_of_day:
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
        break;
    case Label::day_and_time:
        std::snprintf(text, sizeof text, "%02d-%02d %02d:%02d", t.month, t.day, t.hour, t.minute);
        break;
    case Label::date:
        std::snprintf(text, sizeof text, "%lld-%02d-%02d", year, t.month, t.day);
        break;
    case Label::month:
        std::snprintf(text, sizeof text, "%lld-%02d", year, t.month);
        break;
    case Label::year:
        std::snprintf(text, sizeof text, "%lld", year);
        break;
    }
    return text;
}

struct TimeStep {
    double seconds; // 0: a calendar step of `months`
    int months;
    Label label;
};

constexpr TimeStep kTimeSteps[] = {
    {1, 0, Label::time_of_day},
    {2, 0, Label::time_of_day},
    {5, 0, Label::time_of_day},
    {10, 0, Label::time_of_day},
    {15, 0, Label::time_of_day},
    {30, 0, Label::time_of_day},
    {60, 0, Label::day_and_time},
    {120, 0, Label::day_and_time},
    {300, 0, Label::day_and_time},
    {600, 0, Label::day_and_time},
    {900, 0, Label::day_and_time},
    {1800, 0, Label::day_and_time},
    {3600, 0, Label::day_and_time},
    {7200, 0, Label::day_and_time},
    {10800, 0, Label::day_and_time},
    {21600, 0, Label::day_and_time},
    {43200, 0, Label::day_and_time},
    {kDay, 0, Label::date},
    {2 * kDay, 0, Label::date},
    {7 * kDay, 0, Label::date},
    {14 * kDay, 0, Label::date},
    {0, 1, Label::month},
    {0, 2, Label::month},
    {0, 3, Label::month},
    {0, 6, Label::month},
    {0, 12, Label::year},
    {0, 24, Label::year},
    {0, 60, Label::year},
    {0, 120, Label::year},
    {0, 240, Label::year},
    {0, 600, Label::year},
    {0, 1200, Label::year},
};

} // namespace

double label_width(std::string_view text) {
    return 0.62 * kFontSize * static_cast<double>(text.size()) + 2;
}

double place(const Axis& a, double v, double p0, double p1) {
    if (a.log) {
        const double l = std::log10(a.lo);
        return p0 + (p1 - p0) * (std::log10(v) - l) / (std::log10(a.hi) - l);
    }
    return p0 + (p1 - p0) * (v - a.lo) / (a.hi - a.lo);
}

Axis value_axis(double lo, double hi, double length, bool vertical, Scale scale) {
    if (scale == Scale::automatic && lo > 0 && hi / lo >= 100) {
        return log_axis(lo, hi, length, vertical);
    }
    return linear_axis(lo, hi, length, vertical, scale == Scale::integer);
}

Axis time_axis(double lo, double hi, double length) {
    if (hi <= lo) {
        lo -= kDay / 2;
        hi += kDay / 2;
    }
    Axis a;
    for (const TimeStep& s : kTimeSteps) {
        const double approx = s.seconds > 0 ? s.seconds : s.months * 30.4 * kDay;
        if ((hi - lo) / approx > length / 24 && &s != &kTimeSteps[std::size(kTimeSteps) - 1]) {
            continue;
        }
        a = Axis{};
        if (s.seconds > 0) {
            a.lo = std::floor(lo / s.seconds) * s.seconds;
            a.hi = std::ceil(hi / s.seconds) * s.seconds;
            for (double t = a.lo; t <= a.hi; t += s.seconds) {
                a.ticks.push_back(t);
            }
        } else {
            const vuxo::CivilTime first = utc(lo);
            int m = static_cast<int>((first.year * 12 + first.month - 1) / s.months * s.months);
            a.lo = month_start(m);
            // No more ticks than months of 28 days fit in the span, whatever the
            // calendar answers: a conversion that fails must not loop forever.
            const double most = (hi - lo) / (s.months * 28 * kDay) + 2;
            for (int n = 0; month_start(m) < hi && n < most; ++n, m += s.months) {
                a.ticks.push_back(month_start(m));
            }
            a.ticks.push_back(month_start(m));
            a.hi = a.ticks.back();
        }
        for (double t : a.ticks) {
            a.labels.push_back(label_text(s.label, utc(t)));
        }
        if (labels_fit(a, length, false)) {
            return a;
        }
    }
    // Centuries apart (a clock that was never set): every other tick goes until
    // the labels fit.
    while (!labels_fit(a, length, false)) {
        Axis thin = a;
        thin.ticks.clear();
        thin.labels.clear();
        for (std::size_t i = 0; i < a.ticks.size(); i += 2) {
            thin.ticks.push_back(a.ticks[i]);
            thin.labels.push_back(a.labels[i]);
        }
        a = thin;
    }
    return a;
}

std::string escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

struct Extent {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    bool any() const { return lo <= hi; }
    void add(double v) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
};

// Where everything goes: the frame, the inset area the axes map onto, the axes.
struct Layout {
    double left = 0, right = 0, top = 44, bottom = 0; // the frame
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;            // lo and hi of each axis
    Axis x;
    Axis y[2];
    bool used[2] = {false, false};   // an axis some trace is on
    bool filled[2] = {false, false}; // and it has a finite point
};

int axis_of(const Trace& t) {
    return t.axis == 1 ? 1 : 0;
}

std::string text_at(double x, double y, std::string_view anchor, std::string_view text,
                    std::string_view extra = "") {
    return "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\" text-anchor=\"" + std::string(anchor) +
           "\"" + std::string(extra) + ">" + escape(text) + "</text>";
}

std::string range_text(const Axis& a) {
    return fmt("%.17g", a.lo) + " " + fmt("%.17g", a.hi);
}

// With two value axes each is titled in the colour of its first trace.
std::string axis_color(const Figure& f, int k) {
    for (const Trace& t : f.traces) {
        if (axis_of(t) == k) {
            return t.color;
        }
    }
    return "#000";
}

Layout lay_out(const Figure& f, const Extent& ex, const Extent (&ey)[2]) {
    Layout l;
    l.bottom = f.height - (f.note.empty() ? 36 : 50);
    double margin[2] = {16, 16};
    for (const Trace& t : f.traces) {
        l.used[axis_of(t)] = true;
    }
    for (int k = 0; k < 2; ++k) {
        l.filled[k] = l.used[k] && ey[k].any();
        if (!l.used[k]) {
            continue;
        }
        if (l.filled[k]) {
            l.y[k] = value_axis(ey[k].lo, ey[k].hi, l.bottom - l.top - 2 * kInset, true,
                                Scale::automatic);
        }
        double widest = 0;
        for (const std::string& label : l.y[k].labels) {
            widest = std::max(widest, label_width(label));
        }
        margin[k] = widest + 26; // the labels, and the axis title outside them
    }
    l.left = std::max(40.0, margin[0]);
    l.right = f.width - margin[1];
    for (int pass = 0; pass < 3 && ex.any(); ++pass) {
        const double length = l.right - l.left - 2 * kInset;
        l.x = f.x_time ? time_axis(ex.lo, ex.hi, length)
                       : value_axis(ex.lo, ex.hi, length, false, f.x_scale);
        // The end ticks' labels are centred on them: make room where one would pass the edge.
        const double over = l.right - kInset + label_width(l.x.labels.back()) / 2 - (f.width - 2);
        const double under = label_width(l.x.labels.front()) / 2 - (l.left + kInset) + 2;
        if (over <= 0 && under <= 0) {
            break;
        }
        l.right -= std::max(over, 0.0);
        l.left += std::max(under, 0.0);
    }
    // Points keep clear of the frame by kInset, so one at the end of a range stays whole.
    l.x0 = l.left + kInset;
    l.x1 = l.right - kInset;
    l.y0 = l.bottom - kInset;
    l.y1 = l.top + kInset;
    return l;
}

std::string legend(const Figure& f, double x) {
    std::string s;
    for (const Trace& t : f.traces) {
        s += "<path d=\"M" + px(x) + " 31h14\" stroke=\"" + t.color + "\" stroke-width=\"3\"/>";
        s += text_at(x + 18, 35, "start", t.label);
        x += 30 + label_width(t.label);
    }
    if (!f.flagged_label.empty()) {
        s += "<circle cx=\"" + px(x + 5) + "\" cy=\"31\" r=\"4.5\" fill=\"none\" stroke=\"" +
             kRing + "\" stroke-width=\"1.5\"/>";
        s += text_at(x + 14, 35, "start", f.flagged_label);
    }
    return s;
}

std::string grid_and_labels(const Layout& l) {
    std::string s;
    for (std::size_t i = 0; i < l.x.ticks.size(); ++i) {
        const double x = place(l.x, l.x.ticks[i], l.x0, l.x1);
        s += "<path d=\"M" + px(x) + " " + px(l.top) + "V" + px(l.bottom) + "\" stroke=\"#eee\"/>";
        s += text_at(x, l.bottom + 14, "middle", l.x.labels[i]);
    }
    for (int k = 0; k < 2; ++k) {
        if (!l.filled[k]) {
            continue;
        }
        const Axis& a = l.y[k];
        for (std::size_t i = 0; i < a.ticks.size(); ++i) {
            const double y = place(a, a.ticks[i], l.y0, l.y1);
            if (k == 0) {
                s += "<path d=\"M" + px(l.left) + " " + px(y) + "H" + px(l.right) +
                     "\" stroke=\"#eee\"/>";
            }
            s += text_at(k == 0 ? l.left - 5 : l.right + 5, y + 4, k == 0 ? "end" : "start",
                         a.labels[i]);
        }
    }
    return s;
}

// The trace's line (broken where a value is missing), its dots as one path of
// zero-length round-capped moves, and the rings of its flagged points.
std::string trace_paths(const Trace& t, std::size_t n, const Layout& l) {
    const Axis& ay = l.y[axis_of(t)];
    std::string dots;
    std::string line;
    std::string rings;
    int run = 0; // finite points since the last gap
    for (std::size_t i = 0; i < t.x.size() && i < t.y.size(); ++i) {
        if (!std::isfinite(t.x[i]) || !std::isfinite(t.y[i])) {
            run = 0;
            continue;
        }
        const std::string at =
            px(place(l.x, t.x[i], l.x0, l.x1)) + " " + px(place(ay, t.y[i], l.y0, l.y1));
        dots += "M" + at + "h0";
        line += (run++ == 0 ? "M" : "L") + at;
        if (i < t.flagged.size() && t.flagged[i] != 0) {
            rings += "M" + at + "h0";
        }
    }
    // Dense points get smaller dots, so a long profile stays a line of points.
    const double size = std::clamp(
        (l.x1 - l.x0) / static_cast<double>(std::max<std::size_t>(t.x.size(), 1)), 2.0, 4.0);
    const auto round_path = [](const std::string& d, const char* color, double width,
                               const std::string& more = "") {
        return "<path" + more + " d=\"" + d + "\" stroke=\"" + color + "\" stroke-width=\"" +
               px(width) + "\" stroke-linecap=\"round\"/>";
    };
    std::string s;
    if (t.line && line.find('L') != std::string::npos) {
        s += "<path d=\"" + line + "\" fill=\"none\" stroke=\"" + t.color +
             "\" stroke-width=\"1\" stroke-opacity=\"0.6\"/>";
    }
    s += round_path(dots, t.color.c_str(), size,
                    " class=\"dots\" data-trace=\"" + std::to_string(n) + "\"");
    if (!rings.empty()) {
        // A wide dot in the ring colour, a white one inside it, the point on
        // top: a ring whatever lies under it.
        s += round_path(rings, kRing, 2.2 * size + 1);
        s += round_path(rings, "#fff", 1.2 * size + 0.5);
        s += round_path(rings, t.color.c_str(), size);
    }
    return s;
}

} // namespace

Drawn draw(const Figure& f) {
    Drawn out;
    // What each axis must hold: the finite points only.
    Extent ex;
    Extent ey[2];
    for (const Trace& t : f.traces) {
        for (std::size_t i = 0; i < t.x.size() && i < t.y.size(); ++i) {
            if (std::isfinite(t.x[i]) && std::isfinite(t.y[i])) {
                ex.add(t.x[i]);
                ey[axis_of(t)].add(t.y[i]);
                ++out.points;
            } else {
                ++out.skipped;
            }
        }
    }
    const Layout l = lay_out(f, ex, ey);

    std::string& s = out.svg;
    s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + px(f.width) + "\" height=\"" +
        px(f.height) + "\" viewBox=\"0 0 " + px(f.width) + " " + px(f.height) + "\" " + kFont +
        " font-size=\"" + px(kFontSize) + "\"" + (f.attributes.empty() ? "" : " " + f.attributes) +
        ">";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>";
    s += text_at(8, 17, "start", f.title, " font-size=\"13\" font-weight=\"bold\"");
    s += legend(f, l.left);
    s += "<g class=\"plot\" data-box=\"" + px(l.left) + " " + px(l.top) + " " + px(l.right) + " " +
         px(l.bottom) + "\" data-x=\"" + range_text(l.x) + "\"";
    for (int k = 0; k < 2; ++k) {
        if (l.used[k]) {
            s += " data-y" + std::to_string(k) + "=\"" + range_text(l.y[k]) + "\"";
        }
    }
    s += ">";
    s += "<rect x=\"" + px(l.left) + "\" y=\"" + px(l.top) + "\" width=\"" + px(l.right - l.left) +
         "\" height=\"" + px(l.bottom - l.top) + "\" fill=\"none\" stroke=\"#999\"/>";
    if (out.points == 0) {
        s += text_at((l.left + l.right) / 2, (l.top + l.bottom) / 2, "middle",
                     out.skipped > 0 ? "no finite values" : "no values", " fill=\"#666\"");
    } else {
        s += grid_and_labels(l);
    }
    for (std::size_t n = 0; n < f.traces.size(); ++n) {
        s += trace_paths(f.traces[n], n, l);
    }
    s += "</g>";
    if (!f.x_label.empty()) {
        s += text_at((l.left + l.right) / 2, l.bottom + 30, "middle", f.x_label);
    }
    for (int k = 0; k < 2; ++k) {
        if (l.used[k] && !f.y_label[k].empty()) {
            // Both titles read from the plot outwards: the left one upwards, the right downwards.
            const double x = k == 0 ? 12 : f.width - 12;
            const double y = (l.top + l.bottom) / 2;
            s += text_at(x, y, "middle", f.y_label[k],
                         " transform=\"rotate(" + std::string(k == 0 ? "-90 " : "90 ") + px(x) +
                             " " + px(y) + ")\"" +
                             (l.used[0] && l.used[1] ? " fill=\"" + axis_color(f, k) + "\"" : ""));
        }
    }
    if (!f.note.empty()) {
        s += text_at(8, f.height - 8, "start", f.note, " fill=\"#666\"");
    }
    s += "</svg>";
    return out;
}

} // namespace vuxocli::chart

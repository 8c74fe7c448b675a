// Reads the figures of a report page back for the tests: each <svg>'s own
// attributes, its plot box and axis ranges, and the points of each trace.
#ifndef VUXOCLI_TEST_REPORT_SVG_H
#define VUXOCLI_TEST_REPORT_SVG_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace report_svg {

using Range = std::pair<double, double>;

struct Figure {
    std::string tag;                                          // the <svg ...> start tag
    double box[4] = {};                                       // x0 y0 x1 y1
    std::map<std::string, Range> ranges;                      // "x", "y0", "y1"
    std::vector<std::vector<std::pair<double, double>>> dots; // per trace
};

inline std::string attr(const std::string& tag, const std::string& name) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = tag.find(key);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t from = at + key.size();
    return tag.substr(from, tag.find('"', from) - from);
}

inline std::vector<double> numbers(const std::string& text) {
    std::vector<double> out;
    const char* p = text.c_str();
    char* end = nullptr;
    for (;;) {
        while (*p != 0 && std::strchr("-.0123456789", *p) == nullptr) {
            ++p;
        }
        if (*p == 0) {
            return out;
        }
        out.push_back(std::strtod(p, &end));
        p = end;
    }
}

inline std::vector<Figure> figures(const std::string& html, const std::string& cls) {
    std::vector<Figure> out;
    const std::string open = "<svg ";
    for (std::size_t at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
        Figure f;
        f.tag = html.substr(at, html.find('>', at) - at + 1);
        if (attr(f.tag, "class") != cls) {
            continue;
        }
        const std::string body = html.substr(at, html.find("</svg>", at) - at);
        const std::size_t g = body.find("<g class=\"plot\"");
        const std::string plot = body.substr(g, body.find('>', g) - g + 1);
        const std::vector<double> box = numbers(attr(plot, "data-box"));
        for (std::size_t i = 0; i < 4 && i < box.size(); ++i) {
            f.box[i] = box[i];
        }
        for (const char* axis : {"x", "y0", "y1"}) {
            const std::string text = attr(plot, std::string("data-") + axis);
            if (!text.empty()) {
                const std::size_t space = text.find(' ');
                f.ranges[axis] = {std::strtod(text.c_str(), nullptr),
                                  std::strtod(text.c_str() + space, nullptr)};
            }
        }
        const std::string dots = "<path class=\"dots\"";
        for (std::size_t d = body.find(dots); d != std::string::npos; d = body.find(dots, d + 1)) {
            const std::string path = body.substr(d, body.find('>', d) - d + 1);
            const std::vector<double> xy = numbers(attr(path, "d"));
            auto& trace = f.dots.emplace_back();
            // "Mx yh0": x, y, then the 0 of h0.
            for (std::size_t i = 0; i + 1 < xy.size(); i += 3) {
                trace.emplace_back(xy[i], xy[i + 1]);
            }
        }
        out.push_back(std::move(f));
    }
    return out;
}

// Every point lies in the plot box, and every finite value of each trace in
// its axis's range; each trace has one point per finite value.
inline void expect_drawn(const Figure& f, const std::vector<double>& x,
                         const std::vector<std::vector<double>>& y) {
    ASSERT_EQ(f.dots.size(), y.size()) << f.tag;
    for (std::size_t t = 0; t < y.size(); ++t) {
        std::size_t finite = 0;
        const Range yr = f.ranges.at("y" + std::to_string(t));
        for (std::size_t i = 0; i < y[t].size(); ++i) {
            if (std::isfinite(y[t][i])) {
                ++finite;
                EXPECT_LE(yr.first, y[t][i]) << f.tag;
                EXPECT_GE(yr.second, y[t][i]) << f.tag;
                EXPECT_LE(f.ranges.at("x").first, x[i]) << f.tag;
                EXPECT_GE(f.ranges.at("x").second, x[i]) << f.tag;
            }
        }
        EXPECT_EQ(f.dots[t].size(), finite) << f.tag << " trace " << t;
        for (const auto& [px, py] : f.dots[t]) {
            EXPECT_TRUE(px >= f.box[0] && px <= f.box[2] && py >= f.box[1] && py <= f.box[3])
                << f.tag << " point " << px << "," << py;
        }
    }
}

} // namespace report_svg

#endif

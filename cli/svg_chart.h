// Charts as standalone SVG text: points against a value or time axis, up to two
// value axes (left and right), highlighted points, a legend. Everything is
// styled by attributes, so a chart reads the same inline in a page or on its own.
//
// Axes take nice steps (1, 2, 2.5 or 5 times a power of ten; calendar steps
// for time), hold every finite value, and carry no more ticks than their
// labels have room for. A value that is not finite (inf, NaN) is not drawn;
// draw() counts it.
#ifndef VUXOCLI_SVG_CHART_H
#define VUXOCLI_SVG_CHART_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vuxocli::chart {

struct Axis {
    double lo = 0;
    double hi = 1;
    bool log = false;
    std::vector<double> ticks; // ascending, within [lo, hi]
    std::vector<std::string> labels;
};

// The room a tick label takes along a horizontal axis, in pixels (an upper
// estimate at the charts' font size), and the gap kept between two labels.
double label_width(std::string_view text);
inline constexpr double kLabelGap = 12;
inline constexpr double kLabelHeight = 15; // a vertical axis's room per label

enum class Scale { linear, integer, automatic };

// An axis over the finite values lo <= hi, `length` pixels long. integer: ticks
// on whole numbers only (indices); automatic: logarithmic when every value is
// positive and they span two decades or more, else linear. One value alone gets
// a range around it.
Axis value_axis(double lo, double hi, double length, bool vertical, Scale scale);
// A horizontal axis over seconds since the epoch, read as UTC.
Axis time_axis(double lo, double hi, double length);

// Where v falls between the pixels p0 (at lo) and p1 (at hi).
double place(const Axis& axis, double v, double p0, double p1);

struct Trace {
    std::string label; // in the legend
    std::string color;
    int axis = 0;     // 0: the left axis, 1: the right one
    bool line = true; // join consecutive finite points
    std::vector<double> x;
    std::vector<double> y;
    std::vector<uint8_t> flagged; // empty, or one per point: ringed
};

struct Figure {
    std::string title;
    std::string x_label;
    bool x_time = false;
    Scale x_scale = Scale::linear; // when not x_time
    std::string y_label[2];
    std::vector<Trace> traces;
    std::string flagged_label; // legend text of the ring
    std::string note;          // a line under the plot
    std::string attributes;    // added to the <svg> element as they are (escaped by the caller)
    double width = 640;
    double height = 300;
};

struct Drawn {
    std::string svg;
    int points = 0;  // finite points drawn
    int skipped = 0; // points with a coordinate that is not finite
};

// The plot area is the element <g class="plot"> with data-box="x0 y0 x1 y1" and
// the ranges data-x, data-y0 and data-y1 ("lo hi"); each trace's points are one
// <path class="dots" data-trace="i"> of "M x y" moves.
Drawn draw(const Figure& figure);

// Text made safe for XML and HTML text and attribute values.
std::string escape(std::string_view text);

} // namespace vuxocli::chart

#endif

// The report as one self-contained HTML page: a header (instruments, period,
// counts), the single measurements against time, one profile per scan, and a
// table of every measurement. Inline SVG and CSS only; the page's content
// security policy forbids loading anything, so it opens the same off a USB
// stick on a laptop without network.
//
// Each profile is an <svg class="profile"> with data-instrument, data-slot and
// data-key; each time series an <svg class="series">. Points are drawn as
// svg_chart.h describes.
#ifndef VUXOCLI_REPORT_PAGE_H
#define VUXOCLI_REPORT_PAGE_H

#include <string>
#include <vector>

#include "report_data.h"

namespace vuxocli {

struct PageInfo {
    std::string source;    // the database, as named on the command line
    std::string selection; // the filter in words, empty for everything
    std::string generated; // when, UTC
};

// One figure: its SVG, standalone, and a name fit for a file (unique in a report).
struct ReportFigure {
    std::string name;
    std::string svg;
};

// The page; *figures (when given) receives its figures in the page's order.
std::string render_report(const ReportData& data, const PageInfo& info,
                          std::vector<ReportFigure>* figures = nullptr);

// One scan's profile, drawn as the report draws it (the instrument named).
ReportFigure scan_profile(const ReportMeasurement& m);

// "2026-03-03T02:14:26" as seconds since the epoch (the instrument's clock read
// as UTC); NaN when the text is no such time.
double taken_seconds(const std::string& iso);

} // namespace vuxocli

#endif

// The report's figures as PNG files, drawn by rsvg-convert (Debian's
// librsvg2-bin) from their standalone SVG: one process per figure, the SVG on
// its standard input, so nothing but the PNG files is written.
#ifndef VUXOCLI_REPORT_PNG_H
#define VUXOCLI_REPORT_PNG_H

#include <string>
#include <vector>

#include "report_page.h"

namespace vuxocli {

// Writes DIR/<name>.png for each figure, creating DIR when missing. Stops at
// the first failure: false with what failed in *error.
bool write_pngs(const std::vector<ReportFigure>& figures, const std::string& dir,
                std::string* error);

} // namespace vuxocli

#endif

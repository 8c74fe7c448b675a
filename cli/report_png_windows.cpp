// The report's PNG figures need rsvg-convert, which a Windows build does not
// ship: the HTML report and its SVG figures are written as on Linux, and
// --png says why it cannot be done here.
#include "report_png.h"

namespace vuxocli {

bool write_pngs(const std::vector<ReportFigure>& figures, const std::string& dir,
                std::string* error) {
    (void)figures;
    *error = dir + ": PNG figures are not available in this build (they need rsvg-convert); "
                   "the report's SVG figures are";
    return false;
}

} // namespace vuxocli

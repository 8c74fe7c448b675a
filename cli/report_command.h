// vuxoint report [--db FILE] [--instrument SERIAL] [--since DATE] [--until DATE] [-o FILE]
// [--png DIR]: the stored measurements as one self-contained HTML page
// (report_page.h), and its figures as PNG files (report_png.h).
#ifndef VUXOCLI_REPORT_COMMAND_H
#define VUXOCLI_REPORT_COMMAND_H

#include <string>

namespace CLI {
class App;
}

namespace vuxocli {

struct ReportOptions {
    std::string db = "vuxoint.db";
    std::string instrument;
    std::string since;
    std::string until;
    std::string output;  // the HTML page; empty: none; "-": standard output
    std::string png_dir; // the figures as PNG; empty: none
};

CLI::App* add_report_command(CLI::App& app, ReportOptions* opt);
int run_report(const ReportOptions& opt);

} // namespace vuxocli

#endif

// vuxoint report [--db FILE] [--instrument SERIAL] [--since DATE] [--until DATE] [-o FILE]
// [--png DIR]: the stored measurements as one self-contained HTML page
// (report_page.h), and its figures as PNG files (report_png.h).
#ifndef VUXOCLI_REPORT_COMMAND_H
#define VUXOCLI_REPORT_COMMAND_H

#include <functional>
#include <string>
#include <vector>

#include "report_page.h"

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

// The page (and its figures, when asked) for opt's database and filter, as run_report
// writes it: kExitOk, or the exit status with the words in *message. notice hears of
// a serial number the database does not know.
int make_report(const ReportOptions& opt, std::string* page, std::vector<ReportFigure>* figures,
                std::string* message, const std::function<void(const std::string&)>& notice);

} // namespace vuxocli

#endif

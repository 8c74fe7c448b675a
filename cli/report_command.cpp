#include "report_command.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "exit_status.h"
#include "export_command.h"
#include "export_rows.h"
#include "output_file.h"
#include "period.h"
#include "report_data.h"
#include "report_page.h"
#include "report_png.h"
#include "shared_options.h"
#include "shown_text.h"
#include "store.h"

namespace vuxocli {

CLI::App* add_report_command(CLI::App& app, ReportOptions* opt) {
    CLI::App* sub =
        app.add_subcommand("report", "Write the stored measurements as one HTML page of figures");
    add_db_option(sub, &opt->db, "The database file");
    sub->add_option("--instrument", opt->instrument, "Only the instrument with this serial number");
    add_period_options(sub, &opt->since, &opt->until);
    sub->add_option("-o,--output", opt->output, "The HTML file to write (\"-\": standard output)");
    sub->add_option("--png", opt->png_dir,
                    "Also (or only) each figure as DIR/NAME.png, drawn by rsvg-convert");
    sub->footer(
        "The page needs nothing but a browser: figures are inline SVG, no script, nothing\n"
        "loaded. It shows the instruments, the period and the counts; the single\n"
        "measurements against the time taken (one chart per instrument, quantity and\n"
        "units; notes ringed); one profile per scan (value against index, marked values\n"
        "ringed, V2 conductivity on its own axis on the right); and a table of every\n"
        "measurement with the fields of vuxoint export. A value axis is logarithmic\n"
        "when its values are all positive and span two decades or more. Values that are\n"
        "inf or NaN are not drawn; the page counts them.\n"
        "\n"
        "--png DIR writes the same figures as PNG files (series-SERIAL-QUANTITY-UNITS.png,\n"
        "scan-SERIAL-SLOT-KEY.png) through rsvg-convert (Debian package librsvg2-bin),\n"
        "one process per figure. At least one of -o and --png is needed.\n");
    return sub;
}

int make_report(const ReportOptions& opt, std::string* page, std::vector<ReportFigure>* figures,
                std::string* message, const std::function<void(const std::string&)>& notice) {
    QueryFilter filter;
    if (!set_period(opt.since, opt.until, &filter, message)) {
        return kExitUsage;
    }
    std::unique_ptr<Store> store;
    const int rc = open_to_read(opt.db, typed(opt.instrument), &store, message, notice);
    if (rc != VUXOD_OK) {
        return vuxod_exit_status(rc);
    }
    std::string error;
    PageInfo info;
    info.source = opt.db;
    info.generated = iso_utc_now();
    if (!opt.instrument.empty()) {
        filter.serial = typed(opt.instrument);
        info.selection = "instrument " + opt.instrument;
    }
    if (!opt.since.empty()) {
        info.selection +=
            (info.selection.empty() ? "" : ", ") + std::string("taken since ") + opt.since;
    }
    if (!opt.until.empty()) {
        info.selection +=
            (info.selection.empty() ? "" : ", ") + std::string("taken until ") + opt.until;
    }
    ReportData data;
    if (!load_report(*store, filter, &data, &error)) {
        *message = "database " + opt.db + ": read: " + error;
        return kExitDatabase;
    }
    *page = render_report(data, info, figures);
    return kExitOk;
}

int run_report(const ReportOptions& opt) {
    if (opt.output.empty() && opt.png_dir.empty()) {
        std::fprintf(stderr, "vuxoint: report: -o FILE, --png DIR or both\n");
        return kExitUsage;
    }
    std::string page;
    std::string message;
    std::vector<ReportFigure> figures;
    const int status = make_report(opt, &page, &figures, &message, [](const std::string& text) {
        std::fprintf(stderr, "vuxoint: %s\n", text.c_str());
    });
    if (status != kExitOk) {
        std::fprintf(stderr, "vuxoint: %s\n", message.c_str());
        return status;
    }
    std::string error;
    errno = 0;
    if (!opt.output.empty() && !write_output(opt.output, page)) {
        std::fprintf(stderr, "vuxoint: %s: write: %s\n", output_name(opt.output).c_str(),
                     std::strerror(errno));
        return kExitIncomplete;
    }
    if (!opt.png_dir.empty() && !write_pngs(figures, opt.png_dir, &error)) {
        std::fprintf(stderr, "vuxoint: --png: %s\n", error.c_str());
        return kExitIncomplete;
    }
    return kExitOk;
}

} // namespace vuxocli

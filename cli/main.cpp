// vuxoint: measurements off the instrument into a local SQLite database
// (sync, watch), and out of it for analysis (export, report); the instrument
// itself (list, info, clock).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "clock_command.h"
#include "conn_target.h"
#include "exit_status.h"
#include "export_command.h"
#include "info_command.h"
#include "list_command.h"
#include "program_io.h"
#include "push_command.h"
#include "report_command.h"
#include "serve_command.h"
#include "sync_command.h"
#include "watch_command.h"

namespace {

using namespace vuxocli;

const std::string kDescription =
    "vuxoint - keep a handheld susceptibility and conductivity meter's measurements in a\n"
    "local database\n"
    "\n"
    "vuxoint sync copies every measurement stored on the instrument (generation V1 or V2)\n"
    "that the database does not hold yet; vuxoint watch prints (and stores) each new one\n"
    "as it is taken; vuxoint export writes the database out as CSV, JSON or NDJSON;\n"
    "vuxoint report draws it as one self-contained HTML page; vuxoint push copies a\n"
    "field laptop's database into the team's shared one. vuxoint list finds\n"
    "instruments, vuxoint info shows one, vuxoint clock reads or sets its clock.\n"
    "vuxoint serve shows all of it in a browser.\n";

std::string footer() {
    return std::string(conn_forms_help()) +
           "\n"
           "Database: vuxoint.db in the current directory unless --db names another; SQLite,\n"
           "tables instruments, measurements and scan_values (see docs/tool.md). --db\n"
           "postgresql://USER@HOST[:PORT]/DBNAME keeps it on a PostgreSQL server instead\n"
           "(the password from PGPASSWORD or ~/.pgpass; see docs/team-database.md).\n"
           "\n"
           "Exit status:\n"
           "  0    sync: every record fetched; export: everything written; the others: done\n"
           "  1    sync: some record, or the entry list, could not be read (what was stored\n"
           "       is kept; run sync again); export: the output could not be written;\n"
           "       info, clock, watch: something could not be read or set\n"
           "  2    a bad command line\n"
           "  3    no connection, no instrument answered on it (list: none found), or the\n"
           "       connection was lost\n"
           "  4    the database cannot be opened, is not a vuxoint database, or a write failed\n"
           "  130  interrupted by Ctrl-C or SIGTERM (what was stored is kept)\n"
           "\n"
           "Examples:\n"
           "  vuxoint sync tcp://127.0.0.1:5000     the simulator, vuxoint-sim --port 5000\n"
           "  vuxoint sync /dev/ttyUSB0 --db field.db\n"
           "  vuxoint sync usb --json\n"
           "  vuxoint export --format csv -o measurements.csv\n"
           "  vuxoint export --scans --since 2026-06-01 --format ndjson\n"
           "  vuxoint report -o report.html\n"
           "  vuxoint list --bt\n"
           "  vuxoint info usb\n"
           "  vuxoint clock tcp://127.0.0.1:5000 --set-now\n"
           "  vuxoint watch usb --db vuxoint.db --json\n"
           "  vuxoint push --from field.db --to postgresql://survey@dbhost/survey\n"
           "  vuxoint serve --open\n";
}

} // namespace

int main(int argc, char** argv) {
    vuxo::set_binary_stdout();
    CLI::App app(kDescription, "vuxoint");
    app.set_version_flag("--version", std::string("vuxoint ") + VUXOINT_VERSION);
    app.require_subcommand(1);
    app.footer(footer());
    SyncOptions sync;
    ExportOptions exp;
    CLI::App* sync_cmd = add_sync_command(app, &sync);
    CLI::App* export_cmd = add_export_command(app, &exp);
    ReportOptions report;
    CLI::App* report_cmd = add_report_command(app, &report);
    ListOptions list;
    CLI::App* list_cmd = add_list_command(app, &list);
    InfoOptions info;
    CLI::App* info_cmd = add_info_command(app, &info);
    ClockOptions clock;
    CLI::App* clock_cmd = add_clock_command(app, &clock);
    WatchOptions watch;
    CLI::App* watch_cmd = add_watch_command(app, &watch);
    PushOptions push;
    CLI::App* push_cmd = add_push_command(app, &push);
    ServeOptions serve;
    CLI::App* serve_cmd = add_serve_command(app, &serve);
    // CLI11 would take an unknown word for a missing subcommand.
    if (argc > 1 && argv[1][0] != '-') {
        std::string names;
        bool known = false;
        for (const CLI::App* sub : app.get_subcommands({})) {
            names += (names.empty() ? "" : ", ") + sub->get_name();
            known = known || sub->check_name(argv[1]);
        }
        if (!known) {
            std::fprintf(stderr, "vuxoint: unknown subcommand \"%s\" (one of: %s)\n", argv[1],
                         names.c_str());
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end with 0; every other parse error is a usage error.
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    if (sync_cmd->parsed()) {
        return run_sync(sync);
    }
    if (export_cmd->parsed()) {
        return run_export(exp);
    }
    if (report_cmd->parsed()) {
        return run_report(report);
    }
    if (list_cmd->parsed()) {
        return run_list(list);
    }
    if (info_cmd->parsed()) {
        return run_info(info);
    }
    if (clock_cmd->parsed()) {
        return run_clock(clock);
    }
    if (watch_cmd->parsed()) {
        return run_watch(watch);
    }
    if (push_cmd->parsed()) {
        return run_push(push);
    }
    if (serve_cmd->parsed()) {
        return run_serve(serve);
    }
    return kExitUsage;
}

#include "export_command.h"

#include <CLI/CLI.hpp>
#include <array>
#include <cstdio>

#include "export_rows.h"
#include "shared_options.h"
#include "shown_text.h"
#include "vuxodata.h"

namespace vuxocli {

CLI::App* add_export_command(CLI::App& app, ExportOptions* opt) {
    CLI::App* sub = app.add_subcommand("export", "Write the stored measurements as CSV or JSON");
    add_db_option(sub, &opt->db, "The database file");
    // Checked by the record layer's export, as for every front.
    sub->add_option("--format", opt->format, "csv, json or ndjson")->capture_default_str();
    sub->add_option("--instrument", opt->instrument, "Only the instrument with this serial number");
    add_period_options(sub, &opt->since, &opt->until);
    sub->add_flag("--scans", opt->scans,
                  "One row per reading (a scan's profile, a single measurement's readings)");
    sub->add_flag("--si", opt->si,
                  "Susceptibility in SI (CGS x 4 pi), conductivity in S/m (1 / Ohm.m); \"%\" "
                  "values left as they are");
    sub->add_option("--order", opt->order, "time (the instrument's clock) or key")
        ->check(CLI::IsMember({"time", "key"}))
        ->capture_default_str();
    sub->add_option("-o,--output", opt->output,
                    "Write to FILE instead of standard output (\"-\": standard output)");
    sub->footer(
        "The export format, version 2 (docs/export-format.md explains every column).\n"
        "CSV follows RFC 4180: a header row, then one row per measurement; fields are\n"
        "quoted when needed, lines end in CRLF, an empty field is a value the instrument's\n"
        "generation does not have. Columns: instrument, generation, slot, key, note,\n"
        "note_text (a V1 note's text), number, id, taken_at, kind (single, scan, none or\n"
        "other), record_flags, unit_bits, curve_s, curve_c, pin, error, diameter, tag,\n"
        "susceptibility, susceptibility_units, conductivity, conductivity_units (Ohm.m: a\n"
        "resistivity), first_count, value_count, downloaded_at, format_version (2).\n"
        "susceptibility is kappa on a V1 instrument. taken_at is the instrument's own clock\n"
        "(ISO 8601, no zone), downloaded_at UTC. Rows are in time order (taken_at, then\n"
        "instrument, key, slot); --order key gives each instrument's key order. Floats are\n"
        "written in their shortest form that reads back to the instrument's 32-bit value.\n"
        "\n"
        "--scans writes one row per reading: instrument, generation, slot, key, number,\n"
        "taken_at, kind, index, susceptibility, susceptibility_units, conductivity,\n"
        "conductivity_units, mark, format_version.\n"
        "json writes one array of objects, ndjson one object a line, with the same fields.\n"
        "--si: kappa_SI = 4 pi kappa_CGS; an Ohm.m resistivity rho becomes 1/rho in S/m;\n"
        "a \"%\" value is relative and stays as it is, its units still \"%\".\n"
        "\n"
        "Texts, the serial number above all (the instrument's raw bytes), show a byte that\n"
        "is not printable text as \\xNN and a backslash as \\\\; --instrument takes the\n"
        "serial as shown. -o replaces a file (or the file a link leads to) only once the\n"
        "export is complete, and writes through a FIFO or a device.\n");
    return sub;
}

namespace {

void say(const char* text, void*) {
    std::fprintf(stderr, "vuxoint: %s\n", text);
}

} // namespace

int open_for_reading(const std::string& db, const std::string& instrument,
                     std::unique_ptr<Store>* store) {
    std::string message;
    const int rc = open_to_read(db, typed(instrument), store, &message,
                                [](const std::string& text) { say(text.c_str(), nullptr); });
    if (rc != VUXOD_OK) {
        say(message.c_str(), nullptr);
    }
    return vuxod_exit_status(rc);
}

int run_export(const ExportOptions& opt) {
    vuxod_export_options o;
    vuxod_export_options_init(&o);
    o.format = opt.format.c_str();
    o.instrument = opt.instrument.c_str();
    o.since = opt.since.c_str();
    o.until = opt.until.c_str();
    o.output = opt.output.c_str();
    o.notice = say;
    o.flags = (opt.scans ? VUXOD_EXPORT_VALUES : 0) | (opt.si ? VUXOD_EXPORT_SI : 0) |
              (opt.order == "key" ? VUXOD_EXPORT_KEY_ORDER : 0);
    std::array<char, 1024> message{};
    const int rc = vuxod_export(opt.db.c_str(), &o, message.data(), message.size());
    if (rc != VUXOD_OK) {
        say(message.data(), nullptr);
    }
    return vuxod_exit_status(rc);
}

} // namespace vuxocli

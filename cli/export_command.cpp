#include "export_command.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "exit_status.h"
#include "export_formats.h"
#include "output_file.h"
#include "shared_options.h"
#include "shown_text.h"
#include "store.h"

namespace vuxocli {

CLI::App* add_export_command(CLI::App& app, ExportOptions* opt) {
    CLI::App* sub = app.add_subcommand("export", "Write the stored measurements as CSV or JSON");
    add_db_option(sub, &opt->db, "The database file");
    sub->add_option("--format", opt->format, "csv, json or ndjson")
        ->check(CLI::IsMember({"csv", "json", "ndjson"}))
        ->capture_default_str();
    sub->add_option("--instrument", opt->instrument, "Only the instrument with this serial number");
    add_period_options(sub, &opt->since, &opt->until);
    sub->add_flag("--scans", opt->scans, "One row per scan value (long form)");
    sub->add_option("-o,--output", opt->output,
                    "Write to FILE instead of standard output (\"-\": standard output)");
    sub->footer(
        "CSV follows RFC 4180: a header row, then one row per measurement; fields are\n"
        "quoted when needed, lines end in CRLF, an empty field is a value the instrument's\n"
        "generation does not have. Columns: instrument, generation, slot, key, note,\n"
        "note_text (a V1 note's text), number, id, taken_at, kind, record_flags, unit_bits,\n"
        "curve_s, curve_c, pin, error, diameter, tag, susceptibility, susceptibility_units,\n"
        "conductivity, conductivity_units, "
        "first_count, value_count, downloaded_at. susceptibility is kappa on a V1\n"
        "instrument. taken_at is the instrument's own clock (ISO 8601, no zone),\n"
        "downloaded_at UTC. Floats are written in their shortest form that reads back to\n"
        "the instrument's 32-bit value.\n"
        "\n"
        "--scans writes the long form: instrument, generation, slot, key, number, taken_at,\n"
        "index, susceptibility, susceptibility_units, conductivity, conductivity_units, mark.\n"
        "json writes one array of objects, ndjson one object a line, with the same fields.\n"
        "\n"
        "Texts, the serial number above all (the instrument's raw bytes), show a byte that\n"
        "is not printable text as \\xNN and a backslash as \\\\; --instrument takes the\n"
        "serial as shown. -o replaces a file (or the file a link leads to) only once the\n"
        "export is complete, and writes through a FIFO or a device.\n");
    return sub;
}

int open_for_reading(const std::string& db, const std::string& instrument,
                     std::unique_ptr<Store>* store) {
    struct stat st {};
    if (stat(db.c_str(), &st) != 0) {
        std::fprintf(stderr, "vuxoint: database %s: open: no such file (vuxoint sync creates it)\n",
                     db.c_str());
        return kExitDatabase;
    }
    std::string error;
    *store = Store::open(db, Store::Mode::read, &error);
    if (!*store) {
        std::fprintf(stderr, "vuxoint: database %s: open: %s\n", db.c_str(), error.c_str());
        return kExitDatabase;
    }
    // A mistyped serial number would otherwise pass as an instrument with
    // nothing stored.
    int64_t id = 0;
    std::string firmware;
    if (!instrument.empty() &&
        !(*store)->find_instrument(typed(instrument), &id, &firmware, &error)) {
        std::fprintf(stderr, "vuxoint: database %s: no instrument %s%s%s\n", db.c_str(),
                     shown(typed(instrument)).c_str(), error.empty() ? "" : ": ", error.c_str());
    }
    return kExitOk;
}

int run_export(const ExportOptions& opt) {
    const std::optional<Format> format = parse_format(opt.format);
    if (!format) {
        std::fprintf(stderr, "vuxoint: --format: csv, json or ndjson, not \"%s\"\n",
                     opt.format.c_str());
        return kExitUsage;
    }
    QueryFilter filter;
    if (!set_period(opt.since, opt.until, &filter)) {
        return kExitUsage;
    }
    std::unique_ptr<Store> store;
    if (const int status = open_for_reading(opt.db, opt.instrument, &store); status != kExitOk) {
        return status;
    }
    std::string error;
    OutputFile output(opt.output);
    std::FILE* out = output.open();
    if (out == nullptr) {
        std::fprintf(stderr, "vuxoint: %s: create: %s\n", output_name(opt.output).c_str(),
                     std::strerror(errno));
        return kExitIncomplete;
    }
    if (!opt.instrument.empty()) {
        filter.serial = typed(opt.instrument);
    }
    filter.scans = opt.scans;
    const std::unique_ptr<RowWriter> writer = make_writer(*format, out);
    const bool ok = store->query(
        filter, [&](const std::vector<std::string>& names) { writer->header(names); },
        [&](const std::vector<Value>& row) {
            writer->row(row);
            return std::ferror(out) == 0;
        },
        &error);
    if (!ok) {
        std::fprintf(stderr, "vuxoint: database %s: read: %s\n", opt.db.c_str(), error.c_str());
        return kExitDatabase;
    }
    writer->finish();
    if (!output.commit()) {
        std::fprintf(stderr, "vuxoint: %s: write: %s\n", output_name(opt.output).c_str(),
                     std::strerror(errno));
        return kExitIncomplete;
    }
    return kExitOk;
}

} // namespace vuxocli

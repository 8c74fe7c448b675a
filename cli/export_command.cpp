#include "export_command.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "exit_status.h"
#include "export_formats.h"
#include "output_file.h"
#include "shown_text.h"
#include "store.h"

namespace vuxocli {

namespace {

bool digits_at(const std::string& t, std::size_t pos, std::size_t n) {
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (i >= t.size() || std::isdigit(static_cast<unsigned char>(t[i])) == 0) {
            return false;
        }
    }
    return true;
}

} // namespace

bool valid_since(const std::string& t) {
    const bool date = t.size() >= 10 && digits_at(t, 0, 4) && t[4] == '-' && digits_at(t, 5, 2) &&
                      t[7] == '-' && digits_at(t, 8, 2);
    if (!date) {
        return false;
    }
    if (t.size() == 10) {
        return true;
    }
    const bool minutes = t.size() >= 16 && t[10] == 'T' && digits_at(t, 11, 2) && t[13] == ':' &&
                         digits_at(t, 14, 2);
    return minutes && (t.size() == 16 || (t.size() == 19 && t[16] == ':' && digits_at(t, 17, 2)));
}

CLI::App* add_export_command(CLI::App& app, ExportOptions* opt) {
    CLI::App* sub = app.add_subcommand("export", "Write the stored measurements as CSV or JSON");
    sub->add_option("--db", opt->db, "The database file")->capture_default_str();
    sub->add_option("--format", opt->format, "csv, json or ndjson")
        ->check(CLI::IsMember({"csv", "json", "ndjson"}))
        ->capture_default_str();
    sub->add_option("--instrument", opt->instrument, "Only the instrument with this serial number");
    sub->add_option("--since", opt->since,
                    "Only measurements taken on or after DATE (YYYY-MM-DD[THH:MM[:SS]])");
    sub->add_flag("--scans", opt->scans, "One row per scan value (long form)");
    sub->add_option("-o,--output", opt->output, "Write to FILE instead of standard output");
    sub->footer(
        "CSV follows RFC 4180: a header row, then one row per measurement; fields are\n"
        "quoted when needed, lines end in CRLF, an empty field is a value the instrument's\n"
        "generation does not have. Columns: instrument, generation, slot, key, note, number,\n"
        "id, taken_at, kind, record_flags, unit_bits, curve_s, curve_c, pin, error, diameter,\n"
        "tag, susceptibility, susceptibility_units, conductivity, conductivity_units,\n"
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

int open_for_reading(const std::string& db, const std::string& since,
                     std::unique_ptr<Store>* store) {
    if (!since.empty() && !valid_since(since)) {
        std::fprintf(stderr, "vuxoint: --since: YYYY-MM-DD[THH:MM[:SS]], not \"%s\"\n",
                     since.c_str());
        return kExitUsage;
    }
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
    return kExitOk;
}

int run_export(const ExportOptions& opt) {
    const std::optional<Format> format = parse_format(opt.format);
    if (!format) {
        std::fprintf(stderr, "vuxoint: --format: csv, json or ndjson, not \"%s\"\n",
                     opt.format.c_str());
        return kExitUsage;
    }
    std::unique_ptr<Store> store;
    if (const int status = open_for_reading(opt.db, opt.since, &store); status != kExitOk) {
        return status;
    }
    std::string error;
    OutputFile output(opt.output);
    std::FILE* out = output.open();
    if (out == nullptr) {
        std::fprintf(stderr, "vuxoint: %s: create: %s\n", opt.output.c_str(), std::strerror(errno));
        return kExitIncomplete;
    }
    QueryFilter filter;
    if (!opt.instrument.empty()) {
        filter.serial = typed(opt.instrument);
    }
    if (!opt.since.empty()) {
        filter.since = opt.since;
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
        std::fprintf(stderr, "vuxoint: %s: write: %s\n",
                     opt.output.empty() ? "standard output" : opt.output.c_str(),
                     std::strerror(errno));
        return kExitIncomplete;
    }
    return kExitOk;
}

} // namespace vuxocli

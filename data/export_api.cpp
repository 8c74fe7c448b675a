// The export for every front: the tool's export command and Python's both call
// vuxod_export, so the same options give the same bytes, messages and statuses.
#include <cerrno>
#include <cstring>
#include <exception>

#include "c_text.h"
#include "export_rows.h"
#include "export_writer.h"
#include "output_file.h"
#include "period.h"
#include "shown_text.h"
#include "vuxodata.h"

namespace {

using vuxocli::Format;

std::string text_or_empty(const char* text) {
    return text != nullptr ? text : "";
}

// The query the options ask for; VUXOD_E_ARGUMENT with the message otherwise.
int read_options(const vuxod_export_options& o, vuxocli::ExportQuery* q, Format* format,
                 std::string* message) {
    const std::string name = o.format != nullptr ? o.format : "csv";
    const std::optional<Format> f = vuxocli::parse_format(name);
    if (!f) {
        *message = "--format: csv, json or ndjson, not \"" + name + "\"";
        return VUXOD_E_ARGUMENT;
    }
    *format = *f;
    if (!vuxocli::set_period(text_or_empty(o.since), text_or_empty(o.until), &q->filter, message)) {
        return VUXOD_E_ARGUMENT;
    }
    if (o.instrument != nullptr && o.instrument[0] != '\0') {
        q->filter.serial = vuxocli::typed(o.instrument);
    }
    q->filter.scans = (o.flags & VUXOD_EXPORT_VALUES) != 0;
    q->filter.key_order = (o.flags & VUXOD_EXPORT_KEY_ORDER) != 0;
    q->si = (o.flags & VUXOD_EXPORT_SI) != 0;
    return VUXOD_OK;
}

int run_export(const char* db_path, const vuxod_export_options& o, std::string* message) {
    vuxocli::ExportQuery query;
    Format format = Format::csv;
    if (const int rc = read_options(o, &query, &format, message); rc != VUXOD_OK) {
        return rc;
    }
    std::unique_ptr<vuxocli::Store> store;
    const auto notice = [&o](const std::string& text) {
        if (o.notice != nullptr) {
            o.notice(text.c_str(), o.user);
        }
    };
    const std::string instrument = query.filter.serial.value_or("");
    if (const int rc = vuxocli::open_to_read(db_path, instrument, &store, message, notice);
        rc != VUXOD_OK) {
        return rc;
    }
    // The file is opened only now, so that a refused export leaves none behind.
    const std::string output = o.sink != nullptr ? "" : text_or_empty(o.output);
    vuxocli::OutputFile file(output);
    std::FILE* out = o.sink != nullptr ? nullptr : file.open();
    if (o.sink == nullptr && out == nullptr) {
        *message = vuxocli::output_name(output) + ": create: " + std::strerror(errno);
        return VUXOD_E_OUTPUT;
    }
    vuxocli::Sink sink = [&o, out](std::string_view bytes) {
        if (out == nullptr) {
            return o.sink(bytes.data(), bytes.size(), o.user) == 0;
        }
        return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    };
    const auto writer = vuxocli::make_writer(format, std::move(sink));
    std::string error;
    const bool read = vuxocli::export_rows(
        *store, query, [&](const std::vector<std::string>& names) { writer->header(names); },
        [&](const std::vector<vuxocli::Value>& row) {
            writer->row(row);
            return writer->ok();
        },
        &error);
    if (!read) {
        *message = std::string("database ") + db_path + ": read: " + error;
        return VUXOD_E_DATABASE;
    }
    writer->finish();
    if (!writer->ok() || (out != nullptr && !file.commit())) {
        *message = vuxocli::output_name(output) + ": write: " +
                   (out != nullptr ? std::strerror(errno) : "the receiver refused the data");
        return VUXOD_E_OUTPUT;
    }
    return VUXOD_OK;
}

} // namespace

extern "C" void vuxod_export_options_init(vuxod_export_options* o) {
    if (o != nullptr) {
        *o = vuxod_export_options{};
        o->struct_size = sizeof *o;
    }
}

extern "C" int vuxod_export(const char* db_path, const vuxod_export_options* o, char* message,
                            size_t message_size) {
    if (db_path == nullptr || o == nullptr || o->struct_size < sizeof(vuxod_export_options)) {
        vuxocli::copy_text(message, message_size, "export: missing database or options");
        return VUXOD_E_ARGUMENT;
    }
    std::string text;
    int rc = VUXOD_E_NO_MEMORY;
    try {
        rc = run_export(db_path, *o, &text);
    } catch (const std::exception& e) {
        text = std::string("export: ") + e.what();
    }
    vuxocli::copy_text(message, message_size, text);
    return rc;
}

extern "C" int vuxod_exit_status(int code) {
    switch (code) {
    case VUXOD_OK:
        return 0;
    case VUXOD_E_ARGUMENT:
    case VUXOD_E_CONN_FORM:
        return 2;
    case VUXOD_E_DATABASE:
        return 4;
    case VUXOD_E_NOT_FOUND:
        return 3;
    default:
        // A lost link or a silent instrument is "no instrument"; the rest
        // (a failed record, an output cut short) leaves the job incomplete.
        return code < 0 && code > -4096 ? 3 : 1;
    }
}

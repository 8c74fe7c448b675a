// The database: a page of measurements, one measurement with its chart, the
// export (vuxod_export's own bytes) and the report page, all read through the
// same functions as export and report.
#include <httplib.h>

#include <array>
#include <cmath>

#include "export_rows.h"
#include "number_text.h"
#include "period.h"
#include "report_command.h"
#include "report_data.h"
#include "server.h"
#include "shown_text.h"

namespace vuxocli::serve {

namespace {

constexpr int64_t kMaxLimit = 500;

void reply(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    "application/json");
}

// Floats as export writes them (the shortest text of the stored float); texts
// through the tool's one escape rule, so the JSON is always UTF-8.
nlohmann::json json_value(const Value& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) {
        return *i;
    }
    if (const auto* d = std::get_if<double>(&v)) {
        return std::isfinite(*d) ? nlohmann::json::parse(number_text(*d)) : nlohmann::json();
    }
    if (const auto* t = std::get_if<std::string>(&v)) {
        return shown(*t);
    }
    return nullptr;
}

std::optional<int64_t> kind_number(const std::string& text) {
    for (int64_t kind = VUXOD_KIND_NONE; kind <= VUXOD_KIND_OTHER; ++kind) {
        if (text == kind_text(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<int64_t> whole_number(const std::string& text) {
    try {
        std::size_t used = 0;
        const long long n = std::stoll(text, &used);
        return used == text.size() ? std::optional<int64_t>(n) : std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The filter every view takes: instrument, since, until. False with the words.
bool read_filter(const httplib::Request& req, QueryFilter* f, std::string* why) {
    if (!set_period(req.get_param_value("since"), req.get_param_value("until"), f, why)) {
        return false;
    }
    if (const std::string serial = req.get_param_value("instrument"); !serial.empty()) {
        f->serial = typed(serial);
    }
    return true;
}

// The database for reading, or the reply already made.
std::unique_ptr<Store> open_store(const ServeState& s, const std::string& instrument,
                                  httplib::Response& res) {
    std::unique_ptr<Store> store;
    std::string message;
    if (open_to_read(s.config.db, instrument, &store, &message, [](const std::string&) {}) !=
        VUXOD_OK) {
        reply(res, 404, {{"error", message}});
        return nullptr;
    }
    return store;
}

void measurements(const ServeState& s, const httplib::Request& req, httplib::Response& res) {
    PageQuery q;
    std::string why;
    if (!read_filter(req, &q.filter, &why)) {
        reply(res, 400, {{"error", why}});
        return;
    }
    if (const std::string kind = req.get_param_value("kind"); !kind.empty()) {
        q.kind = kind_number(kind);
        if (!q.kind) {
            reply(res, 400, {{"error", "kind: single, scan, none or other"}});
            return;
        }
    }
    if (const std::string note = req.get_param_value("note"); !note.empty()) {
        q.note = note;
    }
    if (req.has_param("sort")) {
        q.sort = req.get_param_value("sort");
    }
    q.descending = req.get_param_value("order") == "desc";
    const std::optional<int64_t> page =
        whole_number(req.get_param_value("page").empty() ? "1" : req.get_param_value("page"));
    const std::optional<int64_t> limit =
        whole_number(req.get_param_value("limit").empty() ? "50" : req.get_param_value("limit"));
    if (!page || *page < 1 || !limit || *limit < 1 || *limit > kMaxLimit) {
        reply(res, 400, {{"error", "page from 1, limit from 1 to 500"}});
        return;
    }
    q.limit = *limit;
    q.offset = (*page - 1) * *limit;
    const std::unique_ptr<Store> store = open_store(s, req.get_param_value("instrument"), res);
    if (!store) {
        return;
    }
    nlohmann::json out = {{"page", *page}, {"limit", *limit}};
    nlohmann::json rows = nlohmann::json::array();
    int64_t total = 0;
    const bool ok = store->page(
        q, [&out](const std::vector<std::string>& names) { out["columns"] = names; },
        [&rows](const std::vector<Value>& row) {
            nlohmann::json r = nlohmann::json::array();
            for (const Value& v : row) {
                r.push_back(json_value(v));
            }
            rows.push_back(std::move(r));
            return true;
        },
        &total, &why);
    if (!ok) {
        reply(res, 500, {{"error", "database " + s.config.db + ": read: " + why}});
        return;
    }
    out["total"] = total;
    out["rows"] = std::move(rows);
    reply(res, 200, out);
}

// Every field of one measurement and, for a scan, its profile as the report draws it.
void measurement(const ServeState& s, const httplib::Request& req, httplib::Response& res) {
    PageQuery q;
    q.filter.serial = typed(req.get_param_value("instrument"));
    q.slot = whole_number(req.get_param_value("slot"));
    q.key = whole_number(req.get_param_value("key"));
    if (!q.slot || !q.key) {
        reply(res, 400, {{"error", "instrument, slot and key name one measurement"}});
        return;
    }
    q.limit = 1;
    const std::unique_ptr<Store> store = open_store(s, "", res);
    if (!store) {
        return;
    }
    nlohmann::ordered_json fields;
    std::vector<std::string> names;
    std::string why;
    std::string taken_at;
    int64_t total = 0;
    const bool ok = store->page(
        q, [&names](const std::vector<std::string>& n) { names = n; },
        [&](const std::vector<Value>& row) {
            for (std::size_t i = 0; i < row.size(); ++i) {
                fields[names[i]] = json_value(row[i]);
                if (names[i] == "taken_at") {
                    taken_at = std::get<std::string>(row[i]);
                }
            }
            return true;
        },
        &total, &why);
    if (!ok || total == 0) {
        reply(res, ok ? 404 : 500, {{"error", ok ? "no such measurement" : why}});
        return;
    }
    fields["kind"] = kind_text(fields["kind"].get<int64_t>());
    // Ordered: the fields in the export's order of columns.
    nlohmann::ordered_json out = {{"fields", fields}, {"chart", nullptr}};
    if (fields["kind"] == "scan") {
        // Measurements of one instrument at one second: a handful at most.
        QueryFilter f;
        f.serial = q.filter.serial;
        f.since = taken_at;
        f.until = taken_at;
        ReportData data;
        if (load_report(*store, f, &data, &why)) {
            for (const ReportMeasurement& m : data.measurements) {
                if (m.slot == *q.slot && m.key == *q.key) {
                    out["chart"] = scan_profile(m).svg;
                }
            }
        }
    }
    res.set_content(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    "application/json");
}

struct Download {
    httplib::DataSink* sink = nullptr;
};

int to_sink(const char* bytes, size_t size, void* user) {
    return static_cast<Download*>(user)->sink->write(bytes, size) ? 0 : 1;
}

// vuxod_export itself, its bytes straight to the browser: the same file
// `vuxoint export` writes with the same options.
void export_download(const ServeState& s, const httplib::Request& req, httplib::Response& res) {
    const std::string format =
        req.has_param("format") ? req.get_param_value("format") : std::string("csv");
    QueryFilter checked;
    std::string why;
    if (format != "csv" && format != "json" && format != "ndjson") {
        reply(res, 400, {{"error", "format: csv, json or ndjson"}});
        return;
    }
    if (!read_filter(req, &checked, &why)) {
        reply(res, 400, {{"error", why}});
        return;
    }
    if (!open_store(s, req.get_param_value("instrument"), res)) {
        return;
    }
    const uint32_t flags = (req.get_param_value("scans") == "1" ? VUXOD_EXPORT_VALUES : 0u) |
                           (req.get_param_value("si") == "1" ? VUXOD_EXPORT_SI : 0u) |
                           (req.get_param_value("order") == "key" ? VUXOD_EXPORT_KEY_ORDER : 0u);
    const std::string types = format == "csv"    ? "text/csv"
                              : format == "json" ? "application/json"
                                                 : "application/x-ndjson";
    res.set_header("Content-Disposition", "attachment; filename=\"vuxoint-export." + format + "\"");
    const std::string db = s.config.db;
    const std::array<std::string, 3> bounds = {req.get_param_value("instrument"),
                                               req.get_param_value("since"),
                                               req.get_param_value("until")};
    res.set_chunked_content_provider(
        types, [db, format, flags, bounds](size_t, httplib::DataSink& sink) {
            Download d{&sink};
            vuxod_export_options o;
            vuxod_export_options_init(&o);
            o.format = format.c_str();
            o.instrument = bounds[0].c_str();
            o.since = bounds[1].c_str();
            o.until = bounds[2].c_str();
            o.flags = flags;
            o.sink = to_sink;
            o.user = &d;
            std::array<char, 512> message{};
            // A failure half way ends the response early: the download is then
            // incomplete, never quietly shorter.
            if (vuxod_export(db.c_str(), &o, message.data(), message.size()) != VUXOD_OK) {
                return false;
            }
            sink.done();
            return true;
        });
}

void report(const ServeState& s, const httplib::Request& req, httplib::Response& res) {
    ReportOptions opt;
    opt.db = s.config.db;
    opt.instrument = req.get_param_value("instrument");
    opt.since = req.get_param_value("since");
    opt.until = req.get_param_value("until");
    std::string page;
    std::string message;
    const int status = make_report(opt, &page, nullptr, &message, [](const std::string&) {});
    if (status != 0) {
        reply(res, status == 2 ? 400 : 404, {{"error", message}});
        return;
    }
    res.set_content(page, "text/html; charset=utf-8");
}

} // namespace

void add_record_routes(httplib::Server& http, ServeState& s) {
    http.Get("/api/measurements", [&s](const httplib::Request& req, httplib::Response& res) {
        measurements(s, req, res);
    });
    http.Get("/api/measurement", [&s](const httplib::Request& req, httplib::Response& res) {
        measurement(s, req, res);
    });
    http.Get("/api/export", [&s](const httplib::Request& req, httplib::Response& res) {
        export_download(s, req, res);
    });
    http.Get("/report",
             [&s](const httplib::Request& req, httplib::Response& res) { report(s, req, res); });
}

} // namespace vuxocli::serve

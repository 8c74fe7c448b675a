#include "export_rows.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "shown_text.h"
#include "vuxodata.h"

namespace vuxocli {

namespace {

constexpr const char* kReadingColumns[] = {"instrument",     "generation",
                                           "slot",           "key",
                                           "number",         "taken_at",
                                           "kind",           "index",
                                           "susceptibility", "susceptibility_units",
                                           "conductivity",   "conductivity_units",
                                           "mark",           "format_version"};

// A float as stored: NaN has no place in CSV or JSON and is exported empty.
Value float_value(float v) {
    if (std::isnan(v)) {
        return std::monostate{};
    }
    return static_cast<double>(v);
}

// The value and its units in SI. The instrument's CGS susceptibility is the
// dimensionless volume susceptibility of the CGS system: kappa_SI = 4 pi kappa_CGS.
// An Ohm.m value is a resistivity; its conductivity is 1 / rho. A "%" reading is
// relative to a curve and has no SI value: it stays, and its units say so.
void to_si(Value* value, Value* units) {
    const auto* u = std::get_if<std::string>(units);
    const auto* d = std::get_if<double>(value);
    if (u == nullptr || d == nullptr) {
        return;
    }
    // emplace rather than assigning a temporary Value: GCC 12 warns of a
    // string read uninitialized in the variant's move (a false alarm).
    if (*u == "CGS") {
        const double si = static_cast<float>(*d * 4 * std::numbers::pi);
        value->emplace<double>(si);
        units->emplace<std::string>("SI");
    } else if (*u == "Ohm.m") {
        const double rho = *d;
        if (rho == 0) {
            value->emplace<std::monostate>();
        } else {
            value->emplace<double>(static_cast<float>(1 / rho));
        }
        units->emplace<std::string>("S/m");
    }
}

class Columns {
  public:
    explicit Columns(const std::vector<std::string>& names) : names_(names) {}
    std::size_t at(const char* name) const {
        return static_cast<std::size_t>(std::find(names_.begin(), names_.end(), name) -
                                        names_.begin());
    }

  private:
    const std::vector<std::string>& names_;
};

bool measurement_rows(Store& store, const ExportQuery& q, const Store::HeaderFn& header,
                      const Store::RowFn& each, std::string* error) {
    std::vector<std::string> names;
    std::size_t kind = 0, susc = 0, susc_units = 0, cond = 0, cond_units = 0;
    std::vector<Value> out;
    return store.query(
        q.filter,
        [&](const std::vector<std::string>& stored) {
            names = stored;
            names.emplace_back("format_version");
            const Columns c(names);
            kind = c.at("kind");
            susc = c.at("susceptibility");
            susc_units = c.at("susceptibility_units");
            cond = c.at("conductivity");
            cond_units = c.at("conductivity_units");
            header(names);
        },
        [&](const std::vector<Value>& row) {
            out = row;
            out.emplace_back(int64_t{VUXOD_EXPORT_FORMAT_VERSION});
            if (const auto* k = std::get_if<int64_t>(&out.at(kind))) {
                out[kind] = std::string(kind_text(*k));
            }
            if (q.si) {
                to_si(&out.at(susc), &out.at(susc_units));
                to_si(&out.at(cond), &out.at(cond_units));
            }
            return each(out);
        },
        error);
}

// Readings come from the raw record through the one decoder, so a single
// measurement's readings are exported as a scan's are, from any database.
bool reading_rows(Store& store, const ExportQuery& q, const Store::HeaderFn& header,
                  const Store::RowFn& each, std::string* error) {
    header(std::vector<std::string>(std::begin(kReadingColumns), std::end(kReadingColumns)));
    auto m = std::make_unique<vuxod_measurement>();
    std::vector<Value> row(std::size(kReadingColumns));
    bool go_on = true;
    return store.records(
        q.filter,
        [&](const StoredRecord& r) {
            if (vuxod_decode(r.generation, r.raw.data(), r.raw.size(), m.get()) != VUXOD_OK) {
                return true;
            }
            const bool v2 = r.generation == VUXOD_V2;
            for (int32_t i = 0; i < m->values_decoded && go_on; ++i) {
                row = {r.instrument,
                       std::string(v2 ? "V2" : "V1"),
                       r.slot,
                       r.key,
                       r.number,
                       r.taken_at,
                       std::string(kind_text(r.kind)),
                       int64_t{i},
                       float_value(m->susc_values[i]),
                       std::string(m->susc_units),
                       v2 ? float_value(m->cond_values[i]) : Value{},
                       v2 ? Value{std::string(m->cond_units)} : Value{},
                       int64_t{m->marks[i] != 0},
                       int64_t{VUXOD_EXPORT_FORMAT_VERSION}};
                if (q.si) {
                    to_si(&row[8], &row[9]);
                    to_si(&row[10], &row[11]);
                }
                go_on = each(row);
            }
            return go_on;
        },
        error);
}

} // namespace

const char* kind_text(int64_t kind) {
    switch (kind) {
    case VUXOD_KIND_SINGLE:
        return "single";
    case VUXOD_KIND_SCAN:
        return "scan";
    case VUXOD_KIND_NONE:
        return "none";
    default:
        return "other";
    }
}

bool export_rows(Store& store, const ExportQuery& query, const Store::HeaderFn& header,
                 const Store::RowFn& each, std::string* error) {
    return query.filter.scans ? reading_rows(store, query, header, each, error)
                              : measurement_rows(store, query, header, each, error);
}

int open_to_read(const std::string& db, const std::string& instrument,
                 std::unique_ptr<Store>* store, std::string* message,
                 const std::function<void(const std::string&)>& notice) {
    struct stat st {};
    if (!names_server(db) && stat(db.c_str(), &st) != 0) {
        *message = "database " + db + ": open: no such file (vuxoint sync creates it)";
        return VUXOD_E_DATABASE;
    }
    std::string error;
    *store = Store::open(db, Store::Mode::read, &error);
    if (!*store) {
        *message = "database " + db + ": open: " + error;
        return VUXOD_E_DATABASE;
    }
    int64_t id = 0;
    std::string firmware;
    if (!instrument.empty() && !(*store)->find_instrument(instrument, &id, &firmware, &error)) {
        notice("database " + db + ": no instrument " + shown(instrument) +
               (error.empty() ? "" : ": ") + error);
    }
    return VUXOD_OK;
}

} // namespace vuxocli

#include "report_data.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "export_rows.h"
#include "shown_text.h"

namespace vuxocli {

namespace {

using Where = std::tuple<std::string, int64_t, int64_t>; // instrument, slot, key

// Looks fields up by the names export gives them, so a field it adds or moves
// changes nothing here.
class Fields {
  public:
    explicit Fields(const std::vector<std::string>& names) : names_(names) {}
    const Value& at(const std::vector<Value>& row, const char* name) const {
        static const Value none;
        const auto it = std::find(names_.begin(), names_.end(), name);
        const auto i = static_cast<std::size_t>(it - names_.begin());
        return it == names_.end() || i >= row.size() ? none : row[i];
    }
    int64_t integer(const std::vector<Value>& row, const char* name) const {
        const Value& v = at(row, name);
        if (const auto* i = std::get_if<int64_t>(&v)) {
            return *i;
        }
        return 0;
    }
    double number(const std::vector<Value>& row, const char* name) const {
        const Value& v = at(row, name);
        if (const auto* d = std::get_if<double>(&v)) {
            return *d;
        }
        if (const auto* i = std::get_if<int64_t>(&v)) {
            return static_cast<double>(*i);
        }
        return std::nan("");
    }
    std::string text(const std::vector<Value>& row, const char* name) const {
        const Value& v = at(row, name);
        const auto* s = std::get_if<std::string>(&v);
        return s != nullptr ? shown(*s) : std::string();
    }

  private:
    const std::vector<std::string>& names_;
};

// Every instrument the selection names, also one that has no measurement yet
// (or none in the period): a synced instrument is never missing from the page.
bool load_instruments(Store& store, const QueryFilter& filter, std::vector<ReportInstrument>* out,
                      std::string* error) {
    std::vector<StoredInstrument> stored;
    if (!store.instruments(filter.serial, &stored, error)) {
        return false;
    }
    for (const StoredInstrument& i : stored) {
        out->push_back(
            {shown(i.serial), shown(i.generation), shown(i.firmware), shown(i.last_sync)});
    }
    return true;
}

int64_t kind_number(const std::string& text) {
    for (const int64_t kind : {VUXOD_KIND_NONE, VUXOD_KIND_SINGLE, VUXOD_KIND_SCAN}) {
        if (text == kind_text(kind)) {
            return kind;
        }
    }
    return VUXOD_KIND_OTHER;
}

} // namespace

bool load_report(Store& store, const QueryFilter& filter, ReportData* out, std::string* error) {
    QueryFilter f = filter;
    f.scans = false;
    std::map<Where, std::size_t> scans;
    ExportQuery rows{f};
    const bool rows_ok = export_rows(
        store, rows, [&](const std::vector<std::string>& names) { out->columns = names; },
        [&](const std::vector<Value>& row) {
            const Fields c(out->columns);
            ReportMeasurement m;
            m.instrument = c.text(row, "instrument");
            m.generation = c.text(row, "generation");
            m.slot = c.integer(row, "slot");
            m.key = c.integer(row, "key");
            m.number = c.integer(row, "number");
            m.kind = kind_number(c.text(row, "kind"));
            m.note = c.integer(row, "note") != 0;
            m.taken_at = c.text(row, "taken_at");
            m.curve_s = c.integer(row, "curve_s");
            m.curve_c = c.integer(row, "curve_c");
            m.susceptibility = c.number(row, "susceptibility");
            m.conductivity = c.number(row, "conductivity");
            m.susc_units = c.text(row, "susceptibility_units");
            m.cond_units = c.text(row, "conductivity_units");
            if (m.kind == VUXOD_KIND_SCAN) {
                scans[{m.instrument, m.slot, m.key}] = out->measurements.size();
            }
            out->rows.push_back(row);
            out->measurements.push_back(std::move(m));
            return true;
        },
        error);
    if (!rows_ok) {
        return false;
    }
    rows.filter.scans = true;
    std::vector<std::string> names;
    const bool values_ok = export_rows(
        store, rows, [&](const std::vector<std::string>& n) { names = n; },
        [&](const std::vector<Value>& row) {
            const Fields c(names);
            const auto it = scans.find(
                {c.text(row, "instrument"), c.integer(row, "slot"), c.integer(row, "key")});
            const int64_t index = c.integer(row, "index");
            if (it == scans.end() || index < 0 || index >= VUXOD_MAX_VALUES) {
                return true;
            }
            ReportMeasurement& m = out->measurements[it->second];
            const auto i = static_cast<std::size_t>(index);
            if (m.susc_values.size() <= i) {
                m.susc_values.resize(i + 1, std::nan(""));
                m.cond_values.resize(m.v2() ? i + 1 : 0, std::nan(""));
                m.marks.resize(i + 1, 0);
            }
            m.susc_values[i] = c.number(row, "susceptibility");
            if (m.v2()) {
                m.cond_values[i] = c.number(row, "conductivity");
            }
            m.marks[i] = c.integer(row, "mark") != 0 ? 1 : 0;
            return true;
        },
        error);
    return values_ok && load_instruments(store, filter, &out->instruments, error);
}

} // namespace vuxocli

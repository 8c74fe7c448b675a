// What a report shows, read from the database: the measurements with the
// fields export writes (the same query, so the report's table and the CSV keep
// one list of fields), each scan's values, and the instruments they came from.
#ifndef VUXOCLI_REPORT_DATA_H
#define VUXOCLI_REPORT_DATA_H

#include <cstdint>
#include <string>
#include <vector>

#include "store.h"

namespace vuxocli {

struct ReportInstrument {
    std::string serial;
    std::string generation;
    std::string firmware;
    std::string last_sync;
};

// One measurement, as far as the figures need it. A number the database holds
// as NULL (NaN on the instrument, or a field the generation lacks) is NaN here.
struct ReportMeasurement {
    std::string instrument;
    std::string generation;
    int64_t slot = 0;
    int64_t key = 0;
    int64_t number = 0;
    int64_t kind = 0;
    bool note = false;
    std::string taken_at;
    int64_t curve_s = 0;
    int64_t curve_c = 0;
    double susceptibility = 0;
    double conductivity = 0;
    std::string susc_units;
    std::string cond_units; // empty on V1
    // A scan's values by index, conductivity on V2 only; marks one per value.
    std::vector<double> susc_values;
    std::vector<double> cond_values;
    std::vector<uint8_t> marks;

    bool v2() const { return generation == "V2"; }
};

struct ReportData {
    std::vector<ReportInstrument> instruments;   // every one selected, measured or not
    std::vector<std::string> columns;            // export's fields, in its order
    std::vector<std::vector<Value>> rows;        // one per measurement, export's order
    std::vector<ReportMeasurement> measurements; // in the order of rows
};

// The measurements the filter selects (its `scans` is ignored). False with the
// reason in *error.
bool load_report(Store& store, const QueryFilter& filter, ReportData* out, std::string* error);

} // namespace vuxocli

#endif

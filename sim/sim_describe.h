// What a reader of each record of a data set must find, as JSON, for test programs
// in other languages that cannot link the simulator.
#ifndef VUXO_SIM_DESCRIBE_H
#define VUXO_SIM_DESCRIBE_H

#include <string>

#include "sim_data.h"

namespace vuxo::sim {

// {"generation": "v1"|"v2", "entries": N, "records": [{"slot", "key", "entry_flags",
// "kind", "flags", "curve_s", "curve_c", "unit_bits", "susc_units", "cond_units", "pin",
// "error", "diameter", "tag", "first_count", "value_count", "number", "id", "year",
// "month", "day", "hour", "minute", "second", "susceptibility", "conductivity",
// "susc_values", "cond_values", "marks", "raw"}, ...]} for every slot holding a record.
// Floats are their IEEE single bit patterns (exact, NaN included); raw is hex.
std::string describe_data_set(const DataSpec& data);

} // namespace vuxo::sim

#endif

// What an instrument is and holds, read once it is connected: model revision,
// entries in its log, memory usage and its clock beside the computer's. The
// info subcommand and the web page show the same reading.
#ifndef VUXOCLI_INSTRUMENT_INFO_H
#define VUXOCLI_INSTRUMENT_INFO_H

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "clock_text.h"
#include "connect.h"

namespace vuxocli {

struct InstrumentState {
    int32_t model_revision = 0;
    uint32_t entries = 0;
    int memory_usage = 0;
    std::string memory_text;
    ClockReading clock;
};

// Every read, in order; the first failure leaves its step ("read the clock")
// in *step and the library's result in *rc.
bool read_instrument_state(const Instrument& inst, InstrumentState* out, std::string* step,
                           int* rc);

// The reading as the JSON object info --json prints and the web page gets: conn,
// generation, serial, firmware, model revision, entries, memory, both clocks and
// their offset in seconds (null when the instrument's clock could not be read).
nlohmann::ordered_json instrument_json(const std::string& who, const Instrument& inst,
                                       const InstrumentState& state);

} // namespace vuxocli

#endif

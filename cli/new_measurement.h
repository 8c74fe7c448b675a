// A measurement the instrument reports as newly stored (a live-data message
// naming its slot): its entry, its record and, on V1, its note, fetched as
// watch and the web page both take it, and its fields as one JSON object.
#ifndef VUXOCLI_NEW_MEASUREMENT_H
#define VUXOCLI_NEW_MEASUREMENT_H

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "vuxodata.h"

namespace vuxocli {

// True for the live-data codes that announce a new measurement in the slot
// the message's value names.
bool reports_new_measurement(int32_t code);

// "single", "scan" or "other", as a new measurement's kind is shown.
const char* live_kind_text(int32_t kind);

struct NewMeasurement {
    vuxod_entry entry{};
    std::unique_ptr<vuxod_measurement> m = std::make_unique<vuxod_measurement>();
    std::vector<uint8_t> note = std::vector<uint8_t>(VUXOD_NOTE_MAX);
    size_t note_size = 0;
    bool noted = false; // a V1 note came with the record

    // Valid while this object lives and is not fetched into again.
    vuxod_record record() const;
};

// The entry of `slot`, its record and a V1 note. VUXOD_OK, or the failing
// result with *step naming it ("fetching the record of slot ").
int fetch_new_measurement(vuxod_session& s, int32_t slot, NewMeasurement* out, const char** step);

// instrument, slot, key, note, number, taken_at, kind, susceptibility and its
// units, on V2 conductivity and its units, value_count.
nlohmann::ordered_json new_measurement_json(const std::string& serial, const NewMeasurement& n);

} // namespace vuxocli

#endif

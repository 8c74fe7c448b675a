#include "new_measurement.h"

#include <cmath>

#include "number_text.h"
#include "shown_text.h"
#include "store.h"

namespace vuxocli {

namespace {

// Live-data codes that report a newly stored measurement in the slot the
// message's value names.
constexpr int32_t kNewMeasurementCodes[] = {133, 256};

// JSON has no inf or NaN: those are null, as export writes them.
nlohmann::ordered_json json_number(float v) {
    if (!std::isfinite(v)) {
        return nullptr;
    }
    return nlohmann::ordered_json::parse(number_text(v));
}

} // namespace

bool reports_new_measurement(int32_t code) {
    for (const int32_t c : kNewMeasurementCodes) {
        if (code == c) {
            return true;
        }
    }
    return false;
}

const char* live_kind_text(int32_t kind) {
    switch (kind) {
    case VUXOD_KIND_SINGLE:
        return "single";
    case VUXOD_KIND_SCAN:
        return "scan";
    default:
        return "other";
    }
}

vuxod_record NewMeasurement::record() const {
    return vuxod_record{entry.slot,
                        entry.key,
                        entry.flags,
                        m->raw,
                        m->raw_size,
                        m.get(),
                        noted ? note.data() : nullptr,
                        noted ? note_size : 0};
}

int fetch_new_measurement(vuxod_session& s, int32_t slot, NewMeasurement* out, const char** step) {
    out->entry = vuxod_entry{};
    out->note_size = 0;
    int rc = vuxod_read_entry(&s, slot, &out->entry);
    *step = "reading the entry list at slot ";
    if (rc == VUXOD_OK) {
        rc = vuxod_fetch_measurement(&s, slot, out->m.get());
        *step = "fetching the record of slot ";
    }
    // A V1 note comes with its record, or the record is not kept: a later sync would
    // find it held and never fetch the note.
    out->noted = s.generation == VUXOD_V1 && (out->entry.flags & VUXOD_ENTRY_NOTE) != 0;
    if (rc == VUXOD_OK && out->noted) {
        rc = vuxod_fetch_note(&s, slot, out->note.data(), out->note.size(), &out->note_size);
        *step = "fetching the note of slot ";
    }
    return rc;
}

nlohmann::ordered_json new_measurement_json(const std::string& serial, const NewMeasurement& n) {
    const vuxod_measurement& m = *n.m;
    nlohmann::ordered_json j;
    j["instrument"] = shown(serial);
    j["slot"] = n.entry.slot;
    j["key"] = n.entry.key;
    j["note"] = (n.entry.flags & VUXOD_ENTRY_NOTE) != 0;
    j["number"] = m.number;
    j["taken_at"] = iso_taken_at(m);
    j["kind"] = live_kind_text(m.kind);
    j["susceptibility"] = json_number(m.susceptibility);
    j["susceptibility_units"] = m.susc_units;
    if (m.generation == VUXOD_V2) {
        j["conductivity"] = json_number(m.conductivity);
        j["conductivity_units"] = m.cond_units;
    }
    j["value_count"] = m.value_count;
    return j;
}

} // namespace vuxocli

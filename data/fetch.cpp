// Fetching one measurement record: a V1 log entry, or a V2 measurement file read in
// chunks.
#include <algorithm>
#include <cstdio>

#include "generation.h"
#include "layout.h"
#include "vuxodata.h"
#include "vuxoint.h"

namespace {

constexpr std::size_t kNameSize = 32;

int fetch_v1(const vuxod_session* s, int32_t slot, uint8_t* record) {
    return vuxov1_get_meas_log_entry(s->conn_id, slot, 0, record, 1);
}

// The chunk size in use; a value a caller spoiled falls back to the large read, which
// an instrument that cannot take it refuses and so corrects.
int32_t chunk_of(const vuxod_session* s) {
    return s->chunk > 0 && s->chunk <= VUXOD_CHUNK_LARGE ? s->chunk : VUXOD_CHUNK_LARGE;
}

int fetch_v2(vuxod_session* s, int32_t slot, uint8_t* record) {
    char name[kNameSize] = {};
    if (slot == -1) {
        std::snprintf(name, sizeof name, "meas/last.dat");
    } else {
        std::snprintf(name, sizeof name, "meas/meas%.4d.dat", static_cast<int>(slot));
    }
    const auto size = static_cast<int32_t>(vuxod::layout::v2::kRecordSize);
    int32_t received = 0;
    while (received < size) {
        const int32_t length = std::min(chunk_of(s), size - received);
        int count = 0;
        int rc = vuxov2_read_file(s->conn_id, name, record + received, received, length, &count, 1);
        if (rc == VUXOD_FAILED && length > VUXOD_CHUNK_SMALL) {
            // Some instruments refuse reads longer than their own 450-byte chunks. The
            // small read settles whether size was the reason: only when it succeeds does
            // the rest of the connection read small chunks, so a missing file does not
            // slow every later record.
            const int32_t small = std::min<int32_t>(VUXOD_CHUNK_SMALL, size - received);
            rc = vuxov2_read_file(s->conn_id, name, record + received, received, small, &count, 1);
            if (rc == 0) {
                s->chunk = VUXOD_CHUNK_SMALL;
            }
            if (rc == 0 && count > 0) {
                received += std::min(count, small);
                continue;
            }
        }
        if (rc != 0) {
            return rc;
        }
        if (count <= 0) {
            return VUXOD_E_SHORT;
        }
        // The library stores no more than was asked for, whatever count the answer claims.
        received += std::min(count, length);
    }
    return VUXOD_OK;
}

} // namespace

extern "C" {

int vuxod_fetch_record(vuxod_session* s, int32_t slot, uint8_t* record, size_t capacity,
                       size_t* size) {
    const vuxod::Log_commands* g = s != nullptr ? vuxod::log_commands(s->generation) : nullptr;
    if (g == nullptr || record == nullptr || capacity < g->record_size) {
        return VUXOD_E_ARGUMENT;
    }
    int rc = VUXOD_OK;
    if (s->generation == VUXOD_V1) {
        rc = fetch_v1(s, slot, record);
    } else {
        if (slot < -1) {
            return VUXOD_E_ARGUMENT;
        }
        rc = fetch_v2(s, slot, record);
    }
    if (rc == VUXOD_OK && size != nullptr) {
        *size = g->record_size;
    }
    return rc;
}

int vuxod_fetch_measurement(vuxod_session* s, int32_t slot, vuxod_measurement* m) {
    if (m == nullptr) {
        return VUXOD_E_ARGUMENT;
    }
    size_t size = 0;
    const int rc = vuxod_fetch_record(s, slot, m->raw, sizeof m->raw, &size);
    if (rc != VUXOD_OK) {
        return rc;
    }
    return vuxod_decode(s->generation, m->raw, size, m);
}

} // extern "C"

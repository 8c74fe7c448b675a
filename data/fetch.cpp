// Fetching one measurement record: a V1 log entry, or a V2 measurement file read in
// chunks. A record is complete only when every byte of it came in answers of exactly
// the size their requests asked for.
#include <algorithm>
#include <cstdio>
#include <string>

#include "exchange.h"
#include "generation.h"
#include "layout.h"
#include "le.h"
#include "vuxodata.h"

namespace {

constexpr std::size_t kNameSize = 32;
constexpr int kCountSize = 4;
constexpr int kChunkAnswerSize = 4000;
// Chunk lengths differ by up to this much from one record to the next, so that a
// stale answer to another record's read cannot have the length this one asked for.
constexpr uint32_t kLengthSpread = 8;
// Large reads refused in a row (each time a small read of the same place succeeded)
// before the rest of the connection reads small chunks. One refusal may be a lost
// or spoilt answer; two in a row is the instrument's limit.
constexpr int32_t kRefusalsToShrink = 2;

int fetch_v1(const vuxod::Log_commands& g, const vuxod_session* s, int32_t slot, uint8_t* record) {
    uint8_t request[8];
    vuxo::store_le<int32_t>(request, slot);
    vuxo::store_le<int32_t>(request + 4, 0);
    const auto size = static_cast<int>(g.record_size);
    int len = 0;
    return vuxod::exchange(s->conn_id, g.record, request, sizeof request, record, size, size, &len);
}

// The chunk size in use; a value a caller spoiled falls back to the large read, which
// an instrument that cannot take it refuses and so corrects.
int32_t chunk_of(const vuxod_session* s) {
    const auto least = static_cast<int32_t>(kLengthSpread);
    return s->chunk > least && s->chunk <= VUXOD_CHUNK_LARGE ? s->chunk : VUXOD_CHUNK_LARGE;
}

// One chunk: exactly `length` bytes of the file at `offset`, or a failure.
int read_chunk(const vuxod::Log_commands& g, int conn_id, const char* name, int32_t offset,
               int32_t length, uint8_t* dest) {
    uint8_t request[kNameSize + 8] = {};
    std::copy_n(name, std::min(std::char_traits<char>::length(name), kNameSize), request);
    vuxo::store_le<int32_t>(request + kNameSize, offset);
    vuxo::store_le<int32_t>(request + kNameSize + 4, length);
    uint8_t answer[kChunkAnswerSize];
    const int want = kCountSize + length;
    int len = 0;
    const int rc =
        vuxod::exchange(conn_id, g.record, request, sizeof request, answer, want, kCountSize, &len);
    if (rc != VUXOD_OK) {
        return rc;
    }
    const auto count = vuxo::load_le<int32_t>(answer);
    if (count == 0 && len == kCountSize) {
        return VUXOD_E_SHORT;
    }
    if (count != length || len != want) {
        const int settled = vuxod::resync(conn_id);
        return settled != VUXOD_OK ? settled : VUXOD_E_ANSWER;
    }
    std::copy_n(answer + kCountSize, length, dest);
    return VUXOD_OK;
}

int fetch_v2(const vuxod::Log_commands& g, vuxod_session* s, int32_t slot, uint8_t* record) {
    char name[kNameSize + 1] = {};
    if (slot == -1) {
        std::snprintf(name, sizeof name, "meas/last.dat");
    } else {
        std::snprintf(name, sizeof name, "meas/meas%.4d.dat", static_cast<int>(slot));
    }
    const auto spread = static_cast<int32_t>(s->reads++ % kLengthSpread);
    const auto size = static_cast<int32_t>(g.record_size);
    int32_t received = 0;
    while (received < size) {
        const bool large = chunk_of(s) > VUXOD_CHUNK_SMALL;
        const int32_t length = std::min(chunk_of(s) - spread, size - received);
        int rc = read_chunk(g, s->conn_id, name, received, length, record + received);
        if (rc == VUXOD_FAILED && large && length > VUXOD_CHUNK_SMALL) {
            // Some instruments refuse reads longer than their own 450-byte chunks. The
            // small read settles whether size was the reason, so a missing file does
            // not slow every later record.
            const int32_t small = std::min(VUXOD_CHUNK_SMALL - spread, size - received);
            rc = read_chunk(g, s->conn_id, name, received, small, record + received);
            if (rc != VUXOD_OK) {
                return rc;
            }
            if (++s->refusals >= kRefusalsToShrink) {
                s->chunk = VUXOD_CHUNK_SMALL;
            }
            received += small;
            continue;
        }
        if (rc != VUXOD_OK) {
            return rc;
        }
        if (large) {
            s->refusals = 0;
        }
        received += length;
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
        rc = fetch_v1(*g, s, slot, record);
    } else {
        if (slot < -1) {
            return VUXOD_E_ARGUMENT;
        }
        rc = fetch_v2(*g, s, slot, record);
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

// Both generations' record layouts turned into the one measurement struct.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "layout.h"
#include "le.h"
#include "vuxodata.h"

namespace {

namespace L = vuxod::layout;

void set_text(char* dst, const char* text) {
    std::memset(dst, 0, VUXOD_UNITS_SIZE);
    std::strncpy(dst, text, VUXOD_UNITS_SIZE - 1);
}

// Number, id, date, time and kind lie at the same offsets in both generations.
void decode_common(const uint8_t* r, vuxod_measurement* m) {
    m->number = vuxo::load_le<int32_t>(r + L::kNumber);
    m->id = vuxo::load_le<int32_t>(r + L::kId);
    m->year = vuxo::load_le<uint16_t>(r + L::kYear);
    m->month = r[L::kYear + 2];
    m->day = r[L::kYear + 3];
    m->hour = r[L::kYear + 4];
    m->minute = r[L::kYear + 5];
    m->second = r[L::kYear + 6];
    m->record_flags = r[L::kFlags];
    m->kind = r[L::kFlags] & 3;
}

bool bit_set(const uint8_t* marks, int32_t i) {
    return ((marks[i / 8] >> (i % 8)) & 1) != 0;
}

// A stored count may be anything; only values inside the record are read.
int32_t values_inside(int32_t count, int32_t capacity) {
    return std::clamp(count, int32_t{0}, capacity);
}

float float_at(const uint8_t* base, int32_t i) {
    return vuxo::load_le<float>(base + 4 * static_cast<std::size_t>(i));
}

// Decoding m->raw into m itself (as a fetch into m->raw does) must not read bytes the
// decoding already overwrote, so such a record is copied aside first.
bool aliases(const uint8_t* r, const vuxod_measurement* m) {
    const auto at = reinterpret_cast<std::uintptr_t>(r);
    const auto begin = reinterpret_cast<std::uintptr_t>(m);
    return at >= begin && at < begin + sizeof *m;
}

void keep_raw(const uint8_t* record, std::size_t size, vuxod_measurement* m) {
    std::memcpy(m->raw, record, size);
    m->raw_size = static_cast<uint32_t>(size);
}

} // namespace

extern "C" {

int vuxod_decode_v1(const uint8_t* record, size_t size, vuxod_measurement* m) {
    if (record == nullptr || m == nullptr) {
        return VUXOD_E_ARGUMENT;
    }
    if (size < L::v1::kRecordSize) {
        return VUXOD_E_SIZE;
    }
    uint8_t copy[L::v1::kRecordSize];
    const uint8_t* r = record;
    if (aliases(record, m)) {
        std::memcpy(copy, record, sizeof copy);
        r = copy;
    }
    std::memset(m, 0, sizeof *m);
    m->generation = VUXOD_V1;
    decode_common(r, m);
    m->curve_s = static_cast<uint8_t>(m->record_flags >> L::v1::kCurveShift);
    m->pin = r[L::v1::kPin];
    m->error = r[L::v1::kPin + 1];
    m->diameter = r[L::v1::kPin + 2];
    m->susceptibility = vuxo::load_le<float>(r + L::v1::kKappa);
    set_text(m->susc_units, (m->record_flags & L::v1::kPercentMask) != 0 ? "%" : "SI");
    m->first_count = vuxo::load_le<int32_t>(r + L::v1::kFirstCount);
    m->value_count = vuxo::load_le<int32_t>(r + L::v1::kValueCount);
    m->values_decoded = values_inside(m->value_count, L::v1::kMaxValues);
    for (int32_t i = 0; i < m->values_decoded; ++i) {
        m->susc_values[i] = float_at(r + L::v1::kValues, i);
        m->marks[i] = bit_set(r + L::v1::kMarks, i) ? 1 : 0;
    }
    keep_raw(r, L::v1::kRecordSize, m);
    return VUXOD_OK;
}

int vuxod_decode_v2(const uint8_t* record, size_t size, vuxod_measurement* m) {
    if (record == nullptr || m == nullptr) {
        return VUXOD_E_ARGUMENT;
    }
    if (size < L::v2::kRecordSize) {
        return VUXOD_E_SIZE;
    }
    uint8_t copy[L::v2::kRecordSize];
    const uint8_t* r = record;
    if (aliases(record, m)) {
        std::memcpy(copy, record, sizeof copy);
        r = copy;
    }
    std::memset(m, 0, sizeof *m);
    m->generation = VUXOD_V2;
    decode_common(r, m);
    m->curve_s = r[L::v2::kCurveS];
    m->curve_c = r[L::v2::kCurveC];
    m->unit_bits = r[L::v2::kUnitBits];
    m->pin = r[L::v2::kPin];
    m->error = r[L::v2::kPin + 1];
    m->diameter = r[L::v2::kPin + 2];
    m->tag = r[L::v2::kTag];
    m->susceptibility = vuxo::load_le<float>(r + L::v2::kSusc);
    m->conductivity = vuxo::load_le<float>(r + L::v2::kCond);
    // A curve is a percentage whatever the unit bits say.
    const bool cgs = (m->unit_bits & L::v2::kCgsBit) != 0;
    const bool ohm = (m->unit_bits & L::v2::kOhmBit) != 0;
    set_text(m->susc_units, m->curve_s != 0 ? "%" : cgs ? "CGS" : "SI");
    set_text(m->cond_units, m->curve_c != 0 ? "%" : ohm ? "Ohm.m" : "S/m");
    m->first_count = vuxo::load_le<int32_t>(r + L::v2::kFirstCount);
    m->value_count = vuxo::load_le<int32_t>(r + L::v2::kValueCount);
    m->values_decoded = values_inside(m->value_count, L::v2::kMaxValues);
    for (int32_t i = 0; i < m->values_decoded; ++i) {
        m->susc_values[i] = float_at(r + L::v2::kSuscValues, i);
        m->cond_values[i] = float_at(r + L::v2::kCondValues, i);
        m->marks[i] = bit_set(r + L::v2::kMarks, i) ? 1 : 0;
    }
    keep_raw(r, L::v2::kRecordSize, m);
    return VUXOD_OK;
}

int vuxod_decode(int generation, const uint8_t* record, size_t size, vuxod_measurement* m) {
    switch (generation) {
    case VUXOD_V1:
        return vuxod_decode_v1(record, size, m);
    case VUXOD_V2:
        return vuxod_decode_v2(record, size, m);
    default:
        return VUXOD_E_ARGUMENT;
    }
}

} // extern "C"

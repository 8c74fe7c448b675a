#include "records.h"

#include "le.h"

namespace vuxotest {

namespace {

constexpr std::size_t kOffNumber = 4;
constexpr std::size_t kOffId = 8;
constexpr std::size_t kOffYear = 12;
constexpr std::size_t kOffFlags = 19;

constexpr std::size_t kV1OffPin = 20;
constexpr std::size_t kV1OffKappa = 40;
constexpr std::size_t kV1OffFirstCount = 76;
constexpr std::size_t kV1OffMarks = 84;
constexpr std::size_t kV1OffValues = 108;

constexpr std::size_t kV2OffCurveS = 20;
constexpr std::size_t kV2OffPin = 23;
constexpr std::size_t kV2OffTag = 42;
constexpr std::size_t kV2OffSusc = 43;
constexpr std::size_t kV2OffFirstCount = 87;
constexpr std::size_t kV2OffMarks = 95;
constexpr std::size_t kV2OffSuscValues = 155;
constexpr std::size_t kV2OffCondValues = 2075;

// number, id, date and time lie at the same offsets in both generations.
void decode_common(const unsigned char* r, Meas_header& h) {
    h.number = vuxo::load_le<int32_t>(r + kOffNumber);
    h.id = vuxo::load_le<int32_t>(r + kOffId);
    h.year = vuxo::load_le<uint16_t>(r + kOffYear);
    h.month = r[kOffYear + 2];
    h.day = r[kOffYear + 3];
    h.hour = r[kOffYear + 4];
    h.minute = r[kOffYear + 5];
    h.second = r[kOffYear + 6];
    h.kind = r[kOffFlags] & 3;
}

bool bit_set(const unsigned char* marks, int32_t i) {
    return ((marks[i / 8] >> (i % 8)) & 1) != 0;
}

} // namespace

Meas_v1 decode_v1(const unsigned char* r) {
    Meas_v1 m;
    decode_common(r, m.head);
    m.flags = r[kOffFlags];
    m.head.pin = r[kV1OffPin];
    m.head.error = r[kV1OffPin + 1];
    m.head.diameter = r[kV1OffPin + 2];
    m.kappa = vuxo::load_le<float>(r + kV1OffKappa);
    m.head.first_count = vuxo::load_le<int32_t>(r + kV1OffFirstCount);
    m.head.value_count = vuxo::load_le<int32_t>(r + kV1OffFirstCount + 4);
    return m;
}

Meas_v2 decode_v2(const unsigned char* r) {
    Meas_v2 m;
    decode_common(r, m.head);
    m.curve_s = r[kV2OffCurveS];
    m.curve_c = r[kV2OffCurveS + 1];
    m.unit_bits = r[kV2OffCurveS + 2];
    m.head.pin = r[kV2OffPin];
    m.head.error = r[kV2OffPin + 1];
    m.head.diameter = r[kV2OffPin + 2];
    m.tag = r[kV2OffTag];
    m.susceptibility = vuxo::load_le<float>(r + kV2OffSusc);
    m.conductivity = vuxo::load_le<float>(r + kV2OffSusc + 4);
    m.head.first_count = vuxo::load_le<int32_t>(r + kV2OffFirstCount);
    m.head.value_count = vuxo::load_le<int32_t>(r + kV2OffFirstCount + 4);
    return m;
}

float v1_value(const unsigned char* r, int32_t i) {
    return vuxo::load_le<float>(r + kV1OffValues + 4 * static_cast<std::size_t>(i));
}

bool v1_marked(const unsigned char* r, int32_t i) {
    return bit_set(r + kV1OffMarks, i);
}

float v2_susc_value(const unsigned char* r, int32_t i) {
    return vuxo::load_le<float>(r + kV2OffSuscValues + 4 * static_cast<std::size_t>(i));
}

float v2_cond_value(const unsigned char* r, int32_t i) {
    return vuxo::load_le<float>(r + kV2OffCondValues + 4 * static_cast<std::size_t>(i));
}

bool v2_marked(const unsigned char* r, int32_t i) {
    return bit_set(r + kV2OffMarks, i);
}

} // namespace vuxotest

// Measurement records as the instrument stores them, decoded field by field. The
// instrument's records are packed little-endian bytes; the printers only ever see
// these decoded values.
#ifndef VUXOTEST_RECORDS_H
#define VUXOTEST_RECORDS_H

#include <cstddef>
#include <cstdint>

namespace vuxotest {

inline constexpr std::size_t kV1RecordSize = 828;
// The record buffers are a little larger than the records they receive.
inline constexpr std::size_t kV1RecordBuffer = 832;
inline constexpr int32_t kV1MaxValues = 180;

inline constexpr std::size_t kV2RecordSize = 4063;
inline constexpr std::size_t kV2RecordBuffer = 4064;
inline constexpr int32_t kV2MaxValues = 480;

// Fields shared by both generations' headers.
struct Meas_header {
    int32_t number = 0;
    int32_t id = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int kind = 0; // 1 single measurement, 2 scan; 0 and 3 print nothing
    int pin = 0;
    int error = 0;
    int diameter = 0;
    int32_t first_count = 0;
    int32_t value_count = 0;
};

struct Meas_v1 {
    Meas_header head;
    unsigned flags = 0;
    float kappa = 0;
};

struct Meas_v2 {
    Meas_header head;
    int curve_s = 0;
    int curve_c = 0;
    int unit_bits = 0;
    int tag = 0;
    float susceptibility = 0;
    float conductivity = 0;
};

// record: at least kV1RecordSize bytes.
Meas_v1 decode_v1(const unsigned char* record);
// record: at least kV2RecordSize bytes.
Meas_v2 decode_v2(const unsigned char* record);

// Scan values. i must lie in [0, kV1MaxValues) or [0, kV2MaxValues).
float v1_value(const unsigned char* record, int32_t i);
bool v1_marked(const unsigned char* record, int32_t i);
float v2_susc_value(const unsigned char* record, int32_t i);
float v2_cond_value(const unsigned char* record, int32_t i);
bool v2_marked(const unsigned char* record, int32_t i);

} // namespace vuxotest

#endif

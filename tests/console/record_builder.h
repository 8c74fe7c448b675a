// Hand-built measurement records of both generations, laid out byte by byte.
#ifndef VUXOTEST_RECORD_BUILDER_H
#define VUXOTEST_RECORD_BUILDER_H

#include <cstdint>
#include <vector>

#include "le.h"

namespace build {

using Bytes = std::vector<unsigned char>;

struct Stamp {
    int32_t number = 3;
    int32_t id = 70000;
    uint16_t year = 2026;
    uint8_t month = 12;
    uint8_t day = 6;
    uint8_t hour = 9;
    uint8_t minute = 5;
    uint8_t second = 7;
};

inline void put_stamp(Bytes& r, const Stamp& s) {
    vuxo::store_le<int32_t>(&r[4], s.number);
    vuxo::store_le<int32_t>(&r[8], s.id);
    vuxo::store_le<uint16_t>(&r[12], s.year);
    r[14] = s.month;
    r[15] = s.day;
    r[16] = s.hour;
    r[17] = s.minute;
    r[18] = s.second;
}

// Exactly 828 bytes, so reading past the record shows under a sanitizer.
inline Bytes v1(const Stamp& s, uint8_t flags, float kappa, int32_t first_count,
                int32_t value_count) {
    Bytes r(828, 0);
    put_stamp(r, s);
    r[19] = flags;
    r[20] = 1;  // pin
    r[21] = 0;  // error
    r[22] = 25; // diameter
    vuxo::store_le<float>(&r[40], kappa);
    vuxo::store_le<int32_t>(&r[76], first_count);
    vuxo::store_le<int32_t>(&r[80], value_count);
    return r;
}

inline void v1_value(Bytes& r, int i, float value, bool marked) {
    vuxo::store_le<float>(&r[108 + 4 * i], value);
    if (marked) {
        r[84 + i / 8] = static_cast<unsigned char>(r[84 + i / 8] | (1u << (i % 8)));
    }
}

struct V2_kind {
    uint8_t kind = 1;
    uint8_t curve_s = 0;
    uint8_t curve_c = 0;
    uint8_t unit_bits = 0;
};

// Exactly 4,063 bytes.
inline Bytes v2(const Stamp& s, const V2_kind& k, float susc, float cond, int32_t first_count,
                int32_t value_count, uint8_t tag = 9) {
    Bytes r(4063, 0);
    put_stamp(r, s);
    r[19] = k.kind;
    r[20] = k.curve_s;
    r[21] = k.curve_c;
    r[22] = k.unit_bits;
    r[23] = 2;  // pin
    r[24] = 1;  // error
    r[25] = 30; // diameter
    r[42] = tag;
    vuxo::store_le<float>(&r[43], susc);
    vuxo::store_le<float>(&r[47], cond);
    vuxo::store_le<int32_t>(&r[87], first_count);
    vuxo::store_le<int32_t>(&r[91], value_count);
    return r;
}

inline void v2_value(Bytes& r, int i, float susc, float cond, bool marked) {
    vuxo::store_le<float>(&r[155 + 4 * i], susc);
    vuxo::store_le<float>(&r[2075 + 4 * i], cond);
    if (marked) {
        r[95 + i / 8] = static_cast<unsigned char>(r[95 + i / 8] | (1u << (i % 8)));
    }
}

} // namespace build

#endif

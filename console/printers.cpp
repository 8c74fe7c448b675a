#include "printers.h"

#include <algorithm>

#include "records.h"
#include "vuxodata.h"

namespace vuxotest {

namespace {

constexpr const char* kIndent = "                ";
constexpr int32_t kV1PerLine = 6;
constexpr int32_t kV2PerLine = 5;

// Walks the values of a scan, `per_line` to a line; print_value writes value i.
template <typename PrintValue>
void values_block(std::FILE* out, int32_t count, int32_t per_line, PrintValue print_value) {
    if (count == 0) {
        std::fputc('\n', out);
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (i % per_line == 0) {
            std::fputs(kIndent, out);
        }
        print_value(i);
        if (i % per_line == per_line - 1 || i == count - 1) {
            std::fputc('\n', out);
        }
    }
}

void v1_values(std::FILE* out, const vuxod_measurement& m) {
    values_block(out, m.values_decoded, kV1PerLine, [&](int32_t i) {
        const bool marked = m.marks[i] != 0;
        std::fprintf(out, "%c%8.3f%c", marked ? '[' : ' ', static_cast<double>(m.susc_values[i]),
                     marked ? ']' : ' ');
    });
}

void v2_values(std::FILE* out, const vuxod_measurement& m) {
    values_block(out, m.values_decoded, kV2PerLine, [&](int32_t i) {
        const bool marked = m.marks[i] != 0;
        std::fprintf(out, "%c%8.3f %6.1f%c", marked ? '[' : '(',
                     static_cast<double>(m.susc_values[i]), static_cast<double>(m.cond_values[i]),
                     marked ? ']' : ')');
    });
}

} // namespace

int32_t printable_values(int32_t value_count, int32_t capacity) {
    return std::clamp(value_count, int32_t{0}, capacity);
}

void show_meas_record_v1(std::FILE* out, const unsigned char* record) {
    vuxod_measurement m;
    if (vuxod_decode_v1(record, kV1RecordSize, &m) != VUXOD_OK) {
        return;
    }
    if (m.kind == VUXOD_KIND_SINGLE) {
        std::fprintf(out,
                     "%d: %d %.4d/%.2d/%.2d %.2d:%.2d:%.2d "
                     "Type=%d,Curve=%d,Pin=%d,Error=%d,Dia=%2d    Kappa=%6.3f Units=%s [%2d/%2d]\n",
                     m.number, m.id, m.year, m.month, m.day, m.hour, m.minute, m.second, 1,
                     m.curve_s, m.pin, m.error, m.diameter, static_cast<double>(m.susceptibility),
                     m.susc_units, m.first_count, m.value_count);
    } else if (m.kind == VUXOD_KIND_SCAN) {
        std::fprintf(out, "%d: %.4d/%.2d/%.2d %.2d:%.2d:%.2d Type=%d,Curve=%d,Units=%s [%2d]\n",
                     m.number, m.year, m.month, m.day, m.hour, m.minute, m.second, 2, m.curve_s,
                     m.susc_units, m.value_count);
        v1_values(out, m);
    }
}

void show_meas_record_v2(std::FILE* out, const unsigned char* record) {
    vuxod_measurement m;
    if (vuxod_decode_v2(record, kV2RecordSize, &m) != VUXOD_OK) {
        return;
    }
    if (m.kind == VUXOD_KIND_SINGLE) {
        std::fprintf(out,
                     "%d: %d %d %.4d/%.2d/%.2d %.2d:%.2d:%.2d "
                     "Type=%d,CurveS=%d,CurveC=%d,Pin=%d,Error=%d,Dia=%2d    "
                     "Susc=%6.3f%s Cond=%6.1f%s [%2d/%2d]\n",
                     m.number, m.tag, m.id, m.year, m.month, m.day, m.hour, m.minute, m.second, 1,
                     m.curve_s, m.curve_c, m.pin, m.error, m.diameter,
                     static_cast<double>(m.susceptibility), m.susc_units,
                     static_cast<double>(m.conductivity), m.cond_units, m.first_count,
                     m.value_count);
    } else if (m.kind == VUXOD_KIND_SCAN) {
        std::fprintf(out,
                     "%d: %d %.4d/%.2d/%.2d %.2d:%.2d:%.2d Type=%d,CurveS=%d,CurveC=%d [%2d]\n",
                     m.number, m.tag, m.year, m.month, m.day, m.hour, m.minute, m.second, 2,
                     m.curve_s, m.curve_c, m.value_count);
        v2_values(out, m);
    }
}

} // namespace vuxotest

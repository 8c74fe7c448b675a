#include "printers.h"

#include <algorithm>

#include "records.h"

namespace vuxotest {

namespace {

constexpr const char* kIndent = "                ";
constexpr int32_t kV1PerLine = 6;
constexpr int32_t kV2PerLine = 5;

const char* v1_units(unsigned flags) {
    return (flags & 0x1Cu) != 0 ? "%" : "SI";
}

const char* v2_susc_units(const Meas_v2& m) {
    if (m.curve_s != 0) {
        return "%";
    }
    return (m.unit_bits & 0x04) != 0 ? "CGS" : "SI";
}

const char* v2_cond_units(const Meas_v2& m) {
    if (m.curve_c != 0) {
        return "%";
    }
    return (m.unit_bits & 0x08) != 0 ? "Ohm.m" : "S/m";
}

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

void v1_values(std::FILE* out, const unsigned char* record, int32_t count) {
    values_block(out, count, kV1PerLine, [&](int32_t i) {
        const bool marked = v1_marked(record, i);
        std::fprintf(out, "%c%8.3f%c", marked ? '[' : ' ', static_cast<double>(v1_value(record, i)),
                     marked ? ']' : ' ');
    });
}

void v2_values(std::FILE* out, const unsigned char* record, int32_t count) {
    values_block(out, count, kV2PerLine, [&](int32_t i) {
        const bool marked = v2_marked(record, i);
        std::fprintf(out, "%c%8.3f %6.1f%c", marked ? '[' : '(',
                     static_cast<double>(v2_susc_value(record, i)),
                     static_cast<double>(v2_cond_value(record, i)), marked ? ']' : ')');
    });
}

} // namespace

int32_t printable_values(int32_t value_count, int32_t capacity) {
    return std::clamp(value_count, int32_t{0}, capacity);
}

void show_meas_record_v1(std::FILE* out, const unsigned char* record) {
    const Meas_v1 m = decode_v1(record);
    const Meas_header& h = m.head;
    const int curve = static_cast<int>(m.flags >> 4);
    if (h.kind == 1) {
        std::fprintf(out,
                     "%d: %d %.4d/%.2d/%.2d %.2d:%.2d:%.2d "
                     "Type=%d,Curve=%d,Pin=%d,Error=%d,Dia=%2d    Kappa=%6.3f Units=%s [%2d/%2d]\n",
                     h.number, h.id, h.year, h.month, h.day, h.hour, h.minute, h.second, 1, curve,
                     h.pin, h.error, h.diameter, static_cast<double>(m.kappa), v1_units(m.flags),
                     h.first_count, h.value_count);
    } else if (h.kind == 2) {
        std::fprintf(out, "%d: %.4d/%.2d/%.2d %.2d:%.2d:%.2d Type=%d,Curve=%d,Units=%s [%2d]\n",
                     h.number, h.year, h.month, h.day, h.hour, h.minute, h.second, 2, curve,
                     v1_units(m.flags), h.value_count);
        v1_values(out, record, printable_values(h.value_count, kV1MaxValues));
    }
}

void show_meas_record_v2(std::FILE* out, const unsigned char* record) {
    const Meas_v2 m = decode_v2(record);
    const Meas_header& h = m.head;
    if (h.kind == 1) {
        std::fprintf(out,
                     "%d: %d %d %.4d/%.2d/%.2d %.2d:%.2d:%.2d "
                     "Type=%d,CurveS=%d,CurveC=%d,Pin=%d,Error=%d,Dia=%2d    "
                     "Susc=%6.3f%s Cond=%6.1f%s [%2d/%2d]\n",
                     h.number, m.tag, h.id, h.year, h.month, h.day, h.hour, h.minute, h.second, 1,
                     m.curve_s, m.curve_c, h.pin, h.error, h.diameter,
                     static_cast<double>(m.susceptibility), v2_susc_units(m),
                     static_cast<double>(m.conductivity), v2_cond_units(m), h.first_count,
                     h.value_count);
    } else if (h.kind == 2) {
        std::fprintf(out,
                     "%d: %d %.4d/%.2d/%.2d %.2d:%.2d:%.2d Type=%d,CurveS=%d,CurveC=%d [%2d]\n",
                     h.number, m.tag, h.year, h.month, h.day, h.hour, h.minute, h.second, 2,
                     m.curve_s, m.curve_c, h.value_count);
        v2_values(out, record, printable_values(h.value_count, kV2MaxValues));
    }
}

} // namespace vuxotest

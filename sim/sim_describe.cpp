#include "sim_describe.h"

#include <bit>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace vuxo::sim {

namespace {

uint32_t bits(float v) {
    return std::bit_cast<uint32_t>(v);
}

nlohmann::json bit_list(const std::vector<float>& values) {
    nlohmann::json out = nlohmann::json::array();
    for (float v : values) {
        out.push_back(bits(v));
    }
    return out;
}

// The units the instrument shows with a record: a curve means a percentage; V1 flag
// bits 2-4 mean a percentage too; V2 unit bits choose CGS and Ohm.m.
void units(Generation gen, const RecordSpec& rec, nlohmann::json* out) {
    if (gen == Generation::v1) {
        (*out)["susc_units"] = (rec.flags & 0x1C) != 0 ? "%" : "SI";
        (*out)["cond_units"] = "";
        return;
    }
    (*out)["susc_units"] = rec.curve_s != 0 ? "%" : (rec.units & 0x04) != 0 ? "CGS" : "SI";
    (*out)["cond_units"] = rec.curve_c != 0 ? "%" : (rec.units & 0x08) != 0 ? "Ohm.m" : "S/m";
}

std::string hex(const std::vector<unsigned char>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

} // namespace

std::string describe_data_set(const DataSpec& data) {
    const Log log(data);
    const bool v1 = data.gen == Generation::v1;
    nlohmann::json records = nlohmann::json::array();
    for (uint32_t slot = 0; slot < log.count(); ++slot) {
        if (!log.has_record(slot)) {
            continue;
        }
        const RecordSpec rec = log.record_spec(slot);
        const RecordValues v = record_values(data, slot, rec);
        nlohmann::json r;
        r["slot"] = slot;
        r["key"] = rec.key;
        r["entry_flags"] = rec.entry_flags;
        r["kind"] = rec.kind;
        r["flags"] = rec.flags;
        r["curve_s"] = v1 ? rec.flags >> 4 : rec.curve_s;
        r["curve_c"] = v1 ? 0 : rec.curve_c;
        r["unit_bits"] = v1 ? 0 : rec.units;
        units(data.gen, rec, &r);
        r["pin"] = rec.pin;
        r["error"] = rec.error;
        r["diameter"] = rec.diameter;
        r["tag"] = v1 ? 0 : rec.tag;
        r["first_count"] = rec.first_count;
        r["value_count"] = rec.value_count;
        r["number"] = v.number;
        r["id"] = v.id;
        r["year"] = v.year;
        r["month"] = v.month;
        r["day"] = v.day;
        r["hour"] = v.hour;
        r["minute"] = v.minute;
        r["second"] = v.second;
        r["susceptibility"] = bits(v.susceptibility);
        r["conductivity"] = bits(v.conductivity);
        r["susc_values"] = bit_list(v.susc_values);
        r["cond_values"] = bit_list(v.cond_values);
        nlohmann::json marks = nlohmann::json::array();
        for (std::size_t i = 0; i < v.susc_values.size(); ++i) {
            marks.push_back(scan_value_marked(static_cast<int32_t>(i)));
        }
        r["marks"] = marks;
        r["raw"] = hex(log.record_bytes(slot));
        records.push_back(r);
    }
    nlohmann::json out;
    out["generation"] = generation_name(data.gen);
    out["entries"] = log.count();
    out["records"] = records;
    return out.dump() + "\n";
}

} // namespace vuxo::sim

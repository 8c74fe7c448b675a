#include "sim_data.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "le.h"

namespace vuxo::sim {
namespace {

// splitmix64: small, fast and the same on every platform, so records are reproducible.
struct Rng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
};

Rng slot_rng(const DataSpec& dataset, uint32_t slot, uint64_t stream) {
    Rng r{dataset.seed * 0x100000001B3ULL ^ (static_cast<uint64_t>(dataset.gen) << 56) ^
          (static_cast<uint64_t>(dataset.set) << 48) ^ (static_cast<uint64_t>(slot) << 8) ^ stream};
    r.next();
    return r;
}

// Values with three decimals print the same whatever the float rounding.
float milli(Rng& r, uint32_t range, int32_t offset) {
    return static_cast<float>(static_cast<int32_t>(r.below(range)) + offset) / 1000.0f;
}

RecordSpec single(uint32_t key, uint8_t flags, uint8_t entry_flags = 0) {
    RecordSpec s;
    s.key = key;
    s.entry_flags = entry_flags;
    s.kind = 1;
    s.flags = flags;
    s.first_count = 3;
    s.value_count = 3;
    return s;
}

RecordSpec scan(uint32_t key, int32_t values, uint8_t flags = 0) {
    RecordSpec s;
    s.key = key;
    s.kind = 2;
    s.flags = flags;
    s.value_count = values;
    return s;
}

RecordSpec v2single(uint32_t key, uint8_t curve_s, uint8_t curve_c, uint8_t units,
                    uint8_t entry_flags = 0) {
    RecordSpec s = single(key, 0, entry_flags);
    s.curve_s = curve_s;
    s.curve_c = curve_c;
    s.units = units;
    return s;
}

RecordSpec empty_slot(uint8_t entry_flags = 0) {
    RecordSpec s;
    s.key = 0;
    s.entry_flags = entry_flags;
    return s;
}

RecordSpec with_kind(RecordSpec s, uint8_t kind) {
    s.kind = kind;
    return s;
}

RecordSpec with_extremes(RecordSpec s) {
    s.pin = 255;
    s.error = 255;
    s.diameter = 255;
    s.first_count = 0;
    s.value_count = 0;
    return s;
}

RecordSpec with_tag(RecordSpec s, uint8_t tag) {
    s.tag = tag;
    return s;
}

const std::vector<RecordSpec>& basic_table(Generation gen) {
    static const std::vector<RecordSpec> v1 = {
        single(5, 0x11, 1),             // curve 1, "%", with a note
        empty_slot(),       scan(3, 7), // a scan of 7 values: one full line and one value
        single(5, 0x21),                // equal key: fetched after slot 0
        single(8, 0x05),                // units bit 2 alone gives "%"
        single(9, 0x01, 1),             // SI, note
    };
    static const std::vector<RecordSpec> v2 = {
        v2single(5, 0, 0, 0, 1), // SI and S/m, with a note
        empty_slot(),
        scan(3, 7),
        v2single(5, 0, 3, 0x04), // CGS susceptibility, "%" conductivity
        v2single(8, 2, 0, 0x08), // "%" susceptibility, Ohm.m conductivity
        v2single(9, 0, 0, 0x0C, 1),
    };
    return gen == Generation::v1 ? v1 : v2;
}

// Slots of the edge set past its table, all empty but these.
constexpr uint32_t kEdgeCount = 10003;

const std::vector<RecordSpec>& edge_table(Generation gen) {
    static const std::vector<RecordSpec> v1 = {
        single(0xFFFFFFFFu, 0x01), // never fetched
        single(0x80000000u, 0x01), // top bit set: fetched last, not listed
        scan(0x80000001u, kV1MaxValues, 0x02),
        with_kind(single(1, 0x00), 0), // kind 0 prints nothing
        with_kind(single(2, 0x03), 3), // kind 3 prints nothing
        single(10, 0x01),
        single(10, 0x05),
        single(10, 0x09),
        single(11, 0x11),
        single(12, 0xF1), // curve 15, "%"
        single(13, 0xE1), // curve 14, "SI": bits 5-7 lie outside the units mask
        scan(14, 0),
        scan(15, 1),
        scan(16, 6),
        scan(17, 7),
        scan(18, kV1MaxValues - 1),
        empty_slot(1),          // a note bit on an empty slot
        single(19, 0x01, 0xFE), // entry flag bits other than the note bit
        with_extremes(single(20, 0x01)),
        single(21, 0x1D),
        scan(22, 13, 0x1E),
    };
    static const std::vector<RecordSpec> v2 = {
        v2single(0xFFFFFFFFu, 0, 0, 0),
        v2single(0x80000000u, 0, 0, 0),
        scan(0x80000001u, kV2MaxValues),
        with_kind(v2single(1, 0, 0, 0), 0),
        with_kind(v2single(2, 0, 0, 0), 3),
        v2single(10, 0, 0, 0x00),
        v2single(10, 0, 0, 0x04),
        v2single(10, 0, 0, 0x08),
        v2single(11, 0, 0, 0x0C),
        v2single(12, 1, 0, 0x04), // a curve wins over the CGS bit
        v2single(13, 0, 255, 0x08),
        v2single(14, 3, 4, 0xF3), // unit bits outside 0x0C are not read
        scan(15, 0),
        scan(16, 1),
        scan(17, 5),
        scan(18, 10),
        scan(19, kV2MaxValues - 1),
        empty_slot(1),
        v2single(20, 0, 0, 0, 0xFE),
        with_tag(with_extremes(v2single(21, 0, 0, 0)), 255),
        with_tag(scan(22, 11), 7),
    };
    return gen == Generation::v1 ? v1 : v2;
}

RecordSpec edge_far_slot(uint32_t slot) {
    switch (slot) {
    case 9999:
        return single(30, 0x01);
    case 10000:
        return single(31, 0x01, 1);
    case 10002:
        return scan(29, 2);
    default:
        return empty_slot();
    }
}

RecordSpec big_slot(const DataSpec& dataset, uint32_t slot) {
    Rng r = slot_rng(dataset, slot, 0xB16);
    const uint32_t roll = r.below(100);
    if (roll < 5) {
        return empty_slot();
    }
    // Keys from a small range, so equal keys are common.
    const uint32_t key = 1 + r.below(50000);
    const uint8_t note = r.below(50) == 0 ? 1 : 0;
    RecordSpec s;
    if (roll < 75) {
        s = single(key, 0x01, note);
        s.first_count = static_cast<int32_t>(r.below(10));
        s.value_count = static_cast<int32_t>(r.below(10));
    } else {
        s = scan(key,
                 static_cast<int32_t>(r.below(static_cast<uint32_t>(max_values(dataset.gen)) + 1)));
        s.entry_flags = note;
    }
    s.flags = static_cast<uint8_t>((r.below(16) << 4) | (r.below(8) << 2) | s.kind);
    if (dataset.gen == Generation::v2) {
        s.curve_s = r.below(3) == 0 ? static_cast<uint8_t>(r.below(5)) : 0;
        s.curve_c = r.below(3) == 0 ? static_cast<uint8_t>(r.below(5)) : 0;
        s.units = static_cast<uint8_t>(r.below(4) << 2);
        s.tag = static_cast<uint8_t>(r.below(256));
    }
    return s;
}

void fill_random(unsigned char* p, std::size_t n, Rng& r) {
    uint64_t bits = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 8 == 0) {
            bits = r.next();
        }
        p[i] = static_cast<unsigned char>(bits >> (8 * (i % 8)));
    }
}

void store_date(unsigned char* rec, const RecordValues& v) {
    store_le<uint16_t>(rec + 12, static_cast<uint16_t>(v.year));
    rec[14] = static_cast<unsigned char>(v.month);
    rec[15] = static_cast<unsigned char>(v.day);
    rec[16] = static_cast<unsigned char>(v.hour);
    rec[17] = static_cast<unsigned char>(v.minute);
    rec[18] = static_cast<unsigned char>(v.second);
}

// Marks every third value; values and marks past the scan are filled too, with values a
// reader must never show.
void store_scan(unsigned char* marks, std::size_t mark_bytes, unsigned char* values,
                int32_t capacity, const std::vector<float>& scan) {
    std::memset(marks, 0, mark_bytes);
    for (int32_t i = 0; i < capacity; ++i) {
        const bool in_scan = static_cast<std::size_t>(i) < scan.size();
        const float v = in_scan ? scan[static_cast<std::size_t>(i)] : -9999.0f;
        store_le<float>(values + 4 * static_cast<std::size_t>(i), v);
        if (!in_scan || scan_value_marked(i)) {
            marks[i / 8] = static_cast<unsigned char>(marks[i / 8] | (1u << (i % 8)));
        }
    }
}

std::vector<float> scan_values(Rng& r, int32_t count, int32_t capacity, uint32_t range,
                               int32_t offset) {
    std::vector<float> out(static_cast<std::size_t>(std::clamp(count, 0, capacity)));
    for (float& v : out) {
        v = milli(r, range, offset);
    }
    return out;
}

std::vector<unsigned char> build_v1(const DataSpec& dataset, uint32_t slot, const RecordSpec& s) {
    const RecordValues v = record_values(dataset, slot, s);
    std::vector<unsigned char> rec(kV1RecordSize);
    Rng junk = slot_rng(dataset, slot, 0x7A);
    fill_random(rec.data(), rec.size(), junk);
    store_le<uint32_t>(rec.data(), slot);
    store_le<int32_t>(rec.data() + kV1OffNumber, v.number);
    store_le<int32_t>(rec.data() + kV1OffId, v.id);
    store_date(rec.data(), v);
    rec[kV1OffFlags] = static_cast<unsigned char>((s.flags & 0xFC) | (s.kind & 0x03));
    rec[kV1OffPin] = s.pin;
    rec[kV1OffPin + 1] = s.error;
    rec[kV1OffPin + 2] = s.diameter;
    store_le<float>(rec.data() + kV1OffKappa, v.susceptibility);
    store_le<int32_t>(rec.data() + kV1OffFirstCount, s.first_count);
    store_le<int32_t>(rec.data() + kV1OffValueCount, s.value_count);
    store_scan(rec.data() + kV1OffMarks, 24, rec.data() + kV1OffValues, kV1MaxValues,
               v.susc_values);
    return rec;
}

std::vector<unsigned char> build_v2(const DataSpec& dataset, uint32_t slot, const RecordSpec& s) {
    const RecordValues v = record_values(dataset, slot, s);
    std::vector<unsigned char> rec(kV2RecordSize);
    Rng junk = slot_rng(dataset, slot, 0x7B);
    fill_random(rec.data(), rec.size(), junk);
    store_le<uint32_t>(rec.data(), slot);
    store_le<int32_t>(rec.data() + kV2OffNumber, v.number);
    store_le<int32_t>(rec.data() + kV2OffId, v.id);
    store_date(rec.data(), v);
    // Flag bits 2-7 are not read by the host: leave junk there on purpose.
    rec[kV2OffFlags] = static_cast<unsigned char>((rec[kV2OffFlags] & 0xFC) | (s.kind & 0x03));
    rec[kV2OffCurveS] = s.curve_s;
    rec[kV2OffCurveC] = s.curve_c;
    rec[kV2OffUnits] = s.units;
    rec[kV2OffPin] = s.pin;
    rec[kV2OffPin + 1] = s.error;
    rec[kV2OffPin + 2] = s.diameter;
    rec[kV2OffTag] = s.tag;
    store_le<float>(rec.data() + kV2OffSusc, v.susceptibility);
    store_le<float>(rec.data() + kV2OffCond, v.conductivity);
    store_le<int32_t>(rec.data() + kV2OffFirstCount, s.first_count);
    store_le<int32_t>(rec.data() + kV2OffValueCount, s.value_count);
    store_scan(rec.data() + kV2OffMarks, 60, rec.data() + kV2OffSuscValues, kV2MaxValues,
               v.susc_values);
    // The conductivity values share the marks; only their own numbers differ.
    std::array<unsigned char, 60> cond_marks{};
    store_scan(cond_marks.data(), cond_marks.size(), rec.data() + kV2OffCondValues, kV2MaxValues,
               v.cond_values);
    return rec;
}

} // namespace

bool scan_value_marked(int32_t i) {
    return i % 3 == 1;
}

// The draws keep one order (id, main reading(s), scan values), so a record's bytes stay
// the same from release to release.
RecordValues record_values(const DataSpec& dataset, uint32_t slot, const RecordSpec& s) {
    const bool v1 = dataset.gen == Generation::v1;
    Rng r = slot_rng(dataset, slot, v1 ? 0x11 : 0x22);
    RecordValues v;
    v.number = static_cast<int32_t>(slot + 1);
    v.id = static_cast<int32_t>(100 + r.below(900));
    v.year = 2026;
    v.month = static_cast<int>(1 + slot % 12);
    v.day = static_cast<int>(1 + slot % 28);
    v.hour = static_cast<int>(slot % 24);
    v.minute = static_cast<int>((slot * 7) % 60);
    v.second = static_cast<int>((slot * 13) % 60);
    v.susceptibility = milli(r, 100000, -20000);
    if (v1) {
        v.susc_values = scan_values(r, s.value_count, kV1MaxValues, 50000, -5000);
        return v;
    }
    v.conductivity = static_cast<float>(r.below(50000)) / 10.0f;
    v.susc_values = scan_values(r, s.value_count, kV2MaxValues, 50000, -5000);
    v.cond_values = scan_values(r, s.value_count, kV2MaxValues, 2000000, 0);
    return v;
}

const char* generation_name(Generation gen) {
    return gen == Generation::v1 ? "v1" : "v2";
}

const char* data_set_name(DataSet set) {
    switch (set) {
    case DataSet::basic:
        return "basic";
    case DataSet::edge:
        return "edge";
    case DataSet::empty:
        return "empty";
    case DataSet::big:
        return "big";
    }
    return "?";
}

bool parse_data_set(const std::string& text, DataSet* out) {
    for (DataSet s : {DataSet::basic, DataSet::edge, DataSet::empty, DataSet::big}) {
        if (text == data_set_name(s)) {
            *out = s;
            return true;
        }
    }
    return false;
}

std::size_t record_size(Generation gen) {
    return gen == Generation::v1 ? kV1RecordSize : kV2RecordSize;
}
std::size_t param_size(Generation gen) {
    return gen == Generation::v1 ? kV1ParamSize : kV2ParamSize;
}
uint32_t page_entries(Generation gen) {
    return gen == Generation::v1 ? kV1PageEntries : kV2PageEntries;
}
uint32_t max_entries(Generation gen) {
    return gen == Generation::v1 ? kV1MaxEntries : kV2MaxEntries;
}
int32_t max_values(Generation gen) {
    return gen == Generation::v1 ? kV1MaxValues : kV2MaxValues;
}

std::string meas_file_name(int64_t slot) {
    if (slot < 0) {
        return "meas/last.dat";
    }
    char name[40];
    std::snprintf(name, sizeof name, "meas/meas%.4lld.dat", static_cast<long long>(slot));
    return name;
}

uint32_t data_set_count(const DataSpec& dataset) {
    if (dataset.entries >= 0) {
        return static_cast<uint32_t>(std::min<int64_t>(dataset.entries, max_entries(dataset.gen)));
    }
    switch (dataset.set) {
    case DataSet::basic:
        return static_cast<uint32_t>(basic_table(dataset.gen).size());
    case DataSet::edge:
        return kEdgeCount;
    case DataSet::empty:
        return 0;
    case DataSet::big:
        return kBigDefaultEntries;
    }
    return 0;
}

RecordSpec data_set_spec(const DataSpec& dataset, uint32_t slot) {
    switch (dataset.set) {
    case DataSet::basic: {
        const auto& t = basic_table(dataset.gen);
        if (slot < t.size()) {
            return t[slot];
        }
        break;
    }
    case DataSet::edge: {
        const auto& t = edge_table(dataset.gen);
        if (slot < t.size()) {
            return t[slot];
        }
        if (slot < kEdgeCount) {
            return edge_far_slot(slot);
        }
        break;
    }
    case DataSet::empty:
    case DataSet::big:
        break;
    }
    // --entries past a set's own slots fills them the way the big set does.
    return big_slot(dataset, slot);
}

RecordSpec new_measurement_spec(const DataSpec& dataset, uint32_t slot) {
    RecordSpec s = single(100000 + slot, 0x01);
    if (dataset.gen == Generation::v2) {
        s.tag = 1;
    }
    return s;
}

std::vector<unsigned char> build_record(const DataSpec& dataset, uint32_t slot,
                                        const RecordSpec& rec) {
    return dataset.gen == Generation::v1 ? build_v1(dataset, slot, rec)
                                         : build_v2(dataset, slot, rec);
}

Log::Log(const DataSpec& dataset)
    : spec_(dataset), base_count_(data_set_count(dataset)), count_(base_count_) {}

RecordSpec Log::record_spec(uint32_t slot) const {
    if (slot >= count_ || erased_.count(slot) != 0) {
        return empty_slot();
    }
    return slot < base_count_ ? data_set_spec(spec_, slot) : new_measurement_spec(spec_, slot);
}

Entry Log::entry(uint32_t slot) const {
    const RecordSpec s = record_spec(slot);
    return Entry{s.key, s.entry_flags};
}

bool Log::has_record(uint32_t slot) const {
    return record_spec(slot).key != 0;
}

std::vector<unsigned char> Log::record_bytes(uint32_t slot) const {
    const RecordSpec s = record_spec(slot);
    if (s.key == 0) {
        return {};
    }
    return build_record(spec_, slot, s);
}

std::vector<unsigned char> Log::entry_page(int32_t first) const {
    const uint32_t n = page_entries(spec_.gen);
    std::vector<unsigned char> page(n * kEntrySize, 0);
    if (first < 0) {
        return page;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const Entry e = entry(static_cast<uint32_t>(first) + i);
        store_le<uint32_t>(page.data() + i * kEntrySize, e.key);
        page[i * kEntrySize + 4] = e.flags;
    }
    return page;
}

std::vector<unsigned char> Log::param_block() const {
    std::vector<unsigned char> block(param_size(spec_.gen));
    Rng r{0x9A4A5ULL + static_cast<uint64_t>(spec_.gen)};
    fill_random(block.data(), block.size(), r);
    const std::size_t at = spec_.gen == Generation::v1 ? kV1CountOffset : kV2CountOffset;
    store_le<uint32_t>(block.data() + at, count_);
    return block;
}

int64_t Log::last_slot() const {
    for (int64_t s = static_cast<int64_t>(count_) - 1; s >= 0; --s) {
        if (has_record(static_cast<uint32_t>(s))) {
            return s;
        }
    }
    return -1;
}

std::string Log::note_text(uint32_t slot) const {
    if ((entry(slot).flags & 1) == 0 || !has_record(slot)) {
        return {};
    }
    return "Note of measurement " + std::to_string(slot + 1);
}

int64_t Log::store_new() {
    if (count_ >= max_entries(spec_.gen)) {
        return -1;
    }
    return count_++;
}

void Log::clear() {
    base_count_ = 0;
    count_ = 0;
    erased_.clear();
}

void Log::erase(uint32_t slot) {
    if (slot < count_) {
        erased_.insert(slot);
    }
}

} // namespace vuxo::sim

// The simulated instrument's stored data: the entry list, the measurement records and the
// parameter block. Every byte is computed on demand from (generation, data set, seed, slot),
// so a test can recompute exactly what the simulator sends, and a log of 128,000 records
// costs no memory.
#ifndef VUXO_SIM_DATA_H
#define VUXO_SIM_DATA_H

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vuxo::sim {

enum class Generation { v1, v2 };
enum class DataSet { basic, edge, empty, big };

inline constexpr std::size_t kV1RecordSize = 828;
inline constexpr std::size_t kV2RecordSize = 4063;
inline constexpr std::size_t kV1ParamSize = 4096;
inline constexpr std::size_t kV2ParamSize = 4319;
inline constexpr std::size_t kV1CountOffset = 88;
inline constexpr std::size_t kV2CountOffset = 94;
inline constexpr std::size_t kEntrySize = 5;
inline constexpr uint32_t kV1PageEntries = 128;
inline constexpr uint32_t kV2PageEntries = 32;
inline constexpr uint32_t kV1MaxEntries = 65536;
inline constexpr uint32_t kV2MaxEntries = 128000;
inline constexpr int32_t kV1MaxValues = 180;
inline constexpr int32_t kV2MaxValues = 480;
// The "big" data set's entry count when --entries is not given.
inline constexpr uint32_t kBigDefaultEntries = 1000;

// V1 record offsets.
inline constexpr std::size_t kV1OffNumber = 4;
inline constexpr std::size_t kV1OffId = 8;
inline constexpr std::size_t kV1OffYear = 12;
inline constexpr std::size_t kV1OffFlags = 19;
inline constexpr std::size_t kV1OffPin = 20;
inline constexpr std::size_t kV1OffKappa = 40;
inline constexpr std::size_t kV1OffFirstCount = 76;
inline constexpr std::size_t kV1OffValueCount = 80;
inline constexpr std::size_t kV1OffMarks = 84;
inline constexpr std::size_t kV1OffValues = 108;

// V2 record offsets.
inline constexpr std::size_t kV2OffNumber = 4;
inline constexpr std::size_t kV2OffId = 8;
inline constexpr std::size_t kV2OffYear = 12;
inline constexpr std::size_t kV2OffFlags = 19;
inline constexpr std::size_t kV2OffCurveS = 20;
inline constexpr std::size_t kV2OffCurveC = 21;
inline constexpr std::size_t kV2OffUnits = 22;
inline constexpr std::size_t kV2OffPin = 23;
inline constexpr std::size_t kV2OffTag = 42;
inline constexpr std::size_t kV2OffSusc = 43;
inline constexpr std::size_t kV2OffCond = 47;
inline constexpr std::size_t kV2OffFirstCount = 87;
inline constexpr std::size_t kV2OffValueCount = 91;
inline constexpr std::size_t kV2OffMarks = 95;
inline constexpr std::size_t kV2OffSuscValues = 155;
inline constexpr std::size_t kV2OffCondValues = 2075;

struct DataSpec {
    Generation gen = Generation::v2;
    DataSet set = DataSet::basic;
    uint64_t seed = 1;
    // Entry count override; negative keeps the data set's own count.
    int64_t entries = -1;
    // The serial number's 8 raw bytes; empty keeps the generation's own.
    std::string serial{};
};

// One slot of the entry list. key 0 marks an empty slot.
struct Entry {
    uint32_t key = 0;
    uint8_t flags = 0; // bit 0: a note is attached
};

// What a record holds, before it is laid out as bytes.
struct RecordSpec {
    uint32_t key = 0;
    uint8_t entry_flags = 0;
    uint8_t kind = 1;    // 1 single, 2 scan, 0 and 3 print as nothing
    uint8_t flags = 0;   // V1: the whole flags byte (kind bits are taken from kind)
    uint8_t curve_s = 0; // V2
    uint8_t curve_c = 0; // V2
    uint8_t units = 0;   // V2 unit bits (0x04 CGS, 0x08 Ohm.m)
    int32_t first_count = 0;
    int32_t value_count = 0;
    uint8_t pin = 1;
    uint8_t error = 0;
    uint8_t diameter = 25;
    uint8_t tag = 0; // V2
};

const char* generation_name(Generation gen);
const char* data_set_name(DataSet set);
bool parse_data_set(const std::string& text, DataSet* out);

std::size_t record_size(Generation gen);
std::size_t param_size(Generation gen);
uint32_t page_entries(Generation gen);
uint32_t max_entries(Generation gen);
int32_t max_values(Generation gen);

// "meas/meas%.4d.dat" for a slot, "meas/last.dat" for -1.
std::string meas_file_name(int64_t slot);

// The instrument's log: the data set's slots plus measurements stored while running.
// Not thread-safe; the simulator guards it.
class Log {
  public:
    explicit Log(const DataSpec& dataset);

    const DataSpec& dataset() const { return spec_; }
    uint32_t count() const { return count_; }
    Entry entry(uint32_t slot) const;
    bool has_record(uint32_t slot) const;
    RecordSpec record_spec(uint32_t slot) const;
    // The record of a slot (828 or 4,063 bytes); empty for an empty or unused slot.
    std::vector<unsigned char> record_bytes(uint32_t slot) const;
    // 128 (V1) or 32 (V2) entries of 5 bytes from first on; slots past the count are empty.
    std::vector<unsigned char> entry_page(int32_t first) const;
    std::vector<unsigned char> param_block() const;
    // The slot whose record "meas/last.dat" holds, or -1 when the log has none.
    int64_t last_slot() const;
    // The text of a slot's note (empty without one).
    std::string note_text(uint32_t slot) const;

    // Stores a new measurement in the next free slot; returns the slot or -1 when full.
    int64_t store_new();
    void clear();
    void erase(uint32_t slot);

  private:
    DataSpec spec_;
    uint32_t base_count_; // slots below this come from the data set
    uint32_t count_;
    std::set<uint32_t> erased_;
};

// Slots of a data set, as their specs, without any running changes.
RecordSpec data_set_spec(const DataSpec& dataset, uint32_t slot);
uint32_t data_set_count(const DataSpec& dataset);
// The record of a measurement stored while running.
RecordSpec new_measurement_spec(const DataSpec& dataset, uint32_t slot);
// The numbers a record carries beyond its kind and layout: what a reader of the record must find.
struct RecordValues {
    int32_t number = 0;
    int32_t id = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    float susceptibility = 0; // V1: kappa
    float conductivity = 0;   // V2
    // The scan: value_count values, limited to the record's room (none for a count below
    // 0); value i is marked when scan_value_marked(i).
    std::vector<float> susc_values; // V1: the values
    std::vector<float> cond_values; // V2
};
RecordValues record_values(const DataSpec& dataset, uint32_t slot, const RecordSpec& rec);
bool scan_value_marked(int32_t i);

// Lays a record description out as bytes; the values come from (generation, set, seed, slot).
std::vector<unsigned char> build_record(const DataSpec& dataset, uint32_t slot,
                                        const RecordSpec& rec);

} // namespace vuxo::sim

#endif

// One measurement record as text: a header line and, for a scan, its values block.
#ifndef VUXOTEST_PRINTERS_H
#define VUXOTEST_PRINTERS_H

#include <cstdint>
#include <cstdio>

namespace vuxotest {

// record: kV1RecordSize bytes (records.h).
void show_meas_record_v1(std::FILE* out, const unsigned char* record);
// record: kV2RecordSize bytes.
void show_meas_record_v2(std::FILE* out, const unsigned char* record);

// How many scan values a block prints for a stored count: a count below 0 prints as
// none, one above the record's capacity stops at the capacity, so no value or mark
// bit is read past the record.
int32_t printable_values(int32_t value_count, int32_t capacity);

} // namespace vuxotest

#endif

// The console program's record printers: any 832-byte (first generation) or
// 4,064-byte (second generation) record, counts and kinds included, is printed
// without reading outside the record. The record sits in a heap block of
// exactly its size, so AddressSanitizer sees the first byte read past it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz_input.h"
#include "printers.h"
#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static std::FILE* const sink = std::fopen("/dev/null", "w");
    FUZZ_CHECK(sink != nullptr);
    fuzz::Input in(data, size);
    const bool second = (in.u8() & 1) != 0;
    const std::size_t record_size = second ? vuxotest::kV2RecordBuffer : vuxotest::kV1RecordBuffer;
    std::vector<unsigned char> record = in.bytes(record_size);
    record.resize(record_size);
    record.shrink_to_fit();
    if (second) {
        vuxotest::show_meas_record_v2(sink, record.data());
    } else {
        vuxotest::show_meas_record_v1(sink, record.data());
    }
    return 0;
}

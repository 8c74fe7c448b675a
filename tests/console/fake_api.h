// A scripted stand-in for the device library's log commands, linked into the unit
// tests in place of libvuxoint: an in-memory instrument that records every request.
#ifndef VUXOTEST_FAKE_API_H
#define VUXOTEST_FAKE_API_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fake_api {

using Bytes = std::vector<unsigned char>;

struct Chunk_request {
    std::string name;
    int32_t offset;
    int32_t length;
};

struct Instrument {
    uint32_t entry_count = 0;
    std::map<uint32_t, std::pair<uint32_t, uint8_t>> entries; // slot: key, flags
    std::map<int32_t, Bytes> v1_records;                      // by log index
    std::map<std::string, Bytes> files;                       // V2 records by name

    // Failures: the command's result code, 0 for none.
    int params_rc = 0;
    int32_t failing_page = -1;
    int page_rc = 255;
    int32_t failing_record = INT32_MIN;
    int record_rc = 1;
    int32_t failing_chunk_offset = -1;
    int chunk_rc = 255;
    int32_t empty_chunk_offset = -1; // answered with a byte count of 0
    int32_t claimed_extra = 0;       // added to every chunk's byte count

    std::vector<int32_t> pages;
    std::vector<int32_t> v1_fetches;
    std::vector<Chunk_request> chunks;
};

// The instrument the fake functions serve; reset() before each test.
Instrument& instrument();
void reset();

} // namespace fake_api

#endif

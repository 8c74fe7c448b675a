// Downloading the instrument's measurement log and single records, printed to `out`.
// Every call blocks until the instrument answers or the library gives up. The
// downloads return 0, or -1 after a failure (already reported on `out`); the record
// fetches return 0 or a nonzero failure.
#ifndef VUXOTEST_DOWNLOAD_H
#define VUXOTEST_DOWNLOAD_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vuxotest {

inline constexpr uint32_t kV1TableEntries = 65536;
inline constexpr uint32_t kV2TableEntries = 128000;

// The whole log: entry table, listing, then every record in key order.
int download_all_meas_v1(std::FILE* out, int conn_id);
int download_all_meas_v2(std::FILE* out, int conn_id);

// One record by log index; for V2, -1 reads the instrument's latest measurement.
int download_meas_v1(std::FILE* out, int conn_id, int32_t index);
int download_meas_v2(std::FILE* out, int conn_id, int32_t index);

// record: kV1RecordBuffer bytes.
int download_record_v1(std::FILE* out, int conn_id, int32_t index, unsigned char* record);
// record: kV2RecordBuffer bytes; filled by chunks.
int download_record_v2(std::FILE* out, int conn_id, int32_t index, unsigned char* record);

// The V2 measurement file of a log index: "meas/last.dat" for -1, else
// "meas/meas%.4d.dat". name: 32 bytes.
void meas_file_name(int32_t index, char* name);

// The length to ask for when `received` bytes of the record buffer are filled.
int32_t chunk_length(int32_t received);

// What the two generations' downloads differ in.
struct Log_format {
    const char* step;    // names the download in failure messages
    const char* heading; // text before "(%d entries)...\n"
    std::size_t param_size;
    std::size_t count_offset;
    uint32_t page_entries;
    uint32_t table_entries;
    bool page_lines; // "pred record:" / "record:" around each page
    std::size_t record_buffer;
    int (*get_params)(int conn_id, void* params, int wait);
    int (*get_page)(int conn_id, int32_t first, void* list, int wait);
    int (*fetch)(std::FILE* out, int conn_id, int32_t index, unsigned char* record);
    void (*show)(std::FILE* out, const unsigned char* record);
};

int download_all(std::FILE* out, int conn_id, const Log_format& format);
int download_one(std::FILE* out, int conn_id, int32_t index, const Log_format& format);

} // namespace vuxotest

#endif

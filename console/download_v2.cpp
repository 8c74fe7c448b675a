// Second generation: each record is a file on the instrument, read in chunks.
#include <algorithm>
#include <cstdint>

#include "command_error.h"
#include "download.h"
#include "layout.h"
#include "printers.h"
#include "records.h"
#include "vuxoint.h"

namespace vuxotest {

namespace {

constexpr int32_t kChunk = 450;
constexpr std::size_t kNameSize = 32;

const Log_format kV2Format = {
    "download_all_meas_v2",
    "Downloading V2 entry table",
    vuxod::layout::kV2ParamSize,
    vuxod::layout::kV2CountOffset,
    vuxod::layout::kV2PageEntries,
    kV2TableEntries,
    true,
    kV2RecordBuffer,
    vuxov2_get_params,
    vuxov2_get_meas_log_entry_list,
    download_record_v2,
    show_meas_record_v2,
};

} // namespace

void meas_file_name(int32_t index, char* name) {
    if (index == -1) {
        std::snprintf(name, kNameSize, "meas/last.dat");
    } else {
        std::snprintf(name, kNameSize, "meas/meas%.4d.dat", index);
    }
}

int32_t chunk_length(int32_t received) {
    return std::min(kChunk, static_cast<int32_t>(kV2RecordBuffer) - received);
}

int download_record_v2(std::FILE* out, int conn_id, int32_t index, unsigned char* record) {
    char name[kNameSize] = {};
    meas_file_name(index, name);
    int32_t received = 0;
    // A record is complete once all its bytes have arrived.
    while (received < static_cast<int32_t>(kV2RecordSize)) {
        const int32_t length = chunk_length(received);
        int count = 0;
        const int rc =
            vuxov2_read_file(conn_id, name, record + received, received, length, &count, 1);
        if (rc != 0) {
            print_command_error(out, "download_record_v2", rc);
            return rc;
        }
        if (count <= 0) {
            return -1;
        }
        // The library stores no more than was asked for, whatever count the instrument claims.
        received += std::min(count, length);
    }
    return 0;
}

int download_all_meas_v2(std::FILE* out, int conn_id) {
    std::fprintf(out, "Params size:%d\n", static_cast<int>(kV2Format.param_size));
    return download_all(out, conn_id, kV2Format);
}

int download_meas_v2(std::FILE* out, int conn_id, int32_t index) {
    return download_one(out, conn_id, index, kV2Format);
}

} // namespace vuxotest

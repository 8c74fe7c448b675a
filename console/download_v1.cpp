// First generation: records are log entries fetched whole.
#include <cstdint>

#include "command_error.h"
#include "download.h"
#include "layout.h"
#include "printers.h"
#include "records.h"
#include "vuxoint.h"

namespace vuxotest {

namespace {

const Log_format kV1Format = {
    "download_all_meas_v1",
    "Downloading entry table",
    vuxod::layout::kV1ParamSize,
    vuxod::layout::kV1CountOffset,
    vuxod::layout::kV1PageEntries,
    kV1TableEntries,
    false,
    kV1RecordBuffer,
    vuxov1_get_params,
    vuxov1_get_meas_log_entry_list,
    download_record_v1,
    show_meas_record_v1,
};

} // namespace

int download_record_v1(std::FILE* out, int conn_id, int32_t index, unsigned char* record) {
    const int rc = vuxov1_get_meas_log_entry(conn_id, index, 0, record, 1);
    if (rc != 0) {
        print_command_error(out, "download_record_v1", rc);
    }
    return rc;
}

int download_all_meas_v1(std::FILE* out, int conn_id) {
    return download_all(out, conn_id, kV1Format);
}

int download_meas_v1(std::FILE* out, int conn_id, int32_t index) {
    return download_one(out, conn_id, index, kV1Format);
}

} // namespace vuxotest

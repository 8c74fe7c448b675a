/* Sizes and offsets of the record layer's structs as the C compiler lays them out,
   for the Python package's ctypes mirrors to be checked against. */
#include <stddef.h>
#include <stdio.h>

#include "vuxodata.h"

int main(void) {
    printf("{\"Measurement\": %zu, \"Session\": %zu, \"Record\": %zu, \"LogOptions\": %zu,"
           " \"LogReport\": %zu, \"SyncOptions\": %zu, \"SyncSummary\": %zu,"
           " \"Measurement.raw_size\": %zu, \"Measurement.marks\": %zu,"
           " \"SyncSummary.db_error\": %zu, \"SyncOptions.user\": %zu, \"Recovery\": %zu,"
           " \"Recovery.reconnect\": %zu, \"SyncSummary.not_fetched\": %zu}\n",
           sizeof(vuxod_measurement), sizeof(vuxod_session), sizeof(vuxod_record),
           sizeof(vuxod_log_options), sizeof(vuxod_log_report), sizeof(vuxod_sync_options),
           sizeof(vuxod_sync_summary), offsetof(vuxod_measurement, raw_size),
           offsetof(vuxod_measurement, marks), offsetof(vuxod_sync_summary, db_error),
           offsetof(vuxod_sync_options, user), sizeof(vuxod_recovery),
           offsetof(vuxod_recovery, reconnect), offsetof(vuxod_sync_summary, not_fetched));
    return 0;
}

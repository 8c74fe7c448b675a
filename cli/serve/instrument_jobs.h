// What the page asks of an instrument, each run as a job on its worker's thread
// through the same functions as the subcommands info, clock --set-now, sync and
// sync --clear-after.
#ifndef VUXOCLI_SERVE_INSTRUMENT_JOBS_H
#define VUXOCLI_SERVE_INSTRUMENT_JOBS_H

#include <nlohmann/json.hpp>

#include "instrument_worker.h"

namespace vuxocli::serve {

struct JobResult {
    int status = 200; // the HTTP status
    nlohmann::json body;
};

// generation, serial, firmware, model_revision, entries, memory_usage,
// memory_text, clock, computer_clock, clock_offset_s, last_sync.
JobResult info_job(InstrumentWorker& w);
// The clock set to this computer's local time and read back.
JobResult set_clock_job(InstrumentWorker& w);
// Publishes "sync" events (phase, done, total, rate, eta_s) while it runs and
// one "sync-done" with the summary.
void sync_job(InstrumentWorker& w);
// The log cleared, when the last sync held everything and the entry list read
// again shows nothing the database lacks.
JobResult clear_job(InstrumentWorker& w);
// With --auto-sync: a sync when the database knows the instrument already.
void auto_sync_job(InstrumentWorker& w);

} // namespace vuxocli::serve

#endif

// The incremental sync: the store (store.h) fed by a log read that skips what the
// store holds. The vuxoint tool and the Python package both run exactly this.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "c_text.h"
#include "exchange.h"
#include "record_writer.h"
#include "store.h"
#include "vuxodata.h"
#include "vuxoint.h"

using vuxocli::copy_text;

namespace {

using vuxocli::PutResult;
using vuxocli::Store;

struct Run {
    const vuxod_sync_options* o = nullptr;
    // The instrument's row is written with the first record stored, so that an
    // interrupted sync still names it, and again when the sync completes.
    vuxocli::InstrumentRecords records;
    // Stores on its own thread while the next record is fetched.
    std::unique_ptr<vuxocli::RecordWriter> writer;
    uint32_t stored = 0;
    uint32_t already_held = 0;
    int db_step = VUXOD_DB_NONE;
    std::string db_error;
    int32_t db_error_slot = -1;
};

bool stop_asked(const Run& run) {
    return run.o->stop != nullptr && run.o->stop(run.o->user) != 0;
}

int on_record(const vuxod_record* record, void* user) {
    Run& run = *static_cast<Run*>(user);
    try {
        if (!run.writer->push(*record)) {
            return 1;
        }
    } catch (...) {
        run.db_step = VUXOD_DB_STORE;
        run.db_error = "out of memory";
        run.db_error_slot = record->slot;
        return 1;
    }
    return stop_asked(run) ? 1 : 0;
}

// Waits for the writer and takes over what it stored, and why it stopped.
void settle(Run& run) {
    const vuxocli::RecordWriter::Counts c = run.writer->drain();
    run.stored = c.stored;
    run.already_held = c.already_held;
    if (c.failed && run.db_step == VUXOD_DB_NONE) {
        run.db_step = VUXOD_DB_STORE;
        run.db_error = c.error;
        run.db_error_slot = c.error_slot;
    }
}

int on_failure(int32_t slot, uint32_t key, int code, void* user) {
    Run& run = *static_cast<Run*>(user);
    if (run.o->on_failure != nullptr && run.o->on_failure(slot, key, code, run.o->user) != 0) {
        return 1;
    }
    return stop_asked(run) ? 1 : 0;
}

void on_progress(int phase, uint32_t done, uint32_t total, void* user) {
    const Run& run = *static_cast<Run*>(user);
    if (run.o->progress != nullptr) {
        run.o->progress(phase, done, total, run.o->user);
    }
}

// Eight characters fill the instrument's field without a terminating zero.
std::string read_text(int (*get)(int, char*), int conn_id, int* rc) {
    char text[32] = {};
    *rc = get(conn_id, text);
    return std::string(text, strnlen(text, 8));
}

int database_failure(vuxod_sync_summary* out, int db_step, const std::string& error, int32_t slot) {
    out->code = VUXOD_E_DATABASE;
    out->step = VUXOD_STEP_DATABASE;
    out->db_step = db_step;
    out->slot = slot;
    copy_text(out->db_error, sizeof out->db_error, error);
    return VUXOD_E_DATABASE;
}

// A lost connection, or an instrument that stopped answering on it: worth opening
// again. This layer's own codes lie below -10000; the transport's above.
bool connection_lost(int rc) {
    return rc == VUXOD_E_GONE || rc == VUXOD_E_NO_DEVICE || (rc < 0 && rc > -10000);
}

// Opens the connection again and checks that the same instrument answers.
bool reconnect(const vuxod_recovery& r, void* user, const std::string& serial,
               vuxod_session* session) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(r.reconnect_pause_ms, 0)));
    int fresh = -1;
    if (r.reconnect(session->conn_id, &fresh, user) != 0 ||
        vuxod_session_open(session, fresh) != VUXOD_OK) {
        return false;
    }
    int rc = VUXOD_OK;
    return read_text(vuxo_get_serial, fresh, &rc) == serial && rc == VUXOD_OK;
}

// One read of the log that skips what the store holds now.
int read_pass(Run& run, vuxod_session* session, vuxod_log_report* report, std::string* error) {
    std::vector<vuxod_slot_key> held;
    if (!run.records.store->held(run.records.info.serial, &held, error)) {
        return VUXOD_E_DATABASE;
    }
    vuxod_sort_slot_keys(held.data(), held.size());
    vuxod_log_options lo;
    vuxod_log_options_init(&lo);
    lo.flags = VUXOD_LOG_KEEP_GOING;
    lo.on_record = on_record;
    lo.on_failure = on_failure;
    lo.progress = on_progress;
    lo.skip_pairs = held.data();
    lo.skip_count = held.size();
    lo.user = &run;
    return vuxod_read_log(session, &lo, report);
}

int sync(int conn_id, const char* db_path, const vuxod_sync_options* o, const vuxod_recovery& r,
         vuxod_sync_summary* out) {
    std::string error;
    std::unique_ptr<Store> store = Store::open(db_path, Store::Mode::write, &error);
    if (!store) {
        return database_failure(out, VUXOD_DB_OPEN, error, -1);
    }
    vuxod_session session;
    int rc = vuxod_session_open(&session, conn_id);
    Run run;
    run.records.store = store.get();
    run.o = o;
    run.records.info.generation = session.generation;
    if (rc == VUXOD_OK) {
        run.records.info.serial = o->serial != nullptr ? std::string(o->serial)
                                                       : read_text(vuxo_get_serial, conn_id, &rc);
    }
    if (rc == VUXOD_OK) {
        run.records.info.firmware = o->firmware != nullptr
                                        ? std::string(o->firmware)
                                        : read_text(vuxo_get_fw_version, conn_id, &rc);
    }
    if (rc != VUXOD_OK || run.records.info.serial.empty()) {
        out->code = rc != VUXOD_OK ? rc : VUXOD_E_NO_DEVICE;
        out->step = VUXOD_STEP_IDENTIFY;
        return out->code;
    }
    out->generation = session.generation;
    copy_text(out->serial, sizeof out->serial, run.records.info.serial);
    copy_text(out->firmware, sizeof out->firmware, run.records.info.firmware);

    std::string firmware;
    const bool known = store->find_instrument(run.records.info.serial, &run.records.instrument_id,
                                              &firmware, &error);
    if (!error.empty()) {
        return database_failure(out, VUXOD_DB_READ, error, -1);
    }
    // Passes until the log was read to its end, each skipping what the passes before
    // stored: after a lost connection, opened again, and while records failed, up to
    // the retries asked for (each pass reads the entry list afresh, so its report
    // accounts for every entry).
    vuxod_log_report report{};
    uint32_t stored_before = 0;
    int reconnects = 0;
    int retries = 0;
    // A queue of a few dozen records: the reader runs ahead of the store by at
    // most that many, and a batch of them costs one commit.
    constexpr std::size_t kQueued = 32;
    run.writer = std::make_unique<vuxocli::RecordWriter>(&run.records, kQueued);
    for (;;) {
        stored_before = run.stored;
        rc = read_pass(run, &session, &report, &error);
        // The next pass asks the store what it holds: all of this one first.
        settle(run);
        if (rc == VUXOD_E_DATABASE) {
            return database_failure(out, VUXOD_DB_READ, error, -1);
        }
        if (!run.db_error.empty() || run.db_step != VUXOD_DB_NONE || stop_asked(run)) {
            break;
        }
        if (connection_lost(rc) && r.reconnect != nullptr) {
            // Each try counts, whether or not the instrument answers it.
            bool back = false;
            while (!back && reconnects < r.reconnects && !stop_asked(run)) {
                ++reconnects;
                back = reconnect(r, o->user, run.records.info.serial, &session);
            }
            if (back) {
                continue;
            }
            break;
        }
        if (vuxod::record_failure(rc) && report.failed > 0 && retries < r.retries) {
            ++retries;
            continue;
        }
        break;
    }

    out->entry_count = report.entry_count;
    out->stored = run.stored;
    // What the last pass skipped, less what earlier passes of this sync stored.
    out->already_held = report.skipped - std::min(report.skipped, stored_before) + run.already_held;
    out->failed = report.failed;
    out->not_fetched = report.to_fetch - report.fetched - report.failed;
    if (!run.db_error.empty() || run.db_step != VUXOD_DB_NONE) {
        return database_failure(out, run.db_step, run.db_error, run.db_error_slot);
    }
    // A new instrument, or one with new firmware, is recorded even when it
    // brought no new measurement; a completed sync moves last_sync to its end,
    // so that it says when the instrument was last found with nothing left.
    const bool changed = !run.records.noted && (!known || firmware != run.records.info.firmware);
    if ((changed || rc == VUXOD_OK) &&
        !store->note_sync(run.records.info, &run.records.instrument_id, &error)) {
        return database_failure(out, VUXOD_DB_INSTRUMENT, error, -1);
    }
    out->code = rc;
    out->step = report.step;
    out->slot = report.slot;
    out->key = report.key;
    return rc;
}

} // namespace

extern "C" {

void vuxod_sync_options_init(vuxod_sync_options* o) {
    if (o != nullptr) {
        std::memset(o, 0, sizeof *o);
        o->struct_size = sizeof *o;
    }
}

void vuxod_recovery_init(vuxod_recovery* r) {
    if (r != nullptr) {
        std::memset(r, 0, sizeof *r);
        r->struct_size = sizeof *r;
        r->retries = 1;
        r->reconnects = 2;
        r->reconnect_pause_ms = 1000;
    }
}

int vuxod_sync(int conn_id, const char* db_path, const vuxod_sync_options* o,
               vuxod_sync_summary* summary) {
    return vuxod_sync_recovering(conn_id, db_path, o, nullptr, summary);
}

int vuxod_sync_recovering(int conn_id, const char* db_path, const vuxod_sync_options* o,
                          const vuxod_recovery* r, vuxod_sync_summary* summary) {
    vuxod_sync_summary local;
    vuxod_sync_summary* out = summary != nullptr ? summary : &local;
    std::memset(out, 0, sizeof *out);
    out->slot = -1;
    out->generation = -1;
    vuxod_sync_options defaults;
    vuxod_sync_options_init(&defaults);
    if (o == nullptr) {
        o = &defaults;
    }
    vuxod_recovery recovery;
    vuxod_recovery_init(&recovery);
    if (r == nullptr) {
        r = &recovery;
    }
    if (db_path == nullptr || o->struct_size < sizeof *o || r->struct_size < sizeof *r) {
        out->code = VUXOD_E_ARGUMENT;
        return out->code;
    }
    try {
        return sync(conn_id, db_path, o, *r, out);
    } catch (...) {
        out->code = VUXOD_E_NO_MEMORY;
        return out->code;
    }
}

} // extern "C"

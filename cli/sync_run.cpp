#include "sync_run.h"

#include "result_text.h"
#include "shown_text.h"

namespace vuxocli {

namespace {

struct Run {
    const ConnTarget* target = nullptr;
    Instrument* inst = nullptr;
    const SyncHooks* hooks = nullptr;
    const LinkEvents* events = nullptr;
    int reconnects = 0;
};

int on_failure(int32_t slot, uint32_t key, int code, void* user) {
    const Run& run = *static_cast<Run*>(user);
    if (run.hooks->failure) {
        run.hooks->failure(slot, key, code);
    }
    return 0;
}

// The record layer lost the link: the same target opened again.
int reconnect(int, int* new_conn_id, void* user) {
    Run& run = *static_cast<Run*>(user);
    if (run.hooks->reconnecting) {
        run.hooks->reconnecting(++run.reconnects);
    }
    close_instrument(*run.inst);
    std::string error;
    if (!open_instrument(*run.target, run.inst, &error, run.events)) {
        if (run.hooks->reconnect_failed) {
            run.hooks->reconnect_failed(error);
        }
        return 1;
    }
    *new_conn_id = run.inst->conn_id;
    return 0;
}

int stop_asked(void* user) {
    const Run& run = *static_cast<Run*>(user);
    return run.hooks->stop && run.hooks->stop() ? 1 : 0;
}

void on_progress(int phase, uint32_t done, uint32_t total, void* user) {
    const Run& run = *static_cast<Run*>(user);
    if (run.hooks->progress) {
        run.hooks->progress(phase, done, total);
    }
}

const char* database_step(int db_step) {
    switch (db_step) {
    case VUXOD_DB_OPEN:
        return "open";
    case VUXOD_DB_READ:
        return "read what is held";
    case VUXOD_DB_INSTRUMENT:
        return "record the instrument";
    default:
        return "store the record";
    }
}

} // namespace

std::string record_name(int32_t slot, uint32_t key) {
    return "record of slot " + std::to_string(slot) + " (key " + std::to_string(key) + ")";
}

int sync_instrument(const ConnTarget& target, Instrument* inst, const SyncSettings& settings,
                    const SyncHooks& hooks, vuxod_sync_summary* sum) {
    Run run;
    run.target = &target;
    run.inst = inst;
    run.hooks = &hooks;
    run.events = settings.events;
    vuxod_sync_options o;
    vuxod_sync_options_init(&o);
    o.serial = inst->serial.c_str();
    o.firmware = inst->firmware.c_str();
    o.progress = on_progress;
    o.on_failure = on_failure;
    o.stop = stop_asked;
    o.user = &run;
    vuxod_recovery recovery;
    vuxod_recovery_init(&recovery);
    recovery.reconnect = reconnect;
    recovery.reconnects = settings.reconnects;
    recovery.retries = settings.retries;
    *sum = vuxod_sync_summary{};
    return vuxod_sync_recovering(inst->conn_id, settings.db.c_str(), &o, &recovery, sum);
}

std::string sync_failure_text(int rc, const vuxod_sync_summary& sum, const std::string& who,
                              const std::string& db) {
    if (rc == VUXOD_E_DATABASE) {
        const std::string what = sum.db_step == VUXOD_DB_STORE
                                     ? "store the record of slot " + std::to_string(sum.slot)
                                     : database_step(sum.db_step);
        return "database " + db + ": " + what + ": " + sum.db_error;
    }
    if (sum.step == VUXOD_STEP_IDENTIFY) {
        return who + ": identify the instrument: " + result_text(rc);
    }
    if (rc != VUXOD_OK && sum.step != VUXOD_STEP_RECORD && sum.step != VUXOD_STEP_CALLBACK) {
        const std::string where = sum.step == VUXOD_STEP_ENTRY_LIST
                                      ? " from entry " + std::to_string(sum.slot)
                                      : std::string();
        return who + ": " + vuxod_step_text(sum.step) + where + ": " + result_text(rc);
    }
    if (rc < 0 && rc != VUXOD_E_STOPPED && sum.step == VUXOD_STEP_RECORD) {
        // A failure that ends the read (the connection is gone) was not
        // reported record by record.
        return who + ": fetching the " + record_name(sum.slot, sum.key) + ": " + result_text(rc);
    }
    return "";
}

std::string summary_line(const Instrument& inst, const vuxod_sync_summary& sum) {
    return shown(inst.serial) + ": " + std::to_string(sum.stored) + " new, " +
           std::to_string(sum.already_held) + " already held, " + std::to_string(sum.failed) +
           " failed, " + std::to_string(sum.not_fetched) + " not fetched";
}

nlohmann::ordered_json summary_json(const Instrument& inst, const vuxod_sync_summary& sum) {
    nlohmann::ordered_json j;
    j["instrument"] = shown(inst.serial);
    j["generation"] = inst.generation == VUXOD_V1 ? "V1" : "V2";
    j["entries"] = sum.entry_count;
    j["new"] = sum.stored;
    j["already_held"] = sum.already_held;
    j["failed"] = sum.failed;
    j["not_fetched"] = sum.not_fetched;
    return j;
}

} // namespace vuxocli

// One sync of a connected instrument into a database, with its recovery (a lost
// link opened again, failed records tried again), as the sync subcommand and
// the web page both run it; what they say about it is theirs, through hooks.
#ifndef VUXOCLI_SYNC_RUN_H
#define VUXOCLI_SYNC_RUN_H

#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "connect.h"
#include "vuxodata.h"

namespace vuxocli {

struct SyncSettings {
    std::string db;
    int reconnects = 2; // a lost link is opened again this often
    int retries = 1;    // further passes over records that failed
    // For a connection opened again; null: none. Must outlive the sync.
    const LinkEvents* events = nullptr;
};

// Each may be empty. They run on the syncing thread.
struct SyncHooks {
    std::function<void(int phase, uint32_t done, uint32_t total)> progress;
    std::function<void(int32_t slot, uint32_t key, int code)> failure;
    std::function<void(int attempt)> reconnecting;
    std::function<void(const std::string& error)> reconnect_failed;
    std::function<bool()> stop; // true: end after the record in hand
};

// vuxod_sync_recovering over inst's connection; a lost one is opened again from
// target into *inst. The record layer's result, with *sum filled.
int sync_instrument(const ConnTarget& target, Instrument* inst, const SyncSettings& settings,
                    const SyncHooks& hooks, vuxod_sync_summary* sum);

// "record of slot 3 (key 5)".
std::string record_name(int32_t slot, uint32_t key);

// What ended a sync early (the database, the instrument's identity, its entry
// list, a lost link) as the words that follow "vuxoint: "; empty when records
// failed one by one (the failure hook told of each) or nothing failed.
std::string sync_failure_text(int rc, const vuxod_sync_summary& sum, const std::string& who,
                              const std::string& db);

// The summary as every front gives it: "SERIAL: N new, M already held, K failed,
// J not fetched", and the same counts as JSON (instrument, generation, entries,
// new, already_held, failed, not_fetched).
std::string summary_line(const Instrument& inst, const vuxod_sync_summary& sum);
nlohmann::ordered_json summary_json(const Instrument& inst, const vuxod_sync_summary& sum);

} // namespace vuxocli

#endif

#include "sync_command.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "connect.h"
#include "exit_status.h"
#include "progress.h"
#include "result_text.h"
#include "store.h"

namespace vuxocli {

namespace {

std::atomic<int> g_signal{0};

void on_signal(int signo) {
    g_signal.store(signo);
}

// The first Ctrl-C (or SIGTERM) ends the sync after the record being stored;
// the handler is then gone, so a second one ends the program at once. Either
// way every stored record stays stored.
void catch_interrupts() {
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

struct Run {
    Store* store = nullptr;
    InstrumentInfo info;
    // The instrument's row is written with the first record stored, so that a
    // sync that finds nothing new writes nothing at all.
    bool noted = false;
    int64_t instrument_id = 0;
    std::string who; // the connection, for messages
    Progress* progress = nullptr;
    uint32_t stored = 0;
    uint32_t already_held = 0;
    std::string db_error;
    int32_t db_error_slot = -1;
};

std::string record_name(int32_t slot, uint32_t key) {
    return "record of slot " + std::to_string(slot) + " (key " + std::to_string(key) + ")";
}

int on_record(const vuxod_record* record, void* user) {
    Run& run = *static_cast<Run*>(user);
    std::string error;
    if (!run.noted && !run.store->note_sync(run.info, &run.instrument_id, &error)) {
        run.db_error = error;
        run.db_error_slot = record->slot;
        return 1;
    }
    run.noted = true;
    switch (run.store->put(run.instrument_id, *record, &error)) {
    case PutResult::stored:
        ++run.stored;
        break;
    case PutResult::already_held:
        ++run.already_held;
        break;
    case PutResult::failed:
        run.db_error = error;
        run.db_error_slot = record->slot;
        return 1;
    }
    return g_signal.load() != 0 ? 1 : 0;
}

int on_failure(int32_t slot, uint32_t key, int code, void* user) {
    Run& run = *static_cast<Run*>(user);
    run.progress->clear();
    std::fprintf(stderr, "vuxoint: %s: fetching the %s: %s\n", run.who.c_str(),
                 record_name(slot, key).c_str(), result_text(code).c_str());
    return g_signal.load() != 0 ? 1 : 0;
}

void on_progress(int phase, uint32_t done, uint32_t total, void* user) {
    Run& run = *static_cast<Run*>(user);
    if (phase == VUXOD_PHASE_ENTRIES) {
        run.progress->entries(done, total);
    } else {
        run.progress->records(done, total);
    }
}

void print_summary(const SyncOptions& opt, const Instrument& inst, const Run& run,
                   const vuxod_log_report& report) {
    const uint32_t held = report.skipped + run.already_held;
    if (opt.json) {
        nlohmann::ordered_json j;
        j["instrument"] = inst.serial;
        j["generation"] = inst.generation == VUXOD_V1 ? "V1" : "V2";
        j["entries"] = report.entry_count;
        j["new"] = run.stored;
        j["already_held"] = held;
        j["failed"] = report.failed;
        j["database"] = opt.db;
        std::printf("%s\n", j.dump().c_str());
    } else {
        std::printf("%s: %u new, %u already held, %u failed\n", inst.serial.c_str(), run.stored,
                    held, report.failed);
    }
    std::fflush(stdout);
}

} // namespace

CLI::App* add_sync_command(CLI::App& app, SyncOptions* opt) {
    CLI::App* sub = app.add_subcommand(
        "sync", "Fetch every measurement the database does not hold yet and store it");
    sub->add_option("CONN", opt->conn, "The instrument (see CONN below)")->required();
    sub->add_option("--db", opt->db, "The database file, created when missing")
        ->capture_default_str();
    sub->add_flag("--json", opt->json, "Print the summary line as one JSON object");
    sub->footer(
        "Reads the instrument's entry count and entry list, then fetches only the (slot, key)\n"
        "pairs the database does not hold and stores each in its own transaction as it\n"
        "arrives: an interrupted sync keeps what it stored and the next one fetches the rest.\n"
        "Nothing stored is ever changed or deleted; a slot whose key changed (the log was\n"
        "cleared and refilled) is a new measurement.\n"
        "\n"
        "Standard output gets one summary line (\"SERIAL: N new, M already held, K failed\",\n"
        "or with --json an object with instrument, generation, entries, new, already_held,\n"
        "failed, database). Standard error gets a progress line when it is a terminal, and\n"
        "a line for each failure naming the connection, the step and the result.\n"
        "\n" +
        std::string(conn_forms_help()));
    return sub;
}

int run_sync(const SyncOptions& opt) {
    std::string why;
    const std::optional<ConnSpec> spec = parse_conn(opt.conn, &why);
    if (!spec) {
        std::fprintf(stderr, "vuxoint: CONN \"%s\": %s\n", opt.conn.c_str(), why.c_str());
        return kExitUsage;
    }
    // The database first: a file that cannot be written stops the run before
    // the instrument is bothered.
    std::string error;
    std::unique_ptr<Store> store = Store::open(opt.db, Store::Mode::write, &error);
    if (!store) {
        std::fprintf(stderr, "vuxoint: database %s: open: %s\n", opt.db.c_str(), error.c_str());
        return kExitDatabase;
    }
    Library library;
    if (!library.started()) {
        std::fprintf(stderr, "vuxoint: %s: start the transport: failed\n", spec->text.c_str());
        return kExitNoInstrument;
    }
    Instrument inst;
    if (!open_instrument(*spec, &inst, &error)) {
        std::fprintf(stderr, "vuxoint: %s\n", error.c_str());
        return kExitNoInstrument;
    }
    const std::string who = describe(*spec, inst.conn_string);
    vuxod_session session;
    int rc = vuxod_session_open(&session, inst.conn_id);
    if (rc != VUXOD_OK) {
        std::fprintf(stderr, "vuxoint: %s: identify the instrument: %s\n", who.c_str(),
                     result_text(rc).c_str());
        close_instrument(inst);
        return kExitNoInstrument;
    }
    std::vector<vuxod_slot_key> held;
    int64_t instrument_id = 0;
    std::string firmware;
    error.clear();
    const bool known = store->find_instrument(inst.serial, &instrument_id, &firmware, &error);
    if (!error.empty() || !store->held(inst.serial, &held, &error)) {
        std::fprintf(stderr, "vuxoint: database %s: read what is held: %s\n", opt.db.c_str(),
                     error.c_str());
        close_instrument(inst);
        return kExitDatabase;
    }
    vuxod_sort_slot_keys(held.data(), held.size());

    Progress progress(stderr, isatty(STDERR_FILENO) == 1);
    Run run;
    run.store = store.get();
    run.info = {inst.serial, inst.generation, inst.firmware};
    run.instrument_id = instrument_id;
    run.who = who;
    run.progress = &progress;
    vuxod_log_options o;
    vuxod_log_options_init(&o);
    o.flags = VUXOD_LOG_KEEP_GOING;
    o.on_record = on_record;
    o.on_failure = on_failure;
    o.progress = on_progress;
    o.skip_pairs = held.data();
    o.skip_count = held.size();
    o.user = &run;
    catch_interrupts();
    vuxod_log_report report{};
    rc = vuxod_read_log(&session, &o, &report);
    progress.clear();
    close_instrument(inst);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);

    // A new instrument, or one with new firmware, is recorded even when it
    // brought no new measurement.
    if (run.db_error.empty() && !run.noted && (!known || firmware != inst.firmware) &&
        !store->note_sync(run.info, &instrument_id, &error)) {
        std::fprintf(stderr, "vuxoint: database %s: record the instrument: %s\n", opt.db.c_str(),
                     error.c_str());
        run.db_error = error;
    } else if (!run.db_error.empty()) {
        std::fprintf(stderr, "vuxoint: database %s: store the record of slot %d: %s\n",
                     opt.db.c_str(), run.db_error_slot, run.db_error.c_str());
    } else if (rc != VUXOD_OK && report.step != VUXOD_STEP_RECORD &&
               report.step != VUXOD_STEP_CALLBACK) {
        const std::string where = report.step == VUXOD_STEP_ENTRY_LIST
                                      ? " from entry " + std::to_string(report.slot)
                                      : std::string();
        std::fprintf(stderr, "vuxoint: %s: %s%s: %s\n", who.c_str(), vuxod_step_text(report.step),
                     where.c_str(), result_text(rc).c_str());
    } else if (rc < 0 && rc != VUXOD_E_STOPPED && report.step == VUXOD_STEP_RECORD) {
        // A failure that ends the read (the connection is gone) was not
        // reported record by record.
        std::fprintf(stderr, "vuxoint: %s: fetching the %s: %s\n", who.c_str(),
                     record_name(report.slot, report.key).c_str(), result_text(rc).c_str());
    }
    if (g_signal.load() != 0) {
        std::fprintf(stderr,
                     "vuxoint: %s: interrupted; what was stored is kept, the next sync "
                     "fetches the rest\n",
                     who.c_str());
    }
    print_summary(opt, inst, run, report);
    if (!run.db_error.empty()) {
        return kExitDatabase;
    }
    if (g_signal.load() != 0) {
        return kExitInterrupted;
    }
    return rc == VUXOD_OK ? kExitOk : kExitIncomplete;
}

} // namespace vuxocli

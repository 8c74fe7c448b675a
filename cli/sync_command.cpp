#include "sync_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "clear_after.h"
#include "connect.h"
#include "exit_status.h"
#include "interrupts.h"
#include "program_io.h"
#include "progress.h"
#include "result_text.h"
#include "shared_options.h"
#include "shown_text.h"
#include "store.h"
#include "sync_run.h"

namespace vuxocli {

namespace {

void print_text(const Instrument& inst, const vuxod_sync_summary& sum) {
    std::printf("%s\n", summary_line(inst, sum).c_str());
    std::fflush(stdout);
}

// clear is null when --clear-after was not given: the object stays as it was.
void print_json(const SyncOptions& opt, const Instrument& inst, const vuxod_sync_summary& sum,
                const ClearOutcome* clear) {
    nlohmann::ordered_json j = summary_json(inst, sum);
    j["database"] = shown(opt.db);
    if (clear != nullptr) {
        j["cleared"] = clear->cleared;
        j["clear_reason"] = clear->reason;
        if (clear->entries_after) {
            j["entries_after_clear"] = *clear->entries_after;
        }
    }
    std::printf("%s\n", j.dump().c_str());
    std::fflush(stdout);
}

// --clear-after once the sync is over: the outcome said on standard output
// (cleared) or standard error (why not).
ClearOutcome clear_if_complete(const SyncOptions& opt, const Instrument& inst,
                               const std::string& who, bool complete, bool stopped) {
    ClearOutcome clear;
    if (complete) {
        clear = clear_after_sync(inst, opt.db, opt.yes);
    } else {
        clear.reason =
            stopped ? "the sync was interrupted" : "the sync did not store every measurement";
    }
    if (!clear.cleared) {
        std::fprintf(stderr, "vuxoint: %s: the log was not cleared: %s\n", who.c_str(),
                     clear.reason.c_str());
    } else if (!opt.json) {
        const std::string now =
            clear.entries_after
                ? "the instrument now lists " + std::to_string(*clear.entries_after) + " entries"
                : "the entry count could not be read back";
        std::printf("%s: cleared; %s\n", shown(inst.serial).c_str(), now.c_str());
        std::fflush(stdout);
    }
    return clear;
}

} // namespace

CLI::App* add_sync_command(CLI::App& app, SyncOptions* opt) {
    CLI::App* sub = app.add_subcommand(
        "sync", "Fetch every measurement the database does not hold yet and store it");
    sub->add_option("CONN", opt->conn, "The instrument (see CONN below)")->required();
    add_db_option(sub, &opt->db, "The database file, created when missing");
    sub->add_flag("--json", opt->json, "Print the summary line as one JSON object");
    sub->add_option("--reconnect", opt->reconnects,
                    "Open a lost connection again up to N times and go on")
        ->check(CLI::Range(0, 100))
        ->capture_default_str();
    sub->add_option("--retries", opt->retries,
                    "Further passes over the records that failed, at the end")
        ->check(CLI::Range(0, 100))
        ->capture_default_str();
    CLI::Option* clear = sub->add_flag(
        "--clear-after", opt->clear_after,
        "Then clear the instrument's log, if the database holds every measurement on it");
    sub->add_flag("--yes", opt->yes, "Clear without asking")->needs(clear);
    sub->footer(
        "Reads the instrument's entry count and entry list, then fetches only the (slot, key)\n"
        "pairs the database does not hold and stores each in its own transaction as it\n"
        "arrives: an interrupted sync keeps what it stored and the next one fetches the rest.\n"
        "Nothing stored is ever changed or deleted; a slot whose key changed (the log was\n"
        "cleared and refilled) is a new measurement.\n"
        "\n"
        "A lost connection is opened again (--reconnect) and the sync goes on where it\n"
        "stopped; records that failed get another pass at the end (--retries).\n"
        "\n"
        "Standard output gets one summary line (\"SERIAL: N new, M already held, K failed,\n"
        "J not fetched\", accounting for every entry the instrument lists), or with --json an\n"
        "object with instrument, generation, entries, new, already_held, failed, not_fetched,\n"
        "database). Standard error gets a progress line when it is a terminal, and\n"
        "a line for each failure naming the connection, the step and the result.\n"
        "\n"
        "--clear-after clears the instrument's log only after a sync that stored or found\n"
        "held every measurement, and only once the entry list, read again, shows nothing\n"
        "the database lacks (a measurement taken meanwhile is never lost). It asks first\n"
        "(\"Clear N measurements from SERIAL? [y/N]\") when standard input and standard\n"
        "error are a terminal; elsewhere it needs --yes. Afterwards it prints \"SERIAL:\n"
        "cleared; the instrument now lists N entries\"; a log left alone is said on\n"
        "standard error with the reason, and the status is then 1 after a good sync.\n"
        "--json adds cleared, clear_reason and entries_after_clear.\n"
        "\n" +
        std::string(conn_forms_help()));
    return sub;
}

int run_sync(const SyncOptions& opt) {
    std::string why;
    const std::optional<ConnTarget> target = parse_conn(opt.conn, &why);
    if (!target) {
        std::fprintf(stderr, "vuxoint: CONN \"%s\": %s\n", opt.conn.c_str(), why.c_str());
        return kExitUsage;
    }
    // The database first: a file that cannot be written stops the run before
    // the instrument is bothered. A missing one is created only once the
    // instrument has answered.
    std::string error;
    if (!Store::check_writable(opt.db, &error)) {
        std::fprintf(stderr, "vuxoint: database %s: open: %s\n", opt.db.c_str(), error.c_str());
        return kExitDatabase;
    }
    Library library;
    if (!library.started()) {
        std::fprintf(stderr, "vuxoint: %s: start the transport: failed\n", target->text.c_str());
        return kExitNoInstrument;
    }
    Instrument inst;
    if (!open_instrument(*target, &inst, &error)) {
        std::fprintf(stderr, "vuxoint: %s\n", error.c_str());
        return kExitNoInstrument;
    }
    const std::string who = describe(*target, inst.conn_string);

    Progress progress(stderr, vuxo::is_terminal(stderr));
    SyncHooks hooks;
    hooks.progress = [&progress](int phase, uint32_t done, uint32_t total) {
        if (phase == VUXOD_PHASE_ENTRIES) {
            progress.entries(done, total);
        } else {
            progress.records(done, total);
        }
    };
    hooks.failure = [&](int32_t slot, uint32_t key, int code) {
        progress.clear();
        std::fprintf(stderr, "vuxoint: %s: fetching the %s: %s\n", who.c_str(),
                     record_name(slot, key).c_str(), result_text(code).c_str());
    };
    hooks.reconnecting = [&](int attempt) {
        progress.clear();
        std::fprintf(stderr, "vuxoint: %s: the connection was lost; connecting again (%d)\n",
                     who.c_str(), attempt);
    };
    hooks.reconnect_failed = [](const std::string& text) {
        std::fprintf(stderr, "vuxoint: %s\n", text.c_str());
    };
    hooks.stop = [] { return interrupted() != 0; };
    SyncSettings settings;
    settings.db = opt.db;
    settings.reconnects = opt.reconnects;
    settings.retries = opt.retries;
    catch_interrupts();
    vuxod_sync_summary sum{};
    const int rc = sync_instrument(*target, &inst, settings, hooks, &sum);
    progress.clear();
    // From here on Ctrl-C ends the program at once: the clear either was not
    // sent yet, or is the instrument's to finish.
    const bool stopped = interrupted() != 0;
    release_interrupts();

    if (const std::string failure = sync_failure_text(rc, sum, who, opt.db); !failure.empty()) {
        std::fprintf(stderr, "vuxoint: %s\n", failure.c_str());
    }
    if (rc != VUXOD_E_DATABASE && sum.step == VUXOD_STEP_IDENTIFY) {
        close_instrument(inst);
        return kExitNoInstrument;
    }
    if (stopped) {
        std::fprintf(stderr,
                     "vuxoint: %s: interrupted; what was stored is kept, the next sync "
                     "fetches the rest\n",
                     who.c_str());
    } else if (sum.not_fetched > 0 || sum.failed > 0) {
        std::fprintf(stderr, "vuxoint: %s: %u record%s not stored; the next sync fetches %s\n",
                     who.c_str(), sum.failed + sum.not_fetched,
                     sum.failed + sum.not_fetched == 1 ? "" : "s",
                     sum.failed + sum.not_fetched == 1 ? "it" : "them");
    }
    int status = kExitOk;
    if (rc == VUXOD_E_DATABASE) {
        status = kExitDatabase;
    } else if (stopped) {
        status = kExitInterrupted;
    } else if (rc != VUXOD_OK) {
        status = kExitIncomplete;
    }
    if (!opt.json) {
        print_text(inst, sum);
    }
    ClearOutcome clear;
    if (opt.clear_after) {
        const bool complete = status == kExitOk && sum.failed == 0 && sum.not_fetched == 0;
        clear = clear_if_complete(opt, inst, who, complete, stopped);
        if (!clear.cleared && status == kExitOk) {
            status = clear.database ? kExitDatabase : kExitIncomplete;
        }
    }
    close_instrument(inst);
    if (opt.json) {
        print_json(opt, inst, sum, opt.clear_after ? &clear : nullptr);
    }
    return status;
}

} // namespace vuxocli

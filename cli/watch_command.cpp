#include "watch_command.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "connect.h"
#include "exit_status.h"
#include "interrupts.h"
#include "new_measurement.h"
#include "number_text.h"
#include "program_io.h"
#include "result_text.h"
#include "shown_text.h"
#include "store.h"
#include "vuxodata.h"

namespace vuxocli {

namespace {

using Clock = std::chrono::steady_clock;

// How often the wait looks up for Ctrl-C.
constexpr auto kPoll = std::chrono::milliseconds(200);

struct Event {
    bool gone = false; // the connection ended
    int32_t slot = -1;
    int os_error = 0;
};

// Filled on the transport's thread, emptied on the main thread: the callbacks
// only queue, since the library must not be called from its own thread.
struct Inbox {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<Event> events;

    void push(const Event& e) {
        {
            std::lock_guard lock(mu);
            events.push_back(e);
        }
        cv.notify_one();
    }
    // The next event, or nullopt once `until` passed.
    std::optional<Event> pop(Clock::time_point until) {
        std::unique_lock lock(mu);
        if (!cv.wait_until(lock, until, [&] { return !events.empty(); })) {
            return std::nullopt;
        }
        const Event e = events.front();
        events.pop_front();
        return e;
    }
};

void on_live_data(int, MXX_link*, int32_t code, int32_t value, float, float, void* user) {
    if (reports_new_measurement(code)) {
        static_cast<Inbox*>(user)->push(Event{false, value, 0});
    }
}

void on_disconnected(int, MXX_link*, void* user, int os_error) {
    static_cast<Inbox*>(user)->push(Event{true, -1, os_error});
}

struct Seen {
    const Instrument* inst = nullptr;
    const NewMeasurement* taken = nullptr;
    const char* stored = nullptr; // "stored", "already held", or null without --db
};

void print(const Seen& s, bool json) {
    const vuxod_measurement& m = *s.taken->m;
    const vuxod_entry& entry = s.taken->entry;
    const bool v2 = m.generation == VUXOD_V2;
    if (json) {
        nlohmann::ordered_json j = new_measurement_json(s.inst->serial, *s.taken);
        if (s.stored != nullptr) {
            j["stored"] = std::string(s.stored) == "stored";
        }
        std::printf("%s\n", j.dump().c_str());
    } else {
        std::string line = shown(s.inst->serial) + " slot " + std::to_string(entry.slot) + " key " +
                           std::to_string(entry.key) + ": number " + std::to_string(m.number) +
                           ", " + iso_taken_at(m) + ", " + live_kind_text(m.kind) + ", " +
                           number_text(m.susceptibility) + " " + m.susc_units;
        if (v2) {
            line += ", " + number_text(m.conductivity) + " " + m.cond_units;
        }
        if (s.stored != nullptr) {
            line += std::string(" (") + s.stored + ")";
        }
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

struct Watch {
    const WatchOptions* opt = nullptr;
    const Instrument* inst = nullptr;
    std::string who;
    vuxod_session session{};
    InstrumentRecords* keeper = nullptr; // with --db
    NewMeasurement taken;
    unsigned failed = 0;
};

// One new measurement: its key from the entry list, the record, the store.
// An exit status when the watch must end, else nullopt.
std::optional<int> take(Watch& w, int32_t slot) {
    const char* step = "";
    const int rc = fetch_new_measurement(w.session, slot, &w.taken, &step);
    if (rc != VUXOD_OK) {
        std::fprintf(stderr, "vuxoint: %s: %s%d: %s\n", w.who.c_str(), step, slot,
                     result_text(rc).c_str());
        ++w.failed;
        // The link's own failure: nothing more will come.
        return is_link_error(rc) ? std::optional<int>(kExitNoInstrument) : std::nullopt;
    }
    Seen seen{w.inst, &w.taken, nullptr};
    if (w.keeper != nullptr) {
        const vuxod_record record = w.taken.record();
        std::string error;
        const PutResult put = w.keeper->keep(record, &error);
        seen.stored = put == PutResult::stored ? "stored" : "already held";
        if (put == PutResult::failed) {
            std::fprintf(stderr, "vuxoint: database %s: store the record of slot %d: %s\n",
                         w.opt->db.c_str(), slot, error.c_str());
            return kExitDatabase;
        }
    }
    print(seen, w.opt->json);
    return std::nullopt;
}

int watch(Watch& w, Inbox& inbox) {
    const WatchOptions& opt = *w.opt;
    const std::optional<Clock::time_point> deadline =
        opt.timeout > 0
            ? std::optional(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(opt.timeout)))
            : std::nullopt;
    unsigned seen = 0;
    while (opt.count == 0 || seen < opt.count) {
        if (interrupted() != 0) {
            return kExitInterrupted;
        }
        const Clock::time_point step = Clock::now() + kPoll;
        if (deadline && Clock::now() >= *deadline) {
            // Time is up: complete when no count was asked for.
            return opt.count == 0 ? kExitOk : kExitIncomplete;
        }
        const std::optional<Event> e = inbox.pop(deadline ? std::min(step, *deadline) : step);
        if (!e) {
            continue;
        }
        if (e->gone) {
            std::fprintf(stderr, "vuxoint: %s: the connection was lost: %s\n", w.who.c_str(),
                         result_text(e->os_error != 0 ? -e->os_error : VUXO_ECLOSED).c_str());
            return kExitNoInstrument;
        }
        if (const std::optional<int> end = take(w, e->slot)) {
            return *end;
        }
        ++seen;
    }
    return w.failed != 0 ? kExitIncomplete : kExitOk;
}

} // namespace

CLI::App* add_watch_command(CLI::App& app, WatchOptions* opt) {
    CLI::App* sub =
        app.add_subcommand("watch", "Print each new measurement as the instrument takes it");
    sub->add_option("CONN", opt->conn, "The instrument (see CONN below)")->required();
    sub->add_option("--db", opt->db, "Also store each one in this database, as sync does");
    sub->add_option("--count", opt->count, "End after N measurements")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    sub->add_option("--timeout", opt->timeout, "End after S seconds")
        ->type_name("S")
        ->check(CLI::PositiveNumber);
    sub->add_flag("--json", opt->json, "One JSON object a line (NDJSON)");
    sub->footer(
        "Waits for the instrument to report a newly stored measurement, fetches it and\n"
        "prints one line: serial, slot, key, number, time taken, kind and values. With\n"
        "--json one object a line (instrument, slot, key, note, number, taken_at, kind,\n"
        "susceptibility, susceptibility_units, conductivity and conductivity_units on V2,\n"
        "value_count, and stored with --db). Measurements stored before the watch began\n"
        "are not shown: vuxoint sync fetches those.\n"
        "\n"
        "With --db each one is stored as vuxoint sync stores it, under the same identity\n"
        "(instrument serial, slot, key), so a later sync does not store it again.\n"
        "\n"
        "Runs until --count measurements arrived, --timeout seconds passed, the connection\n"
        "ends or Ctrl-C. Exit status: 0 done (the count reached, or the time up without a\n"
        "count), 1 a measurement could not be fetched or the time ran out before the count,\n"
        "2 usage, 3 no instrument or the connection lost, 4 the database, 130 Ctrl-C.\n"
        "\n" +
        std::string(conn_forms_help()));
    return sub;
}

int run_watch(const WatchOptions& opt) {
    std::unique_ptr<Store> store;
    if (!opt.db.empty()) {
        // The database first: a file that cannot be written stops the run before
        // the instrument is bothered.
        std::string error;
        store = Store::open(opt.db, Store::Mode::write, &error);
        if (!store) {
            std::fprintf(stderr, "vuxoint: database %s: open: %s\n", opt.db.c_str(), error.c_str());
            return kExitDatabase;
        }
    }
    // Declared before the library, so it outlives every callback of the connection.
    Inbox inbox;
    Library library;
    Instrument inst;
    Watch w;
    LinkEvents events;
    events.on_live_data = on_live_data;
    events.on_disconnected = on_disconnected;
    events.user = &inbox;
    const int opened = open_for_command(opt.conn, library, &inst, &w.who, &events);
    if (opened != kExitOk) {
        return opened;
    }
    w.opt = &opt;
    w.inst = &inst;
    InstrumentRecords keeper;
    if (store) {
        keeper.store = store.get();
        keeper.info = InstrumentInfo{inst.serial, inst.generation, inst.firmware};
        w.keeper = &keeper;
    }
    int status = kExitNoInstrument;
    const int rc = vuxod_session_open(&w.session, inst.conn_id);
    if (rc != VUXOD_OK) {
        std::fprintf(stderr, "vuxoint: %s: identify the instrument: %s\n", w.who.c_str(),
                     result_text(rc).c_str());
    } else {
        if (vuxo::is_terminal(stderr)) {
            std::fprintf(stderr, "vuxoint: %s: watching %s for new measurements\n", w.who.c_str(),
                         inst.serial.c_str());
        }
        catch_interrupts();
        status = watch(w, inbox);
        release_interrupts();
    }
    close_instrument(inst);
    if (status == kExitInterrupted) {
        std::fprintf(stderr, "vuxoint: %s: interrupted\n", w.who.c_str());
    }
    return status;
}

} // namespace vuxocli
